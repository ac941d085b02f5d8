#include <orvi/rtp_packetizer.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Start code, `header_bytes` NAL header bytes, then a recognisable payload.
std::vector<uint8_t> annexb_nal(size_t header_bytes, size_t payload_bytes) {
    std::vector<uint8_t> nal(4 + header_bytes + payload_bytes, 0x26);
    nal[0] = nal[1] = nal[2] = 0x00;
    nal[3] = 0x01;
    for (size_t i = 0; i < payload_bytes; ++i) {
        nal[4 + header_bytes + i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return nal;
}

uint16_t be16(const std::vector<uint8_t>& p, size_t at) {
    return static_cast<uint16_t>(p[at] << 8 | p[at + 1]);
}

uint32_t be32(const std::vector<uint8_t>& p, size_t at) {
    return static_cast<uint32_t>(p[at]) << 24 | static_cast<uint32_t>(p[at + 1]) << 16 |
           static_cast<uint32_t>(p[at + 2]) << 8 | p[at + 3];
}

}  // namespace

struct FragmentCase {
    const char* name;
    venc_mode_t mode;
    bool first;
    size_t len;
    int mtu;
    int nal_type;
    size_t packet_bytes;
    int consumed;
    uint8_t marker_byte;   // RTP byte 1
    std::vector<uint8_t> fu_bytes;  // bytes 12.. up to the payload
};

class FragmentTable : public ::testing::TestWithParam<FragmentCase> {};

TEST_P(FragmentTable, BuildsHeadersAndPayload) {
    const FragmentCase& c = GetParam();
    const size_t header_len = c.mode == VENC_H264 ? 5 : 6;
    std::vector<uint8_t> source = annexb_nal(header_len - 4, c.len);
    uint16_t seq = 4321;
    std::shared_ptr<std::vector<uint8_t>> packet = std::make_shared<std::vector<uint8_t>>(3, 9);
    const int consumed = create_rtp_packet_fragment(source.data(), c.len, 0x11223344, c.first,
                                                    c.mtu, &seq, c.nal_type, packet, c.mode);
    EXPECT_EQ(consumed, c.consumed);
    EXPECT_EQ(seq, 4322);
    ASSERT_EQ(packet->size(), c.packet_bytes);
    const auto& p = *packet;
    EXPECT_EQ(p[0], 0x80);
    EXPECT_EQ(p[1], c.marker_byte);
    EXPECT_EQ(be16(p, 2), 4321);
    EXPECT_EQ(be32(p, 4), 0x11223344u);
    EXPECT_EQ(be32(p, 8), 0xC0FFEEEEu);
    const size_t fu_end = 12 + c.fu_bytes.size();
    EXPECT_EQ(std::vector<uint8_t>(p.begin() + 12, p.begin() + fu_end), c.fu_bytes);
    const size_t skip = c.first && c.mode != VENC_OTHER ? header_len : 0;
    EXPECT_EQ(std::vector<uint8_t>(p.begin() + fu_end, p.end()),
              std::vector<uint8_t>(source.begin() + skip, source.begin() + skip + c.len));
}

INSTANTIATE_TEST_SUITE_P(
    Fragments, FragmentTable,
    ::testing::Values(
        // A whole NAL unit in one fragment: S, E and the marker.
        FragmentCase{"h264_single", VENC_H264, true, 100, 1341, 1, 114, 105, 0xE0, {0x5C, 0xC1}},
        FragmentCase{"h264_idr", VENC_H264, true, 100, 1341, 5, 114, 105, 0xE0, {0x7C, 0xC5}},
        // Exactly mtu bytes is not taken as the last fragment.
        FragmentCase{"h264_full", VENC_H264, false, 1341, 1341, 5, 1355, 1341, 0x60,
                     {0x7C, 0x05}},
        FragmentCase{"h264_middle_first", VENC_H264, true, 500, 500, 1, 514, 505, 0x60,
                     {0x5C, 0x81}},
        FragmentCase{"h264_empty", VENC_H264, false, 0, 1341, 1, 14, 0, 0xE0, {0x5C, 0x41}},
        FragmentCase{"h264_negative_mtu", VENC_H264, false, 2000, -1, 1, 2014, 2000, 0xE0,
                     {0x5C, 0x41}},
        FragmentCase{"h265_first", VENC_H265, true, 200, 1341, 19, 215, 206, 0xE0,
                     {0x62, 0x01, 0xD3}},
        FragmentCase{"h265_type_masked", VENC_H265, false, 10, 5, 0x7F, 25, 10, 0x60,
                     {0x62, 0x01, 0x3F}},
        FragmentCase{"h265_empty_first", VENC_H265, true, 0, 1341, 1, 15, 6, 0xE0,
                     {0x62, 0x01, 0xC1}},
        // Modes other than H.264 use the H.265 layout but skip nothing.
        FragmentCase{"other_mode_first", VENC_OTHER, true, 20, 1341, 1, 35, 20, 0xE0,
                     {0x62, 0x01, 0xC1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RtpHeader, SequenceWrapsAndPayloadTypeIsMasked) {
    rtp_header_t header;
    uint16_t seq = 65535;
    set_rtp_header(&header, false, 0xDEADBEEF, &seq, 0xFF);
    EXPECT_EQ(seq, 0);
    EXPECT_EQ(header.sequence[0], 0xFF);
    EXPECT_EQ(header.sequence[1], 0xFF);
    EXPECT_EQ(header.marker_payload_type, 0x7F);
    const uint8_t ts[] = {0xDE, 0xAD, 0xBE, 0xEF};
    EXPECT_EQ(0, std::memcmp(header.timestamp, ts, 4));
}

TEST(NalHeaders, SettersMaskTheirFields) {
    nalu_header_t nalu;
    set_nalu(&nalu, 0xFC, 5);
    EXPECT_EQ(nalu.value, 0x7C);
    set_nalu(&nalu, 28, 7);
    EXPECT_EQ(nalu.value, 0x5C);
    nal_unit_header_h265_t h265;
    set_h265_nalu(&h265, 0xFF);
    EXPECT_EQ(h265.bytes[0], 0x7E);
    EXPECT_EQ(h265.bytes[1], 0x01);
    fu_header_t fu;
    set_fu_header(&fu, true, false, 0xFF);
    EXPECT_EQ(fu.value, 0x9F);
    fu_header_h265_t fu265;
    set_h265_fu_header(&fu265, false, true, 0xFF);
    EXPECT_EQ(fu265.value, 0x7F);
}

TEST(StartCodeSearch, FindsTheNextStartCode) {
    const std::vector<uint8_t> stream = {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 3, 0, 0, 1};
    struct {
        int start;
        int expected;
    } cases[] = {{0, 0}, {1, 7}, {4, 7}, {7, 7}, {8, 0}, {16, 0}, {40, 0}, {-3, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(get_header_size(stream, c.start), c.expected) << "start " << c.start;
    }
    EXPECT_EQ(get_header_size({}, 0), 0);
}
