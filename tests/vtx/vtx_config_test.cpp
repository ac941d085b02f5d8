#include <orvi/vtx_config.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <orvi/brannic_json.h>
#include <orvi/brannic_pipe.h>
#include <orvi/config_file_headers.h>
#include <orvi/config_helpers.h>
#include "config_files.h"

namespace {

const std::string kCreated =
    "No configuration file found, created a new empty configuration file using defaults: ";

std::string endpoints_text(const UdpEndpointList& list) {
    std::string s;
    for (const auto& e : list) s += e ? e->ip + ":" + std::to_string(e->port) + " " : "- ";
    return s;
}

struct UdpCase {
    const char* label;
    const char* json;
    int rc;
    const char* endpoints;
    const char* out;
    const char* err;
};

TEST(UdpLists, VtxTable) {
    const UdpCase cases[] = {
        {"fallback key", R"({"udp_configs": [{"ip": "10.0.0.2", "port": 5600}]})", 1,
         "10.0.0.2:5600 ", "Found 1 UDP Configurations\n", ""},
        {"empty primary falls back",
         R"({"udp_receiver_configs": [], "udp_configs": [{"ip": "10.0.0.3", "port": 1}]})", 1,
         "10.0.0.3:1 ", "Found 1 UDP Configurations\n", ""},
        {"primary wins over fallback",
         R"({"udp_receiver_configs": [{"ip": "10.0.0.1", "port": 5600}],
             "udp_configs": [{"ip": "10.0.0.9", "port": 9}, {"ip": "10.0.0.8", "port": 8}]})",
         1, "10.0.0.1:5600 ", "Found 1 UDP Configurations\n", ""},
        {"port rules and missing ip",
         R"({"udp_receiver_configs": [{"ip": "10.0.0.2"}, {"ip": "10.0.0.2", "port": 0},
             {"ip": "10.0.0.2", "port": 65535}, {"port": 5600}, {"ip": "10.0.0.4", "port": 65534}]})",
         2, "10.0.0.2:0 10.0.0.4:65534 ", "Found 5 UDP Configurations\n",
         "UDP configuration 0 is invalid. IP: 10.0.0.2\tPort: -1\n"
         "UDP configuration 2 is invalid. IP: 10.0.0.2\tPort: 65535\n"
         "UDP configuration 3 is invalid. IP: \tPort: 5600\n"},
        {"three with one invalid",
         R"({"udp_receiver_configs": [{"ip": "a", "port": 1}, {"ip": "b", "port": -1},
             {"ip": "c", "port": 3}]})",
         2, "a:1 c:3 ", "Found 3 UDP Configurations\n",
         "UDP configuration 1 is invalid. IP: b\tPort: -1\n"},
        {"ip bounded to 39 characters",
         R"({"udp_receiver_configs": [{"ip": "0123456789012345678901234567890123456789XYZ", "port": 7}]})",
         1, "012345678901234567890123456789012345678:7 ", "Found 1 UDP Configurations\n", ""},
        {"none at all", R"({"udp": true})", -1, "", "No UDP configurations found.\n", ""},
    };
    for (const auto& c : cases) {
        cJSON* root = cJSON_Parse(c.json);
        ASSERT_NE(root, nullptr) << c.label;
        vtx_config_t config;
        int rc = 0;
        Captured o = capture_output([&] { rc = load_vtx_udp_configs(&config, root); });
        EXPECT_EQ(rc, c.rc) << c.label;
        EXPECT_EQ(endpoints_text(config.udp_receiver_configs), c.endpoints) << c.label;
        EXPECT_EQ(o.out, c.out) << c.label;
        EXPECT_EQ(o.err, c.err) << c.label;
        cJSON_Delete(root);
    }
}

TEST(UdpLists, VrxTable) {
    const UdpCase cases[] = {
        {"no fallback key for the receiver",
         R"({"udp_configs": [{"ip": "10.0.0.2", "port": 5600}]})", 0, "",
         "No UDP receiver configurations found (bidirectional TX disabled)\n", ""},
        {"two with one invalid",
         R"({"udp_receiver_configs": [{"ip": "10.0.0.5", "port": 65535}, {"ip": "10.0.0.6", "port": 14550}]})",
         1, "10.0.0.6:14550 ", "Found 2 UDP receiver configurations\n",
         "UDP receiver configuration 0 is invalid. IP: 10.0.0.5\tPort: 65535\n"},
    };
    for (const auto& c : cases) {
        cJSON* root = cJSON_Parse(c.json);
        vrx_config_t config;
        int rc = 0;
        Captured o = capture_output([&] { rc = load_vrx_udp_configs(&config, root); });
        EXPECT_EQ(rc, c.rc) << c.label;
        EXPECT_EQ(endpoints_text(config.udp_receiver_configs), c.endpoints) << c.label;
        EXPECT_EQ(o.out, c.out) << c.label;
        EXPECT_EQ(o.err, c.err) << c.label;
        cJSON_Delete(root);
    }
}

TEST(UdpLists, LoadingTwiceAppends) {
    cJSON* root = cJSON_Parse(R"({"udp_receiver_configs": [{"ip": "a", "port": 1}]})");
    vtx_config_t config;
    capture_output([&] {
        load_vtx_udp_configs(&config, root);
        load_vtx_udp_configs(&config, root);
    });
    EXPECT_EQ(endpoints_text(config.udp_receiver_configs), "a:1 a:1 ");
    cJSON_Delete(root);
}

using EndpointFiles = ConfigFiles;

TEST_F(EndpointFiles, WriteTable) {
    const UdpEndpointList list = {SocketHelper::UDPConfig{"10.0.0.1", 5600}, std::nullopt,
                                  SocketHelper::UDPConfig{"10.0.0.2", 5601}};
    const std::string written =
        R"([{"ip":"10.0.0.1","port":5600},{"ip":"10.0.0.2","port":5601}])";
    struct Case {
        std::string path;
        const char* initial;
        const char* header;
        const char* expected;
        bool created;
    };
    const std::string vtx = VTX_CONFIG_PATH;
    const Case cases[] = {
        {vtx, R"({"udp": true, "udp_receiver_configs": [{"ip": "1.1.1.1", "port": 1}]})",
         VTX_CONFIG_FILE_HEADER, "{\"udp\":true,\"udp_receiver_configs\":", false},
        {vtx, nullptr, VTX_CONFIG_FILE_HEADER, "{\"udp_receiver_configs\":", true},
        // Only the exact transmitter path gets a header here; the receiver's file never does.
        {vtx + ".bak", R"({"a": 1})", "", "{\"a\":1,\"udp_receiver_configs\":", false},
        {VRX_CONFIG_PATH, R"({"a": 1})", "", "{\"a\":1,\"udp_receiver_configs\":", false},
        {"/etc/quillon/other.conf", "{}", "", "{\"udp_receiver_configs\":", false},
    };
    for (const auto& c : cases) {
        clear_dir("/etc/quillon");
        if (c.initial != nullptr) write_file(c.path, c.initial);
        Captured o = capture_output([&] { config_update_udp_endpoints(c.path.c_str(), list); });
        EXPECT_EQ(o.out, c.created ? kCreated + c.path + "\n" : "") << c.path;
        EXPECT_EQ(o.err, "") << c.path;
        const std::string text = read_file(c.path);
        EXPECT_EQ(text.rfind(std::string(c.header) + "{", 0), 0u) << c.path << "\n" << text;
        cJSON* back = json_read_file(c.path.c_str());
        ASSERT_NE(back, nullptr) << c.path;
        EXPECT_EQ(compact(back), std::string(c.expected) + written + "}") << c.path;

        // And it loads back as the same two endpoints.
        vtx_config_t config;
        capture_output([&] { EXPECT_EQ(load_vtx_udp_configs(&config, back), 2); });
        EXPECT_EQ(endpoints_text(config.udp_receiver_configs), "10.0.0.1:5600 10.0.0.2:5601 ");
        cJSON_Delete(back);
    }
}

TEST_F(EndpointFiles, UnusableFiles) {
    Captured o = capture_output([&] { config_update_udp_endpoints("/etc/quillon/no/such.conf", {}); });
    EXPECT_EQ(o.out, "Error creating config file\n");
    EXPECT_EQ(o.err, "config_update_udp_endpoints: parent JSON is NULL\n");

    const std::string p = "/etc/quillon/array.conf";
    write_file(p, "[1, 2]");
    o = capture_output([&] { config_update_udp_endpoints(p.c_str(), {}); });
    EXPECT_EQ(o.err, "config_update_udp_endpoints: " + p + " does not hold a JSON object\n");
    EXPECT_EQ(read_file(p), "[1, 2]");
}

// The header's layout, and that a file written with it reads back.
TEST(ConfigHeaders, FormAndSections) {
    const std::string banner = " * " + std::string(76, '=');
    struct Case {
        const char* text;
        const char* title;
        std::vector<std::string> sections;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {VTX_CONFIG_FILE_HEADER,
         " * orvi-vtx Configuration File",
         {"WIRELESS TRANSMISSION SETTINGS (must match VRX)",
          "FORWARD ERROR CORRECTION (must match VRX)", "ADVANCED WIRELESS SETTINGS",
          "VIDEO PROFILE CONFIGURATION", "TELEMETRY & DATA RATES",
          "UDP MODE (for LTE/Doodle/Silvus/etc - alternative to WiFi injection)",
          "RF/IP VIDEO FALLBACK (requires both RF and IP/UDP transports configured)",
          "HARDWARE & SYSTEM SETTINGS", "ADAPTIVE LINK", "DEBUG & TESTING"},
         {"frequency", "bandwidth", "card", "enable_pcap", "enable_pit", "enable_fec",
          "fec_percent", "fec_block_size", "enable_stbc", "regulatory_mode",
          "active_profile_idx", "rc_toggle", "rc_switch_profiles", "osd_rc_toggle",
          "osd_joystick_toggle", "led_joystick_button_off", "led_joystick_button_ir",
          "profiles", "info_rate_hz", "mavlink_telem_rate_hz", "lq_quiet_timeout_ms",
          "team_race_en", "team_race_tx_timeout_ms", "rc_deadman_en",
          "rc_deadman_tx_timeout_ms", "udp", "udp_interface_ip", "udp_interface_tx_port",
          "udp_interface_rx_port", "udp_receiver_configs", "enable_ip_fallback",
          "snr_low_threshold", "snr_high_threshold", "link_switch_dwell_ms",
          "ip_liveness_timeout_ms", "pcap_liveness_timeout_ms", "i2c_port", "perf_mode",
          "enable_adaptive_link", "adaptive_link_timeout_ms", "adaptive_link_up_hold_count",
          "adaptive_link_loss_down_pct", "adaptive_link_loss_down_hold_ms",
          "adaptive_link_loss_up_max_pct", "adaptive_link_levels", "disable_transmissions",
          "debug_log", "adaptive_link_log"}},
        {VRX_CONFIG_FILE_HEADER,
         " * orvi-vrx Configuration File",
         {"WIRELESS RECEPTION SETTINGS", "VIDEO DECODER SETTINGS", "VIDEO DISPLAY SETTINGS",
          "DISPLAY MODE", "Sharpening Filter (Unsharp Mask)", "ON-SCREEN DISPLAY (OSD) SETTINGS",
          "DECODER PERFORMANCE SETTINGS", "RECORDING SETTINGS",
          "UDP MODE (for LTE/Doodle/Silvus/etc - alternative to WiFi injection)",
          "Retransmission over UDP settings", "TELEMETRY & NETWORK SETTINGS", "SYSTEM SETTINGS",
          "CHANNEL SCANNING", "DEBUG & LOGGING"},
         {"frequency", "bandwidth", "card", "enable_pcap", "enable_fec", "enable_stbc",
          "enable_lq_resp", "width", "height", "encoding", "stretch_to_screen",
          "splash_on_lost_link", "blackout_mode", "osd_on_link_loss", "link_loss_indicator",
          "stream_timeout_ms", "v_sync", "display_width", "display_height",
          "display_refresh_hz", "sharpen_amount", "sharpen_threshold", "debug_osd",
          "ai_detection_enable", "ai_detection_show_labels", "overheat_mitigation",
          "decode_latency_threshold", "display_damaged_frames", "drop_all_bad_pframes",
          "record_video", "allow_record_local", "udp", "udp_interface_ip",
          "udp_interface_tx_port", "udp_interface_rx_port", "udp_receiver_configs",
          "en_retransmit", "en_retransmit_with_local_decode", "retransmit_tx_ip",
          "retransmit_tx_port", "retransmit_rx_ip", "retransmit_rx_port", "gcs_ip",
          "telem_tx_ip", "mavlink_gcs_port", "mavlink_upstream_ip", "mavlink_upstream_port",
          "allow_mavlink_forward_while_armed", "mpeg_ts_rebroadcast_port",
          "en_mpeg_ts_rebroadcast", "perf_mode", "enable_button_board", "battery_cell_count",
          "scan_dwell_time_ms", "debug_log", "ulog"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        std::string text = c.text;
        ASSERT_EQ(text.back(), '\n');
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(lines[0], "/**");
        EXPECT_EQ(lines[1], c.title);
        EXPECT_EQ(lines[2], " *");
        EXPECT_EQ(lines[lines.size() - 2], " *");
        EXPECT_EQ(lines.back(), " */");
        EXPECT_EQ(text.find("*/"), text.size() - 3) << "the block must close only at its end";

        // Sections: banner, title, banner, then key lines; each closes with " *".
        std::vector<std::string> titles;
        std::vector<std::string> keys;
        for (size_t i = 3; i + 2 < lines.size(); ++i) {
            EXPECT_EQ(lines[i].rfind(" *", 0), 0u) << lines[i];
            if (lines[i] == banner) {
                ASSERT_EQ(lines[i + 2], banner) << lines[i + 1];
                EXPECT_EQ(lines[i - 1], " *") << "section must be preceded by a blank line";
                titles.push_back(lines[i + 1].substr(3));
                i += 2;
                continue;
            }
            // " * key (type): ..." or " * key: ..." (profile keys indented by two more).
            std::string body = lines[i].substr(std::min<size_t>(lines[i].size(), 3));
            if (body.empty() || body[0] == ' ') continue;  // blank or continuation
            size_t colon = body.find(':');
            size_t space = body.find(' ');
            if (colon == std::string::npos) continue;
            keys.push_back(body.substr(0, std::min(colon, space)));
        }
        EXPECT_EQ(titles, c.sections) << c.title;
        std::set<std::string> documented(keys.begin(), keys.end());
        for (const auto& key : c.keys) EXPECT_EQ(documented.count(key), 1u) << c.title << " " << key;
        // Top-level key lines follow the key table's order.
        std::vector<std::string> in_order;
        for (const auto& k : keys) {
            if (std::find(c.keys.begin(), c.keys.end(), k) != c.keys.end()) in_order.push_back(k);
        }
        EXPECT_EQ(in_order, c.keys) << c.title;
    }
}

TEST_F(EndpointFiles, HeaderReadsBack) {
    for (const char* path : {VTX_CONFIG_PATH, VRX_CONFIG_PATH}) {
        write_file(path, R"({"frequency": 5805, "card": "wlan0", "profiles": [{"mcs": 2}]})");
        config_update_number(path, "frequency", 5745, false);
        EXPECT_EQ(read_file(path).rfind("/**\n", 0), 0u);
        cJSON* back = json_read_file(path);
        ASSERT_NE(back, nullptr) << path;
        EXPECT_EQ(compact(back), R"({"frequency":5745,"card":"wlan0","profiles":[{"mcs":2}]})");
        cJSON_Delete(back);
    }
}

struct CodecCase {
    const char* label;
    const char* cameras;  // camera-server file, nullptr for none
    const char* source;
    int codec;
    const char* out;
};

using CameraLookups = ConfigFiles;

TEST_F(CameraLookups, StreamCodecTable) {
    const char* cams = R"({"cameras": [
        {"name": "hires", "misp_venc_mode": "h264", "large_venc_mode": "h265",
         "small_venc_mode": "mjpeg"},
        {"name": "boson", "misp_venc_mode": "H264"},
        {"misp_venc_mode": "h264"}]})";
    const std::string created = kCreated + CAMERA_SERVER_CONFIG_PATH + "\n";
    const CodecCase cases[] = {
        {"large", cams, "hires_large_encoded", 1, "Source pipe name: hires\n"},
        {"misp wins over large", cams, "hires_misp_large", 0, "Source pipe name: hires\n"},
        {"small otherwise", cams, "hires_small_encoded", 2, "Source pipe name: hires\n"},
        {"upper case is not h264", cams, "boson_misp_encoded", 2,
         "Source pipe name: boson\n"},
        {"missing key defaults to h265", cams, "boson_large_encoded", 1,
         "Source pipe name: boson\n"},
        {"no camera matches", cams, "tracking_front_misp_encoded", 1,
         "Reading config file: camera name not specified for hires\n"
         "Failed to find camera: tracking_front_misp_encoded. Defaulting to h265 encoding "
         "format.\n"},
        {"nameless camera counts as hires", R"({"cameras": [{"misp_venc_mode": "h264"}]})",
         "hires_misp_encoded", 0,
         "Reading config file: camera name not specified for hires\nSource pipe name: hires\n"},
        {"prefix, not substring", cams, "my_hires_misp", 1,
         "Reading config file: camera name not specified for hires\n"
         "Failed to find camera: my_hires_misp. Defaulting to h265 encoding format.\n"},
        {"missing file created empty", nullptr, "hires_misp_encoded", 1,
         nullptr},
    };
    for (const auto& c : cases) {
        clear_dir("/etc/quillon");
        if (c.cameras != nullptr) write_file(CAMERA_SERVER_CONFIG_PATH, c.cameras);
        venc_mode_t codec = VENC_H264;
        Captured o = capture_output([&] { codec = get_stream_codec(c.source); });
        EXPECT_EQ(codec, c.codec) << c.label;
        if (c.out != nullptr) {
            EXPECT_EQ(o.out, c.out) << c.label;
        } else {
            EXPECT_EQ(o.out, created +
                                 "Failed to find camera: hires_misp_encoded. Defaulting to h265 "
                                 "encoding format.\n")
                << c.label;
            EXPECT_EQ(read_file(CAMERA_SERVER_CONFIG_PATH), "{\n}\n");
        }
    }
}

TEST_F(CameraLookups, StreamCodecUnreadableFile) {
    write_file(CAMERA_SERVER_CONFIG_PATH, "{ not json");
    venc_mode_t codec = VENC_H264;
    Captured o = capture_output([&] { codec = get_stream_codec("hires_misp_encoded"); });
    EXPECT_EQ(codec, VENC_H265);
    EXPECT_EQ(o.out, "Parent JSON is NULL\n");
}

TEST(CameraPitch, Table) {
    const std::pair<const char*, int> cases[] = {
        {"hires_misp_encoded", 30},   {"boson_front", 30},     {"tracking_front_misp", -45},
        {"tracking_down", -90},       {"lepton0_raw", -90},    {"down_lepton", -90},
        {"unknown_camera", 0},        {"", 0},
    };
    for (const auto& [source, pitch] : cases) {
        std::string s = source;
        EXPECT_EQ(get_camera_pitch_offset(s), pitch) << source;
    }
}

TEST_F(CameraLookups, CameraBitrate) {
    write_pipe_info("hires_misp_encoded", R"({"name": "hires_misp_encoded", "bps": 8000000})");
    write_pipe_info("boson_misp_encoded", R"({"name": "boson_misp_encoded"})");
    struct Case {
        const char* pipe;
        int bps;
        const char* out;
    };
    const Case cases[] = {
        {"hires_misp_encoded", 8000000, ""},
        {"boson_misp_encoded", 1000000, ""},
        {"lepton0_raw", 1000000,
         "failed to fetch bitrate from source_parent json array. Defaulting to 1000000 bps.\n"},
    };
    for (const auto& c : cases) {
        int bps = 0;
        Captured o = capture_output([&] { bps = fetch_camera_bitrate(c.pipe); });
        EXPECT_EQ(bps, c.bps) << c.pipe;
        EXPECT_EQ(o.out, c.out) << c.pipe;
    }
}

TEST(Constants, Values) {
    ASSERT_NE(test_data, nullptr);
    ASSERT_EQ(test_data->size(), 1399u);
    const std::vector<uint8_t> group = {0x01, 0x67, 0x4D, 0x00, 0x29, 0xDA, 0x01, 0x40,
                                        0x16, 0xE8, 0x06, 0xD0, 0xA1, 0x35, 0x00, 0x00,
                                        0x00, 0x01, 0x68, 0xCE, 0x06, 0xF2};
    for (size_t i = 0; i < 63 * 22; ++i) ASSERT_EQ((*test_data)[i], group[i % 22]) << i;
    const std::vector<uint8_t> tail(test_data->end() - 13, test_data->end());
    EXPECT_EQ(tail, (std::vector<uint8_t>{0x01, 0x67, 0x4D, 0x00, 0x29, 0xDA, 0x01, 0x40, 0x16,
                                           0xE8, 0x06, 0xF2, 0x01}));

    EXPECT_EQ(CmdStrings[0], "set_channel");
    EXPECT_EQ(CmdStrings[10], "set_elrs_hardened_state");
    EXPECT_EQ(CmdStrings[18], "team_race_tx_timeout");
    EXPECT_EQ(CmdStrings[21], "clear_udp_receivers");
    EXPECT_EQ(VrxCmdStrings[3], "set_vtx_frequency");
    EXPECT_EQ(VrxCmdStrings[11], "menu_nav");
    EXPECT_EQ(blue, "\x1b[1;36m");
    EXPECT_EQ(orange, "\x1b[38;5;214m");
    EXPECT_EQ(SocketHelper::ADDRESS_ANY, "0.0.0.0");
    EXPECT_EQ(ENCRYPTION_KEY_PATH, "/data/quillon/vtx.key");

    // Every 2.4 GHz rate is 80 % of the 5 GHz one.
    for (int mcs = 0; mcs <= 7; ++mcs) {
        EXPECT_EQ(max_bitrates_20mhz_2g.at(mcs), max_bitrates_20mhz.at(mcs) / 5 * 4) << mcs;
        EXPECT_EQ(max_bitrates_40mhz_2g.at(mcs), max_bitrates_40mhz.at(mcs) / 5 * 4) << mcs;
    }
    EXPECT_EQ(max_bitrates_20mhz.at(0), 6500000);
    EXPECT_EQ(max_bitrates_40mhz.at(7), 135000000);
    EXPECT_EQ(max_bitrates_20mhz.size(), 8u);
    EXPECT_EQ(max_bitrates_40mhz_2g.size(), 8u);
}

// Camera presence: which camera pipes have a live server.
class RunningPipes : public ConfigFiles {
protected:
    void TearDown() override { pipe_server_close_all(); }
};

TEST_F(RunningPipes, CameraStatusBits) {
    struct Case {
        std::vector<const char*> pipes;
        uint8_t mask;
    };
    const Case cases[] = {
        {{}, 0},
        {{"lepton0_raw"}, 16},
        {{"lepton_raw"}, 16},
        {{"lepton_raw", "lepton0_raw"}, 16},
        {{"hires_misp_encoded"}, 1},
        {{"boson_misp_encoded", "tracking_down_misp_encoded"}, 2 | 8},
        {{"hires_misp_encoded", "boson_misp_encoded", "tracking_front_misp_encoded",
          "tracking_down_misp_encoded", "lepton0_raw", "hires_large_encoded"},
         31},
    };
    for (const auto& c : cases) {
        int ch = 0;
        for (const char* name : c.pipes) {
            ASSERT_EQ(pipe_server_create(ch++, name, "camera_image_metadata_t", "config_tests"),
                      0)
                << name;
        }
        EXPECT_EQ(check_cameras_status(), c.mask) << c.pipes.size();
        pipe_server_close_all();
    }
    // A folder left behind without a server does not count.
    write_pipe_info("lepton0_raw", "{}");
    EXPECT_EQ(check_cameras_status(), 0);
}

}  // namespace
