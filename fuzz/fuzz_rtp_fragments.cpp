// The NAL walk and the fragment builder over arbitrary streams and MTUs.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include <orvi/rtp_packetizer.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int mtu = in.integer(1, 1500);
    const venc_mode_t mode = static_cast<venc_mode_t>(in.byte() % 3);
    const int start_at = in.integer(0, 64);
    const int nal_type = in.byte();
    const std::string text = in.rest();
    const std::vector<uint8_t> stream(text.begin(), text.end());
    const int header_len = mode == VENC_H264 ? 5 : mode == VENC_H265 ? 6 : 0;

    uint16_t seq = 0;
    int start = get_header_size(stream, start_at < static_cast<int>(stream.size()) ? start_at : 0);
    if (start < 0 || start > static_cast<int>(stream.size())) std::abort();
    while (start + header_len < static_cast<int>(stream.size())) {
        int next = get_header_size(stream, start + 4 <= static_cast<int>(stream.size())
                                               ? start + 4
                                               : static_cast<int>(stream.size()));
        if (next != 0 && (next <= start || std::memcmp(&stream[next], "\0\0\0\1", 4) != 0)) {
            std::abort();
        }
        if (next == 0) next = static_cast<int>(stream.size());
        if (next - start < header_len) {  // a start code too close to carry a NAL header
            start = next;
            continue;
        }
        const uint8_t* at = stream.data() + start;
        size_t remaining = static_cast<size_t>(next - start - header_len);
        bool first = true;
        for (;;) {
            const size_t len = remaining < static_cast<size_t>(mtu) ? remaining : mtu;
            std::shared_ptr<std::vector<uint8_t>> packet;
            const int consumed =
                create_rtp_packet_fragment(at, len, 0, first, mtu, &seq, nal_type, packet, mode);
            const size_t header = mode == VENC_H264 ? 14 : 15;
            if (packet->size() != len + header) std::abort();
            if (std::memcmp(packet->data() + header, at + (first ? header_len : 0), len) != 0) {
                std::abort();
            }
            at += consumed;
            remaining -= len;
            first = false;
            if (len < static_cast<size_t>(mtu)) break;
        }
        if (at != stream.data() + next) std::abort();
        start = next;
    }
    return 0;
}
