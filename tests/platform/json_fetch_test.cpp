#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <orvi/brannic_json.h>

namespace {

struct Tree {
    cJSON* root;
    explicit Tree(const char* text) : root(cJSON_Parse(text)) {}
    ~Tree() { cJSON_Delete(root); }
};

const char* kDoc = R"({
  "i": 42, "neg": -7, "frac": 3.75, "big": 1e12,
  "t": true, "f": false,
  "s": "hello", "long": "abcdefghij", "empty": "",
  "n": null, "obj": {"x": 1}, "arr": [{"a": 1}, {"a": 2}, {"a": 3}], "none": []
})";

struct IntCase {
    const char* name;
    int rc;
    int value;
};

TEST(JsonFetch, Int) {
    Tree t(kDoc);
    ASSERT_NE(t.root, nullptr);
    const IntCase cases[] = {
        {"i", 0, 42},        {"neg", 0, -7},    {"frac", 0, 3},  {"big", 0, 2147483647},
        {"missing", 1, 99},  {"s", 1, 99},      {"t", 1, 99},    {"n", 1, 99},
        {"obj", 1, 99},      {"arr", 1, 99},    {"I", 1, 99},
    };
    for (const auto& c : cases) {
        int out = -1;
        EXPECT_EQ(json_fetch_int_with_default(t.root, c.name, &out, 99), c.rc) << c.name;
        EXPECT_EQ(out, c.value) << c.name;
    }
    int out = -1;
    EXPECT_NE(json_fetch_int_with_default(nullptr, "i", &out, 5), 0);
    EXPECT_EQ(out, 5);
}

struct FloatCase {
    const char* name;
    int rc;
    float value;
};

TEST(JsonFetch, Float) {
    Tree t(kDoc);
    const FloatCase cases[] = {
        {"frac", 0, 3.75f}, {"i", 0, 42.0f}, {"neg", 0, -7.0f},
        {"missing", 1, 0.5f}, {"s", 1, 0.5f}, {"f", 1, 0.5f},
    };
    for (const auto& c : cases) {
        float out = -1;
        EXPECT_EQ(json_fetch_float_with_default(t.root, c.name, &out, 0.5f), c.rc) << c.name;
        EXPECT_EQ(out, c.value) << c.name;
    }
}

TEST(JsonFetch, Bool) {
    Tree t(kDoc);
    const IntCase cases[] = {
        {"t", 0, 1}, {"f", 0, 0}, {"missing", 1, 1}, {"i", 1, 1}, {"s", 1, 1}, {"n", 1, 1},
    };
    for (const auto& c : cases) {
        int out = -1;
        EXPECT_EQ(json_fetch_bool_with_default(t.root, c.name, &out, 1), c.rc) << c.name;
        EXPECT_EQ(out, c.value) << c.name;
    }
}

struct StringCase {
    const char* name;
    int out_size;
    int rc;
    const char* value;
};

TEST(JsonFetch, StringBoundedCopy) {
    Tree t(kDoc);
    const StringCase cases[] = {
        {"s", 256, 0, "hello"},
        {"long", 4, 0, "abc"},         // three characters and the terminator
        {"long", 11, 0, "abcdefghij"},  // exactly fits
        {"long", 10, 0, "abcdefghi"},
        {"long", 1, 0, ""},
        {"empty", 256, 0, ""},
        {"missing", 256, 1, "default-value"},
        {"missing", 4, 1, "def"},  // the default is bounded too
        {"i", 256, 1, "default-value"},
        {"t", 256, 1, "default-value"},
        {"n", 256, 1, "default-value"},
    };
    for (const auto& c : cases) {
        char out[300];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(json_fetch_string_with_default(t.root, c.name, out, c.out_size,
                                                 "default-value"),
                  c.rc)
            << c.name << " " << c.out_size;
        EXPECT_STREQ(out, c.value) << c.name << " " << c.out_size;
        // Nothing is written past out_size.
        EXPECT_EQ(out[c.out_size], 'Z') << c.name << " " << c.out_size;
    }
}

TEST(JsonFetch, StringNullDefaultGivesEmpty) {
    Tree t(kDoc);
    char out[8] = "xxxxxxx";
    EXPECT_NE(json_fetch_string_with_default(t.root, "missing", out, sizeof out, nullptr), 0);
    EXPECT_STREQ(out, "");
}

struct ArrayCase {
    const char* name;
    bool present;
    int n;
};

TEST(JsonFetch, ArrayOfObjects) {
    Tree t(kDoc);
    const ArrayCase cases[] = {
        {"arr", true, 3}, {"none", true, 0}, {"missing", false, 0}, {"obj", false, 0},
        {"s", false, 0},
    };
    for (const auto& c : cases) {
        int n = 77;
        cJSON* a = json_fetch_array_of_objects(t.root, c.name, &n);
        EXPECT_EQ(a != nullptr, c.present) << c.name;
        EXPECT_EQ(n, c.n) << c.name;
    }
    int n = 0;
    cJSON* a = json_fetch_array_of_objects(t.root, "arr", &n);
    int v = 0;
    ASSERT_NE(cJSON_GetArrayItem(a, 2), nullptr);
    EXPECT_EQ(json_fetch_int_with_default(cJSON_GetArrayItem(a, 2), "a", &v, 0), 0);
    EXPECT_EQ(v, 3);
}

TEST(JsonFetch, WrongTypeSaysSoOnStderr) {
    Tree t(kDoc);
    int out = 0;
    testing::internal::CaptureStderr();
    json_fetch_int_with_default(t.root, "s", &out, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "json: member \"s\" is not a number, using the default\n");
    testing::internal::CaptureStderr();
    json_fetch_int_with_default(t.root, "missing", &out, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
