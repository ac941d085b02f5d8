// Writes the payloads of the MAVLink RTP packets our packetizer builds for a
// fixed set of messages (MAVLink 1, MAVLink 2 with a trimmed payload, signed
// MAVLink 2), and a JSON list of what each frame must decode to.
#include <cstdio>
#include <cstring>
#include <list>
#include <string>

#include "mavlink_wire.h"
#include <orvi/side_channel.h>

namespace {

// Recomputes the checksum after a header field changed (here: the signed flag).
void refresh_checksum(mavlink_message_t* msg, uint8_t crc_extra) {
    uint8_t header[9] = {msg->len,   msg->incompat_flags, msg->compat_flags,
                         msg->seq,   msg->sysid,          msg->compid,
                         static_cast<uint8_t>(msg->msgid), static_cast<uint8_t>(msg->msgid >> 8),
                         static_cast<uint8_t>(msg->msgid >> 16)};
    uint16_t crc = crc_calculate(header, sizeof header);
    const uint8_t* payload = reinterpret_cast<const uint8_t*>(msg->payload64);
    for (int i = 0; i < msg->len; ++i) crc_accumulate(payload[i], &crc);
    crc_accumulate(crc_extra, &crc);
    msg->checksum = crc;
}

std::string frame_json(const mavlink_message_t& m, bool is_signed, const std::string& fields) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "{\"magic\":%u,\"msgid\":%u,\"seq\":%u,\"sysid\":%u,\"compid\":%u,"
                  "\"payload_length\":%u,\"signed\":%s,\"fields\":{%s}}",
                  m.magic, static_cast<unsigned>(m.msgid), m.seq, m.sysid, m.compid, m.len,
                  is_signed ? "true" : "false", fields.c_str());
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FRAMES_OUT EXPECTED_JSON_OUT\n", argv[0]);
        return 2;
    }
    std::list<mavlink_message_t> messages;
    std::string expected = "[";

    mavlink_message_t heartbeat1{};
    mavlink_msg_heartbeat_pack(1, 1, &heartbeat1, 2, 3, 81, 0x01020304, 4);
    orvi_mavlink1_finalize_message(&heartbeat1, 7, 190, MAVLINK_MSG_ID_HEARTBEAT_LEN,
                                   MAVLINK_MSG_ID_HEARTBEAT_CRC);
    messages.push_back(heartbeat1);
    expected += frame_json(heartbeat1, false,
                           "\"type\":2,\"autopilot\":3,\"baseMode\":81,\"customMode\":16909060,"
                           "\"systemStatus\":4,\"mavlinkVersion\":3");

    mavlink_rc_channels_t rc{};
    rc.time_boot_ms = 123456;
    rc.chan1_raw = 1000;
    rc.chan2_raw = 1500;
    rc.chan3_raw = 2000;
    rc.chan14_raw = 1234;  // chan15..18, chancount and rssi zero: ten bytes trimmed
    mavlink_message_t rc_msg{};
    mavlink_msg_rc_channels_encode(42, 200, &rc_msg, &rc);
    messages.push_back(rc_msg);
    expected += "," + frame_json(rc_msg, false,
                                 "\"timeBootMs\":123456,\"chan1Raw\":1000,\"chan2Raw\":1500,"
                                 "\"chan3Raw\":2000,\"chan14Raw\":1234,\"chan15Raw\":0,"
                                 "\"chancount\":0,\"rssi\":0");

    mavlink_message_t signed_msg{};
    mavlink_msg_heartbeat_pack(9, 1, &signed_msg, 6, 8, 0, 77, 3);
    signed_msg.incompat_flags |= MAVLINK_IFLAG_SIGNED;
    refresh_checksum(&signed_msg, MAVLINK_MSG_ID_HEARTBEAT_CRC);
    for (int i = 0; i < MAVLINK_SIGNATURE_BLOCK_LEN; ++i) {
        signed_msg.signature[i] = static_cast<uint8_t>(i + 1);
    }
    messages.push_back(signed_msg);
    expected += "," + frame_json(signed_msg, true,
                                 "\"type\":6,\"autopilot\":8,\"customMode\":77,"
                                 "\"systemStatus\":3");
    expected += "]\n";

    PacketList packets;
    uint16_t seq = 0;
    create_mavlink_packets(messages, &seq, packets, 280);
    FILE* frames = std::fopen(argv[1], "wb");
    FILE* json = std::fopen(argv[2], "w");
    if (!frames || !json) {
        std::perror("mavlink_frames_tool: cannot open output");
        return 1;
    }
    for (const auto& packet : packets) {
        std::fwrite(packet->data() + 12, 1, packet->size() - 12, frames);
    }
    std::fputs(expected.c_str(), json);
    const bool ok = std::fclose(frames) == 0 && std::fclose(json) == 0;
    return ok ? 0 : 1;
}
