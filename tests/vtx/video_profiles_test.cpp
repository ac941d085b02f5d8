#include <orvi/video_profiles.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_files.h"

namespace {

const char* kNoInfo =
    "Source pipe info not available for profile %d (%s). Defaulting to H265 codec, 30fps until "
    "the camera connects.\n";

std::string no_info(int i, const std::string& source) {
    char buf[512];
    snprintf(buf, sizeof buf, kNoInfo, i, source.c_str());
    return buf;
}

struct Loaded {
    int rc = 0;
    vtx_config_t config;
    std::vector<int> powers;
    Captured output;
};

Loaded load(const std::string& json, int bandwidth = 20, std::vector<int> powers = {}) {
    Loaded l;
    l.config.bandwidth = bandwidth;
    l.powers = std::move(powers);
    cJSON* root = cJSON_Parse(json.c_str());
    EXPECT_NE(root, nullptr) << json;
    l.output = capture_output([&] { l.rc = load_vtx_profiles(&l.config, l.powers, root); });
    cJSON_Delete(root);
    return l;
}

class Profiles : public ConfigFiles {
protected:
    void SetUp() override {
        ConfigFiles::SetUp();
        write_pipe_info("h264_cam",
                        R"({"string_format": "H264", "framerate": 60, "bps": 12000000})");
        write_pipe_info("h265_cam", R"({"string_format": "H265", "framerate": 90})");
        write_pipe_info("lower_cam", R"({"string_format": "h264"})");
    }
};

TEST_F(Profiles, NoProfilesTouchesNothing) {
    for (const char* json : {R"({"mcs": 1})", R"({"profiles": []})", R"({"profiles": 3})"}) {
        Loaded l = load(json, 20, {7, 8});
        EXPECT_EQ(l.rc, -1) << json;
        EXPECT_TRUE(l.config.profiles.empty());
        EXPECT_EQ(l.powers, (std::vector<int>{7, 8}));
        EXPECT_EQ(l.output.out,
                  "ERROR - No video profiles found, verify orvi-vtx.conf and "
                  "orvi-camera-server.conf.\n");
    }
}

TEST_F(Profiles, DefaultsOfAnEmptyProfile) {
    Loaded l = load(R"({"profiles": [{}]})");
    ASSERT_EQ(l.rc, 1);
    ASSERT_EQ(l.config.profiles.size(), 1u);
    const vtx_profile_t& p = l.config.profiles[0];
    EXPECT_EQ(l.output.out, "Found 1 VTX profiles\n" + no_info(0, "hires_default_misp_encoded"));
    EXPECT_EQ(p.reserved_word, 0);
    EXPECT_EQ(p.mcs, 0);
    EXPECT_EQ(p.power, 25);
    EXPECT_EQ(p.power_idx, 0);
    EXPECT_EQ(p.pit_power_idx, 0);
    EXPECT_EQ(p.mtu, 1341);
    EXPECT_EQ(p.fps, 30);
    EXPECT_EQ(p.invert_toggle, -1);
    EXPECT_EQ(p.joystick_toggle, -1);
    EXPECT_EQ(p.camera_bitrate_bps, -1);
    EXPECT_EQ(p.udp_camera_bitrate_bps, 1000000);
    EXPECT_FALSE(p.ai_detection_enable);
    EXPECT_EQ(p.ai_detection_qty, 2);
    EXPECT_FLOAT_EQ(p.ai_detection_threshold, 0.75f);
    EXPECT_EQ(p.ai_detection_source, "tflite_data");
    EXPECT_EQ(p.name, "Profile_0");
    EXPECT_EQ(p.source, "hires_default_misp_encoded");
    EXPECT_EQ(p.codec, VENC_H265);
    EXPECT_FALSE(p.enable_adaptive_link);
    EXPECT_EQ(p.adaptive_link_timeout_ms, 3000);
    EXPECT_EQ(p.adaptive_link_up_hold_count, 3);
    EXPECT_EQ(p.adaptive_link_loss_down_pct, 10);
    EXPECT_EQ(p.adaptive_link_loss_down_hold_ms, 500);
    EXPECT_EQ(p.adaptive_link_loss_up_max_pct, 5);
    EXPECT_TRUE(p.adaptive_link_levels.empty());
    EXPECT_EQ(l.powers, std::vector<int>{25});
}

TEST_F(Profiles, SourceInfoCompletesProfile) {
    Loaded l = load(R"({"profiles": [{"source": "h264_cam"}, {"source": "h265_cam"},
                                     {"source": "lower_cam"}]})");
    ASSERT_EQ(l.config.profiles.size(), 3u);
    EXPECT_EQ(l.output.out, "Found 3 VTX profiles\n");
    const auto& p = l.config.profiles;
    EXPECT_EQ(p[0].codec, VENC_H264);
    EXPECT_EQ(p[0].fps, 60);
    EXPECT_EQ(p[0].camera_bitrate_bps, 12000000);
    EXPECT_EQ(p[0].mtu, 1341);  // the default is within H.264's limit
    EXPECT_EQ(p[1].codec, VENC_H265);
    EXPECT_EQ(p[1].fps, 90);
    EXPECT_EQ(p[1].camera_bitrate_bps, -1);
    EXPECT_EQ(p[2].codec, VENC_H265);  // "h264" in lower case is not H.264
    EXPECT_EQ(p[2].fps, 30);
}

struct ClampCase {
    const char* label;
    const char* profile;
    const char* messages;  // after "Found 1 VTX profiles\n"
    int mtu;
    int udp_bps;
    int qty;
    float threshold;
};

TEST_F(Profiles, ClampTable) {
    const ClampCase cases[] = {
        {"H264 mtu too large", R"({"source": "h264_cam", "mtu": 1400})",
         "[WARNING] Provided MTU (1400) larger than maximum possile for H264 (1342).\n", 1342,
         1000000, 2, 0.75f},
        {"H265 mtu too large", R"({"source": "h265_cam", "mtu": 1400})",
         "[WARNING] Provided MTU (1400) larger than maximum possile for H265 (1341).\n", 1341,
         1000000, 2, 0.75f},
        {"H264 takes 1342", R"({"source": "h264_cam", "mtu": 1342})", "", 1342, 1000000, 2,
         0.75f},
        {"negative mtu counts as too large", R"({"source": "h265_cam", "mtu": -5})",
         "[WARNING] Provided MTU (-5) larger than maximum possile for H265 (1341).\n", 1341,
         1000000, 2, 0.75f},
        {"zero mtu", R"({"source": "h264_cam", "mtu": 0})",
         "[WARNING] Provided MTU (0) is smaller than minimum possile. Defaulting to 1342 "
         "bytes.\n",
         1342, 1000000, 2, 0.75f},
        {"small mtu stays", R"({"source": "h265_cam", "mtu": 1})", "", 1, 1000000, 2, 0.75f},
        {"udp rate at the limit", R"({"source": "h265_cam", "udp_camera_bitrate_bps": 10000000})",
         "", 1341, 10000000, 2, 0.75f},
        {"udp rate over the limit",
         R"({"source": "h265_cam", "udp_camera_bitrate_bps": 10000001})",
         "[WARNING] Provided udp_camera_bitrate_bps (10000001) is invalid. Defaulting to 1000000 "
         "bps.\n",
         1341, 1000000, 2, 0.75f},
        {"negative udp rate", R"({"source": "h265_cam", "udp_camera_bitrate_bps": -1})",
         "[WARNING] Provided udp_camera_bitrate_bps (-1) is invalid. Defaulting to 1000000 "
         "bps.\n",
         1341, 1000000, 2, 0.75f},
        {"detection off keeps values",
         R"({"source": "h265_cam", "ai_detection_qty": 0, "ai_detection_threshold": 0.0})", "",
         1341, 1000000, 0, 0.0f},
        {"detection on clamps",
         R"({"source": "h265_cam", "ai_detection_enable": true, "ai_detection_qty": 0,
             "ai_detection_threshold": 0.01})",
         "", 1341, 1000000, 1, 0.1f},
        {"detection on keeps sane values",
         R"({"source": "h265_cam", "ai_detection_enable": true, "ai_detection_qty": 5,
             "ai_detection_threshold": 0.02})",
         "", 1341, 1000000, 5, 0.02f},
    };
    for (const auto& c : cases) {
        Loaded l = load(std::string(R"({"profiles": [)") + c.profile + "]}");
        ASSERT_EQ(l.config.profiles.size(), 1u) << c.label;
        const vtx_profile_t& p = l.config.profiles[0];
        EXPECT_EQ(l.output.out, std::string("Found 1 VTX profiles\n") + c.messages) << c.label;
        EXPECT_EQ(p.mtu, c.mtu) << c.label;
        EXPECT_EQ(p.udp_camera_bitrate_bps, c.udp_bps) << c.label;
        EXPECT_EQ(p.ai_detection_qty, c.qty) << c.label;
        EXPECT_FLOAT_EQ(p.ai_detection_threshold, c.threshold) << c.label;
    }
}

TEST_F(Profiles, NamesAndPowers) {
    Loaded l = load(R"({"profiles": [
        {"source": "h265_cam", "name": "Race", "power": 200},
        {"source": "h265_cam", "power": 25},
        {"source": "h265_cam", "power": 800, "mcs": 3, "invert_toggle": 7}]})",
                    20, {1, 2, 3, 4, 5});
    ASSERT_EQ(l.rc, 3);
    ASSERT_EQ(l.config.profiles.size(), 3u);
    EXPECT_EQ(l.config.profiles[0].name, "Race");
    EXPECT_EQ(l.config.profiles[1].name, "Profile_1");
    EXPECT_EQ(l.config.profiles[2].name, "Profile_2");
    EXPECT_EQ(l.config.profiles[2].mcs, 3);
    EXPECT_EQ(l.config.profiles[2].invert_toggle, 7);
    EXPECT_EQ(l.powers, (std::vector<int>{200, 25, 800, 4, 5}));

    Loaded grown = load(R"({"profiles": [{"source": "h265_cam", "power": 10}, {"source": "h265_cam"}]})");
    EXPECT_EQ(grown.powers, (std::vector<int>{10, 25}));
}

TEST_F(Profiles, MissingInfoFile) {
    Loaded l = load(R"({"profiles": [{"source": "h264_cam"}, {"source": "not_running"}]})");
    ASSERT_EQ(l.config.profiles.size(), 2u);
    EXPECT_EQ(l.output.out, "Found 2 VTX profiles\n" + no_info(1, "not_running"));
    const vtx_profile_t& p = l.config.profiles[1];
    EXPECT_EQ(p.codec, VENC_H265);
    EXPECT_EQ(p.fps, 30);
    EXPECT_EQ(p.camera_bitrate_bps, -1);
}

TEST_F(Profiles, AdaptiveLevels) {
    Loaded l = load(R"({"profiles": [{"source": "h265_cam", "enable_adaptive_link": true,
        "adaptive_link_timeout_ms": 1000, "adaptive_link_up_hold_count": 5,
        "adaptive_link_loss_down_pct": 0, "adaptive_link_loss_down_hold_ms": 250,
        "adaptive_link_loss_up_max_pct": -1,
        "adaptive_link_levels": [
          {"mcs": 9, "bitrate_mbps": -2, "num_p_frames": -1, "fps": 61, "bandwidth": 80},
          {"mcs": 3, "bitrate_mbps": 6.5, "num_p_frames": 29, "fps": 60, "snr_down": 18,
           "snr_up": 24, "bandwidth": 40},
          {"mcs": -1, "bitrate_mbps": 0, "num_p_frames": -2, "fps": -1},
          {}]}]})",
                    20);
    ASSERT_EQ(l.config.profiles.size(), 1u);
    const vtx_profile_t& p = l.config.profiles[0];
    EXPECT_EQ(l.output.out,
              "Found 1 VTX profiles\n"
              "Invalid bandwidth provided for adaptive link level: 80. Setting to config "
              "default: 20MHz.\n"
              "Invalid MCS provided for adaptive link level: 9. Setting to MCS 7.\n"
              "Invalid bitrate provided for adaptive link level: -2.0. Setting to 1mbps.\n"
              "Invalid fps provided for adaptive link level: 61. Setting to 30fps.\n"
              "Invalid MCS provided for adaptive link level: -1. Setting to MCS 0.\n"
              "Invalid GOP size provided for adaptive link level: -2. Setting to 14.\n"
              "Invalid fps provided for adaptive link level: -1. Setting to 30fps.\n");
    EXPECT_EQ(p.adaptive_link_timeout_ms, 1000);
    EXPECT_EQ(p.adaptive_link_up_hold_count, 5);
    EXPECT_EQ(p.adaptive_link_loss_down_pct, 0);
    EXPECT_EQ(p.adaptive_link_loss_down_hold_ms, 250);
    EXPECT_EQ(p.adaptive_link_loss_up_max_pct, -1);
    ASSERT_EQ(p.adaptive_link_levels.size(), 4u);
    struct Expected {
        int mcs;
        float mbps;
        int fps, p_frames, down, up, bw;
    };
    const Expected expected[] = {
        {7, 1.0f, 30, -1, -1, -1, 20},
        {3, 6.5f, 60, 29, 18, 24, 40},
        {0, 0.0f, 30, 14, -1, -1, 20},
        {0, 1.0f, 30, -1, -1, -1, 20},
    };
    for (size_t j = 0; j < 4; ++j) {
        const AdaptiveLevel& a = p.adaptive_link_levels[j];
        EXPECT_EQ(a.mcs, expected[j].mcs) << j;
        EXPECT_FLOAT_EQ(a.bitrate_mbps, expected[j].mbps) << j;
        EXPECT_EQ(a.fps, expected[j].fps) << j;
        EXPECT_EQ(a.num_p_frames, expected[j].p_frames) << j;
        EXPECT_EQ(a.snr_down, expected[j].down) << j;
        EXPECT_EQ(a.snr_up, expected[j].up) << j;
        EXPECT_EQ(a.bandwidth, expected[j].bw) << j;
    }

    // The default bandwidth is the configuration's.
    Loaded wide = load(R"({"profiles": [{"source": "h265_cam", "enable_adaptive_link": true,
        "adaptive_link_levels": [{"mcs": 1}]}]})",
                       40);
    ASSERT_EQ(wide.config.profiles.at(0).adaptive_link_levels.size(), 1u);
    EXPECT_EQ(wide.config.profiles[0].adaptive_link_levels[0].bandwidth, 40);
}

TEST_F(Profiles, LevelsIgnoredWhenAdaptiveLinkOff) {
    Loaded l = load(R"({"profiles": [{"source": "h265_cam",
        "adaptive_link_levels": [{"mcs": 9, "fps": 99}]}]})");
    ASSERT_EQ(l.config.profiles.size(), 1u);
    EXPECT_TRUE(l.config.profiles[0].adaptive_link_levels.empty());
    EXPECT_EQ(l.output.out, "Found 1 VTX profiles\n");
}

TEST_F(Profiles, LoadingTwiceAppends) {
    vtx_config_t config;
    std::vector<int> powers;
    cJSON* root = cJSON_Parse(R"({"profiles": [{"source": "h265_cam"}]})");
    capture_output([&] {
        load_vtx_profiles(&config, powers, root);
        load_vtx_profiles(&config, powers, root);
    });
    EXPECT_EQ(config.profiles.size(), 2u);
    EXPECT_EQ(powers.size(), 1u);
    cJSON_Delete(root);
}

}  // namespace
