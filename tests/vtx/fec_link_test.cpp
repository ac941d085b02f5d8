#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "test_support.h"
#include <orvi/fec_sizing.h>
#include <orvi/link_rates.h>
#include <orvi/vtx_config.h>

namespace {

class FecSizing : public ::testing::Test {
protected:
    vtx_config_t config;

    void SetUp() override {
        config.profiles.resize(1);
        profile().mtu = 1341;
        profile().fps = 30;
        profile().codec = VENC_H264;
        frame(10000, 3000, 5);  // an IDR frame clears what earlier tests left
    }

    vtx_profile_t& profile() { return config.profiles[0]; }

    int frame(int capacity, int bytes, int nal_type, int period = 0, int position = 0) {
        adjust_fec(capacity, bytes, &config, nal_type, period, position);
        return config.fec_percent;
    }
};

TEST_F(FecSizing, PercentFitsTheBudget) {
    struct Row {
        int capacity;
        int fps;
        int codec;
        int percent;
    };
    // 3000 bytes in 3 fragments of MTU 1341 plus 62 header bytes each: 3186
    // bytes; capacity 10000 leaves a budget of 9000, 182 % of FEC.
    const std::vector<Row> rows = {
        {10000, 30, VENC_H264, 182}, {10000, 60, VENC_H264, 100}, {10000, 31, VENC_H264, 100},
        {100000, 30, VENC_H264, 200}, {10000, 30, VENC_H265, 182}, {6196, 30, VENC_H264, 75},
        {8000, 30, VENC_H265, 125},
    };
    for (const auto& row : rows) {
        profile().fps = row.fps;
        profile().codec = row.codec;
        EXPECT_EQ(frame(row.capacity, 3000, 1), row.percent) << row.capacity << " at " << row.fps;
        // None of these frames ran into debt: the next frame sizes alone.
        profile().fps = 30;
        profile().codec = VENC_H264;
        EXPECT_EQ(frame(10000, 3000, 1, 10, 5), 182);
    }
}

TEST_F(FecSizing, ShortfallBecomesDebtRepaidByLaterFrames) {
    // Budget 2700 for 3186 bytes: -16 %, so 75 % and a debt of
    // 1.75 x 3186 - 2700 = 2875 bytes.
    EXPECT_EQ(frame(3000, 3000, 1), 75);
    // Five frames left in the group: this one carries 2875 / 5 = 575, leaving
    // 8425 of budget (164 %); its 14 unused bytes repay the debt to 2286.
    EXPECT_EQ(frame(10000, 3000, 1, 10, 5), 164);
    // The last frame of the group carries all 2286: 6714 of budget, 110 %.
    EXPECT_EQ(frame(10000, 3000, 1, 10, 9), 110);
    EXPECT_EQ(frame(10000, 3000, 1, 10, 5), 182);

    // Without a period the debt waits.
    EXPECT_EQ(frame(3000, 3000, 1), 75);
    EXPECT_EQ(frame(10000, 3000, 1, 0, 0), 182);
    EXPECT_EQ(frame(10000, 3000, 1, 10, 10), 182);
    EXPECT_EQ(frame(10000, 3000, 1, 10, 5), 164);
}

TEST_F(FecSizing, IdrFramesClearTheDebt) {
    for (int idr : {5, 19}) {
        EXPECT_EQ(frame(3000, 3000, 1), 75);
        EXPECT_EQ(frame(10000, 3000, idr, 10, 5), 182) << idr;
        EXPECT_EQ(frame(10000, 3000, 1, 10, 5), 182) << idr;
    }
}

TEST_F(FecSizing, UnusableInputsLeaveThePercentAlone) {
    EXPECT_EQ(frame(3000, 3000, 1), 75);  // debt 2875
    for (int mtu : {0, -1341}) {
        profile().mtu = mtu;
        config.fec_percent = 42;
        EXPECT_EQ(frame(10000, 3000, 1, 10, 5), 42) << mtu;
    }
    profile().mtu = 1341;
    config.fec_percent = 42;
    EXPECT_EQ(frame(10000, 0, 1, 10, 5), 42);
    EXPECT_EQ(frame(10000, -5, 1, 10, 5), 42);
    config.active_profile_idx = 3;
    Captured c = capture_output([&] { EXPECT_EQ(frame(10000, 3000, 1, 10, 5), 42); });
    EXPECT_EQ(c.err, "adjust_fec: no active profile\n");
    config.active_profile_idx = 0;
    // The debt is still the one the first frame ran up.
    EXPECT_EQ(frame(10000, 3000, 1, 10, 5), 164);

    // Extremes stay inside the percent range.
    EXPECT_EQ(frame(2147483647, 1, 5), 200);
    EXPECT_EQ(frame(-2147483647, 3000, 5), 75);
}

TEST(LinkRates, MaxBitrateInBytesPerSecond) {
    struct Row {
        int mcs;
        int frequency;
        int bandwidth;
        int bytes_per_second;
    };
    const std::vector<Row> rows = {
        {7, 5745, 40, 16875000}, {0, 2412, 20, 650000},  {7, 5745, 20, 8125000}, {3, 5180, 80, 6750000},
        {3, 5179, 40, 5400000},  {6, 2437, 40, 12150000}, {1, 2484, 39, 1300000}, {9, 5745, 40, 0},
        {-1, 2412, 20, 0},       {9, 2412, 20, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(get_max_bitrate(row.mcs, row.frequency, row.bandwidth), row.bytes_per_second)
            << "MCS " << row.mcs << " " << row.frequency << "/" << row.bandwidth;
    }
    // Lookups do not grow the shared tables.
    for (const auto* table : {&max_bitrates_20mhz, &max_bitrates_40mhz, &max_bitrates_20mhz_2g, &max_bitrates_40mhz_2g}) {
        EXPECT_EQ(table->size(), 8u);
        EXPECT_EQ(table->count(9), 0u);
        EXPECT_EQ(table->count(-1), 0u);
    }
}

TEST(LinkRates, InputBitrateOverTheFrameRing) {
    // A full ring of 60 frames of 12500 bytes, 10 ms apart, newest in slot 9.
    std::vector<uint64_t> bytes(60, 12500);
    std::vector<int64_t> times(60);
    for (int k = 0; k < 60; ++k) times[static_cast<size_t>((10 + k) % 60)] = 5'000'000'000LL + k * 10'000'000LL;
    const double full = 60 * 12500 / 1e6 * 8 / 0.59;
    EXPECT_DOUBLE_EQ(_calc_input_bitrate_mbps(10, bytes, times), full);

    // Slot 0 next: the newest frame is in slot 59.
    std::vector<int64_t> wrapped(60);
    for (int k = 0; k < 60; ++k) wrapped[static_cast<size_t>(k)] = k * 10'000'000LL;
    EXPECT_DOUBLE_EQ(_calc_input_bitrate_mbps(0, bytes, wrapped), full);
    EXPECT_DOUBLE_EQ(_calc_input_bitrate_mbps(60, bytes, wrapped), full);

    // A ring still filling: five frames in slots 0 to 4.
    const std::vector<uint64_t> five_bytes = {1000, 2000, 3000, 4000, 5000};
    const std::vector<int64_t> five_times = {0, 25'000'000, 50'000'000, 75'000'000, 100'000'000};
    EXPECT_DOUBLE_EQ(_calc_input_bitrate_mbps(5, five_bytes, five_times), 15000 / 1e6 * 8 / 0.1);
    // Wrapping inside the short vectors, never past their ends.
    const std::vector<int64_t> five_wrapped = {75'000'000, 100'000'000, 0, 25'000'000, 50'000'000};
    EXPECT_DOUBLE_EQ(_calc_input_bitrate_mbps(2, five_bytes, five_wrapped), 15000 / 1e6 * 8 / 0.1);
    // Vectors of different lengths use the slots both have.
    EXPECT_DOUBLE_EQ(_calc_input_bitrate_mbps(5, bytes, five_times), 5 * 12500 / 1e6 * 8 / 0.1);

    struct Row {
        int next_slot;
        std::vector<uint64_t> bytes;
        std::vector<int64_t> times;
    };
    const std::vector<Row> zero = {
        {0, {}, {}},
        {1, {100}, {0}},
        {2, {100, 100}, {5}},
        {2, {100, 100}, {7, 7}},         // no time elapsed
        {2, {100, 100}, {9, 7}},         // time ran backwards
        {-1, {100, 100}, {0, 10}},       // no such slot
        {61, bytes, times},
        {6, five_bytes, five_times},
    };
    for (const auto& row : zero) {
        EXPECT_EQ(_calc_input_bitrate_mbps(row.next_slot, row.bytes, row.times), 0.0) << row.next_slot;
    }
}

TEST(LinkRates, RcChannelValues) {
    auto rc = std::make_shared<__mavlink_rc_channels_t>();
    std::memset(rc.get(), 0, sizeof(*rc));
    rc->time_boot_ms = 123456;
    rc->chancount = 18;
    rc->rssi = 200;
    const uint16_t values[18] = {1000, 1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800,
                                 1900, 2000, 988,  1012, 1234, 1666, 1999, 65534, 7};
    rc->chan1_raw = values[0];
    rc->chan2_raw = values[1];
    rc->chan3_raw = values[2];
    rc->chan4_raw = values[3];
    rc->chan5_raw = values[4];
    rc->chan6_raw = values[5];
    rc->chan7_raw = values[6];
    rc->chan8_raw = values[7];
    rc->chan9_raw = values[8];
    rc->chan10_raw = values[9];
    rc->chan11_raw = values[10];
    rc->chan12_raw = values[11];
    rc->chan13_raw = values[12];
    rc->chan14_raw = values[13];
    rc->chan15_raw = values[14];
    rc->chan16_raw = values[15];
    rc->chan17_raw = values[16];
    rc->chan18_raw = values[17];
    for (int channel = 1; channel <= 18; ++channel) {
        EXPECT_EQ(get_toggle_channel_value(channel, rc), values[channel - 1]) << "channel " << channel;
    }
    for (int channel : {0, 19, -1, 100}) EXPECT_EQ(get_toggle_channel_value(channel, rc), 65535) << channel;
    EXPECT_EQ(get_toggle_channel_value(1, nullptr), 65535);
}

}  // namespace
