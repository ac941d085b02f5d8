#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <orvi/channel_plan.h>
#include "test_support.h"

namespace {

TEST(ChannelPlan, HoldsExactlyThePlannedChannels) {
    // Written out, not computed: the plan must not drift from the regulatory grid.
    const std::map<int, int> expected_2g = {{1, 2412},  {2, 2417},  {3, 2422},  {4, 2427}, {5, 2432},
                                            {6, 2437},  {7, 2442},  {8, 2447},  {9, 2452}, {10, 2457},
                                            {11, 2462}, {12, 2467}, {13, 2472}, {14, 2484}};
    const std::map<int, int> expected_5g = {
        {36, 5180},  {40, 5200},  {44, 5220},  {48, 5240},  {52, 5260},  {56, 5280},  {60, 5300},
        {64, 5320},  {100, 5500}, {104, 5520}, {108, 5540}, {112, 5560}, {116, 5580}, {120, 5600},
        {124, 5620}, {128, 5640}, {132, 5660}, {136, 5680}, {140, 5700}, {144, 5720}, {149, 5745},
        {153, 5765}, {157, 5785}, {161, 5805}, {165, 5825}, {169, 5845}, {173, 5865}};
    EXPECT_EQ(band_2g_channels, expected_2g);
    EXPECT_EQ(band_5g_channels, expected_5g);
    std::map<int, int> expected_all = expected_2g;
    expected_all.insert(expected_5g.begin(), expected_5g.end());
    EXPECT_EQ(all_channels.size(), 41u);
    EXPECT_EQ(all_channels, expected_all);
}

TEST(ChannelPlan, ConvertsBetweenChannelAndFrequency) {
    struct Row {
        int channel;
        int frequency;
        std::string err;
    };
    const std::vector<Row> to_frequency = {
        {14, 2484, ""},
        {165, 5825, ""},
        {1, 2412, ""},
        {173, 5865, ""},
        {15, -1, "Invalid channel provided (CH: 15)!\n"},
        {68, -1, "Invalid channel provided (CH: 68)!\n"},
        {177, -1, "Invalid channel provided (CH: 177)!\n"},
        {-3, -1, "Invalid channel provided (CH: -3)!\n"},
    };
    for (const auto& row : to_frequency) {
        int result = 0;
        Captured c = capture_output([&] { result = channel_to_frequency(row.channel); });
        EXPECT_EQ(result, row.frequency) << "channel " << row.channel;
        EXPECT_EQ(c.err, row.err) << "channel " << row.channel;
        EXPECT_EQ(c.out, "");
    }

    const std::vector<Row> to_channel = {
        {149, 5745, ""},
        {14, 2484, ""},
        {1, 2412, ""},
        {64, 5320, ""},
        {-1, 5750, "Invalid frequency provided (FRQ: 5750)!\n"},
        {-1, 5885, "Invalid frequency provided (FRQ: 5885)!\n"},
        {-1, 2477, "Invalid frequency provided (FRQ: 2477)!\n"},
        {-1, 0, "Invalid frequency provided (FRQ: 0)!\n"},
    };
    for (const auto& row : to_channel) {
        int result = 0;
        Captured c = capture_output([&] { result = frequency_to_channel(row.frequency); });
        EXPECT_EQ(result, row.channel) << "frequency " << row.frequency;
        EXPECT_EQ(c.err, row.err) << "frequency " << row.frequency;
    }
}

TEST(ChannelPlan, BandsFollowThresholdsNotThePlan) {
    struct Row {
        int value;
        int band;
    };
    for (const Row& row : std::vector<Row>{{5180, 1}, {5179, 0}, {2484, 0}, {5000, 0}, {5900, 1}, {6000, 1}}) {
        EXPECT_EQ(frequency_to_band(row.value), row.band) << row.value << " MHz";
    }
    for (const Row& row : std::vector<Row>{{36, 1}, {35, 0}, {14, 0}, {1, 0}, {200, 1}, {-5, 0}}) {
        EXPECT_EQ(channel_to_band(row.value), row.band) << "channel " << row.value;
    }
}

TEST(ChannelPlan, FortyMegahertzPairing) {
    struct Row {
        int frequency;
        std::string width;
    };
    const std::vector<Row> rows = {
        {2412, "HT40+"}, {2452, "HT40+"}, {2456, "HT40+"}, {2457, "HT40-"}, {2472, "HT40-"},
        {2484, "HT40-"}, {5180, "HT40+"}, {5300, "HT40+"}, {5320, "HT40-"}, {5500, "HT40+"},
        {5720, "HT40-"}, {5745, "HT40+"}, {5865, "HT40+"}, {5885, "HT40-"}, {5179, "HT40-"},
    };
    for (const auto& row : rows) EXPECT_EQ(bw_for_frequency(row.frequency), row.width) << row.frequency;
}

TEST(ChannelPlan, StepsAroundOneRing) {
    struct Row {
        int channel;
        int direction;
        int next;
    };
    const std::vector<Row> rows = {
        {173, SCAN_UP, 1}, {1, SCAN_DOWN, 173}, {2, 7, 1},       {2, -1, 1},       {14, SCAN_UP, 36},
        {36, SCAN_DOWN, 14}, {64, SCAN_UP, 100}, {100, SCAN_DOWN, 64}, {144, SCAN_UP, 149}, {149, SCAN_DOWN, 144},
        {6, SCAN_UP, 7},
    };
    for (const auto& row : rows) {
        int next = 0;
        Captured c = capture_output([&] { next = get_next_channel(row.channel, scan_direction_e(row.direction)); });
        EXPECT_EQ(next, row.next) << row.channel << " dir " << row.direction;
        EXPECT_EQ(c.out, "");
    }

    int next = 0;
    Captured c = capture_output([&] { next = get_next_channel(50, SCAN_UP); });
    EXPECT_EQ(next, 50);
    EXPECT_EQ(c.out, "INVALID Channel provided (50). Staying on current frequency.\n");

    // Forty-one steps either way visit every planned channel once, in order.
    std::vector<int> up, down;
    for (int ch = 1, i = 0; i < 41; ++i) up.push_back(ch = get_next_channel(ch, SCAN_UP));
    for (int ch = 1, i = 0; i < 41; ++i) down.push_back(ch = get_next_channel(ch, SCAN_DOWN));
    std::vector<int> ascending;
    for (const auto& entry : all_channels) ascending.push_back(entry.first);
    std::vector<int> expected_up(ascending.begin() + 1, ascending.end());
    expected_up.push_back(1);
    EXPECT_EQ(up, expected_up);
    const std::vector<int> expected_down(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(down, expected_down);
}

}  // namespace
