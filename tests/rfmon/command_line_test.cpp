// parse_arguments called directly: what each accepted command line leaves in
// the settings and in the calibration request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibration_sweep.h"
#include "command_line.h"
#include "monitor_state.h"

namespace {

struct Parsed {
    int result;
    std::string out;
    std::string err;
};

void reset_settings() {
    Average_Sampling = 300;
    PAUSE_BETWEEN_PRINTS = 0.0001;
    desired_dBm = 25.0;
    adjust_power = true;  // parse_arguments must clear it
    g_temp_test_flag = false;
    I2C_DEVICE[0] = '\0';
    g_calib_params = {};
    g_calib_params.frequency_count = 99;  // and clear this
}

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "orvi-rfmon");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    reset_settings();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Parsed p;
    p.result = parse_arguments(static_cast<int>(args.size()), argv.data());
    p.out = testing::internal::GetCapturedStdout();
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

std::vector<int> frequencies() {
    return std::vector<int>(g_calib_params.frequencies,
                            g_calib_params.frequencies + g_calib_params.frequency_count);
}

std::vector<int> mcs_values() {
    return std::vector<int>(g_calib_params.mcs_values,
                            g_calib_params.mcs_values + g_calib_params.mcs_count);
}

// Runs on a simulated board where bus 3 holds the detector and the sensor
// (the presence check runs the real i2cdetect).
class ParseArguments : public testing::Test {};

}  // namespace

TEST_F(ParseArguments, CalibrationRequests) {
    struct Case {
        std::vector<std::string> args;
        int mode;
        std::vector<int> frequencies;
        std::vector<int> mcs;
    };
    std::vector<std::string> ten{"-d", "3", "-calibrate", "-m", "0"};
    std::vector<int> ten_frequencies;
    for (int i = 0; i < 10; i++) {
        ten.push_back("-f");
        ten.push_back(std::to_string(5180 + 20 * i));
        ten_frequencies.push_back(5180 + 20 * i);
    }
    const std::vector<Case> cases = {
        {{"-d", "3", "-calibrate", "-f", "5180", "-f", "5800", "-m", "0", "-m", "7"},
         MODE_FULL_CALIBRATION, {5180, 5800}, {0, 7}},
        {{"-d", "3", "-m", "7", "-f", "5800", "-calibrate", "-m", "0", "-f", "5180"},
         MODE_FULL_CALIBRATION, {5800, 5180}, {7, 0}},
        {{"-d", "3", "-calibrate", "-f", "5180abc", "-m", "1x"}, MODE_FULL_CALIBRATION, {5180}, {1}},
        {{"-d", "3", "-calibrate", "-f", "5180", "-f", "5180", "-m", "3"}, MODE_FULL_CALIBRATION,
         {5180, 5180}, {3}},
        {{"-d", "3", "-calibrate", "-calibrate", "-f", "2412", "-m", "0"}, MODE_FULL_CALIBRATION,
         {2412}, {0}},
        {ten, MODE_FULL_CALIBRATION, ten_frequencies, {0}},
        {{"-d", "3", "-fast-calibrate"}, MODE_FAST_CALIBRATION, {2412, 5180, 5805}, {0, 3}},
        {{"-fast-calibrate", "-d", "3", "-f", "5500", "-m", "3"}, MODE_FAST_CALIBRATION, {5500},
         {3}},
        {{"-d", "3", "-fast-calibrate", "-f", "5180"}, MODE_FAST_CALIBRATION, {5180}, {0, 3}},
        {{"-d", "3", "-fast-calibrate", "-m", "7"}, MODE_FAST_CALIBRATION, {2412, 5180, 5805},
         {7}},
        // Lists without a calibration option are not a request.
        {{"-d", "3", "-f", "5180", "-m", "3"}, MODE_MONITORING, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Parsed p = parse(c.args);
        EXPECT_EQ(p.result, c.mode);
        EXPECT_EQ(p.err, "");
        EXPECT_EQ(p.out, "");
        EXPECT_EQ(frequencies(), c.frequencies);
        EXPECT_EQ(mcs_values(), c.mcs);
        EXPECT_STREQ(I2C_DEVICE, "/dev/i2c-3");
        EXPECT_FALSE(adjust_power);
    }
}

TEST_F(ParseArguments, MonitoringSettings) {
    Parsed p = parse({"-d", "3", "-d", "7"});
    EXPECT_EQ(p.result, MODE_MONITORING);
    EXPECT_EQ(p.err, "");
    EXPECT_STREQ(I2C_DEVICE, "/dev/i2c-7");
    EXPECT_FALSE(adjust_power);
    EXPECT_EQ(Average_Sampling, 300);
    EXPECT_EQ(PAUSE_BETWEEN_PRINTS, 0.0001);

    p = parse({"-d", "7", "-s", "12abc", "-p", "0.5"});
    EXPECT_EQ(p.result, MODE_MONITORING);
    EXPECT_EQ(Average_Sampling, 12);
    EXPECT_EQ(PAUSE_BETWEEN_PRINTS, 0.5);

    p = parse({"-d", "7", "-s", "99999999999999999999"});
    EXPECT_EQ(p.result, MODE_MONITORING);
    EXPECT_EQ(Average_Sampling, 2147483647);

    struct Adjust {
        std::vector<std::string> args;
        double dbm;
    };
    const std::vector<Adjust> adjustments = {
        {{"-d", "7", "-adjust-dbm", "30"}, 30.0},
        {{"-d", "7", "-adjust-dbm", "0"}, 0.0},
        {{"-d", "7", "-adjust-dbm", "12.5dB"}, 12.5},
        {{"-d", "7", "-adjust-mW", "1000"}, 30.0},
        {{"-d", "7", "-adjust-mW", "100"}, 20.0},
        {{"-d", "7", "-adjust-mW", "5"}, 6.9897000433601875},
        {{"-d", "7", "-adjust-mW", "100", "-adjust-dbm", "17"}, 17.0},
    };
    for (const Adjust& a : adjustments) {
        SCOPED_TRACE(testing::PrintToString(a.args));
        p = parse(a.args);
        EXPECT_EQ(p.result, MODE_MONITORING);
        EXPECT_EQ(p.err, "");
        EXPECT_TRUE(adjust_power);
        EXPECT_NEAR(desired_dBm, a.dbm, 1e-9);
    }

    p = parse({"-d", "7", "-temp_test"});
    EXPECT_EQ(p.result, MODE_MONITORING);
    EXPECT_TRUE(g_temp_test_flag);
    EXPECT_EQ(p.out,
              "Temperature testing enabled. Calibration will stop if temperature exceeds "
              "75.0\xC2\xB0"
              "C\n");
}

// A failed adjustment leaves the target as it was.
TEST_F(ParseArguments, RejectedAdjustmentKeepsTheTarget) {
    Parsed p = parse({"-d", "7", "-adjust-dbm", "30.01"});
    EXPECT_EQ(p.result, PARSE_FAILED);
    EXPECT_EQ(desired_dBm, 25.0);
    EXPECT_FALSE(adjust_power);
}

TEST(BusText, OnlyOneToElevenDigits) {
    struct Row {
        const char* text;
        bool valid;
    };
    const Row rows[] = {
        {"0", true},          {"15", true},  {"12345678901", true}, {"123456789012", false},
        {"", false},          {"1x", false}, {"x1", false},         {"-1", false},
        {"1;reboot", false},  {" 1", false}, {"1 ", false},         {"+1", false},
    };
    for (const Row& row : rows) EXPECT_EQ(is_valid_bus_text(row.text), row.valid) << row.text;
}

// What a value of our own options must look like.
TEST(PlainDecimal, WholeStringFiniteNoOtherForms) {
    struct Row {
        const char* text;
        bool valid;
        double value;
    };
    const Row rows[] = {
        {"2", true, 2.0},     {"2.5", true, 2.5},   {"0.25", true, 0.25}, {".5", true, 0.5},
        {"5.", true, 5.0},    {"-1.5", true, -1.5}, {"+3", true, 3.0},    {"007", true, 7.0},
        {"2abc", false, 0},   {"0x3", false, 0},    {"1e1", false, 0},    {"inf", false, 0},
        {"nan", false, 0},    {"", false, 0},       {".", false, 0},      {"-", false, 0},
        {" 2", false, 0},     {"2 ", false, 0},     {"1.2.3", false, 0},  {"1,5", false, 0},
        {"--1", false, 0},
    };
    for (const Row& row : rows) {
        double value = -99.0;
        EXPECT_EQ(parse_plain_decimal(row.text, &value), row.valid) << row.text;
        EXPECT_EQ(value, row.valid ? row.value : -99.0) << row.text;
    }
    double value = -99.0;
    EXPECT_FALSE(parse_plain_decimal(std::string(400, '9').c_str(), &value));
    EXPECT_FALSE(parse_plain_decimal(nullptr, &value));
    EXPECT_EQ(value, -99.0);
}
