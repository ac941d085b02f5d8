// Sends an H.264 or H.265 Annex-B file as RTP over UDP with our fragment
// builder: NAL units found with get_header_size, fragments of at most `mtu`
// payload bytes, one 90 kHz timestamp per picture at 30 fps.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <orvi/rtp_packetizer.h>

namespace {

// Encoders use three-byte start codes inside an access unit; the walk looks
// for four-byte ones, so widen them (a leading zero byte is legal padding).
std::vector<uint8_t> widen_start_codes(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    out.reserve(in.size() + in.size() / 64);
    for (size_t i = 0; i < in.size(); ++i) {
        const bool short_code = i + 2 < in.size() && in[i] == 0 && in[i + 1] == 0 &&
                                in[i + 2] == 1 && (i == 0 || in[i - 1] != 0);
        if (short_code) out.push_back(0);
        out.push_back(in[i]);
    }
    return out;
}

bool is_picture(int type, venc_mode_t mode) {
    return mode == VENC_H264 ? (type >= 1 && type <= 5) : (type >= 0 && type <= 31);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s h264|h265 MTU PORT FILE\n", argv[0]);
        return 2;
    }
    const venc_mode_t mode = std::string(argv[1]) == "h264" ? VENC_H264 : VENC_H265;
    const int mtu = std::atoi(argv[2]);
    const int port = std::atoi(argv[3]);
    std::ifstream in(argv[4], std::ios::binary);
    const std::vector<uint8_t> stream =
        widen_start_codes(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {}));
    if (stream.size() < 5 || mtu < 2) {
        std::fprintf(stderr, "rtp_stream_sender: empty stream or bad mtu\n");
        return 1;
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    const int header_len = mode == VENC_H264 ? 5 : 6;
    uint16_t seq = 1000;
    uint32_t picture = 0;
    int packets = 0;
    int start = get_header_size(stream, 0);
    while (start + header_len <= static_cast<int>(stream.size())) {
        int next = get_header_size(stream, start + 4);
        if (next == 0) next = static_cast<int>(stream.size());
        const uint8_t first_byte = stream[start + 4];
        const int type = mode == VENC_H264 ? (first_byte & 0x1F) : ((first_byte >> 1) & 0x3F);
        const uint32_t timestamp = picture * 3000;
        const uint8_t* at = stream.data() + start;
        size_t remaining = static_cast<size_t>(next - start - header_len);
        bool first = true;
        // Every fragment but the last carries exactly mtu bytes; the last is
        // shorter, empty when the NAL unit is a multiple of mtu.
        for (;;) {
            const size_t len = remaining < static_cast<size_t>(mtu) ? remaining : mtu;
            std::shared_ptr<std::vector<uint8_t>> packet;
            at += create_rtp_packet_fragment(at, len, timestamp, first, mtu, &seq, type, packet,
                                             mode);
            remaining -= len;
            first = false;
            sendto(sock, packet->data(), packet->size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to);
            ++packets;
            if (len < static_cast<size_t>(mtu)) break;
        }
        if (is_picture(type, mode)) {
            ++picture;
            timespec frame_interval{0, 33000000};  // real-time pacing, as a camera would
            nanosleep(&frame_interval, nullptr);
        }
        start = next;
    }
    std::printf("sent %u pictures in %d packets\n", picture, packets);
    close(sock);
    return 0;
}
