// The constants the VTX support library defines for all its users. Those
// that are objects are built once when the library is loaded, before main,
// and destroyed at exit in the reverse order (vtx_constants.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// Configuration files of the transmitter, the receiver and the camera server.
extern const char* const VTX_CONFIG_PATH;  // "/etc/quillon/orvi-vtx.conf"
extern const char* const VRX_CONFIG_PATH;  // "/etc/quillon/orvi-vrx.conf"
extern const char* const CAMERA_SERVER_CONFIG_PATH;  // "/etc/quillon/orvi-camera-server.conf"

// Other files of the transmitter service.
extern const std::string ENCRYPTION_KEY_PATH;
extern const std::string TRACKING_DOWN_INTRINSICS_FILE;
extern const std::string LEPTON_INTRINSICS_FILE;

// Terminal colours.
extern const std::string red;
extern const std::string green;
extern const std::string yellow;
extern const std::string blue;
extern const std::string orange;
extern const std::string clear;

namespace SocketHelper {
extern const std::string ADDRESS_LOCALHOST;  // "127.0.0.1"
extern const std::string ADDRESS_ANY;        // "0.0.0.0"
}  // namespace SocketHelper

// Command names of the transmitter's and the receiver's control pipes, by index.
constexpr int CMD_STRINGS_COUNT = 22;
constexpr int VRX_CMD_STRINGS_COUNT = 12;
extern const std::array<std::string, CMD_STRINGS_COUNT> CmdStrings;
extern const std::array<std::string, VRX_CMD_STRINGS_COUNT> VrxCmdStrings;

// MCS to bits per second (contents and use: link-rate control).
extern const std::unordered_map<int, int> max_bitrates_20mhz;
extern const std::unordered_map<int, int> max_bitrates_40mhz;
extern const std::unordered_map<int, int> max_bitrates_20mhz_2g;
extern const std::unordered_map<int, int> max_bitrates_40mhz_2g;

// A sample H.264 stream fragment (1,399 bytes); nothing here reads it.
extern const std::shared_ptr<std::vector<uint8_t>> test_data;
