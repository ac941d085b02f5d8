// Every constant of the support library lives in this one file: within a
// translation unit they are built in the order they are defined, before
// main, and destroyed in the reverse order at exit.
#include <orvi/vtx_constants.h>

// Paths (the three configuration paths are constant-initialised, so they are
// usable at any time, even from other libraries' start-up code).
const char* const VTX_CONFIG_PATH = "/etc/quillon/orvi-vtx.conf";
const char* const VRX_CONFIG_PATH = "/etc/quillon/orvi-vrx.conf";
const char* const CAMERA_SERVER_CONFIG_PATH = "/etc/quillon/orvi-camera-server.conf";
const std::string ENCRYPTION_KEY_PATH = "/data/quillon/vtx.key";
const std::string TRACKING_DOWN_INTRINSICS_FILE =
    "/data/quillon/opencv_tracking_down_intrinsics.yml";
const std::string LEPTON_INTRINSICS_FILE = "/data/quillon/opencv_lepton0_raw_intrinsics.yml";

// Terminal colours.
const std::string red = "\x1b[1;31m";
const std::string green = "\x1b[1;32m";
const std::string yellow = "\x1b[1;33m";
const std::string blue = "\x1b[1;36m";  // code 36 (bright cyan), not 34
const std::string orange = "\x1b[38;5;214m";
const std::string clear = "\x1b[0m";

// Socket addresses.
namespace SocketHelper {
const std::string ADDRESS_LOCALHOST = "127.0.0.1";
const std::string ADDRESS_ANY = "0.0.0.0";
}  // namespace SocketHelper

// Commands of the receiver's control pipe, by index.
const std::array<std::string, VRX_CMD_STRINGS_COUNT> VrxCmdStrings = {
    "set_channel",  "set_vtx_channel", "set_frequency", "set_vtx_frequency",
    "record_local", "stream_stats",    "scan",          "record",
    "usm_amount",   "usm_threshold",   "open_aircraft_menu", "menu_nav",
};

// Single-stream 802.11n rates in bit/s by MCS; the 2.4 GHz tables are 80 % of them.
const std::unordered_map<int, int> max_bitrates_20mhz = {
    {0, 6500000},  {1, 13000000}, {2, 19500000}, {3, 26000000},
    {4, 39000000}, {5, 52000000}, {6, 58500000}, {7, 65000000},
};
const std::unordered_map<int, int> max_bitrates_40mhz = {
    {0, 13500000}, {1, 27000000},  {2, 40500000},  {3, 54000000},
    {4, 81000000}, {5, 108000000}, {6, 121500000}, {7, 135000000},
};
const std::unordered_map<int, int> max_bitrates_20mhz_2g = {
    {0, 5200000},  {1, 10400000}, {2, 15600000}, {3, 20800000},
    {4, 31200000}, {5, 41600000}, {6, 46800000}, {7, 52000000},
};
const std::unordered_map<int, int> max_bitrates_40mhz_2g = {
    {0, 10800000}, {1, 21600000}, {2, 32400000}, {3, 43200000},
    {4, 64800000}, {5, 86400000}, {6, 97200000}, {7, 108000000},
};

// Commands of the transmitter's control pipe, by index.
const std::array<std::string, CMD_STRINGS_COUNT> CmdStrings = {
    "set_channel",
    "set_frequency",
    "set_bandwidth",
    "set_pit_mode",
    "set_profile_idx",
    "set_mw_power",
    "set_power",
    "set_fec",
    "set_mcs",
    "set_osd",
    "set_elrs_hardened_state",
    "stop_test",
    "record_local",
    "stream_stats",
    "mavlink_control",
    "disable_tx",
    "debug_log",
    "team_race",
    "team_race_tx_timeout",
    "add_udp_receiver",
    "remove_udp_receiver",
    "clear_udp_receivers",
};

namespace {

// A sample H.264 fragment: SPS and PPS behind start-code tails, repeated.
std::shared_ptr<std::vector<uint8_t>> make_test_data() {
    static const uint8_t group[22] = {0x01, 0x67, 0x4D, 0x00, 0x29, 0xDA, 0x01, 0x40,
                                      0x16, 0xE8, 0x06, 0xD0, 0xA1, 0x35, 0x00, 0x00,
                                      0x00, 0x01, 0x68, 0xCE, 0x06, 0xF2};
    static const uint8_t tail[13] = {0x01, 0x67, 0x4D, 0x00, 0x29, 0xDA, 0x01,
                                     0x40, 0x16, 0xE8, 0x06, 0xF2, 0x01};
    auto data = std::make_shared<std::vector<uint8_t>>();
    data->reserve(63 * sizeof group + sizeof tail);
    for (int i = 0; i < 63; ++i) data->insert(data->end(), group, group + sizeof group);
    data->insert(data->end(), tail, tail + sizeof tail);
    return data;
}

}  // namespace

const std::shared_ptr<std::vector<uint8_t>> test_data = make_test_data();
