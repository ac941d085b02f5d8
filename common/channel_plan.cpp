#include <orvi/channel_plan.h>

#include <fmt/core.h>

#include <cstdio>

namespace {

std::map<int, int> make_2g() {
    std::map<int, int> plan;
    for (int ch = 1; ch <= 13; ++ch) plan[ch] = 2407 + 5 * ch;
    plan[14] = 2484;  // Japan-only channel, off the 5 MHz grid
    return plan;
}

std::map<int, int> make_5g() {
    static const int channels[] = {36,  40,  44,  48,  52,  56,  60,  64,  100,
                                   104, 108, 112, 116, 120, 124, 128, 132, 136,
                                   140, 144, 149, 153, 157, 161, 165, 169, 173};
    std::map<int, int> plan;
    for (int ch : channels) plan[ch] = 5000 + 5 * ch;
    return plan;
}

std::map<int, int> make_all() {
    std::map<int, int> plan = make_2g();
    for (const auto& entry : make_5g()) plan.insert(entry);
    return plan;
}

}  // namespace

const std::map<int, int> band_2g_channels = make_2g();
const std::map<int, int> band_5g_channels = make_5g();
const std::map<int, int> all_channels = make_all();

int channel_to_frequency(int channel) {
    auto it = all_channels.find(channel);
    if (it != all_channels.end()) return it->second;
    fmt::print(stderr, "Invalid channel provided (CH: {})!\n", channel);
    std::fflush(stderr);
    return -1;
}

int frequency_to_channel(int frequency) {
    for (const auto& [channel, freq] : all_channels) {
        if (freq == frequency) return channel;
    }
    fmt::print(stderr, "Invalid frequency provided (FRQ: {})!\n", frequency);
    std::fflush(stderr);
    return -1;
}

int frequency_to_band(int frequency) { return frequency > 5179 ? 1 : 0; }

int channel_to_band(int channel) { return channel > 35 ? 1 : 0; }

const char* bw_for_frequency(int frequency) {
    if (frequency > 5179) {
        // The top channel of each 5 GHz block has no partner above it.
        if (frequency == 5320 || frequency == 5720 || frequency == 5885) return "HT40-";
        return "HT40+";
    }
    // Channels 10 to 14 would need a secondary channel above 2472 MHz.
    return frequency > 2456 ? "HT40-" : "HT40+";
}

int get_next_channel(int channel, scan_direction_e direction) {
    auto it = all_channels.find(channel);
    if (it == all_channels.end()) {
        std::printf("INVALID Channel provided (%d). Staying on current frequency.\n", channel);
        return channel;
    }
    if (direction == SCAN_UP) {
        ++it;
        if (it == all_channels.end()) it = all_channels.begin();
        return it->first;
    }
    if (it == all_channels.begin()) return all_channels.rbegin()->first;
    --it;
    return it->first;
}
