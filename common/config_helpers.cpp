#include <orvi/config_helpers.h>

#include <fmt/core.h>
#include <stdio.h>
#include <string.h>

#include <cctype>

#include <orvi/brannic_json.h>
#include <orvi/brannic_pipe.h>
#include <orvi/config_file_headers.h>

namespace {

constexpr const char* kVtxConfigPath = "/etc/quillon/orvi-vtx.conf";
constexpr const char* kVrxConfigPath = "/etc/quillon/orvi-vrx.conf";

bool starts_with(const char* s, const char* prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

void announce_created(const char* path) {
    fmt::print("No configuration file found, created a new empty configuration file using "
               "defaults: {}\n",
               path);
}

// Replaces an existing member only; the value is freed when there is none.
void replace_existing(cJSON* object, const char* key, cJSON* value) {
    if (value == nullptr) return;
    if (!cJSON_ReplaceItemInObjectCaseSensitive(object, key, value)) cJSON_Delete(value);
}

// The common path of the two key writers; `make_value` builds the new member.
template <typename MakeValue>
void update_member(const char* path, const char* key, MakeValue make_value) {
    if (path == nullptr || key == nullptr) {
        fputs("Parent JSON is NULL\n", stdout);
        return;
    }
    int created = json_make_empty_file_if_missing(path);
    if (created < 0) {
        fputs("Error creating config file\n", stdout);
        fputs("Parent JSON is NULL\n", stdout);
        return;
    }
    if (created > 0) announce_created(path);

    cJSON* root = json_read_file(path);
    if (root == nullptr) {
        fputs("Parent JSON is NULL\n", stdout);
        return;
    }
    replace_existing(root, key, make_value());
    const char* header = config_header_for_path(path);
    if (header != nullptr) {
        json_write_to_file_with_header(path, root, header);
    } else {
        json_write_to_file(path, root);
    }
    cJSON_Delete(root);
}

}  // namespace

const char* config_header_for_path(const char* path) {
    if (path == nullptr) return nullptr;
    if (starts_with(path, kVtxConfigPath)) return VTX_CONFIG_FILE_HEADER;
    if (starts_with(path, kVrxConfigPath)) return VRX_CONFIG_FILE_HEADER;
    return nullptr;
}

cJSON* open_json(const char* path, bool create) {
    if (path == nullptr) return nullptr;
    if (create) {
        int created = json_make_empty_file_if_missing(path);
        if (created < 0) {
            fputs("Error creating config file\n", stdout);
            return nullptr;
        }
        if (created > 0) announce_created(path);
    }
    return json_read_file(path);
}

void config_update_number(const char* path, const char* key, int value, bool as_bool) {
    update_member(path, key, [&] {
        return as_bool ? cJSON_CreateBool(value != 0) : cJSON_CreateNumber(value);
    });
}

void config_update_string(const char* path, const char* key, std::string value) {
    update_member(path, key, [&] { return cJSON_CreateString(value.c_str()); });
}

int UpdatePipeJson(int ch, int format, int width, int height, int framerate, bool replace) {
    cJSON* info = pipe_server_get_info_json_ptr(ch);
    if (info == nullptr) {
        printf("ERROR: got NULL pointer in %s\n", "UpdatePipeJson");
        return -1;
    }
    const char* format_name = pipe_image_format_to_string(format);
    if (format_name == nullptr) format_name = "unknown";
    if (replace) {
        replace_existing(info, "string_format", cJSON_CreateString(format_name));
        replace_existing(info, "int_format", cJSON_CreateNumber(format));
        replace_existing(info, "width", cJSON_CreateNumber(width));
        replace_existing(info, "height", cJSON_CreateNumber(height));
        replace_existing(info, "framerate", cJSON_CreateNumber(framerate));
    } else {
        cJSON_AddStringToObject(info, "string_format", format_name);
        cJSON_AddNumberToObject(info, "int_format", format);
        cJSON_AddNumberToObject(info, "width", width);
        cJSON_AddNumberToObject(info, "height", height);
        cJSON_AddNumberToObject(info, "framerate", framerate);
    }
    pipe_server_update_info(ch);
    return 0;
}

bool str_ends_with(const std::string& s, const std::string& suffix) {
    if (suffix.size() > s.size()) return false;
    size_t i = suffix.size();
    size_t j = s.size();
    while (i > 0) {
        if (suffix[--i] != s[--j]) return false;
    }
    return true;
}

bool parse_endpoint(const std::string& endpoint, std::string& host, std::string& port) {
    if (endpoint.empty()) return false;
    size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon == endpoint.size() - 1) return false;
    host = endpoint.substr(0, colon);
    port = endpoint.substr(colon + 1);
    return true;
}

std::vector<std::string> split_string(const std::string& s) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        while (i < n && isspace(static_cast<unsigned char>(s[i]))) ++i;
        size_t start = i;
        while (i < n && !isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

bool is_integer(const std::string& s) {
    if (s.empty()) return false;
    size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

std::string get_sdk_version(const std::string& line) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) return "???";
    return line.substr(tab + 1);
}
