#include <orvi/vtx_config.h>

#include <fmt/core.h>
#include <stdio.h>
#include <string.h>

#include <orvi/brannic_json.h>
#include <orvi/brannic_pipe.h>
#include <orvi/config_file_headers.h>
#include <orvi/config_helpers.h>

namespace {

constexpr int kIpBufferSize = 40;
constexpr int kCameraNameSize = 64;
constexpr int kDefaultCameraBitrate = 1000000;

// Which wording the two receiver lists use in their messages.
struct UdpListText {
    const char* fetch_failed;
    const char* invalid_prefix;
};

// Appends the valid entries of `array` (n items) and returns n minus the
// number rejected, or -1 when an item cannot be taken from the array.
int load_udp_list(UdpEndpointList& out, cJSON* array, int n, const UdpListText& text) {
    int invalid = 0;
    for (int i = 0; i < n; ++i) {
        cJSON* item = cJSON_GetArrayItem(array, i);
        if (item == nullptr) {
            printf(text.fetch_failed, i);
            return -1;
        }
        char ip[kIpBufferSize];
        int port = -1;
        json_fetch_string_with_default(item, "ip", ip, sizeof ip, "");
        json_fetch_int_with_default(item, "port", &port, -1);
        // Unsigned on purpose: a negative port is as unusable as 65535.
        if (ip[0] != '\0' && static_cast<uint32_t>(port) <= 65534u) {
            out.emplace_back(SocketHelper::UDPConfig{ip, port});
        } else {
            fprintf(stderr, "%s%d is invalid. IP: %s\tPort: %d\n", text.invalid_prefix, i, ip,
                    port);
            ++invalid;
        }
    }
    return n - invalid;
}

}  // namespace

int load_vtx_udp_configs(vtx_config_t* config, cJSON* root) {
    if (config == nullptr) return -1;
    int n = 0;
    cJSON* array = json_fetch_array_of_objects(root, "udp_receiver_configs", &n);
    if (n < 1) array = json_fetch_array_of_objects(root, "udp_configs", &n);
    if (n < 1) {
        printf("No UDP configurations found.\n");
        return -1;
    }
    printf("Found %d UDP Configurations\n", n);
    return load_udp_list(config->udp_receiver_configs, array, n,
                         {"failed to fetch item %d from udp_config json array\n",
                          "UDP configuration "});
}

int load_vrx_udp_configs(vrx_config_t* config, cJSON* root) {
    if (config == nullptr) return -1;
    int n = 0;
    cJSON* array = json_fetch_array_of_objects(root, "udp_receiver_configs", &n);
    if (n < 1) {
        printf("No UDP receiver configurations found (bidirectional TX disabled)\n");
        return 0;
    }
    printf("Found %d UDP receiver configurations\n", n);
    return load_udp_list(config->udp_receiver_configs, array, n,
                         {"failed to fetch item %d from udp_receiver_configs json array\n",
                          "UDP receiver configuration "});
}

void config_update_udp_endpoints(const char* path, const UdpEndpointList& endpoints) {
    cJSON* root = path != nullptr ? open_json(path, true) : nullptr;
    if (root == nullptr) {
        fputs("config_update_udp_endpoints: parent JSON is NULL\n", stderr);
        return;
    }
    // Adding a keyed member to anything but an object would write a broken file.
    if (!cJSON_IsObject(root)) {
        fprintf(stderr, "config_update_udp_endpoints: %s does not hold a JSON object\n", path);
        cJSON_Delete(root);
        return;
    }
    cJSON* array = cJSON_CreateArray();
    for (const auto& endpoint : endpoints) {
        if (!endpoint) continue;
        cJSON* entry = cJSON_CreateObject();
        cJSON_AddStringToObject(entry, "ip", endpoint->ip.c_str());
        cJSON_AddNumberToObject(entry, "port", endpoint->port);
        cJSON_AddItemToArray(array, entry);
    }
    if (cJSON_GetObjectItemCaseSensitive(root, "udp_receiver_configs") != nullptr) {
        cJSON_ReplaceItemInObjectCaseSensitive(root, "udp_receiver_configs", array);
    } else {
        cJSON_AddItemToObject(root, "udp_receiver_configs", array);
    }
    if (strcmp(path, VTX_CONFIG_PATH) == 0) {
        json_write_to_file_with_header(path, root, VTX_CONFIG_FILE_HEADER);
    } else {
        json_write_to_file(path, root);
    }
    cJSON_Delete(root);
}

venc_mode_t get_stream_codec(const char* source) {
    if (source == nullptr) source = "";
    cJSON* root = open_json(CAMERA_SERVER_CONFIG_PATH, true);
    if (root == nullptr) {
        printf("Parent JSON is NULL\n");
        return VENC_H265;
    }
    int n = 0;
    cJSON* cameras = json_fetch_array_of_objects(root, "cameras", &n);
    for (int i = 0; i < n; ++i) {
        cJSON* camera = cJSON_GetArrayItem(cameras, i);
        if (camera == nullptr) {
            printf("failed to fetch item %d from json array\n", i);
            cJSON_Delete(root);
            return VENC_H265;
        }
        char name[kCameraNameSize];
        if (json_fetch_string_with_default(camera, "name", name, sizeof name, "hires") != 0) {
            printf("Reading config file: camera name not specified for %s\n", name);
        }
        if (strncmp(name, source, strlen(name)) != 0) continue;

        fmt::print("Source pipe name: {}\n", name);
        const char* key = strstr(source, "misp") != nullptr    ? "misp_venc_mode"
                          : strstr(source, "large") != nullptr ? "large_venc_mode"
                                                               : "small_venc_mode";
        char mode[kCameraNameSize];
        json_fetch_string_with_default(camera, key, mode, sizeof mode, "h265");
        cJSON_Delete(root);
        if (strcmp(mode, "h264") == 0) return VENC_H264;
        if (strcmp(mode, "h265") == 0) return VENC_H265;
        return VENC_OTHER;
    }
    cJSON_Delete(root);
    fmt::print("Failed to find camera: {}. Defaulting to h265 encoding format.\n", source);
    return VENC_H265;
}

int fetch_camera_bitrate(const std::string& pipe) {
    const std::string path = std::string(PIPE_DIR) + pipe + "/info";
    cJSON* info = open_json(path.c_str(), false);
    if (info == nullptr) {
        printf("failed to fetch bitrate from source_parent json array. Defaulting to 1000000 "
               "bps.\n");
        return kDefaultCameraBitrate;
    }
    int bps = kDefaultCameraBitrate;
    json_fetch_int_with_default(info, "bps", &bps, kDefaultCameraBitrate);
    cJSON_Delete(info);
    return bps;
}

int get_camera_pitch_offset(std::string& source) {
    auto has = [&](const char* word) { return source.find(word) != std::string::npos; };
    if (has("hires") || has("boson")) return 30;
    if (has("front")) return -45;
    if (has("down")) return -90;
    if (has("lepton")) return -90;
    return 0;
}

uint8_t check_cameras_status() {
    uint8_t mask = 0;
    if (pipe_exists("hires_misp_encoded")) mask |= 1u << 0;
    if (pipe_exists("boson_misp_encoded")) mask |= 1u << 1;
    if (pipe_exists("tracking_front_misp_encoded")) mask |= 1u << 2;
    if (pipe_exists("tracking_down_misp_encoded")) mask |= 1u << 3;
    if (pipe_exists("lepton_raw") || pipe_exists("lepton0_raw")) mask |= 1u << 4;
    return mask;
}
