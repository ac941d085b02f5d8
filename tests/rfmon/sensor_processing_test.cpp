// One reading, one power measurement and the power search, against the
// scripted bus, tables written to the hermetic /data and a stand-in
// orvi-configure-vtx on PATH that records its calls.
#include "sensor_processing.h"

#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fake_i2c_bus.h"
#include "power_search.h"
#include "table_files.h"

namespace {

using Trace = std::vector<std::string>;

constexpr int kReadingTransfers = 9;  // reset, configuration, temperature
constexpr int kSampleTransfers = 3;   // sequence start, buffer command, buffer read

double code_mv(int code) {
    return code * 1800.0 / 4096.0;
}

// Table rows keyed exactly at the voltage of each ADC code.
std::string coded_table(const std::map<int, double>& dbm_of_code) {
    std::string text = "mV,MCS0,MCS1,MCS2,MCS3,MCS4,MCS5,MCS6,MCS7\n";
    for (const auto& [code, dbm] : dbm_of_code) {
        char row[512];
        std::snprintf(row, sizeof row, "%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g\n",
                      code_mv(code), dbm, dbm, dbm, dbm, dbm, dbm, dbm, dbm);
        text += row;
    }
    return text;
}

// Tables whose value tells the band and MCS apart: band base + MCS / 10.
std::string band_table(double base) {
    std::string text = "mV,MCS0,MCS1,MCS2,MCS3,MCS4,MCS5,MCS6,MCS7\n0,1,1,1,1,1,1,1,1\n900";
    for (int mcs = 0; mcs < 8; ++mcs) text += "," + std::to_string(base + mcs / 10.0);
    return text + "\n";
}

class Reading : public TableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        write_table(table_path("2_4"), band_table(24));
        write_table(table_path("5_1"), band_table(51));
        write_table(table_path("5_8"), band_table(58));
        bus.buffer = [](int) { return words_buffer(0x8000, 0x8000); };  // 900 mV each
    }
    FakeI2cBus bus;
};

Trace reading_trace(int samples) {
    Trace t{"S 1d",          "W 1d 08 17 0a", "W 1d 08 14 01", "W 1d 08 17 00",
            "W 1d 08 28 02", "W 1d 08 24 00", "W 1d 08 1c 06", "W 1d 08 20 03",
            "S 48",          "W 48 00",       "R 48 19 00",    "S 1d"};
    for (int i = 0; i < samples; ++i) {
        t.push_back("W 1d 08 1e 01");
        t.push_back("W 1d 3b");
        t.push_back(
            "R 1d 80 00 80 00 80 00 80 00 80 00 80 00 80 00 80 00 80 00 80 00 80 00 80 "
            "00 80 00 80 00 80 00 80 00");
    }
    return t;
}

TEST_F(Reading, ConfiguresReadsTemperatureAndSamples) {
    sensor_data_t record{};
    record.ch0_mv = 77;
    record.ch1_dbm = 77;
    record.sample_count = 77;
    record.temperature_c = -9999.0;
    Captured got =
        capture_output([&] { EXPECT_EQ(process_sensor_data(&record, bus.fd, 3, 5805, 4, 0.0001), 0); });
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(bus.trace(), reading_trace(4));
    EXPECT_EQ(bus.sleeps_us, (std::vector<long long>{100, 100, 100, 100}));
    EXPECT_EQ(record.sample_count, 4);
    EXPECT_EQ(record.ch0_mv, 900.0);
    EXPECT_EQ(record.ch1_mv, 900.0);
    EXPECT_DOUBLE_EQ(record.ch0_dbm, 24.3);
    EXPECT_DOUBLE_EQ(record.ch1_dbm, 58.3);
    EXPECT_EQ(record.temperature_c, 25.0);
    EXPECT_TRUE(record.temp_valid);
    // 100 us pauses need a tighter timer than the default 50 us slack.
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
}

TEST_F(Reading, EachFailingStepReportsAndStops) {
    struct Case {
        const char* name;
        int transfer;  // failing read or write, -1 none
        int select;    // failing ioctl, -1 none
        int result;
        const char* out;
        const char* err;
        int samples_done;
        bool temperature_read;
    };
    const char* w = "Failed to write to the i2c bus: Remote I/O error\n";
    const char* acquire =
        "Failed to acquire bus access and/or talk to ADS7142: No such device or address\n";
    const char* reset = "Failed to reset device, retrying in 5 seconds...\n";
    const char* buffer = "Failed to read data buffer entries, retrying in 5 seconds...\n";
    const std::vector<Case> cases = {
        {"select converter", -1, 0, -1, "", acquire, 0, false},
        {"write key", 0, -1, -1, reset, w, 0, false},
        {"reset", 1, -1, -1, reset, w, 0, false},
        {"write key off", 2, -1, -1, reset, w, 0, false},
        {"data format", 3, -1, -1,
         "Failed to configure DOUT_FORMAT_CFG, retrying in 5 seconds...\n", w, 0, false},
        {"input", 4, -1, -1, "Failed to configure CHANNEL_INPUT_CFG, retrying in 5 seconds...\n", w,
         0, false},
        {"mode", 5, -1, -1, "Failed to configure OPMODE_SEL, retrying in 5 seconds...\n", w, 0,
         false},
        {"channels", 6, -1, -1, "Failed to configure AUTO_SEQ_CHEN, retrying in 5 seconds...\n", w,
         0, false},
        {"temperature pointer", 7, -1, 0, "Failed to read temperature data.\n", w, 3, false},
        {"temperature word", 8, -1, 0, "Failed to read temperature data.\n",
         "Failed to read from the i2c bus: Remote I/O error\n", 3, false},
        {"temperature sensor absent", -1, 1, 0,
         "Temperature sensor not found, setting temperature to NA.\n", "", 3, false},
        {"select converter again", -1, 2, -1, "", acquire, 0, true},
        {"sequence start", 9, -1, -1,
         "Failed to start the conversion sequence, retrying in 5 seconds...\n", w, 0, true},
        {"buffer command", 10, -1, -1, buffer,
         "Failed to send read command to the i2c bus: Remote I/O error\n", 0, true},
        {"buffer read", 11, -1, -1, buffer, "Failed to read from the i2c bus: Remote I/O error\n",
         0, true},
        {"second buffer read", 14, -1, -1, buffer,
         "Failed to read from the i2c bus: Remote I/O error\n", 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeI2cBus failing;
        failing.buffer = bus.buffer;
        if (c.transfer >= 0)
            failing.fail_transfers = {c.transfer};
        failing.fail_select = c.select;
        sensor_data_t record{};
        record.temperature_c = 31.5;
        record.temp_valid = true;
        int result = 0;
        const Captured got =
            capture_output([&] { result = process_sensor_data(&record, failing.fd, 0, 5805, 3, 0.0001); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(got.err, c.err);
        EXPECT_EQ(record.sample_count, c.samples_done);
        // The temperature is only ever replaced by a fresh value.
        EXPECT_EQ(record.temperature_c, c.temperature_read ? 25.0 : 31.5);
        EXPECT_EQ(record.temp_valid, c.select != 1);
        if (c.result < 0) {
            EXPECT_EQ(record.ch0_dbm, 0);
            EXPECT_EQ(record.ch1_dbm, 0);
        }
    }
}

TEST_F(Reading, ChannelOneTableFollowsTheFrequency) {
    struct Case {
        int frequency;
        double ch1_dbm;
        const char* err;
    };
    const std::vector<Case> cases = {
        {5805, 58.1, ""},
        {5600, 58.1, ""},
        {5999, 58.1, ""},
        {5500, 51.1, ""},
        {5000, 51.1, ""},
        {5599, 51.1, ""},
        {2412, 24.1, ""},
        {2300, 24.1, ""},
        {2599, 24.1, ""},
        {900, 58.1, "Warning: Invalid frequency 900 MHz\n"},
        {6000, 58.1, "Warning: Invalid frequency 6000 MHz\n"},
        {4999, 58.1, "Warning: Invalid frequency 4999 MHz\n"},
        {-9999, 58.1, "Warning: Invalid frequency -9999 MHz\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frequency);
        sensor_data_t record{};
        int result = 0;
        const Captured got =
            capture_output([&] { result = process_sensor_data(&record, bus.fd, 1, c.frequency, 1, 0); });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(got.err, c.err);
        EXPECT_DOUBLE_EQ(record.ch0_dbm, 24.1);
        EXPECT_DOUBLE_EQ(record.ch1_dbm, c.ch1_dbm);
    }
}

TEST_F(Reading, ConversionFailures) {
    sensor_data_t record{};
    Captured got =
        capture_output([&] { EXPECT_EQ(process_sensor_data(&record, bus.fd, -9999, -9999, 1, 0), -1); });
    EXPECT_EQ(got.out, "Failed to read CSV data for channel 0\n");
    EXPECT_EQ(got.err, "Invalid MCS value: -9999. Must be 0-7\n");

    std::remove(table_path("5_8").c_str());
    got = capture_output([&] { EXPECT_EQ(process_sensor_data(&record, bus.fd, 2, 5805, 1, 0), -1); });
    EXPECT_EQ(got.out, "Failed to read CSV data for channel 1\n");
    EXPECT_EQ(got.err, "Error opening csv dbm conversion file: No such file or directory\n");
    EXPECT_EQ(record.ch0_dbm, 0);  // nothing stored on a failed reading
    EXPECT_EQ(record.ch0_mv, 900.0);
}

TEST_F(Reading, NoSamplesConvertsZeroMillivolts) {
    sensor_data_t record{};
    record.ch0_mv = 500;
    record.ch1_mv = 500;
    ASSERT_EQ(process_sensor_data(&record, bus.fd, 0, 5180, 0, 0.0001), 0);
    EXPECT_EQ(record.sample_count, 0);
    EXPECT_EQ(record.ch0_mv, 0);
    EXPECT_EQ(record.ch1_mv, 0);
    EXPECT_EQ(record.ch0_dbm, 1);  // the 0 mV row
    EXPECT_EQ(record.ch1_dbm, 1);
    EXPECT_EQ(bus.trace(), reading_trace(0));
    EXPECT_TRUE(bus.sleeps_us.empty());
}

TEST_F(Reading, PauseIsTruncatedToWholeMicroseconds) {
    const std::vector<std::pair<double, long long>> cases = {
        {0.0001, 100}, {0.001, 1000}, {0.0000019, 1}, {2.5, 2500000}, {0.0, 0}, {-1.0, 0}, {NAN, 0},
    };
    for (const auto& [seconds, us] : cases) {
        SCOPED_TRACE(seconds);
        FakeI2cBus b;
        b.buffer = bus.buffer;
        sensor_data_t record{};
        ASSERT_EQ(process_sensor_data(&record, b.fd, 0, 5805, 2, seconds), 0);
        if (us == 0) {
            EXPECT_TRUE(b.sleeps_us.empty());
        } else {
            EXPECT_EQ(b.sleeps_us, (std::vector<long long>{us, us}));
        }
    }
}

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

// A transmitter whose power index is set by the stand-in tool and whose
// detector words come from a model of (power index, buffer read number).
class Transmitter : public TableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        const std::string tool = dir + "/orvi-configure-vtx";
        write_file(tool, "#!/bin/sh\necho \"$*\" >> \"" + dir +
                             "/calls\"\n[ \"$1\" = -p ] && echo \"$2\" > \"" + dir +
                             "/power\"\nexit 0\n");
        chmod(tool.c_str(), 0755);
        old_path = getenv("PATH");
        setenv("PATH", (dir + ":" + old_path).c_str(), 1);
        g_global_mcs = 3;
        g_global_frequency = 5805;
        bus.buffer = [this](int n) {
            const int level = std::atoi(read_file(dir + "/power").c_str());
            const int code = model(level, n);
            return words_buffer(static_cast<uint16_t>(code << 4), static_cast<uint16_t>(code << 4));
        };
    }
    void TearDown() override {
        setenv("PATH", old_path.c_str(), 1);
        TableTest::TearDown();
    }
    std::string calls() { return read_file(dir + "/calls"); }

    // Transfers of reading attempts in order (true: succeeds), and the ones
    // that make the failing attempts fail (their first write).
    static std::set<int> failing_attempts(const std::vector<bool>& attempts) {
        std::set<int> fail;
        int at = 0;
        for (bool ok : attempts) {
            if (ok) {
                at += kReadingTransfers + kSampleTransfers * ADJUST_SAMPLES;
            } else {
                fail.insert(at);
                at += 1;
            }
        }
        return fail;
    }

    const ScratchDir scratch{"measurement-vtx"};
    const std::string& dir = scratch.path();
    std::string old_path;
    std::function<int(int level, int buffer_read)> model = [](int, int) { return 0x100; };
    FakeI2cBus bus;
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
    model = [](int, int n) { return 0x200 + n / ADJUST_SAMPLES; };
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
        init_csv_cache_manager();
        FakeI2cBus b;
        b.buffer = bus.buffer;
        b.fail_transfers = failing_attempts(c.attempts);
        std::remove((dir + "/calls").c_str());
        sensor_data_t record{};
        double result = 0;
        const Captured got =
            capture_output([&] { result = apply_power_and_read_dbm(b.fd, 7, &record, c.band); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(calls(), "-p 7\n");
        EXPECT_EQ(c.band == 2.4 ? record.ch0_dbm : record.ch1_dbm, c.result);
        EXPECT_EQ(b.sleeps_us.front(), 250000);
    }
}

TEST_F(Transmitter, MeasurementWaits) {
    sensor_data_t record{};
    write_table(table_path("5_8"), coded_table({{0x100, 15.0}}));
    write_table(table_path("2_4"), coded_table({{0x100, 15.0}}));
    double result = 0;
    capture_output([&] { result = apply_power_and_read_dbm(bus.fd, 12, &record, 5.8); });
    EXPECT_EQ(result, 15.0);
    std::vector<long long> expected{250000};
    for (int reading = 0; reading < 3; ++reading) {
        for (int i = 0; i < ADJUST_SAMPLES; ++i) expected.push_back(1000);
        if (reading < 2)
            expected.push_back(100000);
    }
    EXPECT_EQ(bus.sleeps_us, expected);
}

TEST_F(Transmitter, MeasurementRejectsLevelsAndUnusableSnapshots) {
    for (int level : {0, 61, -5}) {
        sensor_data_t record{};
        double result = 0;
        const Captured got =
            capture_output([&] { result = apply_power_and_read_dbm(bus.fd, level, &record, 5.8); });
        EXPECT_EQ(result, -1.0);
        EXPECT_EQ(got.err,
                  "Invalid power level " + std::to_string(level) + ". Must be between 1 and 60.\n");
        EXPECT_EQ(calls(), "");
    }
    // MCS 0 at frequency 0 is no snapshot: every conversion fails.
    write_table(table_path("5_8"), coded_table({{0x100, 15.0}}));
    write_table(table_path("2_4"), coded_table({{0x100, 15.0}}));
    g_global_mcs = 0;
    g_global_frequency = 0;
    sensor_data_t record{};
    double result = 0;
    const Captured got =
        capture_output([&] { result = apply_power_and_read_dbm(bus.fd, 5, &record, 5.8); });
    EXPECT_EQ(result, -1.0);
    const std::string invalid = "Invalid MCS value: -9999. Must be 0-7\n";
    std::string six;
    for (int i = 0; i < 6; ++i) six += invalid;
    EXPECT_EQ(got.err, six);
    EXPECT_NE(got.out.find("Reading 3 failed again!\nAll readings failed or were skipped!\n"),
              std::string::npos);
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
        std::map<int, double> table;
        for (int level = 1; level <= 60; ++level) {
            const auto it = c.dbm.find(level);
            table[0x100 + level * 4] = it != c.dbm.end() ? it->second : c.base + c.slope * level;
        }
        table[0] = 0.0;
        init_csv_cache_manager();
        write_table(table_path("5_8"), coded_table(table));
        write_table(table_path("5_1"), coded_table(table));
        write_table(table_path("2_4"), coded_table(table));
        const std::vector<int> zeros = c.zero_levels;
        model = [zeros](int level, int) {
            for (int z : zeros) {
                if (z == level)
                    return 0;
            }
            return 0x100 + level * 4;
        };
        g_global_frequency = static_cast<int>(std::isnan(c.frequency) ? 5805 : c.frequency);
        std::remove((dir + "/calls").c_str());
        FakeI2cBus b;
        b.buffer = bus.buffer;
        sensor_data_t record{};
        bool adjust = true;
        int current = 99;
        const Captured got =
            capture_output([&] { set_dBm(b.fd, &record, &adjust, &current, c.target, c.frequency); });
        EXPECT_FALSE(adjust);
        EXPECT_EQ(calls(), c.calls);
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
    std::map<int, double> table{{0, 0.0}};
    for (int level = 1; level <= 60; ++level) table[0x100 + level * 4] = level == 30 ? 20.1 : 5;
    write_table(table_path("5_8"), coded_table(table));
    write_table(table_path("2_4"), coded_table(table));
    model = [](int level, int) { return 0x100 + level * 4; };
    sensor_data_t record{};
    bool adjust = true;
    int current = 0;
    const Captured got = capture_output([&] { set_dBm(bus.fd, &record, &adjust, &current, 20, 5805.0); });
    EXPECT_EQ(got.out,
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
