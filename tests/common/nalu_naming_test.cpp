#include <orvi/nalu_naming.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

TEST(NaluNaming, TypeOfHeaderByte) {
    struct Case { int byte; int type; std::string out; };
    const Case cases[] = {
        {2, 1, ""},    {65, 1, ""},   {38, 19, ""},  {64, 32, ""},   {66, 33, ""},
        {68, 34, ""},  {101, 5, ""},  {103, 7, ""},  {104, 8, ""},
        {124, 64, "UNKNOWN H264/H265 NALU Type: 124\n"},
        {0, 64, "UNKNOWN H264/H265 NALU Type: 0\n"},
        {255, 64, "UNKNOWN H264/H265 NALU Type: 255\n"},
    };
    for (const Case& c : cases) {
        for (venc_mode_t mode : {VENC_H264, VENC_H265, VENC_OTHER}) {
            CaptureStdout();
            const int type = get_nalu_type(static_cast<uint8_t>(c.byte), mode);
            EXPECT_EQ(GetCapturedStdout(), c.out) << c.byte;
            EXPECT_EQ(type, c.type) << c.byte << " mode " << mode;
        }
    }
}

TEST(NaluNaming, FrameTypeOfHeaderByte) {
    struct Case { int byte; int code; std::string err; };
    const Case cases[] = {
        {2, 1, ""},     {38, 19, ""},   {64, 32, ""},   {65, 65, ""},   {92, 65, ""},
        {66, 33, ""},   {68, 34, ""},   {101, 101, ""}, {124, 101, ""}, {103, 103, ""},
        {104, 104, ""},
        {1, 0, "Received unknown NALU Byte: 1\n"},
        {-7, 0, "Received unknown NALU Byte: -7\n"},
        {300, 0, "Received unknown NALU Byte: 300\n"},
    };
    for (const Case& c : cases) {
        CaptureStderr();
        const int code = nalu_byte_frame_type(c.byte);
        EXPECT_EQ(GetCapturedStderr(), c.err) << c.byte;
        EXPECT_EQ(code, c.code) << c.byte;
    }
}

TEST(NaluNaming, NameOfHeaderByte) {
    const std::pair<int, std::string> cases[] = {
        {65, "H264 (P)"},    {92, "H264 (P)"},    {101, "H264 (I)"}, {124, "H264 (I)"},
        {103, "H264 (SPS)"}, {104, "H264 (PPS)"}, {38, "(?)"},       {0, "(?)"},
    };
    for (const auto& [byte, name] : cases) EXPECT_EQ(nalu_byte_as_string(byte), name) << byte;
}

TEST(NaluNaming, NameOfFrameTypeCode) {
    struct Case { int code; venc_mode_t mode; std::string name; };
    const Case cases[] = {
        {1, VENC_H264, "H264 (P)"},      {65, VENC_H264, "H264 (P)"},
        {5, VENC_H264, "H264 (I)"},      {101, VENC_H264, "H264 (I)"},
        {37, VENC_H264, "H264 (I)"},     {7, VENC_H264, "H264 (SPS)"},
        {103, VENC_H264, "H264 (SPS)"},  {8, VENC_H264, "H264 (PPS)"},
        {104, VENC_H264, "H264 (PPS)"},  {3, VENC_H264, "H264 (?) 3"},
        {19, VENC_H264, "H264 (?) 19"},  {-1, VENC_H264, "H264 (?) -1"},
        {1, VENC_H265, "H265 (P)"},      {19, VENC_H265, "H265 (I)"},
        {32, VENC_H265, "H265 (VPS)"},   {33, VENC_H265, "H265 (SPS)"},
        {34, VENC_H265, "H265 (PPS)"},   {0, VENC_H265, "H265 (?) 0"},
        {101, VENC_H265, "H265 (?) 101"}, {65, VENC_H265, "H265 (?) 65"},
        {7, VENC_H265, "H265 (?) 7"},    {19, VENC_OTHER, "H265 (I)"},
        {-2147483647 - 1, VENC_H265, "H265 (?) -2147483648"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nalu_as_string(c.code, c.mode), c.name) << c.code << " mode " << c.mode;
}

TEST(NaluNaming, PacketizationTypeAndModeMapping) {
    EXPECT_EQ(nalu_header_type_as_string(24), "AGG");
    EXPECT_EQ(nalu_header_type_as_string(28), "FU-A");
    EXPECT_EQ(nalu_header_type_as_string(1), "SINGLE");
    EXPECT_EQ(nalu_header_type_as_string(29), "SINGLE");

    EXPECT_EQ(decodeToEncode(VDEC_H264), VENC_H264);
    EXPECT_EQ(decodeToEncode(VDEC_H265), VENC_H265);
    EXPECT_EQ(decodeToEncode(VDEC_OTHER), VENC_OTHER);
    EXPECT_EQ(decodeToEncode(static_cast<vdec_mode_t>(9)), VENC_OTHER);
    EXPECT_EQ(encodeToDecode(VENC_H264), VDEC_H264);
    EXPECT_EQ(encodeToDecode(VENC_H265), VDEC_H265);
    EXPECT_EQ(encodeToDecode(static_cast<venc_mode_t>(-1)), VDEC_OTHER);
}

}  // namespace
