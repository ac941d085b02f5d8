/*
 * The MAVLink 2 types in the VTX library's interface: the message record and
 * the payloads of the messages it handles. Types only: the library calls no
 * MAVLink function and exports none.
 *
 * A program that uses the MAVLink C library's generated headers defines
 * ORVI_HAVE_MAVLINK (with common/mavlink.h on its include path) and gets
 * these types from there; the library itself is built that way when its
 * build finds those headers. Otherwise the definitions below stand in: the
 * library's field layout and names, so that either way the library has the
 * same interface.
 */
#ifndef ORVI_MAVLINK_TYPES_H
#define ORVI_MAVLINK_TYPES_H

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

#ifdef __cplusplus
}
#endif

#endif /* ORVI_HAVE_MAVLINK */

#ifdef __cplusplus
#include <cstddef>
/* The library takes these records by value and in containers: whichever
 * definitions a program compiles with, they must have this layout. */
static_assert(sizeof(mavlink_message_t) == 291, "MAVLink message record");
static_assert(offsetof(mavlink_message_t, payload64) == 12, "MAVLink message payload");
static_assert(offsetof(mavlink_message_t, ck) == 276, "MAVLink message checksum bytes");
static_assert(offsetof(mavlink_message_t, signature) == 278, "MAVLink message signature");
static_assert(sizeof(mavlink_rc_channels_t) == 42, "RC_CHANNELS payload");
#endif

#endif /* ORVI_MAVLINK_TYPES_H */
