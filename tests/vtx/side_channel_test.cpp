#include <orvi/side_channel.h>

#include <gtest/gtest.h>

#include <cstring>

#include <orvi/diagnostics.h>

namespace {

uint16_t seq_of(const std::vector<uint8_t>& p) { return static_cast<uint16_t>(p[2] << 8 | p[3]); }

uint32_t timestamp_of(const std::vector<uint8_t>& p) {
    return static_cast<uint32_t>(p[4]) << 24 | static_cast<uint32_t>(p[5]) << 16 |
           static_cast<uint32_t>(p[6]) << 8 | p[7];
}

void expect_rtp_header(const std::vector<uint8_t>& p, uint8_t byte1, uint16_t seq) {
    ASSERT_GE(p.size(), 12u);
    EXPECT_EQ(p[0], 0x80);
    EXPECT_EQ(p[1], byte1);
    EXPECT_EQ(seq_of(p), seq);
    const uint8_t ssrc[] = {0xC0, 0xFF, 0xEE, 0xEE};
    EXPECT_EQ(0, std::memcmp(p.data() + 8, ssrc, 4));
}

std::vector<tflite_box_t> boxes(int count) {
    std::vector<tflite_box_t> out(count);
    for (int i = 0; i < count; ++i) {
        out[i].magic_number = 0;
        std::memset(out[i].payload, i + 1, sizeof out[i].payload);
    }
    return out;
}

mavlink_message_t mavlink_message(uint8_t magic, uint8_t len, uint8_t incompat_flags) {
    mavlink_message_t msg;
    std::memset(&msg, 0, sizeof msg);
    msg.magic = magic;
    msg.len = len;
    msg.incompat_flags = incompat_flags;
    msg.compat_flags = 0x5A;
    msg.seq = 7;
    msg.sysid = 1;
    msg.compid = 190;
    msg.msgid = 0x0A0B0C;
    msg.checksum = 0xBEEF;
    uint8_t* payload = reinterpret_cast<uint8_t*>(msg.payload64);
    for (int i = 0; i < len; ++i) payload[i] = static_cast<uint8_t>(i + 1);
    for (int i = 0; i < 13; ++i) msg.signature[i] = static_cast<uint8_t>(0xA0 + i);
    return msg;
}

}  // namespace

TEST(DetectionPackets, FillPacketsWithWholeBoxes) {
    struct {
        int boxes;
        int max_payload;
        std::vector<size_t> sizes;
    } cases[] = {
        {15, 1400, {1392}},
        {16, 1400, {1392, 104}},
        {3, 92, {104, 104, 104}},
        {0, 1400, {}},
    };
    for (const auto& c : cases) {
        std::vector<tflite_box_t> input = boxes(c.boxes);
        PacketList packets;
        uint16_t seq = 100;
        create_tflite_packets(input, &seq, packets, c.max_payload);
        ASSERT_EQ(packets.size(), c.sizes.size()) << c.boxes << " boxes";
        EXPECT_EQ(seq, 100 + c.sizes.size());
        size_t box = 0;
        for (size_t i = 0; i < packets.size(); ++i) {
            const auto& p = *packets[i];
            EXPECT_EQ(p.size(), c.sizes[i]);
            expect_rtp_header(p, 0xE5, static_cast<uint16_t>(100 + i));
            for (size_t at = 12; at < p.size(); at += 92, ++box) {
                EXPECT_EQ(0, std::memcmp(p.data() + at, &input[box], 92));
            }
        }
        EXPECT_EQ(box, static_cast<size_t>(c.boxes));
        for (const auto& b : input) EXPECT_EQ(b.magic_number, PIPE_RECORD_MAGIC);
    }
}

TEST(DetectionPackets, BoxLargerThanPacketIsSkippedNotOverrun) {
    std::vector<tflite_box_t> input = boxes(2);
    PacketList packets;
    uint16_t seq = 0;
    testing::internal::CaptureStderr();
    create_tflite_packets(input, &seq, packets, 50);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(packets.empty());
    EXPECT_EQ(seq, 0);
    EXPECT_EQ(err,
              "Side-channel item of 92 bytes exceeds the packet payload of 50 bytes; item "
              "skipped\n"
              "Side-channel item of 92 bytes exceeds the packet payload of 50 bytes; item "
              "skipped\n");
}

TEST(OsdPackets, FramesArePaddedToFullPackets) {
    auto osd = std::make_shared<MspDPV1>();
    const uint8_t first[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t second[] = {0xFF};
    osd->displayport_payloads = {first, second, first};
    osd->displayport_lengths.push(8);
    osd->displayport_lengths.push(0x101);  // only the low 8 bits count: 1
    osd->displayport_lengths.push(0);
    auto message = std::make_unique<msp_message_t>();
    message->cmd = 0x55;
    message->len = 2;
    message->payload[0] = 0x0F;
    message->payload[1] = 0xF0;
    osd->messages.push(std::move(message));

    PacketList packets;
    uint16_t seq = 9;
    const int64_t before = time_monotonic_ns();
    create_osd_rtp_packets(osd, packets, &seq, 24);
    const int64_t after = time_monotonic_ns();

    const std::vector<uint8_t> frames1 = {'$', 'M', '>', 8, 182, 1, 2, 3, 4, 5, 6, 7, 8,
                                          static_cast<uint8_t>(8 ^ 182 ^ 1 ^ 2 ^ 3 ^ 4 ^ 5 ^ 6 ^
                                                               7 ^ 8),
                                          '$', 'M', '>', 1, 182, 0xFF,
                                          static_cast<uint8_t>(1 ^ 182 ^ 0xFF)};
    const std::vector<uint8_t> frames2 = {'$', 'M', '>', 0, 182, 182, '$', 'M', '>', 2, 0x55,
                                          0x0F, 0xF0, static_cast<uint8_t>(2 ^ 0x55 ^ 0x0F ^ 0xF0)};
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(seq, 11);
    for (size_t i = 0; i < 2; ++i) {
        const auto& p = *packets[i];
        ASSERT_EQ(p.size(), 12u + 24u);
        expect_rtp_header(p, 0xE2, static_cast<uint16_t>(9 + i));
        EXPECT_LE(timestamp_of(p) - static_cast<uint32_t>(before),
                  static_cast<uint32_t>(after - before));
        const auto& frames = i == 0 ? frames1 : frames2;
        EXPECT_EQ(std::vector<uint8_t>(p.begin() + 12, p.begin() + 12 + frames.size()), frames);
        for (size_t at = 12 + frames.size(); at < p.size(); ++at) EXPECT_EQ(p[at], 0) << at;
    }
    EXPECT_TRUE(osd->messages.empty());
    EXPECT_EQ(osd->displayport_payloads.size(), 3u);  // walked, not emptied
}

TEST(OsdPackets, MissingLengthEndsTheWalk) {
    auto osd = std::make_shared<MspDPV1>();
    const uint8_t payload[] = {9};
    osd->displayport_payloads = {payload, payload};
    osd->displayport_lengths.push(1);
    PacketList packets;
    uint16_t seq = 0;
    testing::internal::CaptureStderr();
    create_osd_rtp_packets(osd, packets, &seq, 64);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "OSD: DisplayPort payload without a length; remaining payloads skipped\n");
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ((*packets[0])[12 + 3], 1);
    EXPECT_EQ((*packets[0])[12 + 7], 0);  // only one frame written
}

TEST(OsdPackets, NothingForEmptyInput) {
    auto osd = std::make_shared<MspDPV1>();
    PacketList packets;
    uint16_t seq = 5;
    create_osd_rtp_packets(osd, packets, &seq, 100);
    EXPECT_TRUE(packets.empty());
    EXPECT_EQ(seq, 5);
}

TEST(VioPacket, CarriesTheRecordWithItsMagic) {
    vfc_vio_t vio;
    std::memset(&vio, 0x33, sizeof vio);
    PacketList packets;
    uint16_t seq = 0xFFFF;
    create_vfc_vio_packet(vio, &seq, packets);
    ASSERT_EQ(packets.size(), 1u);
    const auto& p = *packets[0];
    ASSERT_EQ(p.size(), 32u);
    expect_rtp_header(p, 0xE4, 0xFFFF);
    EXPECT_EQ(seq, 0);
    const uint8_t magic[] = {0x49, 0x56, 0x52, 0x4F};
    EXPECT_EQ(0, std::memcmp(p.data() + 16, magic, 4));
    EXPECT_EQ(p[12], 0x33);
    EXPECT_EQ(p[31], 0x33);
}

TEST(MavlinkPackets, FramesFollowTheWireFormat) {
    std::list<mavlink_message_t> messages;
    messages.push_back(mavlink_message(0xFE, 9, 0));          // MAVLink 1
    mavlink_message_t trimmed = mavlink_message(0xFD, 20, 0);  // last 10 bytes zero
    std::memset(reinterpret_cast<uint8_t*>(trimmed.payload64) + 10, 0, 10);
    messages.push_back(trimmed);
    messages.push_back(mavlink_message(0xFD, 4, 0x01));  // signed
    mavlink_message_t zeros = mavlink_message(0xFD, 6, 0);
    std::memset(zeros.payload64, 0, 6);
    messages.push_back(zeros);  // keeps one byte

    PacketList packets;
    uint16_t seq = 40;
    create_mavlink_packets(messages, &seq, packets, 280);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(seq, 41);
    const auto& p = *packets[0];
    expect_rtp_header(p, 0xE6, 40);
    const std::vector<uint8_t> expected = {
        // MAVLink 1: magic, len, seq, sys, comp, msgid, payload, crc
        0xFE, 9, 7, 1, 190, 0x0C, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEF, 0xBE,
        // MAVLink 2 trimmed from 20 to 10 bytes
        0xFD, 10, 0x00, 0x5A, 7, 1, 190, 0x0C, 0x0B, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xEF,
        0xBE,
        // MAVLink 2 signed: 13 signature bytes after the crc
        0xFD, 4, 0x01, 0x5A, 7, 1, 190, 0x0C, 0x0B, 0x0A, 1, 2, 3, 4, 0xEF, 0xBE, 0xA0, 0xA1,
        0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC,
        // all-zero payload keeps one byte
        0xFD, 1, 0x00, 0x5A, 7, 1, 190, 0x0C, 0x0B, 0x0A, 0, 0xEF, 0xBE};
    EXPECT_EQ(std::vector<uint8_t>(p.begin() + 12, p.end()), expected);
}

TEST(MavlinkPackets, MapFormPacksEveryMessageAndSplitsPackets) {
    std::unordered_map<int, mavlink_message_t> messages;
    for (int id = 0; id < 3; ++id) messages[id] = mavlink_message(0xFE, 100, 0);
    PacketList packets;
    uint16_t seq = 0;
    create_mavlink_packets(messages, &seq, packets, 220);  // two 108-byte frames fit, not three
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0]->size(), 12u + 216u);
    EXPECT_EQ(packets[1]->size(), 12u + 108u);
    EXPECT_EQ(seq_of(*packets[1]), 1);
}
