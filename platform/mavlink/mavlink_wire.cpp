// Minimal MAVLink wire layer: checksum, finalize, send-buffer encoding and
// the messages this system packs.
#include "mavlink_wire.h"

#include <cstring>

namespace {

constexpr uint8_t MAVLINK1_HEADER_LEN = 6;   // magic, len, seq, sysid, compid, msgid
constexpr uint8_t MAVLINK2_HEADER_LEN = 10;  // magic, len, 2 flags, seq, sysid, compid, msgid (3)

uint8_t g_next_sequence = 0;

const uint8_t* payload_of(const mavlink_message_t* msg) {
    return reinterpret_cast<const uint8_t*>(msg->payload64);
}

// The same bytes, writable.
uint8_t* payload_of(mavlink_message_t* msg) {
    return const_cast<uint8_t*>(payload_of(static_cast<const mavlink_message_t*>(msg)));
}

uint8_t trimmed_length(const uint8_t* payload, uint8_t length) {
    while (length > 1 && payload[length - 1] == 0) --length;
    return length;
}

// Header bytes after the magic, as covered by the checksum.
uint8_t header_bytes(const mavlink_message_t* msg, uint8_t* out) {
    uint8_t n = 0;
    out[n++] = msg->len;
    if (msg->magic != MAVLINK_STX_MAVLINK1) {
        out[n++] = msg->incompat_flags;
        out[n++] = msg->compat_flags;
    }
    out[n++] = msg->seq;
    out[n++] = msg->sysid;
    out[n++] = msg->compid;
    const uint32_t id = msg->msgid;
    out[n++] = static_cast<uint8_t>(id);
    if (msg->magic != MAVLINK_STX_MAVLINK1) {
        out[n++] = static_cast<uint8_t>(id >> 8);
        out[n++] = static_cast<uint8_t>(id >> 16);
    }
    return n;
}

uint16_t finish(mavlink_message_t* msg, uint8_t crc_extra) {
    uint8_t header[MAVLINK2_HEADER_LEN];
    const uint8_t n = header_bytes(msg, header);
    uint16_t crc = crc_calculate(header, n);
    for (uint8_t i = 0; i < msg->len; ++i) crc_accumulate(payload_of(msg)[i], &crc);
    crc_accumulate(crc_extra, &crc);
    msg->checksum = crc;
    msg->ck[0] = static_cast<uint8_t>(crc & 0xFF);
    msg->ck[1] = static_cast<uint8_t>(crc >> 8);
    // The library keeps the checksum right behind the payload as well.
    payload_of(msg)[msg->len] = msg->ck[0];
    payload_of(msg)[msg->len + 1] = msg->ck[1];
    const bool is_v1 = msg->magic == MAVLINK_STX_MAVLINK1;
    return static_cast<uint16_t>(msg->len + (is_v1 ? MAVLINK1_HEADER_LEN : MAVLINK2_HEADER_LEN) +
                                 MAVLINK_NUM_CHECKSUM_BYTES);
}

}  // namespace

extern "C" {

void crc_init(uint16_t* crc) { *crc = 0xFFFF; }

// X.25 (CRC-16/MCRF4XX) over one byte.
void crc_accumulate(uint8_t data, uint16_t* crc) {
    uint8_t tmp = static_cast<uint8_t>(data ^ (*crc & 0xFF));
    tmp = static_cast<uint8_t>(tmp ^ (tmp << 4));
    *crc = static_cast<uint16_t>((*crc >> 8) ^ (tmp << 8) ^ (tmp << 3) ^ (tmp >> 4));
}

uint16_t crc_calculate(const uint8_t* data, uint16_t length) {
    uint16_t crc;
    crc_init(&crc);
    for (uint16_t i = 0; i < length; ++i) crc_accumulate(data[i], &crc);
    return crc;
}

namespace {

// Both versions' header: the frame's magic and length, no flags, the ids and
// the next sequence number; then the checksum.
uint16_t finalize_with(mavlink_message_t* msg, uint8_t magic, uint8_t length, uint8_t system_id,
                       uint8_t component_id, uint8_t crc_extra) {
    msg->magic = magic;
    msg->len = length;
    msg->incompat_flags = 0;
    msg->compat_flags = 0;
    msg->sysid = system_id;
    msg->compid = component_id;
    msg->seq = g_next_sequence++;
    return finish(msg, crc_extra);
}

}  // namespace

uint16_t mavlink_finalize_message(mavlink_message_t* msg, uint8_t system_id,
                                  uint8_t component_id, uint8_t min_length, uint8_t length,
                                  uint8_t crc_extra) {
    (void)min_length;
    return finalize_with(msg, MAVLINK_STX, trimmed_length(payload_of(msg), length), system_id,
                         component_id, crc_extra);
}

uint16_t orvi_mavlink1_finalize_message(mavlink_message_t* msg, uint8_t system_id,
                                        uint8_t component_id, uint8_t length, uint8_t crc_extra) {
    return finalize_with(msg, MAVLINK_STX_MAVLINK1, length, system_id, component_id, crc_extra);
}

uint16_t mavlink_msg_to_send_buffer(uint8_t* buf, const mavlink_message_t* msg) {
    const bool is_v1 = msg->magic == MAVLINK_STX_MAVLINK1;
    mavlink_message_t header_view = *msg;
    if (!is_v1) header_view.len = trimmed_length(payload_of(msg), msg->len);
    uint16_t n = 0;
    buf[n++] = msg->magic;
    n = static_cast<uint16_t>(n + header_bytes(&header_view, buf + n));
    std::memcpy(buf + n, payload_of(msg), header_view.len);
    n = static_cast<uint16_t>(n + header_view.len);
    buf[n++] = static_cast<uint8_t>(msg->checksum & 0xFF);
    buf[n++] = static_cast<uint8_t>(msg->checksum >> 8);
    if (!is_v1 && (msg->incompat_flags & MAVLINK_IFLAG_SIGNED)) {
        std::memcpy(buf + n, msg->signature, MAVLINK_SIGNATURE_BLOCK_LEN);
        n = static_cast<uint16_t>(n + MAVLINK_SIGNATURE_BLOCK_LEN);
    }
    return n;
}

uint16_t mavlink_msg_heartbeat_pack(uint8_t system_id, uint8_t component_id,
                                    mavlink_message_t* msg, uint8_t type, uint8_t autopilot,
                                    uint8_t base_mode, uint32_t custom_mode,
                                    uint8_t system_status) {
    std::memset(msg->payload64, 0, sizeof msg->payload64);
    uint8_t* p = payload_of(msg);
    // Wire order: fields sorted by size, largest first.
    std::memcpy(p, &custom_mode, 4);
    p[4] = type;
    p[5] = autopilot;
    p[6] = base_mode;
    p[7] = system_status;
    p[8] = 3;  // MAVLink protocol version field of HEARTBEAT
    msg->msgid = MAVLINK_MSG_ID_HEARTBEAT;
    return mavlink_finalize_message(msg, system_id, component_id, MAVLINK_MSG_ID_HEARTBEAT_LEN,
                                    MAVLINK_MSG_ID_HEARTBEAT_LEN, MAVLINK_MSG_ID_HEARTBEAT_CRC);
}

uint16_t mavlink_msg_rc_channels_encode(uint8_t system_id, uint8_t component_id,
                                        mavlink_message_t* msg,
                                        const mavlink_rc_channels_t* rc_channels) {
    std::memset(msg->payload64, 0, sizeof msg->payload64);
    std::memcpy(payload_of(msg), rc_channels, sizeof *rc_channels);
    msg->msgid = MAVLINK_MSG_ID_RC_CHANNELS;
    return mavlink_finalize_message(msg, system_id, component_id, MAVLINK_MSG_ID_RC_CHANNELS_LEN,
                                    MAVLINK_MSG_ID_RC_CHANNELS_LEN,
                                    MAVLINK_MSG_ID_RC_CHANNELS_CRC);
}

void mavlink_msg_rc_channels_decode(const mavlink_message_t* msg,
                                    mavlink_rc_channels_t* rc_channels) {
    // A trimmed payload reads back with its missing tail as zeros.
    std::memset(rc_channels, 0, sizeof *rc_channels);
    const uint8_t n = msg->len < sizeof *rc_channels ? msg->len : sizeof *rc_channels;
    std::memcpy(rc_channels, payload_of(msg), n);
}

}  // extern "C"
