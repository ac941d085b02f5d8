#include <orvi/link_rates.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include <orvi/channel_plan.h>
#include <orvi/vtx_constants.h>

namespace {
constexpr size_t kRingSlots = 60;
constexpr uint16_t kNoChannel = 65535;
}  // namespace

int get_max_bitrate(int mcs, int frequency, int bandwidth) {
    const bool wide = bandwidth >= 40;
    const std::unordered_map<int, int>& table =
        frequency_to_band(frequency) == 1 ? (wide ? max_bitrates_40mhz : max_bitrates_20mhz)
                                          : (wide ? max_bitrates_40mhz_2g : max_bitrates_20mhz_2g);
    // A lookup only: the tables are shared by every thread.
    auto it = table.find(mcs);
    return it == table.end() ? 0 : it->second / 8;
}

double _calc_input_bitrate_mbps(int next_slot, const std::vector<uint64_t>& frame_bytes,
                                const std::vector<int64_t>& frame_times_ns) {
    if (frame_bytes.size() < 2 || frame_times_ns.size() < 2) return 0.0;
    // The ring is as long as both vectors are (60 slots once full); a ring
    // that is still filling has its frames in slots 0 to next_slot - 1.
    const long long slots = static_cast<long long>(std::min({frame_bytes.size(), frame_times_ns.size(), kRingSlots}));
    if (next_slot < 0 || next_slot > slots) return 0.0;
    // Slot 0 next means the ring has just wrapped: the newest frame is in the last slot.
    const long long newest = next_slot == 0 ? slots - 1 : next_slot - 1;

    uint64_t sum = 0;
    for (long long i = 0; i < slots; ++i) {
        long long slot = newest - i;
        if (slot < 0) slot += slots;
        sum += frame_bytes[static_cast<size_t>(slot)];
    }
    long long oldest = newest - slots + 1;
    if (oldest < 0) oldest += slots;

    const double seconds =
        static_cast<double>(frame_times_ns[static_cast<size_t>(newest)] - frame_times_ns[static_cast<size_t>(oldest)]) /
        1e9;
    if (!(seconds > 0.0)) return 0.0;
    return static_cast<double>(sum) / 1e6 * 8.0 / seconds;
}

uint16_t get_toggle_channel_value(int channel, const std::shared_ptr<__mavlink_rc_channels_t>& rc) {
    if (!rc || channel < 1 || channel > 18) return kNoChannel;
    // A local copy: the record is packed and its fields may sit unaligned.
    __mavlink_rc_channels_t msg;
    std::memcpy(&msg, rc.get(), sizeof(msg));
    const uint16_t values[18] = {msg.chan1_raw,  msg.chan2_raw,  msg.chan3_raw,  msg.chan4_raw,  msg.chan5_raw,
                                 msg.chan6_raw,  msg.chan7_raw,  msg.chan8_raw,  msg.chan9_raw,  msg.chan10_raw,
                                 msg.chan11_raw, msg.chan12_raw, msg.chan13_raw, msg.chan14_raw, msg.chan15_raw,
                                 msg.chan16_raw, msg.chan17_raw, msg.chan18_raw};
    return values[channel - 1];
}
