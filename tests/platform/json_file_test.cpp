#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include <orvi/brannic_json.h>
#include "test_support.h"

namespace {

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string compact(cJSON* root) {
    char* text = cJSON_PrintUnformatted(root);
    std::string s = text ? text : "";
    free(text);
    return s;
}

class JsonFile : public testing::Test {
protected:
    std::string path(const std::string& name) const { return scratch_ / name; }
    const ScratchDir scratch_{"json_test"};
    const std::string& dir_ = scratch_.path();
};

struct ReadCase {
    const char* label;
    const char* text;
    const char* json;    // expected compact form, or nullptr for a failed read
    const char* stderr_tail;  // message after "json_read_file: <path>"
};

TEST_F(JsonFile, ReadTable) {
    const ReadCase cases[] = {
        {"plain", "{\"a\": 1}", "{\"a\":1}", ""},
        {"header", "/**\n * title\n * key (int): meaning\n */\n{\"a\": 1}\n", "{\"a\":1}", ""},
        {"line comments",
         "// top\n{\n  \"a\": 1, // after a value\n  \"b\": \"x//y\" // url-like text stays\n}\n",
         "{\"a\":1,\"b\":\"x//y\"}", ""},
        {"comment markers inside strings", "{\"s\": \"a\\\"/*b*/\", \"t\": \"/** no */\"}",
         "{\"s\":\"a\\\"/*b*/\",\"t\":\"/** no */\"}", ""},
        {"block comment between members", "{\"a\": /* one */ 1}", "{\"a\":1}", ""},
        {"array root", "[1, 2]", "[1,2]", ""},
        {"missing colon", "{\n  \"a\": 1,\n  \"b\" 2\n}\n", nullptr,
         ": invalid JSON at line 3, column 7\n"},
        {"error after header keeps line numbers", "/**\n * x\n */\n{\"a\": }\n", nullptr,
         ": invalid JSON at line 4, column 7\n"},
        {"trailing garbage", "{\"a\": 1} x", nullptr, ": invalid JSON at line 1, column 10\n"},
        {"empty file", "", nullptr, ": invalid JSON at line 1, column 1\n"},
        {"only a header", "/** nothing */\n", nullptr, ": invalid JSON at line 2, column 1\n"},
        {"unclosed comment", "/** never closed\n{\"a\": 1}\n", nullptr, ": comment not closed\n"},
    };
    for (const auto& c : cases) {
        const std::string p = path("read.conf");
        write_file(p, c.text);
        testing::internal::CaptureStderr();
        cJSON* root = json_read_file(p.c_str());
        const std::string err = testing::internal::GetCapturedStderr();
        if (c.json == nullptr) {
            EXPECT_EQ(root, nullptr) << c.label;
            EXPECT_EQ(err, "json_read_file: " + p + c.stderr_tail) << c.label;
        } else {
            ASSERT_NE(root, nullptr) << c.label;
            EXPECT_EQ(compact(root), c.json) << c.label;
            EXPECT_EQ(err, "") << c.label;
        }
        cJSON_Delete(root);
    }
}

TEST_F(JsonFile, MissingIsSilentUnreadableIsNot) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(json_read_file(path("nope.conf").c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    testing::internal::CaptureStderr();
    EXPECT_EQ(json_read_file(dir_.c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "json_read_file: cannot read " + dir_ + ": Is a directory\n");

    const std::string under_file = path("plain") + "/x.conf";
    write_file(path("plain"), "{}");
    testing::internal::CaptureStderr();
    EXPECT_EQ(json_read_file(under_file.c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "json_read_file: cannot open " + under_file + ": Not a directory\n");
}

TEST_F(JsonFile, MakeEmptyFileIfMissing) {
    const std::string p = path("new.conf");
    EXPECT_GT(json_make_empty_file_if_missing(p.c_str()), 0);
    cJSON* root = json_read_file(p.c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(compact(root), "{}");
    cJSON_Delete(root);

    write_file(p, "{\"keep\": 1}");
    EXPECT_EQ(json_make_empty_file_if_missing(p.c_str()), 0);
    EXPECT_EQ(read_file(p), "{\"keep\": 1}");

    EXPECT_LT(json_make_empty_file_if_missing(path("no/such/dir.conf").c_str()), 0);
    EXPECT_EQ(list_dir(dir_), std::vector<std::string>{"new.conf"});
}

TEST_F(JsonFile, WriteWithHeaderReadsBack) {
    const std::string p = path("out.conf");
    cJSON* root = cJSON_Parse("{\"mcs\": 3, \"card\": \"wlan0\", \"on\": true}");
    const char* header = "/**\n * Title\n * mcs (int): the rate\n */";
    ASSERT_EQ(json_write_to_file_with_header(p.c_str(), root, header), 0);
    const std::string text = read_file(p);
    EXPECT_EQ(text.rfind(std::string(header) + "\n{", 0), 0u) << text;
    EXPECT_EQ(text.back(), '\n');
    cJSON* back = json_read_file(p.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(cJSON_Compare(root, back, 1));
    cJSON_Delete(back);

    // Without a header the file is the JSON text alone.
    ASSERT_EQ(json_write_to_file(p.c_str(), root), 0);
    char* printed = cJSON_Print(root);
    EXPECT_EQ(read_file(p), std::string(printed) + "\n");
    free(printed);
    cJSON_Delete(root);

    EXPECT_EQ(list_dir(dir_), std::vector<std::string>{"out.conf"});
}

TEST_F(JsonFile, WriteKeepsModeAndLink) {
    const std::string real = path("real.conf");
    const std::string link = path("link.conf");
    write_file(real, "{}");
    ASSERT_EQ(chmod(real.c_str(), 0600), 0);
    ASSERT_EQ(symlink("real.conf", link.c_str()), 0);
    cJSON* root = cJSON_Parse("{\"a\": 2}");
    ASSERT_EQ(json_write_to_file(link.c_str(), root), 0);
    cJSON_Delete(root);

    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    cJSON* back = json_read_file(real.c_str());
    EXPECT_EQ(compact(back), "{\"a\":2}");
    cJSON_Delete(back);
}

TEST_F(JsonFile, WriteIntoAFileAsFolderFails) {
    write_file(path("blocker"), "x");
    const std::string p = path("blocker") + "/out.conf";
    cJSON* root = cJSON_Parse("{\"a\": 1}");
    testing::internal::CaptureStderr();
    EXPECT_LT(json_write_to_file(p.c_str(), root), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "json_write_to_file: cannot write " + p + ": Not a directory\n");
    cJSON_Delete(root);
    EXPECT_EQ(read_file(path("blocker")), "x");
}

// A disk that fills up halfway through the write must leave the old file whole.
TEST_F(JsonFile, FullDiskLeavesOldFileIntact) {
    if (!inside_hermetic_runner()) {
        GTEST_SKIP() << "needs the private namespace of sim/orvi-sim-run";
    }
    const std::string mnt = path("full");
    ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    ASSERT_EQ(mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k"), 0) << strerror(errno);

    const std::string p = mnt + "/orvi.conf";
    const std::string old_text = "{\n\t\"old\":\t1\n}\n";
    write_file(p, old_text);
    // Fill what is left.
    {
        FILE* f = fopen((mnt + "/filler").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::string block(4096, 'f');
        while (fwrite(block.data(), 1, block.size(), f) == block.size() && fflush(f) == 0) {
        }
        fclose(f);
    }
    cJSON* root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "big", std::string(100000, 'b').c_str());
    testing::internal::CaptureStderr();
    EXPECT_LT(json_write_to_file_with_header(p.c_str(), root, "/** header */"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "json_write_to_file: cannot write " + p + ": No space left on device\n");
    cJSON_Delete(root);

    EXPECT_EQ(read_file(p), old_text);
    EXPECT_EQ(list_dir(mnt), (std::vector<std::string>{"filler", "orvi.conf"}));
    ASSERT_EQ(umount(mnt.c_str()), 0);
}

}  // namespace
