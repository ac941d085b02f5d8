// Names and numbers of H.264/H.265 NAL units, as carried in telemetry and RTP payloads.
#pragma once

#include <cstdint>
#include <string>

#include <orvi/common_export.h>
#include <orvi/video_codec.h>

// NAL unit type number of a header byte; the mode is not consulted. An
// unknown byte is reported on stdout and gives 64.
ORVI_COMMON_EXPORT int get_nalu_type(uint8_t byte, venc_mode_t mode);

// Frame-type code of a header byte (fragmentation indicators count as the
// frame kind they carry). An unknown byte is reported on stderr and gives 0.
ORVI_COMMON_EXPORT int nalu_byte_frame_type(int byte);

ORVI_COMMON_EXPORT std::string nalu_byte_as_string(int byte);

// Name of a telemetry frame-type code: H.264 looks at the low five bits,
// every other mode at the whole code.
ORVI_COMMON_EXPORT std::string nalu_as_string(int code, venc_mode_t mode);

// Name of an RTP packetization type.
ORVI_COMMON_EXPORT std::string nalu_header_type_as_string(int type);

ORVI_COMMON_EXPORT venc_mode_t decodeToEncode(vdec_mode_t mode);
ORVI_COMMON_EXPORT vdec_mode_t encodeToDecode(venc_mode_t mode);
