// The transmitter and receiver configuration model, the UDP endpoint lists
// and the camera lookups. The library's constants (paths among them) come
// with it from vtx_constants.h.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <orvi/video_codec.h>
#include <orvi/vtx_constants.h>
#include <orvi/vtx_export.h>

namespace SocketHelper {
struct UDPConfig {
    std::string ip;
    int32_t port = -1;
};
}  // namespace SocketHelper

using UdpEndpointList = std::vector<std::optional<SocketHelper::UDPConfig>>;

// One rung of a profile's adaptive-link ladder (best first).
struct AdaptiveLevel {
    int32_t mcs = 0;
    float bitrate_mbps = 1.0f;
    int32_t fps = 30;
    int32_t num_p_frames = -1;
    int32_t snr_down = -1;
    int32_t snr_up = -1;
    int32_t bandwidth = -1;
};

// Members stand in this order on purpose: destruction frees the levels,
// then source, name and ai_detection_source.
struct vtx_profile_t {
    int32_t reserved_word = 0;
    int32_t mcs = 0;
    int32_t power = 0;  // mW
    int32_t power_idx = 0;
    int32_t pit_power_idx = 0;
    int32_t mtu = 0;
    int32_t fps = 0;
    int32_t invert_toggle = 0;
    int32_t joystick_toggle = 0;
    int32_t camera_bitrate_bps = 0;
    int32_t udp_camera_bitrate_bps = 0;
    bool ai_detection_enable = false;
    int32_t ai_detection_qty = 0;
    float ai_detection_threshold = 0.0f;
    int32_t reserved_a = 0;
    int32_t reserved_b = 0;
    bool reserved_flag = false;
    std::string ai_detection_source;
    std::string name;
    std::string source;
    int32_t codec = VENC_H264;  // venc_mode_t
    bool enable_adaptive_link = false;
    int32_t adaptive_link_timeout_ms = 0;
    int32_t adaptive_link_up_hold_count = 0;
    int32_t adaptive_link_loss_down_pct = 0;
    int32_t adaptive_link_loss_down_hold_ms = 0;
    int32_t adaptive_link_loss_up_max_pct = 0;
    std::vector<AdaptiveLevel> adaptive_link_levels;
};

struct vtx_config_t {
    bool enable_pit = false;
    std::string card;
    int32_t bandwidth = 20;
    int32_t fec_percent = -1;
    int32_t active_profile_idx = 0;
    std::vector<vtx_profile_t> profiles;
    UdpEndpointList udp_receiver_configs;
};

struct vrx_config_t {
    int32_t frequency = 0;
    int32_t bandwidth = 20;
    std::string card;
    UdpEndpointList udp_receiver_configs;
};

ORVI_VTX_EXPORT int load_vtx_udp_configs(vtx_config_t* config, cJSON* root);
ORVI_VTX_EXPORT int load_vrx_udp_configs(vrx_config_t* config, cJSON* root);
ORVI_VTX_EXPORT void config_update_udp_endpoints(const char* path,
                                                 const UdpEndpointList& endpoints);
ORVI_VTX_EXPORT venc_mode_t get_stream_codec(const char* source);
ORVI_VTX_EXPORT int fetch_camera_bitrate(const std::string& pipe);
ORVI_VTX_EXPORT int get_camera_pitch_offset(std::string& source);
ORVI_VTX_EXPORT uint8_t check_cameras_status();
