#include <orvi/rtp_packetizer.h>

#include <cstring>

namespace {

constexpr int H264_FIRST_SKIP = 5;  // start code + one-byte NAL header
constexpr int H265_FIRST_SKIP = 6;  // start code + two-byte NAL header
constexpr uint8_t H264_IDR_SLICE = 5;

void put_be16(uint8_t* out, uint16_t v) {
    out[0] = static_cast<uint8_t>(v >> 8);
    out[1] = static_cast<uint8_t>(v);
}

void put_be32(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

}  // namespace

void set_rtp_header(rtp_header_t* header, bool marker, uint32_t timestamp, uint16_t* seq,
                    int payload_type) {
    header->version_flags = 0x80;
    header->marker_payload_type =
        static_cast<uint8_t>((marker ? 0x80 : 0x00) | (payload_type & 0x7F));
    put_be16(header->sequence, *seq);
    ++*seq;
    put_be32(header->timestamp, timestamp);
    put_be32(header->ssrc, RTP_SSRC);
}

void set_nalu(nalu_header_t* header, uint8_t type, int nal_type) {
    const uint8_t nri = nal_type == H264_IDR_SLICE ? 3 : 2;
    header->value = static_cast<uint8_t>((nri << 5) | (type & 0x1F));
}

void set_h265_nalu(nal_unit_header_h265_t* header, uint8_t type) {
    header->bytes[0] = static_cast<uint8_t>((type & 0x3F) << 1);
    header->bytes[1] = 0x01;
}

void set_fu_header(fu_header_t* header, bool start, bool end, int type) {
    header->value = static_cast<uint8_t>((start ? 0x80 : 0) | (end ? 0x40 : 0) | (type & 0x1F));
}

void set_h265_fu_header(fu_header_h265_t* header, bool start, bool end, int type) {
    header->value = static_cast<uint8_t>((start ? 0x80 : 0) | (end ? 0x40 : 0) | (type & 0x3F));
}

int create_rtp_packet_fragment(const uint8_t* data, size_t len, uint32_t timestamp, bool first,
                               int mtu, uint16_t* seq, int nal_type,
                               std::shared_ptr<std::vector<uint8_t>>& packet, venc_mode_t mode) {
    int skip = 0;
    if (first && mode == VENC_H264) skip = H264_FIRST_SKIP;
    if (first && mode == VENC_H265) skip = H265_FIRST_SKIP;
    const size_t header_bytes =
        mode == VENC_H264 ? H264_FRAGMENT_HEADER_BYTES : H265_FRAGMENT_HEADER_BYTES;
    // Every byte is written below, so the vector is sized without zeroing it
    // twice: headers first, then the payload appended in one copy.
    packet = std::make_shared<std::vector<uint8_t>>();
    packet->reserve(len + header_bytes);
    packet->resize(header_bytes);
    uint8_t* out = packet->data();

    const bool last = mtu < 0 || len < static_cast<size_t>(mtu);
    rtp_header_t rtp;
    set_rtp_header(&rtp, last, timestamp, seq, RTP_VIDEO_PAYLOAD_TYPE);
    std::memcpy(out, &rtp, sizeof rtp);

    if (mode == VENC_H264) {
        nalu_header_t indicator;
        set_nalu(&indicator, H264_FU_A_TYPE, nal_type);
        fu_header_t fu;
        set_fu_header(&fu, first, last, nal_type);
        out[12] = indicator.value;
        out[13] = fu.value;
    } else {
        nal_unit_header_h265_t payload_header;
        set_h265_nalu(&payload_header, H265_FU_TYPE);
        fu_header_h265_t fu;
        set_h265_fu_header(&fu, first, last, nal_type);
        out[12] = payload_header.bytes[0];
        out[13] = payload_header.bytes[1];
        out[14] = fu.value;
    }
    if (len > 0) packet->insert(packet->end(), data + skip, data + skip + len);
    return skip + static_cast<int>(len);
}

int get_header_size(const std::vector<uint8_t>& buffer, int start) {
    // A start beyond the end would read outside the buffer: treat it as "none".
    if (start < 0 || static_cast<size_t>(start) >= buffer.size()) return 0;
    const uint8_t* base = buffer.data();
    const size_t size = buffer.size();
    // Find each 0x01 with memchr and look back for the three zero bytes.
    size_t at = static_cast<size_t>(start) + 3;
    while (at < size) {
        const void* hit = std::memchr(base + at, 0x01, size - at);
        if (!hit) return 0;
        at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - base);
        if (base[at - 1] == 0 && base[at - 2] == 0 && base[at - 3] == 0) {
            return static_cast<int>(at - 3);
        }
        ++at;
    }
    return 0;
}
