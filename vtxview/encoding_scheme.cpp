#include "encoding_scheme.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <orvi/brannic_json.h>
#include <cjson/cJSON.h>

#include <orvi/config_helpers.h>
#include <orvi/vtx_constants.h>

namespace {
constexpr int kNameBytes = 256;
}

venc_mode_t get_encoding_scheme(venc_mode_t current) {
    cJSON* config = open_json(VTX_CONFIG_PATH, true);
    if (config == nullptr) {
        std::printf("Failed to open VTX config. Defaulting to H265.\n");
        return current;
    }

    int active = 0;
    json_fetch_int_with_default(config, "active_profile_idx", &active, 0);
    int n_profiles = 0;
    cJSON* profiles = json_fetch_array_of_objects(config, "profiles", &n_profiles);
    if (profiles == nullptr || n_profiles < 1) {
        std::printf("No profiles found in VTX config. Defaulting to H265.\n");
        cJSON_Delete(config);
        return current;
    }
    if (active < 0 || active >= n_profiles) {
        // Kept on H.265 like every other fallback, whatever the message says.
        std::printf("Invalid active_profile_idx %d (have %d profiles). Defaulting to H264.\n",
                    active, n_profiles);
        cJSON_Delete(config);
        return current;
    }
    cJSON* profile = cJSON_GetArrayItem(profiles, active);
    if (profile == nullptr) {
        std::printf("Failed to fetch active profile %d. Defaulting to H265.\n", active);
        cJSON_Delete(config);
        return current;
    }

    char source[kNameBytes];
    json_fetch_string_with_default(profile, "source", source, kNameBytes, "hires_small_encoded");
    cJSON_Delete(config);

    const std::string info_path = std::string("/run/zpx/") + source + "/info";
    cJSON* info = open_json(info_path.c_str(), false);
    if (info == nullptr) {
        std::printf("Failed to read pipe info for %s. Defaulting to H265.\n", source);
        return VENC_H265;
    }
    char format[kNameBytes];
    json_fetch_string_with_default(info, "string_format", format, kNameBytes, "H265");
    cJSON_Delete(info);
    return std::strcmp(format, "H264") == 0 ? VENC_H264 : VENC_H265;
}
