#include <orvi/video_profiles.h>

#include <stdio.h>
#include <string.h>

#include <cstdint>
#include <string>

#include <orvi/brannic_json.h>
#include <orvi/brannic_pipe.h>
#include <orvi/config_helpers.h>

namespace {

constexpr int kStringSize = 256;
constexpr int kMaxUdpCameraBitrate = 10000000;
constexpr int kDefaultUdpCameraBitrate = 1000000;
constexpr long kMaxMtuH265 = 1341;
constexpr long kMaxMtuH264 = 1342;

std::string fetch_string(cJSON* parent, const char* key, const char* default_value) {
    char buf[kStringSize];
    json_fetch_string_with_default(parent, key, buf, sizeof buf, default_value);
    return buf;
}

bool fetch_bool(cJSON* parent, const char* key, bool default_value) {
    int value = default_value ? 1 : 0;
    json_fetch_bool_with_default(parent, key, &value, value);
    return value != 0;
}

AdaptiveLevel read_level(cJSON* item, int config_bandwidth) {
    AdaptiveLevel level;
    json_fetch_int_with_default(item, "mcs", &level.mcs, 0);
    json_fetch_float_with_default(item, "bitrate_mbps", &level.bitrate_mbps, 1.0f);
    json_fetch_int_with_default(item, "num_p_frames", &level.num_p_frames, -1);
    json_fetch_int_with_default(item, "fps", &level.fps, 30);
    json_fetch_int_with_default(item, "snr_down", &level.snr_down, -1);
    json_fetch_int_with_default(item, "snr_up", &level.snr_up, -1);
    json_fetch_int_with_default(item, "bandwidth", &level.bandwidth, -1);

    if (level.bandwidth != 40 && level.bandwidth != 20 && level.bandwidth != -1) {
        printf("Invalid bandwidth provided for adaptive link level: %d. Setting to config "
               "default: %dMHz.\n",
               level.bandwidth, config_bandwidth);
        level.bandwidth = config_bandwidth;
    } else if (level.bandwidth == -1) {
        level.bandwidth = config_bandwidth;
    }
    if (level.mcs > 7) {
        printf("Invalid MCS provided for adaptive link level: %d. Setting to MCS 7.\n", level.mcs);
        level.mcs = 7;
    } else if (level.mcs < 0) {
        printf("Invalid MCS provided for adaptive link level: %d. Setting to MCS 0.\n", level.mcs);
        level.mcs = 0;
    }
    if (level.bitrate_mbps < 0.0f) {
        printf("Invalid bitrate provided for adaptive link level: %.1f. Setting to 1mbps.\n",
               level.bitrate_mbps);
        level.bitrate_mbps = 1.0f;
    }
    if (level.num_p_frames < -1) {
        printf("Invalid GOP size provided for adaptive link level: %d. Setting to 14.\n",
               level.num_p_frames);
        level.num_p_frames = 14;
    }
    if (level.fps > 60 || level.fps < 0) {
        printf("Invalid fps provided for adaptive link level: %d. Setting to 30fps.\n", level.fps);
        level.fps = 30;
    }
    return level;
}

// Codec, frame rate and camera bit rate come from the camera pipe's live info.
void complete_from_source_info(vtx_profile_t& p, int index) {
    const std::string path = std::string(PIPE_DIR) + p.source + "/info";
    std::string format = "H265";
    int framerate = 30;
    int bps = -1;
    cJSON* info = open_json(path.c_str(), false);
    if (info != nullptr) {
        format = fetch_string(info, "string_format", "H265");
        json_fetch_int_with_default(info, "framerate", &framerate, 30);
        json_fetch_int_with_default(info, "bps", &bps, -1);
        cJSON_Delete(info);
    } else {
        printf("Source pipe info not available for profile %d (%s). Defaulting to H265 codec, "
               "30fps until the camera connects.\n",
               index, p.source.c_str());
    }
    p.codec = format == "H264" ? VENC_H264 : VENC_H265;
    p.fps = framerate;
    p.camera_bitrate_bps = bps;
}

void clamp_mtu(vtx_profile_t& p) {
    const bool h264 = p.codec == VENC_H264;
    const long max_mtu = h264 ? kMaxMtuH264 : kMaxMtuH265;
    // Sign-extended to 64 bits and compared unsigned: a negative MTU is "too large".
    if (static_cast<uint64_t>(static_cast<int64_t>(p.mtu)) > static_cast<uint64_t>(max_mtu)) {
        printf("[WARNING] Provided MTU (%d) larger than maximum possile for %s (%ld).\n", p.mtu,
               h264 ? "H264" : "H265", max_mtu);
        p.mtu = static_cast<int32_t>(max_mtu);
    } else if (p.mtu == 0) {
        printf("[WARNING] Provided MTU (%d) is smaller than minimum possile. Defaulting to %ld "
               "bytes.\n",
               p.mtu, max_mtu);
        p.mtu = static_cast<int32_t>(max_mtu);
    }
}

// The profile's own keys, before the camera's info and the clamps.
void read_profile_keys(cJSON* item, int index, vtx_profile_t& p) {
    const std::string default_name = "Profile_" + std::to_string(index);
    json_fetch_int_with_default(item, "mcs", &p.mcs, 0);
    json_fetch_int_with_default(item, "mtu", &p.mtu, 1341);
    json_fetch_int_with_default(item, "power", &p.power, 25);
    json_fetch_int_with_default(item, "invert_toggle", &p.invert_toggle, -1);
    json_fetch_int_with_default(item, "joystick_toggle", &p.joystick_toggle, -1);
    p.source = fetch_string(item, "source", "hires_default_misp_encoded");
    json_fetch_int_with_default(item, "udp_camera_bitrate_bps", &p.udp_camera_bitrate_bps,
                                kDefaultUdpCameraBitrate);
    p.name = fetch_string(item, "name", default_name.c_str());
    p.ai_detection_enable = fetch_bool(item, "ai_detection_enable", false);
    p.ai_detection_source = fetch_string(item, "ai_detection_source", "tflite_data");
    json_fetch_int_with_default(item, "ai_detection_qty", &p.ai_detection_qty, 2);
    json_fetch_float_with_default(item, "ai_detection_threshold", &p.ai_detection_threshold,
                                  0.75f);
}

void clamp_udp_camera_bitrate(vtx_profile_t& p) {
    // Unsigned on purpose: every negative rate is out of range too.
    if (static_cast<uint32_t>(p.udp_camera_bitrate_bps) >
        static_cast<uint32_t>(kMaxUdpCameraBitrate)) {
        printf("[WARNING] Provided udp_camera_bitrate_bps (%d) is invalid. Defaulting to "
               "1000000 bps.\n",
               p.udp_camera_bitrate_bps);
        p.udp_camera_bitrate_bps = kDefaultUdpCameraBitrate;
    }
}

void clamp_ai_detection(vtx_profile_t& p) {
    if (p.ai_detection_enable) {
        if (p.ai_detection_qty < 1) p.ai_detection_qty = 1;
        if (!(p.ai_detection_threshold > 0.01f)) p.ai_detection_threshold = 0.1f;
    }
}

// The adaptive link's settings, and its levels when it is on.
void read_adaptive_link(cJSON* item, int config_bandwidth, vtx_profile_t& p) {
    p.enable_adaptive_link = fetch_bool(item, "enable_adaptive_link", false);
    json_fetch_int_with_default(item, "adaptive_link_timeout_ms", &p.adaptive_link_timeout_ms,
                                3000);
    json_fetch_int_with_default(item, "adaptive_link_up_hold_count",
                                &p.adaptive_link_up_hold_count, 3);
    json_fetch_int_with_default(item, "adaptive_link_loss_down_pct",
                                &p.adaptive_link_loss_down_pct, 10);
    json_fetch_int_with_default(item, "adaptive_link_loss_down_hold_ms",
                                &p.adaptive_link_loss_down_hold_ms, 500);
    json_fetch_int_with_default(item, "adaptive_link_loss_up_max_pct",
                                &p.adaptive_link_loss_up_max_pct, 5);
    if (!p.enable_adaptive_link) return;
    int m = 0;
    cJSON* levels = json_fetch_array_of_objects(item, "adaptive_link_levels", &m);
    for (int j = 0; j < m; ++j) {
        cJSON* level = cJSON_GetArrayItem(levels, j);
        if (level == nullptr) continue;
        p.adaptive_link_levels.push_back(read_level(level, config_bandwidth));
    }
}

vtx_profile_t read_profile(cJSON* item, int index, int config_bandwidth) {
    vtx_profile_t p;
    p.adaptive_link_timeout_ms = 3000;
    p.adaptive_link_up_hold_count = 3;
    p.adaptive_link_loss_down_pct = 10;
    p.adaptive_link_loss_down_hold_ms = 500;
    p.adaptive_link_loss_up_max_pct = 5;
    read_profile_keys(item, index, p);
    clamp_udp_camera_bitrate(p);
    complete_from_source_info(p, index);
    clamp_ai_detection(p);
    clamp_mtu(p);
    read_adaptive_link(item, config_bandwidth, p);
    return p;
}

}  // namespace

int load_vtx_profiles(vtx_config_t* config, std::vector<int>& powers, cJSON* root) {
    int n = 0;
    cJSON* entries = json_fetch_array_of_objects(root, "profiles", &n);
    if (config == nullptr || n < 1) {
        printf("ERROR - No video profiles found, verify orvi-vtx.conf and "
               "orvi-camera-server.conf.\n");
        return -1;
    }
    if (powers.size() < static_cast<size_t>(n)) powers.resize(static_cast<size_t>(n), 0);
    printf("Found %d VTX profiles\n", n);

    for (int i = 0; i < n; ++i) {
        cJSON* item = cJSON_GetArrayItem(entries, i);
        if (item == nullptr) {
            printf("failed to fetch item %d from vtx_profile json array\n", i);
            continue;
        }
        config->profiles.push_back(read_profile(item, i, config->bandwidth));
        powers[static_cast<size_t>(i)] = config->profiles.back().power;
    }
    return n;
}
