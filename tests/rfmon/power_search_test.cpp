// One power measurement and the power search, on simulated boards whose
// converter words are scripted, with tables written to the hermetic /data
// and the board's orvi-configure-vtx recording its calls.
#include "power_search.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "scripted_board.h"
#include "sensor_processing.h"

namespace {

constexpr int kReadingTransfers = 9;  // reset, configuration, temperature
constexpr int kSampleTransfers = 3;   // sequence start, buffer command, buffer read

TEST(Snapshot, ReadVtxConfigAndLevelRange) {
    int mcs = 0, frequency = 0;
    g_global_mcs = 3;
    g_global_frequency = 5805;
    read_vtx_config(&mcs, &frequency);
    EXPECT_EQ(mcs, 3);
    EXPECT_EQ(frequency, 5805);
    g_global_mcs = 0;
    g_global_frequency = 2412;
    read_vtx_config(&mcs, &frequency);
    EXPECT_EQ(mcs, 0);
    EXPECT_EQ(frequency, 2412);
    g_global_frequency = 0;
    read_vtx_config(&mcs, &frequency);
    EXPECT_EQ(mcs, -9999);
    EXPECT_EQ(frequency, -9999);

    EXPECT_FALSE(is_valid_power_level(0));
    EXPECT_TRUE(is_valid_power_level(1));
    EXPECT_TRUE(is_valid_power_level(60));
    EXPECT_FALSE(is_valid_power_level(61));
    EXPECT_FALSE(is_valid_power_level(-1));
}

// The board's transmitter: orvi-configure-vtx sets its power index, and the
// converter words come from a script.
class Transmitter : public BoardTableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        g_global_mcs = 3;
        g_global_frequency = 5805;
    }

    // Faults failing the first write of each failing reading attempt (false).
    static std::vector<std::string> failing_attempts(const std::vector<bool>& attempts) {
        std::vector<std::string> faults;
        int at = 1;
        for (bool ok : attempts) {
            if (!ok)
                faults.insert(faults.end(), {"--fault", "transfer:nak:at=" + std::to_string(at)});
            at += ok ? kReadingTransfers + kSampleTransfers * ADJUST_SAMPLES : 1;
        }
        return faults;
    }
};

std::string reading_lines(int j, double dbm) {
    char text[128];
    std::snprintf(text, sizeof text, "Reading %d complete: %.2f dBm\n", j, dbm);
    return text;
}

std::string measurement_lines(double dbm) {
    char median[64];
    std::snprintf(median, sizeof median, "Using median value: %.2f dBm\n", dbm);
    return "Taking reading 1 of 3...\n" + reading_lines(1, dbm) + "Taking reading 2 of 3...\n" +
           reading_lines(2, dbm) + "Taking reading 3 of 3...\n" + reading_lines(3, dbm) + median;
}

TEST_F(Transmitter, MeasurementTakesTheMedianOrTheMeanOfWhatSucceeded) {
    // Successful reading k (0-based) reads code 0x200 + k on both channels.
    write_table(table_path("5_8"),
                coded_table({{0x200, 10.0}, {0x201, 14.0}, {0x202, 11.0}, {0x203, 99.0}}));
    write_table(table_path("2_4"),
                coded_table({{0x200, 20.0}, {0x201, 24.0}, {0x202, 21.0}, {0x203, 99.0}}));
    std::vector<std::string> script;
    for (int reading = 0; reading < 4; ++reading)
        script.insert(script.end(), ADJUST_SAMPLES, code_words(0x200 + reading));
    const std::string reset = "Failed to reset device, retrying in 5 seconds...\n";
    struct Case {
        const char* name;
        std::vector<bool> attempts;
        double band;
        double result;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"three readings",
         {true, true, true},
         5.8,
         11.0,
         "Taking reading 1 of 3...\n" + reading_lines(1, 10) + "Taking reading 2 of 3...\n" +
             reading_lines(2, 14) + "Taking reading 3 of 3...\n" + reading_lines(3, 11) +
             "Using median value: 11.00 dBm\n"},
        {"channel 0 for 2.4",
         {true, true, true},
         2.4,
         21.0,
         "Taking reading 1 of 3...\n" + reading_lines(1, 20) + "Taking reading 2 of 3...\n" +
             reading_lines(2, 24) + "Taking reading 3 of 3...\n" + reading_lines(3, 21) +
             "Using median value: 21.00 dBm\n"},
        {"third fails twice",
         {true, true, false, false},
         5.1,
         12.0,
         "Taking reading 1 of 3...\n" + reading_lines(1, 10) + "Taking reading 2 of 3...\n" +
             reading_lines(2, 14) + "Taking reading 3 of 3...\n" + reset +
             "Reading 3 failed, retrying...\n" + reset + "Reading 3 failed again!\n" +
             "Got 2 valid readings out of 3 expected\nUsing average of valid readings: 12.00 "
             "dBm\n"},
        {"first retried",
         {false, true, true, true},
         5.8,
         11.0,
         "Taking reading 1 of 3...\n" + reset + "Reading 1 failed, retrying...\n" +
             reading_lines(1, 10) + "Taking reading 2 of 3...\n" + reading_lines(2, 14) +
             "Taking reading 3 of 3...\n" + reading_lines(3, 11) +
             "Using median value: 11.00 dBm\n"},
        {"only one",
         {false, false, true, false, false},
         5.8,
         10.0,
         "Taking reading 1 of 3...\n" + reset + "Reading 1 failed, retrying...\n" + reset +
             "Reading 1 failed again!\nTaking reading 2 of 3...\n" + reading_lines(2, 10) +
             "Taking reading 3 of 3...\n" + reset + "Reading 3 failed, retrying...\n" + reset +
             "Reading 3 failed again!\nGot 1 valid readings out of 3 expected\n"
             "Using average of valid readings: 10.00 dBm\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!on_own_board({failing_attempts(c.attempts), script}, c.name))
            continue;
        init_csv_cache_manager();
        sensor_data_t record{};
        double result = 0;
        const Captured got =
            capture_output([&] { result = apply_power_and_read_dbm(fd, 7, &record, c.band); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(take_configure_calls(), "-p 7\n");
        EXPECT_EQ(c.band == 2.4 ? record.ch0_dbm : record.ch1_dbm, c.result);
        EXPECT_EQ(take_sleeps_us().front(), 250000);
    }
}

TEST_F(Transmitter, MeasurementWaits) {
    if (!on_own_board({{}, {code_words(0x100)}}))
        return;
    sensor_data_t record{};
    write_table(table_path("5_8"), coded_table({{0x100, 15.0}}));
    write_table(table_path("2_4"), coded_table({{0x100, 15.0}}));
    double result = 0;
    capture_output([&] { result = apply_power_and_read_dbm(fd, 12, &record, 5.8); });
    EXPECT_EQ(result, 15.0);
    std::vector<long long> expected{250000};
    for (int reading = 0; reading < 3; ++reading) {
        for (int i = 0; i < ADJUST_SAMPLES; ++i) expected.push_back(1000);
        if (reading < 2)
            expected.push_back(100000);
    }
    EXPECT_EQ(take_sleeps_us(), expected);
}

TEST_F(Transmitter, MeasurementRejectsLevelsAndUnusableSnapshots) {
    if (!on_own_board({{}, {code_words(0x100)}}))
        return;
    for (int level : {0, 61, -5}) {
        sensor_data_t record{};
        double result = 0;
        const Captured got =
            capture_output([&] { result = apply_power_and_read_dbm(fd, level, &record, 5.8); });
        EXPECT_EQ(result, -1.0);
        EXPECT_EQ(got.err,
                  "Invalid power level " + std::to_string(level) + ". Must be between 1 and 60.\n");
        EXPECT_EQ(take_configure_calls(), "");
    }
    // MCS 0 at frequency 0 is no snapshot: every conversion fails.
    write_table(table_path("5_8"), coded_table({{0x100, 15.0}}));
    write_table(table_path("2_4"), coded_table({{0x100, 15.0}}));
    g_global_mcs = 0;
    g_global_frequency = 0;
    sensor_data_t record{};
    double result = 0;
    const Captured got =
        capture_output([&] { result = apply_power_and_read_dbm(fd, 5, &record, 5.8); });
    EXPECT_EQ(result, -1.0);
    const std::string invalid = "Invalid MCS value: -9999. Must be 0-7\n";
    std::string six;
    for (int i = 0; i < 6; ++i) six += invalid;
    EXPECT_EQ(got.err, six);
    EXPECT_NE(got.out.find("Reading 3 failed again!\nAll readings failed or were skipped!\n"),
              std::string::npos);
}

// A board on which power level L reads dbm[L] (0 dBm at `zero_levels`)
// through `*table`, a table that ascends and never falls as a conversion
// table must: each level reads the code of its value's rank.
BoardSetup levels_reading(const std::map<int, double>& dbm, const std::vector<int>& zero_levels,
                          std::map<int, double>* table) {
    std::vector<double> values;
    for (const auto& [level, value] : dbm) values.push_back(value);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    *table = {{0, 0.0}};
    for (size_t rank = 0; rank < values.size(); ++rank)
        (*table)[0x104 + 4 * static_cast<int>(rank)] = values[rank];
    BoardSetup board{{}, {}, true};
    for (const auto& [level, value] : dbm) {
        const bool zero = std::count(zero_levels.begin(), zero_levels.end(), level) > 0;
        const int rank =
            static_cast<int>(std::lower_bound(values.begin(), values.end(), value) - values.begin());
        board.adc_script.push_back(std::to_string(level) + " " +
                                   code_words(zero ? 0 : 0x104 + 4 * rank));
    }
    return board;
}

struct Search {
    const char* name;
    double target;
    double frequency;
    std::map<int, double> dbm;  // by level; others from `slope`
    double base, slope;         // dBm = base + slope * level
    std::vector<int> zero_levels;
    std::string calls;
    int chosen;  // -1: current_power untouched
    std::vector<std::string> lines;
    std::string err;
};

TEST_F(Transmitter, PowerSearch) {
    const std::vector<Search> cases = {
        {"halving to a level within tolerance",
         20,
         5805,
         {{30, 22.0}, {15, 18.0}, {22, 20.2}},
         10,
         0.3,
         {},
         "-p 30\n-p 15\n-p 22\n-p 22\n",
         22,
         {"Searching for optimal power level (range: 1-60) to achieve 20.00 dBm at 5.8 GHz...\n"
          "Starting binary search for power level...\nTarget dBm: 20.0\n",
          "Testing power level 30 -> 22.0 dBm\nNew best power level found: 30 (22.0 dBm, 2.0 from "
          "target)\ndBm too high, searching lower range (1 to 29)\n",
          "Testing power level 15 -> 18.0 dBm\ndBm too low, searching higher range (16 to 29)\n",
          "Testing power level 22 -> 20.2 dBm\nNew best power level found: 22 (20.2 dBm, 0.2 from "
          "target)\nFound power level within tolerance!\nOptimal power level found: 22\n"},
         ""},
        {"target on the 0.25 dB grid, channel 0",
         17.3,
         2412,
         {},
         5,
         0.5,
         {},
         "-p 30\n-p 15\n-p 22\n-p 26\n-p 24\n-p 24\n",
         24,
         {"to achieve 17.25 dBm at 2.4 GHz...\n", "Testing power level 24 -> 17.0 dBm\n",
          "Found power level within tolerance!\nOptimal power level found: 24\n"},
         ""},
        {"unreachable: halving then the last index",
         25,
         5180,
         {},
         10,
         0.1,
         {},
         "-p 30\n-p 45\n-p 53\n-p 57\n-p 59\n-p 60\n-p 60\n",
         60,
         {"at 5.1 GHz...\n", "dBm too low, searching higher range (58 to 60)\n",
          "dBm too low, searching higher range (60 to 60)\n",
          "Testing power level 60 -> 16.0 dBm\n",
          "Binary search complete. Best power level found: 60\nOptimal power level found: 60\n"},
         ""},
        {"zero reading at a high index",
         20,
         5805,
         {},
         10,
         0.3,
         {30},
         "-p 30\n-p 1\n",
         1,
         {"Testing power level 30 -> 0.0 dBm\nDetected 0 dBm reading at high power level 30\n"
          "This indicates potential signal issues - using minimum power for safety\n"
          "Binary search complete. Best power level found: 1 (selecting minimum power due to zero "
          "readings at high power)\nOptimal power level found: 1\n"},
         ""},
        {"zero reading at a low index is a reading",
         20,
         5805,
         {{30, 25}},
         10,
         0.3,
         {15},
         "-p 30\n-p 15\n-p 22\n-p 26\n-p 28\n-p 29\n-p 29\n",
         29,
         {"Testing power level 15 -> 0.0 dBm\ndBm too low, searching higher range (16 to 29)\n",
          "Binary search complete. Best power level found: 29\nOptimal power level found: 29\n"},
         ""},
        {"capped",
         31,
         5805,
         {{30, 30.1}},
         0,
         0,
         {},
         "-p 30\n-p 30\n",
         30,
         {"to achieve 30.00 dBm at 5.8 GHz"},
         "Desired dBm is too high. Capping to 30 dBm.\n"},
        {"29.9 is 30 without capping",
         29.9,
         5805,
         {{30, 30.1}},
         0,
         0,
         {},
         "-p 30\n-p 30\n",
         30,
         {"to achieve 30.00 dBm"},
         ""},
        {"a level within the uncertainty of the limit is never kept",
         30,
         5805,
         {{45, 30.8}},
         10,
         0.3,
         {},
         "-p 30\n-p 45\n-p 37\n-p 41\n-p 43\n-p 44\n-p 44\n",
         44,
         {"Testing power level 45 -> 30.8 dBm\nPower level 45 reads 30.80 dBm: with the "
          "detector's uncertainty (0.72 dB) it may be above the safety threshold of 31.5 dBm, "
          "counted as too high\ndBm too high, searching lower range (31 to 44)\n",
          "Binary search complete. Best power level found: 44\nOptimal power level found: 44\n"},
         ""},
        {"17.375 rounds up",
         17.375,
         5805,
         {{30, 17.5}},
         0,
         0,
         {},
         "-p 30\n-p 30\n",
         30,
         {"to achieve 17.50 dBm", "Target dBm: 17.5\n"},
         ""},
        {"below zero",
         -2,
         5805,
         {{30, 0.2}},
         0,
         0,
         {},
         "-p 30\n-p 30\n",
         30,
         {"to achieve 0.00 dBm"},
         "Desired dBm is too low. Setting it to 0.\n"},
        {"5500 MHz has no search band",
         20,
         5500,
         {},
         10,
         0.3,
         {},
         "",
         -1,
         {},
         "Error: Invalid frequency band. Must be 2.4, 5.1, or 5.8 GHz band.\n"},
        {"5300 MHz neither",
         20,
         5300,
         {},
         10,
         0.3,
         {},
         "",
         -1,
         {},
         "Error: Invalid frequency band. Must be 2.4, 5.1, or 5.8 GHz band.\n"},
        {"900 MHz neither",
         20,
         900,
         {},
         10,
         0.3,
         {},
         "",
         -1,
         {},
         "Error: Invalid frequency band. Must be 2.4, 5.1, or 5.8 GHz band.\n"},
        {"not a number",
         20,
         NAN,
         {},
         10,
         0.3,
         {},
         "",
         -1,
         {},
         "Error: Invalid frequency band. Must be 2.4, 5.1, or 5.8 GHz band.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::map<int, double> dbm;
        for (int level = 1; level <= 60; ++level) {
            const auto it = c.dbm.find(level);
            dbm[level] = it != c.dbm.end() ? it->second : c.base + c.slope * level;
        }
        std::map<int, double> table;
        if (!on_own_board(levels_reading(dbm, c.zero_levels, &table)))
            continue;
        init_csv_cache_manager();
        write_table(table_path("5_8"), coded_table(table));
        write_table(table_path("5_1"), coded_table(table));
        write_table(table_path("2_4"), coded_table(table));
        g_global_frequency = static_cast<int>(std::isnan(c.frequency) ? 5805 : c.frequency);
        take_configure_calls();
        sensor_data_t record{};
        bool adjust = true;
        int current = 99;
        const Captured got =
            capture_output([&] { set_dBm(fd, &record, &adjust, &current, c.target, c.frequency); });
        EXPECT_FALSE(adjust);
        EXPECT_EQ(take_configure_calls(), c.calls);
        EXPECT_EQ(current, c.chosen < 0 ? 99 : c.chosen);
        EXPECT_EQ(got.err, c.err);
        size_t from = 0;
        for (const auto& line : c.lines) {
            const size_t at = got.out.find(line, from);
            EXPECT_NE(at, std::string::npos) << "missing in order: " << line << "\n" << got.out;
            if (at != std::string::npos)
                from = at + line.size();
        }
        if (c.chosen < 0) {
            EXPECT_EQ(got.out, "");
        }
    }
}

TEST_F(Transmitter, SearchOutputInFull) {
    std::map<int, double> dbm, table;
    for (int level = 1; level <= 60; ++level) dbm[level] = level == 30 ? 20.1 : 5;
    if (!on_own_board(levels_reading(dbm, {}, &table)))
        return;
    write_table(table_path("5_8"), coded_table(table));
    write_table(table_path("2_4"), coded_table(table));
    sensor_data_t record{};
    bool adjust = true;
    int current = 0;
    const Captured got =
        capture_output([&] { set_dBm(fd, &record, &adjust, &current, 20, 5805.0); });
    // A table this far from the reference curves is warned about first.
    const std::string warning = "Warning: conversion table /data/quillon/vtx/5_8_mv_to_dbm.csv ";
    ASSERT_EQ(got.out.compare(0, warning.size(), warning), 0) << got.out;
    EXPECT_EQ(got.out.substr(got.out.find('\n') + 1),
              "Searching for optimal power level (range: 1-60) to achieve 20.00 dBm at 5.8 GHz...\n"
              "Starting binary search for power level...\n"
              "Target dBm: 20.0\n" +
                  measurement_lines(20.1) +
                  "Testing power level 30 -> 20.1 dBm\n"
                  "New best power level found: 30 (20.1 dBm, 0.1 from target)\n"
                  "Found power level within tolerance!\n"
                  "Optimal power level found: 30\n");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(current, 30);
}

}  // namespace
