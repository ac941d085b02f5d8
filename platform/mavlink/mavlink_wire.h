/*
 * Our own MAVLink calls, for builds without the MAVLink C library's headers:
 * the X.25 checksum with the CRC-extra byte, finalizing (MAVLink 2 trims
 * trailing zero payload bytes), send-buffer encoding, and packing the few
 * messages our tests build. They carry the library's names, so they are
 * never part of a shared library's interface: a program that links the
 * real MAVLink code defines the same names.
 */
#ifndef ORVI_MAVLINK_WIRE_H
#define ORVI_MAVLINK_WIRE_H

#include <orvi/mavlink_types.h>

#ifdef __cplusplus
extern "C" {
#endif

void crc_init(uint16_t* crc);
void crc_accumulate(uint8_t data, uint16_t* crc);
uint16_t crc_calculate(const uint8_t* data, uint16_t length);

/* Fills in the header and checksum of a message whose payload is in place.
 * MAVLink 2 frames carry the payload without its trailing zero bytes. */
uint16_t mavlink_finalize_message(mavlink_message_t* msg, uint8_t system_id, uint8_t component_id,
                                  uint8_t min_length, uint8_t length, uint8_t crc_extra);
/* Same, as a MAVLink 1 frame. */
uint16_t orvi_mavlink1_finalize_message(mavlink_message_t* msg, uint8_t system_id,
                                        uint8_t component_id, uint8_t length, uint8_t crc_extra);
/* The frame as sent on the wire; returns its length. */
uint16_t mavlink_msg_to_send_buffer(uint8_t* buf, const mavlink_message_t* msg);

uint16_t mavlink_msg_heartbeat_pack(uint8_t system_id, uint8_t component_id, mavlink_message_t* msg,
                                    uint8_t type, uint8_t autopilot, uint8_t base_mode,
                                    uint32_t custom_mode, uint8_t system_status);
uint16_t mavlink_msg_rc_channels_encode(uint8_t system_id, uint8_t component_id,
                                        mavlink_message_t* msg,
                                        const mavlink_rc_channels_t* rc_channels);
void mavlink_msg_rc_channels_decode(const mavlink_message_t* msg,
                                    mavlink_rc_channels_t* rc_channels);

#ifdef __cplusplus
}
#endif

#endif /* ORVI_MAVLINK_WIRE_H */
