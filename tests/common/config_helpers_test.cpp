#include <orvi/config_helpers.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <orvi/brannic_json.h>
#include <orvi/config_file_headers.h>
#include "config_files.h"

namespace {

const std::string kVtx = "/etc/quillon/orvi-vtx.conf";
const std::string kVrx = "/etc/quillon/orvi-vrx.conf";
const std::string kCreated =
    "No configuration file found, created a new empty configuration file using defaults: ";

using OpenJson = ConfigFiles;

TEST_F(OpenJson, MissingExistingAndUncreatable) {
    const std::string p = "/etc/quillon/some.conf";
    cJSON* root = nullptr;
    Captured o = capture_output([&] { root = open_json(p.c_str(), false); });
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_FALSE(file_exists(p));

    o = capture_output([&] { root = open_json(p.c_str(), true); });
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(compact(root), "{}");
    EXPECT_EQ(o.out, kCreated + p + "\n");
    cJSON_Delete(root);

    // Existing now: no message the second time.
    o = capture_output([&] { root = open_json(p.c_str(), true); });
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(o.out, "");
    cJSON_Delete(root);

    o = capture_output([&] { root = open_json("/etc/quillon/no/dir.conf", true); });
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(o.out, "Error creating config file\n");
}

enum class Header { kNone, kVtx, kVrx };

struct UpdateCase {
    const char* label;
    std::string path;
    const char* initial;  // nullptr: no file
    const char* key;
    bool is_string;
    int number;
    bool as_bool;
    const char* string_value;
    const char* expected_json;
    Header header;
    bool expect_created_message;
};

TEST_F(OpenJson, UpdateOneKeyTable) {
    const UpdateCase cases[] = {
        {"number kept with header", kVtx, "{\"mcs\": 1, \"card\": \"wlan0\"}", "mcs", false, 3,
         false, nullptr, "{\"mcs\":3,\"card\":\"wlan0\"}", Header::kVtx, false},
        {"missing member not added", kVtx, "{\"card\": \"wlan0\"}", "mcs", false, 3, false,
         nullptr, "{\"card\":\"wlan0\"}", Header::kVtx, false},
        {"bool written as true", kVtx, "{\"enable_pit\": false}", "enable_pit", false, 7, true,
         nullptr, "{\"enable_pit\":true}", Header::kVtx, false},
        {"bool written as false", kVtx, "{\"enable_pit\": true}", "enable_pit", false, 0, true,
         nullptr, "{\"enable_pit\":false}", Header::kVtx, false},
        {"suffix still gets the transmitter header", kVtx + ".bak", "{\"mcs\": 1}", "mcs", false,
         5, false, nullptr, "{\"mcs\":5}", Header::kVtx, false},
        {"receiver header", kVrx, "{\"frequency\": 5805}", "frequency", false, 5745, false,
         nullptr, "{\"frequency\":5745}", Header::kVrx, false},
        {"other file has no header", "/etc/quillon/other.conf", "{\"a\": 1}", "a", false, 2,
         false, nullptr, "{\"a\":2}", Header::kNone, false},
        {"string", kVtx, "{\"card\": \"wlan0\", \"mcs\": 2}", "card", true, 0, false, "wlan1",
         "{\"card\":\"wlan1\",\"mcs\":2}", Header::kVtx, false},
        {"key is case sensitive", "/etc/quillon/other.conf", "{\"MCS\": 1}", "mcs", false, 4,
         false, nullptr, "{\"MCS\":1}", Header::kNone, false},
        {"missing file created empty", kVtx, nullptr, "mcs", false, 1, false, nullptr,
         "{}", Header::kVtx, true},
    };
    for (const auto& c : cases) {
        clear_dir("/etc/quillon");
        if (c.initial != nullptr) write_file(c.path, c.initial);
        Captured o = capture_output([&] {
            if (c.is_string) {
                config_update_string(c.path.c_str(), c.key, c.string_value);
            } else {
                config_update_number(c.path.c_str(), c.key, c.number, c.as_bool);
            }
        });
        EXPECT_EQ(o.out, c.expect_created_message ? kCreated + c.path + "\n" : "") << c.label;
        EXPECT_EQ(o.err, "") << c.label;

        const std::string text = read_file(c.path);
        const char* header = c.header == Header::kVtx   ? VTX_CONFIG_FILE_HEADER
                             : c.header == Header::kVrx ? VRX_CONFIG_FILE_HEADER
                                                        : "";
        EXPECT_EQ(text.rfind(std::string(header) + "{", 0), 0u) << c.label << "\n" << text;
        cJSON* back = json_read_file(c.path.c_str());
        ASSERT_NE(back, nullptr) << c.label;
        EXPECT_EQ(compact(back), c.expected_json) << c.label;
        cJSON_Delete(back);
    }
}

TEST_F(OpenJson, UpdateTwiceKeepsOneHeader) {
    write_file(kVtx, "{\"mcs\": 1}");
    config_update_number(kVtx.c_str(), "mcs", 2, false);
    config_update_number(kVtx.c_str(), "mcs", 3, false);
    const std::string text = read_file(kVtx);
    EXPECT_EQ(text.find("orvi-vtx Configuration File"), text.rfind("orvi-vtx Configuration File"));
    EXPECT_EQ(text, std::string(VTX_CONFIG_FILE_HEADER) + "{\n\t\"mcs\":\t3\n}\n");
}

TEST_F(OpenJson, UpdateFailuresLeaveFileAlone) {
    const std::string broken = "{\"mcs\": 1,,}";
    write_file(kVtx, broken);
    Captured o = capture_output([&] { config_update_number(kVtx.c_str(), "mcs", 2, false); });
    EXPECT_EQ(o.out, "Parent JSON is NULL\n");
    EXPECT_EQ(o.err, "json_read_file: " + kVtx + ": invalid JSON at line 1, column 12\n");
    EXPECT_EQ(read_file(kVtx), broken);

    o = capture_output([&] { config_update_string("/etc/quillon/no/dir.conf", "card", "x"); });
    EXPECT_EQ(o.out, "Error creating config file\nParent JSON is NULL\n");
}

struct EndsCase {
    const char* s;
    const char* suffix;
    bool expected;
};

TEST(StringHelpers, EndsWith) {
    const EndsCase cases[] = {
        {"abc", "", true},  {"", "a", false},       {"abc", "bc", true}, {"abc", "abc", true},
        {"abc", "ab", false}, {"bc", "abc", false}, {"", "", true},      {"abc", "c", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(str_ends_with(c.s, c.suffix), c.expected) << c.s << " / " << c.suffix;
    }
}

struct EndpointCase {
    const char* endpoint;
    bool ok;
    const char* host;
    const char* port;
};

TEST(StringHelpers, ParseEndpoint) {
    const EndpointCase cases[] = {
        {"10.0.0.1:5600", true, "10.0.0.1", "5600"},
        {":5600", false, "unchanged", "unchanged"},
        {"10.0.0.1:", false, "unchanged", "unchanged"},
        {"10.0.0.1", false, "unchanged", "unchanged"},
        {"", false, "unchanged", "unchanged"},
        {"a:b:c", true, "a:b", "c"},
        {"::1:80", true, "::1", "80"},
    };
    for (const auto& c : cases) {
        std::string host = "unchanged";
        std::string port = "unchanged";
        EXPECT_EQ(parse_endpoint(c.endpoint, host, port), c.ok) << c.endpoint;
        EXPECT_EQ(host, c.host) << c.endpoint;
        EXPECT_EQ(port, c.port) << c.endpoint;
    }
}

TEST(StringHelpers, SplitString) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split_string("  a\tb  c "), (V{"a", "b", "c"}));
    EXPECT_EQ(split_string(""), V{});
    EXPECT_EQ(split_string(" \t\n\v\f\r"), V{});
    EXPECT_EQ(split_string("one"), V{"one"});
    EXPECT_EQ(split_string("x\ny\r\nz"), (V{"x", "y", "z"}));
}

TEST(StringHelpers, IsInteger) {
    const std::pair<const char*, bool> cases[] = {
        {"-12", true},  {"+7", true},  {"0", true},   {"123456789012345", true},
        {"+", false},   {"-", false},  {"", false},   {"1.5", false},
        {" 12", false}, {"12 ", false}, {"+-1", false}, {"1-", false}, {"1e3", false},
    };
    for (const auto& [s, expected] : cases) EXPECT_EQ(is_integer(s), expected) << "'" << s << "'";
}

TEST(StringHelpers, SdkVersion) {
    EXPECT_EQ(get_sdk_version("pkg\t1.2.3"), "1.2.3");
    EXPECT_EQ(get_sdk_version("pkg 1.2.3"), "???");
    EXPECT_EQ(get_sdk_version(""), "???");
    EXPECT_EQ(get_sdk_version("pkg\t1.2\t3\n"), "1.2\t3\n");
    EXPECT_EQ(get_sdk_version("pkg\t"), "");
}

}  // namespace
