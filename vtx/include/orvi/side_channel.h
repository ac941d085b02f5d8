// Side-channel RTP packets sent beside the video: OSD (MSP DisplayPort),
// detection boxes, VIO records and MAVLink frames. All share the video's RTP
// header layout and the caller's sequence counter.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <queue>
#include <unordered_map>
#include <vector>

#include <orvi/mavlink_types.h>
#include <orvi/pipe_records.h>
#include <orvi/vtx_export.h>

constexpr int RTP_OSD_PAYLOAD_TYPE = 98;
constexpr int RTP_VIO_PAYLOAD_TYPE = 100;
constexpr int RTP_DETECTION_PAYLOAD_TYPE = 101;
constexpr int RTP_MAVLINK_PAYLOAD_TYPE = 102;
constexpr uint8_t MSP_DISPLAYPORT_CMD = 182;
constexpr int MSP_FRAME_OVERHEAD = 6;  // "$M>", size, command, checksum

using PacketList = std::vector<std::shared_ptr<std::vector<uint8_t>>>;

// One complete MSP message waiting to be sent.
struct msp_message_t {
    uint8_t cmd = 0;
    uint8_t len = 0;
    uint8_t payload[255] = {};
};

// The OSD source shared with the transmitter's OSD handling. DisplayPort
// payloads and their lengths run in step; complete messages are guarded by
// `messages_mutex`.
struct MspDPV1 {
    std::list<const uint8_t*> displayport_payloads;
    std::queue<int> displayport_lengths;
    std::mutex messages_mutex;
    std::queue<std::unique_ptr<msp_message_t>> messages;
};

#pragma pack(push, 1)
typedef struct vfc_vio_t {
    uint8_t header[4];
    uint32_t magic_number;
    uint8_t data[12];
} vfc_vio_t;
#pragma pack(pop)
static_assert(sizeof(vfc_vio_t) == 20, "VIO record is 20 bytes");

ORVI_VTX_EXPORT void create_osd_rtp_packets(std::shared_ptr<MspDPV1>& osd, PacketList& packets,
                                            uint16_t* seq, int max_payload);
ORVI_VTX_EXPORT void create_tflite_packets(std::vector<tflite_box_t>& boxes, uint16_t* seq,
                                           PacketList& packets, int max_payload);
ORVI_VTX_EXPORT void create_vfc_vio_packet(vfc_vio_t vio, uint16_t* seq, PacketList& packets);
ORVI_VTX_EXPORT void create_mavlink_packets(std::unordered_map<int, mavlink_message_t>& messages,
                                            uint16_t* seq, PacketList& packets, int max_payload);
ORVI_VTX_EXPORT void create_mavlink_packets(std::list<mavlink_message_t>& messages, uint16_t* seq,
                                            PacketList& packets, int max_payload);
