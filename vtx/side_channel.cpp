#include <orvi/side_channel.h>

#include <cstdio>
#include <cstring>

#include <orvi/diagnostics.h>
#include <orvi/neon_memcpy.h>
#include <orvi/rtp_packetizer.h>

namespace {

constexpr uint8_t MAVLINK1_MAGIC = 0xFE;
constexpr uint8_t MAVLINK_SIGNED_FLAG = 0x01;
constexpr size_t MAVLINK_SIGNATURE_BYTES = 13;
constexpr size_t MAVLINK1_OVERHEAD = 8;   // magic, len, seq, sys, comp, msgid, crc (2)
constexpr size_t MAVLINK2_OVERHEAD = 12;  // magic, len, 2 flags, seq, sys, comp, msgid (3), crc (2)

// Packs items into RTP packets of at most `max_payload` payload bytes,
// never splitting an item; each packet takes one sequence number.
class PacketRun {
public:
    PacketRun(PacketList& out, uint16_t* seq, int max_payload, int payload_type,
              bool keep_full_size)
        : out_(out),
          seq_(seq),
          max_payload_(max_payload),
          payload_type_(payload_type),
          keep_full_size_(keep_full_size) {}
    ~PacketRun() { close(); }

    // Where to write an item of `size` bytes, or null when it can never fit.
    uint8_t* reserve(size_t size) {
        if (max_payload_ <= 0 || size > static_cast<size_t>(max_payload_)) {
            std::fprintf(stderr,
                         "Side-channel item of %zu bytes exceeds the packet payload of %d bytes; "
                         "item skipped\n",
                         size, max_payload_);
            return nullptr;
        }
        if (current_ && fill_ + size > static_cast<size_t>(max_payload_)) close();
        if (!current_) start();
        uint8_t* at = current_->data() + RTP_HEADER_BYTES + fill_;
        fill_ += size;
        return at;
    }

    void close() {
        if (!current_) return;
        if (!keep_full_size_) current_->resize(RTP_HEADER_BYTES + fill_);
        out_.push_back(std::move(current_));
        current_.reset();
        fill_ = 0;
    }

private:
    void start() {
        current_ = std::make_shared<std::vector<uint8_t>>(RTP_HEADER_BYTES + max_payload_);
        rtp_header_t header;
        set_rtp_header(&header, true, static_cast<uint32_t>(time_monotonic_ns()), seq_,
                       payload_type_);
        std::memcpy(current_->data(), &header, sizeof header);
        fill_ = 0;
    }

    PacketList& out_;
    uint16_t* seq_;
    int max_payload_;
    int payload_type_;
    bool keep_full_size_;
    std::shared_ptr<std::vector<uint8_t>> current_;
    size_t fill_ = 0;
};

void write_msp_frame(PacketRun& run, uint8_t cmd, uint8_t size, const uint8_t* payload) {
    uint8_t* out = run.reserve(size + MSP_FRAME_OVERHEAD);
    if (!out) return;
    out[0] = '$';
    out[1] = 'M';
    out[2] = '>';
    out[3] = size;
    out[4] = cmd;
    uint8_t checksum = size ^ cmd;
    if (size > 0) neon::memcpy(out + 5, payload, size);
    for (uint8_t i = 0; i < size; ++i) checksum ^= payload[i];
    out[5 + size] = checksum;
}

size_t mavlink_payload_length(const mavlink_message_t& msg) {
    const uint8_t* payload = reinterpret_cast<const uint8_t*>(msg.payload64);
    size_t len = msg.len;
    if (msg.magic == MAVLINK1_MAGIC) return len;
    while (len > 1 && payload[len - 1] == 0) --len;
    return len;
}

size_t mavlink_frame_length(const mavlink_message_t& msg) {
    const size_t len = mavlink_payload_length(msg);
    if (msg.magic == MAVLINK1_MAGIC) return len + MAVLINK1_OVERHEAD;
    const bool is_signed = msg.incompat_flags & MAVLINK_SIGNED_FLAG;
    return len + MAVLINK2_OVERHEAD + (is_signed ? MAVLINK_SIGNATURE_BYTES : 0);
}

void write_mavlink_frame(PacketRun& run, const mavlink_message_t& msg) {
    uint8_t* out = run.reserve(mavlink_frame_length(msg));
    if (!out) return;
    const uint8_t* payload = reinterpret_cast<const uint8_t*>(msg.payload64);
    const size_t len = mavlink_payload_length(msg);
    const uint32_t msgid = msg.msgid;
    size_t at = 0;
    out[at++] = msg.magic;
    out[at++] = static_cast<uint8_t>(len);
    if (msg.magic != MAVLINK1_MAGIC) {
        out[at++] = msg.incompat_flags;
        out[at++] = msg.compat_flags;
    }
    out[at++] = msg.seq;
    out[at++] = msg.sysid;
    out[at++] = msg.compid;
    out[at++] = static_cast<uint8_t>(msgid);
    if (msg.magic != MAVLINK1_MAGIC) {
        out[at++] = static_cast<uint8_t>(msgid >> 8);
        out[at++] = static_cast<uint8_t>(msgid >> 16);
    }
    neon::memcpy(out + at, payload, len);
    at += len;
    out[at++] = static_cast<uint8_t>(msg.checksum & 0xFF);
    out[at++] = static_cast<uint8_t>(msg.checksum >> 8);
    if (msg.magic != MAVLINK1_MAGIC && (msg.incompat_flags & MAVLINK_SIGNED_FLAG)) {
        neon::memcpy(out + at, msg.signature, MAVLINK_SIGNATURE_BYTES);
    }
}

template <typename Messages>
void pack_mavlink(Messages& messages, uint16_t* seq, PacketList& packets, int max_payload,
                  const mavlink_message_t& (*message_of)(const typename Messages::value_type&)) {
    PacketRun run(packets, seq, max_payload, RTP_MAVLINK_PAYLOAD_TYPE, false);
    for (const auto& entry : messages) write_mavlink_frame(run, message_of(entry));
}

const mavlink_message_t& map_message(const std::pair<const int, mavlink_message_t>& entry) {
    return entry.second;
}

const mavlink_message_t& list_message(const mavlink_message_t& entry) { return entry; }

}  // namespace

void create_osd_rtp_packets(std::shared_ptr<MspDPV1>& osd, PacketList& packets, uint16_t* seq,
                            int max_payload) {
    if (!osd) return;
    PacketRun run(packets, seq, max_payload, RTP_OSD_PAYLOAD_TYPE, true);
    for (const uint8_t* payload : osd->displayport_payloads) {
        if (osd->displayport_lengths.empty()) {
            std::fprintf(stderr,
                         "OSD: DisplayPort payload without a length; remaining payloads "
                         "skipped\n");
            break;
        }
        const uint8_t size = static_cast<uint8_t>(osd->displayport_lengths.front() & 0xFF);
        osd->displayport_lengths.pop();
        if (!payload && size > 0) {
            std::fprintf(stderr, "OSD: DisplayPort payload of %u bytes has no data; skipped\n",
                         size);
            continue;
        }
        write_msp_frame(run, MSP_DISPLAYPORT_CMD, size, payload);
    }

    std::queue<std::unique_ptr<msp_message_t>> taken;
    {
        std::lock_guard<std::mutex> lock(osd->messages_mutex);
        taken.swap(osd->messages);
    }
    for (; !taken.empty(); taken.pop()) {
        const msp_message_t* message = taken.front().get();
        if (message) write_msp_frame(run, message->cmd, message->len, message->payload);
    }
}

void create_tflite_packets(std::vector<tflite_box_t>& boxes, uint16_t* seq, PacketList& packets,
                           int max_payload) {
    PacketRun run(packets, seq, max_payload, RTP_DETECTION_PAYLOAD_TYPE, false);
    for (tflite_box_t& box : boxes) {
        box.magic_number = PIPE_RECORD_MAGIC;
        uint8_t* out = run.reserve(sizeof box);
        if (out) neon::memcpy(out, &box, sizeof box);
    }
}

void create_vfc_vio_packet(vfc_vio_t vio, uint16_t* seq, PacketList& packets) {
    vio.magic_number = PIPE_RECORD_MAGIC;
    PacketRun run(packets, seq, sizeof vio, RTP_VIO_PAYLOAD_TYPE, false);
    uint8_t* out = run.reserve(sizeof vio);
    if (out) neon::memcpy(out, &vio, sizeof vio);
}

void create_mavlink_packets(std::unordered_map<int, mavlink_message_t>& messages, uint16_t* seq,
                            PacketList& packets, int max_payload) {
    pack_mavlink(messages, seq, packets, max_payload, map_message);
}

void create_mavlink_packets(std::list<mavlink_message_t>& messages, uint16_t* seq,
                            PacketList& packets, int max_payload) {
    pack_mavlink(messages, seq, packets, max_payload, list_message);
}
