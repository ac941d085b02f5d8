// One reading on simulated boards whose converter words are scripted, with
// tables written to the hermetic /data.
#include "sensor_processing.h"

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

namespace {

using Trace = std::vector<std::string>;

// Tables whose value tells the band and MCS apart: band base + MCS / 10.
std::string band_table(double base) {
    std::string text = "mV,MCS0,MCS1,MCS2,MCS3,MCS4,MCS5,MCS6,MCS7\n0,1,1,1,1,1,1,1,1\n900";
    for (int mcs = 0; mcs < 8; ++mcs) text += "," + std::to_string(base + mcs / 10.0);
    return text + "\n";
}

class Reading : public BoardTableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        write_table(table_path("2_4"), band_table(24));
        write_table(table_path("5_1"), band_table(51));
        write_table(table_path("5_8"), band_table(58));
    }
    // 900 mV on each channel.
    bool on_reading_board(const std::vector<std::string>& options = {}) {
        return on_own_board({options, {"8000 8000"}});
    }
};

Trace reading_trace(int samples) {
    Trace t{"select 0x1d ok",         "write 0x1d 08 17 0a ok", "write 0x1d 08 14 01 ok",
            "write 0x1d 08 17 00 ok", "write 0x1d 08 28 02 ok", "write 0x1d 08 24 00 ok",
            "write 0x1d 08 1c 06 ok", "write 0x1d 08 20 03 ok", "select 0x48 ok",
            "write 0x48 00 ok",       "read 0x48 2 ok",         "select 0x1d ok"};
    for (int i = 0; i < samples; ++i)
        t.insert(t.end(), {"write 0x1d 08 1e 01 ok", "write 0x1d 3b ok", "read 0x1d 32 ok"});
    return t;
}

TEST_F(Reading, ConfiguresReadsTemperatureAndSamples) {
    if (!on_reading_board())
        return;
    sensor_data_t record{};
    record.ch0_mv = 77;
    record.ch1_dbm = 77;
    record.sample_count = 77;
    record.temperature_c = -9999.0;
    Captured got =
        capture_output([&] { EXPECT_EQ(process_sensor_data(&record, fd, 3, 5805, 4, 0.0001), 0); });
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(take_i2c_trace(), reading_trace(4));
    EXPECT_EQ(take_sleeps_us(), (std::vector<long long>{100, 100, 100, 100}));
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
        const char* fault;  // the failing read or write, or address selection
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
        {"select converter", "select:enxio:at=1", -1, "", acquire, 0, false},
        {"write key", "transfer:nak:at=1", -1, reset, w, 0, false},
        {"reset", "transfer:nak:at=2", -1, reset, w, 0, false},
        {"write key off", "transfer:nak:at=3", -1, reset, w, 0, false},
        {"data format", "transfer:nak:at=4", -1,
         "Failed to configure DOUT_FORMAT_CFG, retrying in 5 seconds...\n", w, 0, false},
        {"input", "transfer:nak:at=5", -1,
         "Failed to configure CHANNEL_INPUT_CFG, retrying in 5 seconds...\n", w, 0, false},
        {"mode", "transfer:nak:at=6", -1,
         "Failed to configure OPMODE_SEL, retrying in 5 seconds...\n", w, 0, false},
        {"channels", "transfer:nak:at=7", -1,
         "Failed to configure AUTO_SEQ_CHEN, retrying in 5 seconds...\n", w, 0, false},
        {"temperature pointer", "transfer:nak:at=8", 0, "Failed to read temperature data.\n", w, 3,
         false},
        {"temperature word", "transfer:nak:at=9", 0, "Failed to read temperature data.\n",
         "Failed to read from the i2c bus: Remote I/O error\n", 3, false},
        {"temperature sensor absent", "select:enxio:at=2", 0,
         "Temperature sensor not found, setting temperature to NA.\n", "", 3, false},
        {"select converter again", "select:enxio:at=3", -1, "", acquire, 0, true},
        {"sequence start", "transfer:nak:at=10", -1,
         "Failed to start the conversion sequence, retrying in 5 seconds...\n", w, 0, true},
        {"buffer command", "transfer:nak:at=11", -1, buffer,
         "Failed to send read command to the i2c bus: Remote I/O error\n", 0, true},
        {"buffer read", "transfer:nak:at=12", -1, buffer,
         "Failed to read from the i2c bus: Remote I/O error\n", 0, true},
        {"second buffer read", "transfer:nak:at=15", -1, buffer,
         "Failed to read from the i2c bus: Remote I/O error\n", 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!on_reading_board({"--fault", c.fault}))
            continue;
        sensor_data_t record{};
        record.temperature_c = 31.5;
        record.temp_valid = true;
        int result = 0;
        const Captured got =
            capture_output([&] { result = process_sensor_data(&record, fd, 0, 5805, 3, 0.0001); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(got.err, c.err);
        EXPECT_EQ(record.sample_count, c.samples_done);
        // The temperature is only ever replaced by a fresh value.
        EXPECT_EQ(record.temperature_c, c.temperature_read ? 25.0 : 31.5);
        EXPECT_EQ(record.temp_valid, std::string(c.fault) != "select:enxio:at=2");
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
    if (!on_reading_board())
        return;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frequency);
        sensor_data_t record{};
        int result = 0;
        const Captured got = capture_output(
            [&] { result = process_sensor_data(&record, fd, 1, c.frequency, 1, 0); });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(got.err, c.err);
        EXPECT_DOUBLE_EQ(record.ch0_dbm, 24.1);
        EXPECT_DOUBLE_EQ(record.ch1_dbm, c.ch1_dbm);
    }
}

TEST_F(Reading, ConversionFailures) {
    if (!on_reading_board())
        return;
    sensor_data_t record{};
    Captured got = capture_output(
        [&] { EXPECT_EQ(process_sensor_data(&record, fd, -9999, -9999, 1, 0), -1); });
    EXPECT_EQ(got.out, "Failed to read CSV data for channel 0\n");
    EXPECT_EQ(got.err, "Invalid MCS value: -9999. Must be 0-7\n");

    std::remove(table_path("5_8").c_str());
    got = capture_output([&] { EXPECT_EQ(process_sensor_data(&record, fd, 2, 5805, 1, 0), -1); });
    EXPECT_EQ(got.out, "Failed to read CSV data for channel 1\n");
    EXPECT_EQ(got.err, "Error opening csv dbm conversion file: No such file or directory\n");
    EXPECT_EQ(record.ch0_dbm, 0);  // nothing stored on a failed reading
    EXPECT_EQ(record.ch0_mv, 900.0);
}

TEST_F(Reading, NoSamplesConvertsZeroMillivolts) {
    if (!on_reading_board())
        return;
    sensor_data_t record{};
    record.ch0_mv = 500;
    record.ch1_mv = 500;
    ASSERT_EQ(process_sensor_data(&record, fd, 0, 5180, 0, 0.0001), 0);
    EXPECT_EQ(record.sample_count, 0);
    EXPECT_EQ(record.ch0_mv, 0);
    EXPECT_EQ(record.ch1_mv, 0);
    EXPECT_EQ(record.ch0_dbm, 1);  // the 0 mV row
    EXPECT_EQ(record.ch1_dbm, 1);
    EXPECT_EQ(take_i2c_trace(), reading_trace(0));
    EXPECT_TRUE(take_sleeps_us().empty());
}

TEST_F(Reading, PauseIsTruncatedToWholeMicroseconds) {
    const std::vector<std::pair<double, long long>> cases = {
        {0.0001, 100}, {0.001, 1000}, {0.0000019, 1}, {2.5, 2500000}, {0.0, 0}, {-1.0, 0}, {NAN, 0},
    };
    if (!on_reading_board())
        return;
    for (const auto& [seconds, us] : cases) {
        SCOPED_TRACE(seconds);
        sensor_data_t record{};
        ASSERT_EQ(process_sensor_data(&record, fd, 0, 5805, 2, seconds), 0);
        if (us == 0) {
            EXPECT_TRUE(take_sleeps_us().empty());
        } else {
            EXPECT_EQ(take_sleeps_us(), (std::vector<long long>{us, us}));
        }
    }
}

}  // namespace
