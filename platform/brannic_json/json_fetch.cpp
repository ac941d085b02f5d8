// Typed member fetches with defaults. A member that is missing or holds the
// wrong type yields the default, so a hand-edited file never feeds a bad
// value into the configuration.
#include <stdio.h>
#include <string.h>

#include <orvi/brannic_json.h>

namespace {

enum Lookup { FOUND, MISSING, WRONG_TYPE };

Lookup find_member(cJSON* parent, const char* name, cJSON_bool (*is_type)(const cJSON*),
                   const char* type_name, cJSON** item) {
    *item = nullptr;
    if (parent == nullptr || name == nullptr || !cJSON_IsObject(parent)) return MISSING;
    cJSON* member = cJSON_GetObjectItemCaseSensitive(parent, name);
    if (member == nullptr) return MISSING;
    if (!is_type(member)) {
        fprintf(stderr, "json: member \"%s\" is not %s, using the default\n", name, type_name);
        return WRONG_TYPE;
    }
    *item = member;
    return FOUND;
}

void copy_bounded(char* out, int out_size, const char* value) {
    if (value == nullptr) value = "";
    size_t cap = static_cast<size_t>(out_size) - 1;
    size_t len = strnlen(value, cap);
    memcpy(out, value, len);
    out[len] = '\0';
}

}  // namespace

extern "C" int json_fetch_int_with_default(cJSON* parent, const char* name, int* out,
                                           int default_value) {
    cJSON* item;
    bool found = find_member(parent, name, cJSON_IsNumber, "a number", &item) == FOUND;
    // cJSON's valueint is the number truncated and saturated to the int range.
    if (out != nullptr) *out = found ? item->valueint : default_value;
    return found ? 0 : 1;
}

extern "C" int json_fetch_float_with_default(cJSON* parent, const char* name, float* out,
                                             float default_value) {
    cJSON* item;
    bool found = find_member(parent, name, cJSON_IsNumber, "a number", &item) == FOUND;
    if (out != nullptr) *out = found ? static_cast<float>(item->valuedouble) : default_value;
    return found ? 0 : 1;
}

extern "C" int json_fetch_bool_with_default(cJSON* parent, const char* name, int* out,
                                            int default_value) {
    cJSON* item;
    bool found = find_member(parent, name, cJSON_IsBool, "a boolean", &item) == FOUND;
    if (out != nullptr) *out = found ? (cJSON_IsTrue(item) ? 1 : 0) : default_value;
    return found ? 0 : 1;
}

extern "C" int json_fetch_string_with_default(cJSON* parent, const char* name, char* out,
                                              int out_size, const char* default_value) {
    cJSON* item;
    bool found = find_member(parent, name, cJSON_IsString, "a string", &item) == FOUND;
    if (out == nullptr || out_size < 1) return found ? 0 : 1;
    copy_bounded(out, out_size, found ? item->valuestring : default_value);
    return found ? 0 : 1;
}

extern "C" cJSON* json_fetch_array_of_objects(cJSON* parent, const char* name, int* n) {
    cJSON* item;
    bool found = find_member(parent, name, cJSON_IsArray, "an array", &item) == FOUND;
    int count = found ? cJSON_GetArraySize(item) : 0;
    if (n != nullptr) *n = count;
    return found ? item : nullptr;
}
