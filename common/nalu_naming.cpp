#include <orvi/nalu_naming.h>

#include <cstdio>

#include <fmt/core.h>

int get_nalu_type(uint8_t byte, venc_mode_t /*mode*/) {
    switch (byte) {
        case 2: return 1;
        case 65: return 1;
        case 38: return 19;
        case 64: return 32;
        case 66: return 33;
        case 68: return 34;
        case 101: return 5;
        case 103: return 7;
        case 104: return 8;
        default:
            fmt::print("UNKNOWN H264/H265 NALU Type: {}\n", static_cast<int>(byte));
            return 64;
    }
}

int nalu_byte_frame_type(int byte) {
    switch (byte) {
        case 2: return 1;
        case 38: return 19;
        case 64: return 32;
        case 65:
        case 92: return 65;
        case 66: return 33;
        case 68: return 34;
        case 101:
        case 124: return 101;
        case 103: return 103;
        case 104: return 104;
        default:
            std::fprintf(stderr, "Received unknown NALU Byte: %d\n", byte);
            std::fflush(stderr);
            return 0;
    }
}

std::string nalu_byte_as_string(int byte) {
    switch (byte) {
        case 65:
        case 92: return "H264 (P)";
        case 101:
        case 124: return "H264 (I)";
        case 103: return "H264 (SPS)";
        case 104: return "H264 (PPS)";
        default: return "(?)";
    }
}

std::string nalu_as_string(int code, venc_mode_t mode) {
    if (mode == VENC_H264) {
        switch (code & 0x1F) {
            case 1: return "H264 (P)";
            case 5: return "H264 (I)";
            case 7: return "H264 (SPS)";
            case 8: return "H264 (PPS)";
            default: return "H264 (?) " + std::to_string(code);
        }
    }
    switch (code) {
        case 1: return "H265 (P)";
        case 19: return "H265 (I)";
        case 32: return "H265 (VPS)";
        case 33: return "H265 (SPS)";
        case 34: return "H265 (PPS)";
        default: return "H265 (?) " + std::to_string(code);
    }
}

std::string nalu_header_type_as_string(int type) {
    switch (type) {
        case 24: return "AGG";
        case 28: return "FU-A";
        default: return "SINGLE";
    }
}

venc_mode_t decodeToEncode(vdec_mode_t mode) {
    switch (mode) {
        case VDEC_H264: return VENC_H264;
        case VDEC_H265: return VENC_H265;
        default: return VENC_OTHER;
    }
}

vdec_mode_t encodeToDecode(venc_mode_t mode) {
    switch (mode) {
        case VENC_H264: return VDEC_H264;
        case VENC_H265: return VDEC_H265;
        default: return VDEC_OTHER;
    }
}
