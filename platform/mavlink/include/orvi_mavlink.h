/*
 * The MAVLink 2 types and calls this system uses.
 *
 * When the MAVLink C library's generated headers are available (CMake option
 * ORVI_MAVLINK_INCLUDE_DIR or the usual include paths) they are used as they
 * are. Otherwise a minimal layer written from the public wire format stands
 * in: the message record with the library's field layout and names, the
 * X.25 checksum with the CRC-extra byte, finalizing (MAVLink 2 trims trailing
 * zero payload bytes), send-buffer encoding, and the few messages we use.
 */
#ifndef ORVI_MAVLINK_H
#define ORVI_MAVLINK_H

#ifdef ORVI_HAVE_MAVLINK
#include <common/mavlink.h>
#else

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MAVLINK_MAX_PAYLOAD_LEN 255
#define MAVLINK_NUM_CHECKSUM_BYTES 2
#define MAVLINK_SIGNATURE_BLOCK_LEN 13
#define MAVLINK_STX 0xFD
#define MAVLINK_STX_MAVLINK1 0xFE
#define MAVLINK_IFLAG_SIGNED 0x01
#define MAVLINK_MAX_PACKET_LEN (MAVLINK_MAX_PAYLOAD_LEN + 12 + MAVLINK_SIGNATURE_BLOCK_LEN)

#pragma pack(push, 1)
typedef struct __mavlink_message {
    uint16_t checksum;  /* sent at the end of the frame */
    uint8_t magic;      /* 0xFD (MAVLink 2) or 0xFE (MAVLink 1) */
    uint8_t len;        /* payload length */
    uint8_t incompat_flags;
    uint8_t compat_flags;
    uint8_t seq;
    uint8_t sysid;
    uint8_t compid;
    uint32_t msgid : 24;
    uint64_t payload64[(MAVLINK_MAX_PAYLOAD_LEN + MAVLINK_NUM_CHECKSUM_BYTES + 7) / 8];
    uint8_t ck[2];
    uint8_t signature[MAVLINK_SIGNATURE_BLOCK_LEN];
} mavlink_message_t;

#define MAVLINK_MSG_ID_HEARTBEAT 0
#define MAVLINK_MSG_ID_HEARTBEAT_LEN 9
#define MAVLINK_MSG_ID_HEARTBEAT_CRC 50
typedef struct __mavlink_heartbeat_t {
    uint32_t custom_mode;
    uint8_t type;
    uint8_t autopilot;
    uint8_t base_mode;
    uint8_t system_status;
    uint8_t mavlink_version;
} mavlink_heartbeat_t;

#define MAVLINK_MSG_ID_RC_CHANNELS 65
#define MAVLINK_MSG_ID_RC_CHANNELS_LEN 42
#define MAVLINK_MSG_ID_RC_CHANNELS_CRC 118
typedef struct __mavlink_rc_channels_t {
    uint32_t time_boot_ms;
    uint16_t chan1_raw;
    uint16_t chan2_raw;
    uint16_t chan3_raw;
    uint16_t chan4_raw;
    uint16_t chan5_raw;
    uint16_t chan6_raw;
    uint16_t chan7_raw;
    uint16_t chan8_raw;
    uint16_t chan9_raw;
    uint16_t chan10_raw;
    uint16_t chan11_raw;
    uint16_t chan12_raw;
    uint16_t chan13_raw;
    uint16_t chan14_raw;
    uint16_t chan15_raw;
    uint16_t chan16_raw;
    uint16_t chan17_raw;
    uint16_t chan18_raw;
    uint8_t chancount;
    uint8_t rssi;
} mavlink_rc_channels_t;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(mavlink_heartbeat_t) == MAVLINK_MSG_ID_HEARTBEAT_LEN, "heartbeat payload");
static_assert(sizeof(mavlink_rc_channels_t) == MAVLINK_MSG_ID_RC_CHANNELS_LEN, "rc payload");
#endif

void crc_init(uint16_t* crc);
void crc_accumulate(uint8_t data, uint16_t* crc);
uint16_t crc_calculate(const uint8_t* data, uint16_t length);

/* Fills in the header and checksum of a message whose payload is in place.
 * MAVLink 2 frames carry the payload without its trailing zero bytes. */
uint16_t mavlink_finalize_message(mavlink_message_t* msg, uint8_t system_id,
                                  uint8_t component_id, uint8_t min_length, uint8_t length,
                                  uint8_t crc_extra);
/* Same, as a MAVLink 1 frame. */
uint16_t orvi_mavlink1_finalize_message(mavlink_message_t* msg, uint8_t system_id,
                                        uint8_t component_id, uint8_t length, uint8_t crc_extra);
/* The frame as sent on the wire; returns its length. */
uint16_t mavlink_msg_to_send_buffer(uint8_t* buf, const mavlink_message_t* msg);

uint16_t mavlink_msg_heartbeat_pack(uint8_t system_id, uint8_t component_id,
                                    mavlink_message_t* msg, uint8_t type, uint8_t autopilot,
                                    uint8_t base_mode, uint32_t custom_mode,
                                    uint8_t system_status);
uint16_t mavlink_msg_rc_channels_encode(uint8_t system_id, uint8_t component_id,
                                        mavlink_message_t* msg,
                                        const mavlink_rc_channels_t* rc_channels);
void mavlink_msg_rc_channels_decode(const mavlink_message_t* msg,
                                    mavlink_rc_channels_t* rc_channels);

#ifdef __cplusplus
}
#endif

#endif /* ORVI_HAVE_MAVLINK */
#endif /* ORVI_MAVLINK_H */
