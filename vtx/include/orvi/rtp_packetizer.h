// RTP video packetizer: one call builds one fragmentation unit of a NAL unit
// (FU-A for H.264, FU for H.265). Header bytes are written big-endian byte by
// byte, so the layouts hold on any host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <orvi/video_codec.h>
#include <orvi/vtx_export.h>

constexpr uint32_t RTP_SSRC = 0xC0FFEEEE;
constexpr int RTP_VIDEO_PAYLOAD_TYPE = 96;
constexpr int RTP_HEADER_BYTES = 12;
constexpr int H264_FRAGMENT_HEADER_BYTES = 14;  // RTP + FU indicator + FU header
constexpr int H265_FRAGMENT_HEADER_BYTES = 15;  // RTP + payload header (2) + FU header
constexpr int H264_FU_A_TYPE = 28;
constexpr int H265_FU_TYPE = 49;

typedef struct rtp_header_t {
    uint8_t version_flags;         // V=2, P=0, X=0, CC=0: always 0x80
    uint8_t marker_payload_type;   // M in bit 7, payload type in bits 6-0
    uint8_t sequence[2];           // big-endian
    uint8_t timestamp[4];          // big-endian
    uint8_t ssrc[4];               // big-endian
} rtp_header_t;

typedef struct nalu_header_t {
    uint8_t value;  // F (bit 7), NRI (bits 6-5), type (bits 4-0)
} nalu_header_t;

typedef struct fu_header_t {
    uint8_t value;  // S (bit 7), E (bit 6), R = 0, type (bits 4-0)
} fu_header_t;

typedef struct nal_unit_header_h265_t {
    uint8_t bytes[2];  // F, type (6 bits), layer id (6 bits), temporal id + 1 (3 bits)
} nal_unit_header_h265_t;

typedef struct fu_header_h265_t {
    uint8_t value;  // S (bit 7), E (bit 6), type (bits 5-0)
} fu_header_h265_t;

static_assert(sizeof(rtp_header_t) == 12, "RTP fixed header is 12 bytes");
static_assert(sizeof(nalu_header_t) == 1);
static_assert(sizeof(fu_header_t) == 1);
static_assert(sizeof(nal_unit_header_h265_t) == 2);
static_assert(sizeof(fu_header_h265_t) == 1);

ORVI_VTX_EXPORT void set_rtp_header(rtp_header_t* header, bool marker, uint32_t timestamp,
                                    uint16_t* seq, int payload_type);
ORVI_VTX_EXPORT void set_nalu(nalu_header_t* header, uint8_t type, int nal_type);
ORVI_VTX_EXPORT void set_h265_nalu(nal_unit_header_h265_t* header, uint8_t type);
ORVI_VTX_EXPORT void set_fu_header(fu_header_t* header, bool start, bool end, int type);
ORVI_VTX_EXPORT void set_h265_fu_header(fu_header_h265_t* header, bool start, bool end, int type);

// Builds one fragment of `len` payload bytes into a new vector that replaces
// `packet`; returns the source bytes consumed (start code and NAL header
// included on a first fragment).
ORVI_VTX_EXPORT int create_rtp_packet_fragment(const uint8_t* data, size_t len, uint32_t timestamp,
                                               bool first, int mtu, uint16_t* seq, int nal_type,
                                               std::shared_ptr<std::vector<uint8_t>>& packet,
                                               venc_mode_t mode);

// Index of the first 00 00 00 01 at or after `start`; 0 when there is none.
ORVI_VTX_EXPORT int get_header_size(const std::vector<uint8_t>& buffer, int start);
