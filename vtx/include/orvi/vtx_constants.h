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

#include <orvi/vtx_export.h>

// Configuration files of the transmitter, the receiver and the camera server.
extern ORVI_VTX_EXPORT const char* const VTX_CONFIG_PATH;  // "/etc/quillon/orvi-vtx.conf"
extern ORVI_VTX_EXPORT const char* const VRX_CONFIG_PATH;  // "/etc/quillon/orvi-vrx.conf"
// "/etc/quillon/orvi-camera-server.conf"
extern ORVI_VTX_EXPORT const char* const CAMERA_SERVER_CONFIG_PATH;

// Other files of the transmitter service.
extern ORVI_VTX_EXPORT const std::string ENCRYPTION_KEY_PATH;
extern ORVI_VTX_EXPORT const std::string TRACKING_DOWN_INTRINSICS_FILE;
extern ORVI_VTX_EXPORT const std::string LEPTON_INTRINSICS_FILE;

// Terminal colours.
extern ORVI_VTX_EXPORT const std::string red;
extern ORVI_VTX_EXPORT const std::string green;
extern ORVI_VTX_EXPORT const std::string yellow;
extern ORVI_VTX_EXPORT const std::string blue;
extern ORVI_VTX_EXPORT const std::string orange;
extern ORVI_VTX_EXPORT const std::string clear;

namespace SocketHelper {
extern ORVI_VTX_EXPORT const std::string ADDRESS_LOCALHOST;  // "127.0.0.1"
extern ORVI_VTX_EXPORT const std::string ADDRESS_ANY;        // "0.0.0.0"
}  // namespace SocketHelper

// Command names of the transmitter's and the receiver's control pipes, by index.
constexpr int CMD_STRINGS_COUNT = 22;
constexpr int VRX_CMD_STRINGS_COUNT = 12;
extern ORVI_VTX_EXPORT const std::array<std::string, CMD_STRINGS_COUNT> CmdStrings;
extern ORVI_VTX_EXPORT const std::array<std::string, VRX_CMD_STRINGS_COUNT> VrxCmdStrings;

// MCS to bits per second (contents and use: link-rate control).
extern ORVI_VTX_EXPORT const std::unordered_map<int, int> max_bitrates_20mhz;
extern ORVI_VTX_EXPORT const std::unordered_map<int, int> max_bitrates_40mhz;
extern ORVI_VTX_EXPORT const std::unordered_map<int, int> max_bitrates_20mhz_2g;
extern ORVI_VTX_EXPORT const std::unordered_map<int, int> max_bitrates_40mhz_2g;

// A sample H.264 stream fragment (1,399 bytes); nothing here reads it.
extern ORVI_VTX_EXPORT const std::shared_ptr<std::vector<uint8_t>> test_data;
