// The side-channel builders with arbitrary item sizes and packet budgets:
// no packet may exceed its budget and no item may be split or overrun.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>

#include "fuzz_input.h"
#include <orvi/side_channel.h>

namespace {

void check_packets(const PacketList& packets, size_t first, int max_payload, bool full_size) {
    for (size_t i = first; i < packets.size(); ++i) {
        const size_t size = packets[i]->size();
        if (size < 12 || size > 12 + static_cast<size_t>(max_payload)) std::abort();
        if (full_size && size != 12 + static_cast<size_t>(max_payload)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int max_payload = in.integer(-4, 1500);
    uint16_t seq = static_cast<uint16_t>(in.integer(0, 65535));
    PacketList packets;

    // OSD: DisplayPort payloads with arbitrary lengths (possibly fewer lengths than payloads).
    auto osd = std::make_shared<MspDPV1>();
    std::list<std::string> storage;
    const int dp_count = in.integer(0, 8);
    const int length_count = in.integer(0, 8);
    for (int i = 0; i < dp_count; ++i) {
        storage.push_back(in.bytes(255));
        storage.back().resize(255);
        osd->displayport_payloads.push_back(reinterpret_cast<const uint8_t*>(storage.back().data()));
    }
    for (int i = 0; i < length_count; ++i) osd->displayport_lengths.push(in.integer(-300, 300));
    const int msg_count = in.integer(0, 4);
    for (int i = 0; i < msg_count; ++i) {
        auto message = std::make_unique<msp_message_t>();
        message->cmd = in.byte();
        message->len = in.byte();
        const std::string payload = in.bytes(message->len);
        std::memcpy(message->payload, payload.data(), payload.size());
        osd->messages.push(std::move(message));
    }
    size_t before = packets.size();
    create_osd_rtp_packets(osd, packets, &seq, max_payload);
    check_packets(packets, before, max_payload, true);

    std::vector<tflite_box_t> boxes(in.integer(0, 40));
    for (auto& box : boxes) std::memset(&box, in.byte(), sizeof box);
    before = packets.size();
    create_tflite_packets(boxes, &seq, packets, max_payload);
    check_packets(packets, before, max_payload, false);
    if (max_payload >= 92 && packets.size() - before != (boxes.size() + max_payload / 92 - 1) /
                                                           (max_payload / 92)) {
        std::abort();
    }

    std::list<mavlink_message_t> messages;
    const int mav_count = in.integer(0, 6);
    for (int i = 0; i < mav_count; ++i) {
        mavlink_message_t msg;
        const std::string raw = in.bytes(sizeof msg);
        std::memset(&msg, 0, sizeof msg);
        std::memcpy(&msg, raw.data(), raw.size());
        messages.push_back(msg);
    }
    before = packets.size();
    create_mavlink_packets(messages, &seq, packets, max_payload);
    check_packets(packets, before, max_payload, false);

    vfc_vio_t vio;
    std::memset(&vio, in.byte(), sizeof vio);
    create_vfc_vio_packet(vio, &seq, packets);
    if (packets.back()->size() != 32) std::abort();
    return 0;
}
