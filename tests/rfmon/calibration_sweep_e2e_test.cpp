// orvi-rfmon's full and fast calibrations on the simulated board, in
// virtual time, checking the written tables byte for byte.
//
// With the board's noise off, every sample of a level reads the reference
// voltage of the band (plus the board's offsets) through the 12-bit
// converter, so the expected cells follow from the built-in tables, the
// converter step and the installed conversion tables, which this test loads
// from the checkout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "calibration_table.h"
#include "conversion_tables.h"
#include "default_power_calibration.h"
#include "fast_estimation.h"
#include "test_support.h"

namespace {

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string lines(int from, int to, const std::string& suffix) {
    std::string text;
    for (int level = from; level <= to; ++level) text += std::to_string(level) + suffix + "\n";
    return text;
}

struct Band {
    const char* token;
    const char* key;
};

Band band_of(int frequency) {
    if (frequency < 4000) return {"2_4", "2.4"};
    return frequency / 100 < 56 ? Band{"5_1", "5.1"} : Band{"5_8", "5.8"};
}

// The board: the band's reference voltage plus offsets, quantised by the
// converter (1.8 V over 12 bits, nearest code).
double detector_mv(const char* token, int mcs, int level, double extra_mv) {
    double mv = default_cal_get_mv(token, mcs, level > 60 ? 60 : level) + extra_mv;
    double code = std::floor(mv * 4096.0 / 1800.0 + 0.5);
    if (code < 0) code = 0;
    if (code > 4095) code = 4095;
    return code * 1800.0 / 4096.0;
}

double dbm_of(const char* key, int mcs, double mv) {
    double mv_out = 0, dbm = 0;
    EXPECT_EQ(read_csv_data_cached(&mv_out, &dbm, mcs, key, mv), 0);
    return dbm;
}

// The level's result when its three stored readings all read `reading`.
level_result_t measured_level(const Band& band, int mcs, double reading) {
    double average = (reading + reading + reading) / 3;
    return {true, average, custom_exp10(dbm_of(band.key, mcs, average) / 10)};
}

std::string cells(const level_result_t& r) {
    std::string mv, mw;
    level_cells(r, "-1", &mv, &mw);
    return mv + "," + mw;
}

struct BoardRun {
    ProcessResult process;
    std::map<std::string, std::string> tables;  // file name -> content after the run
    std::string tools_log;
};

class CalibrationOnBoard : public testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* token : {"2_4", "5_1", "5_8"}) {
            std::string key = token;
            key[1] = '.';
            std::string path = source_path("data/" + std::string(token) + "_mv_to_dbm.csv");
            ASSERT_EQ(load_csv_cache(get_csv_cache_for_freq(key.c_str()), path.c_str()), 0)
                << path;
        }
    }

    void SetUp() override {
        make_dirs(dir_ + "/in");
        make_dirs(dir_ + "/out");
    }

    void store(const std::string& name, const std::string& text) {
        write_file(dir_ + "/in/" + name, text);
        have_stored_ = true;
    }

    BoardRun run(const std::vector<std::string>& board, const std::vector<std::string>& args,
                 const std::vector<std::string>& setup = {}, const std::string& noise_mv = "0") {
        std::remove((dir_ + "/tools.log").c_str());
        std::vector<std::string> options = {"--virtual-time", "--noise-mv", noise_mv, "--log",
                                            dir_ + "/tools.log"};
        options.insert(options.end(), board.begin(), board.end());
        if (have_stored_) options.insert(options.end(), {"--data", dir_ + "/in"});
        for (const std::string& cmd : setup) options.insert(options.end(), {"--setup", cmd});
        std::vector<std::string> command = {
            "/bin/sh", "-c",
            "\"$0\" \"$@\"; s=$?; cp /data/quillon/vtx/calibrated_*.csv '" + dir_ +
                "/out/' 2>/dev/null; exit $s",
            binary_path("rfmon/orvi-rfmon"), "-d", "1"};
        command.insert(command.end(), args.begin(), args.end());
        BoardRun result;
        RunOptions limits;
        limits.timeout_ms = 120000;
        result.process = run_on_board(options, command, limits);
        for (const char* token : {"2_4", "5_1", "5_8"}) {
            std::string name = std::string("calibrated_") + token + ".csv";
            if (file_exists(dir_ + "/out/" + name)) result.tables[name] = read_file(dir_ + "/out/" + name);
        }
        result.tools_log = read_file(dir_ + "/tools.log");
        return result;
    }

    const ScratchDir scratch_{"calibration-e2e"};
    const std::string& dir_ = scratch_.path();
    bool have_stored_ = false;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string power_commands(int from, int to) {
    std::string text;
    for (int level = from; level <= to; ++level) {
        text += "orvi-configure-vtx -p " + std::to_string(level) + "\n";
    }
    return text;
}

std::string driver_log(int frequency, int mcs, const std::string& sweep) {
    const std::string f = std::to_string(frequency);
    return "orvi-configure-vtx -F " + f + "\norvi-configure-vtx -m " + std::to_string(mcs) +
           "\norvi-configure-vtx -F " + f + "\n" + sweep + "orvi-send-command vtx_latency stop_test 1\n";
}

TEST_F(CalibrationOnBoard, FullSweepWritesANewTable) {
    const Band band = band_of(5805);
    BoardRun r = run({}, {"-calibrate", "-f", "5805", "-m", "0"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 60; ++level) {
        expected += std::to_string(level) + "," +
                    cells(measured_level(band, 0, detector_mv(band.token, 0, level, 0))) + "\n";
    }
    expected += lines(61, 63, ",-1,-1");
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], expected);
    EXPECT_EQ(r.tables.size(), 1u);
    EXPECT_TRUE(contains(r.process.out,
                         "Starting calibration for frequency 5805 MHz and MCS 0\n"
                         "Set frequency to 5805 MHz\n"
                         "Sleeping 7 seconds while frequency changes...\n"
                         "Calibrating power level 1 (1 of 60)...\n"
                         "Taking reading 1 of 4 for power level 1...\n"));
    EXPECT_TRUE(contains(r.process.out,
                         "Calibration complete! Data saved to /data/quillon/vtx/calibrated_5_8.csv\n"
                         "Safety measure: Power level set to 1 (minimum) after calibration\n"));
    EXPECT_EQ(r.tools_log, driver_log(5805, 0, power_commands(1, 60) + power_commands(1, 1)));
}

TEST_F(CalibrationOnBoard, PowerStopAtLevel40) {
    const Band band = band_of(2412);
    BoardRun r = run({"--over-power", "40:300"}, {"-calibrate", "-f", "2412", "-m", "1"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS1_mV,MCS1_mW\n";
    for (int level = 1; level <= 40; ++level) {
        double extra = level == 40 ? 300 : 0;
        expected += std::to_string(level) + "," +
                    cells(measured_level(band, 1, detector_mv(band.token, 1, level, extra))) + "\n";
    }
    expected += lines(41, 63, ",-1,-1");
    EXPECT_EQ(r.tables["calibrated_2_4.csv"], expected);
    EXPECT_TRUE(contains(r.process.out,
                         "WARNING: Measured dBm (31.57) exceeds safety threshold of 31.5 dBm at "
                         "power level 40\nStopping calibration for safety reasons\n"));
    EXPECT_FALSE(contains(r.process.out, "Power 1 level 40:"));
    EXPECT_EQ(r.tools_log, driver_log(2412, 1, power_commands(1, 40) + power_commands(1, 1)));
}

TEST_F(CalibrationOnBoard, AppendMergeAddsTheSweptColumns) {
    const Band band = band_of(5805);
    std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 63; ++level) {
        stored += std::to_string(level) + (level <= 60 ? ",500.5,12.25\n" : ",-1,-1\n");
    }
    store("calibrated_5_8.csv", stored);
    BoardRun r = run({}, {"-calibrate", "-f", "5805", "-m", "3"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 60; ++level) {
        expected += std::to_string(level) + ",500.5,12.25," +
                    cells(measured_level(band, 3, detector_mv(band.token, 3, level, 0))) + "\n";
    }
    expected += lines(61, 63, ",-1,-1,-1,-1");
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], expected);
    EXPECT_TRUE(contains(r.process.out, "Existing calibration file found. Reading contents...\n"));
    EXPECT_FALSE(contains(r.process.out, "they will be updated"));
}

TEST_F(CalibrationOnBoard, UpdateMergeStoppedAtLevel40KeepsTheCellsAbove) {
    const Band band = band_of(2412);
    std::string stored = "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW\n";
    for (int level = 1; level <= 63; ++level) {
        std::string l = std::to_string(level);
        if (level == 45 || level == 61) {
            stored += l + ",700.00,300.00,NA,NA\n";
        } else if (level > 60) {
            stored += l + ",-1,-1,-1,-1\n";
        } else {
            stored += l + ",700.00,300.00,650.00,150.00\n";
        }
    }
    store("calibrated_2_4.csv", stored);
    BoardRun r = run({"--over-power", "40:300"}, {"-calibrate", "-f", "2412", "-m", "1"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW\n";
    for (int level = 1; level <= 40; ++level) {
        double extra = level == 40 ? 300 : 0;
        expected += std::to_string(level) + ",700.00,300.00," +
                    cells(measured_level(band, 1, detector_mv(band.token, 1, level, extra))) + "\n";
    }
    expected += lines(41, 44, ",700.00,300.00,650.00,150.00") + "45,700.00,300.00,-1,-1\n" +
                lines(46, 60, ",700.00,300.00,650.00,150.00") + "61,700.00,300.00,-1,-1\n" +
                lines(62, 63, ",-1,-1,-1,-1");
    EXPECT_EQ(r.tables["calibrated_2_4.csv"], expected);
    EXPECT_TRUE(
        contains(r.process.out, "MCS1 columns already exist in the file, they will be updated\n"));
}

TEST_F(CalibrationOnBoard, MissingLevelGetsAnNALineAndABlankLineFailsTheMerge) {
    const Band band = band_of(5180);
    std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 63; ++level) {
        if (level != 62) stored += std::to_string(level) + ",1.00,2.00\n";
    }
    store("calibrated_5_1.csv", stored);
    BoardRun r = run({}, {"-calibrate", "-f", "5180", "-m", "3"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 63; ++level) {
        if (level == 62) continue;
        expected += std::to_string(level) + ",1.00,2.00," +
                    (level <= 60 ? cells(measured_level(band, 3, detector_mv(band.token, 3, level, 0)))
                                 : std::string("-1,-1")) +
                    "\n";
    }
    expected += "62,,,NA,NA\n";
    EXPECT_EQ(r.tables["calibrated_5_1.csv"], expected);

    // The same table with a blank line: the merge fails and the file stays.
    const std::string blank = stored.substr(0, stored.find("\n30,") + 1) + "\n" +
                              stored.substr(stored.find("\n30,") + 1);
    store("calibrated_5_1.csv", blank);
    BoardRun failed = run({}, {"-calibrate", "-f", "5180", "-m", "3"});
    ASSERT_EQ(failed.process.exit_code, 1) << failed.process.err;
    EXPECT_EQ(failed.tables["calibrated_5_1.csv"], blank);
    EXPECT_EQ(failed.process.err,
              "Failed to parse power level from data row: Invalid argument\n"
              "Calibration failed for Frequency: 5180 MHz, MCS: 3\n");
    EXPECT_FALSE(contains(failed.process.out, "Calibration complete!"));
    // A failed merge still ends at the minimum power level.
    EXPECT_TRUE(contains(failed.tools_log,
                         "orvi-configure-vtx -p 60\norvi-configure-vtx -p 1\n"
                         "orvi-send-command vtx_latency stop_test 1\n"));
}

TEST_F(CalibrationOnBoard, FailedReplacementLeavesTheOldTable) {
    const std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n" + lines(1, 63, ",-1,-1");
    store("calibrated_5_8.csv", stored);
    BoardRun r = run({}, {"-calibrate", "-f", "5805", "-m", "0"},
                     {"mkdir /data/quillon/vtx/calibrated_5_8.csv.tmp"});
    ASSERT_EQ(r.process.exit_code, 1);
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], stored);
    EXPECT_EQ(r.process.err,
              "Failed to open output file for calibration data: Is a directory\n"
              "Calibration failed for Frequency: 5805 MHz, MCS: 0\n");
}

TEST_F(CalibrationOnBoard, FastSweepMeasuresAnchorsAndEstimatesTheRest) {
    const Band band = band_of(5805);
    const double offset = 12.5;
    BoardRun r = run({"--offset-mv", "5_8=12.5"}, {"-fast-calibrate", "-f", "5805", "-m", "0"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    sweep_results_t results = {};
    for (int anchor : FAST_CALIBRATION_LEVELS) {
        results.level[anchor] = measured_level(band, 0, detector_mv(band.token, 0, anchor, offset));
    }
    anchor_offset_t offsets[FAST_CALIBRATION_LEVEL_COUNT];
    ASSERT_EQ(collect_anchor_offsets(results, band.token, 0, offsets), 6);
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 60; ++level) {
        level_result_t r_level = results.level[level];
        if (!r_level.valid) {
            double e = default_cal_get_mv(band.token, 0, level) + offset_at_level(offsets, 6, level);
            r_level = {true, e, custom_exp10(dbm_of(band.key, 0, e) / 10)};
        }
        expected += std::to_string(level) + "," + cells(r_level) + "\n";
    }
    expected += lines(61, 63, ",-1,-1");
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], expected);
    EXPECT_TRUE(contains(r.process.out,
                         "Starting fast calibration for frequency 5805 MHz and MCS 0\n"));
    EXPECT_TRUE(contains(r.process.out, "Calibrating power level 56 (5 of 6)...\n"));
    EXPECT_TRUE(contains(r.process.out,
                         "Generating estimated fast calibration rows from measured anchors...\n"
                         "Calibration complete! Data saved to /data/quillon/vtx/calibrated_5_8.csv\n"));
    EXPECT_EQ(r.tools_log,
              driver_log(5805, 0,
                         "orvi-configure-vtx -p 10\norvi-configure-vtx -p 35\n"
                         "orvi-configure-vtx -p 45\norvi-configure-vtx -p 50\n"
                         "orvi-configure-vtx -p 56\norvi-configure-vtx -p 60\n"
                         "orvi-configure-vtx -p 1\n"));
}

TEST_F(CalibrationOnBoard, FastSweepTemperatureStopAtAnchor45) {
    const Band band = band_of(5805);
    // Temperature reads 9..12 belong to level 45; the last one decides.
    BoardRun r = run({"--temp-spike", "76.37@12"},
                     {"-temp_test", "-fast-calibrate", "-f", "5805", "-m", "0"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    sweep_results_t results = {};
    for (int anchor : {10, 35}) {
        results.level[anchor] = measured_level(band, 0, detector_mv(band.token, 0, anchor, 0));
    }
    anchor_offset_t offsets[FAST_CALIBRATION_LEVEL_COUNT];
    ASSERT_EQ(collect_anchor_offsets(results, band.token, 0, offsets), 2);
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 44; ++level) {
        level_result_t r_level = results.level[level];
        if (!r_level.valid) {
            double e = default_cal_get_mv(band.token, 0, level) + offset_at_level(offsets, 2, level);
            r_level = {true, e, custom_exp10(dbm_of(band.key, 0, e) / 10)};
        }
        expected += std::to_string(level) + "," + cells(r_level) + "\n";
    }
    expected += "45,TEMP_ERROR_76_3,TEMP_ERROR_76_3\n" + lines(46, 63, ",-1,-1");
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], expected);
    EXPECT_TRUE(contains(r.process.out,
                         "WARNING: Temperature (76.38°C) exceeds safety threshold of 75.0°C at "
                         "power level 45\nStopping calibration for safety reasons\n"));
    EXPECT_TRUE(contains(r.process.out,
                         "Safety stop occurred at power level 45; rows above that level will "
                         "remain uncalibrated\n"));
    EXPECT_TRUE(contains(r.tools_log, "orvi-configure-vtx -p 45\norvi-configure-vtx -p 1\n"));
}

TEST_F(CalibrationOnBoard, FastSweepWithAFailedAnchorLeavesTheTable) {
    const std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n" + lines(1, 60, ",400.25,9.50") +
                               lines(61, 63, ",-1,-1");
    store("calibrated_5_8.csv", stored);
    // Levels 10 and 35 use 480 sequence starts; readings 2 to 4 of level 45
    // and their retries fail at their first one.
    BoardRun r = run({"--fault", "seq-start:nak:from=541,count=6"},
                     {"-fast-calibrate", "-f", "5805", "-m", "0"});
    ASSERT_EQ(r.process.exit_code, 1);
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], stored);
    EXPECT_TRUE(contains(r.process.err,
                         "Error: fast calibration anchor power level 45 did not produce a valid "
                         "measured reading. Aborting without writing CSV.\n"
                         "Calibration failed for Frequency: 5805 MHz, MCS: 0\n"));
    EXPECT_FALSE(contains(r.process.err, "anchor power level 50"));
    EXPECT_TRUE(contains(r.process.out, "No valid readings for power level 45, skipping in output\n"));
    EXPECT_TRUE(contains(r.process.out,
                         "Safety measure: Power level set to 1 (minimum) after fast calibration "
                         "anchor failure\n"));
    EXPECT_TRUE(contains(r.tools_log, "orvi-configure-vtx -p 60\norvi-configure-vtx -p 1\n"));
}

TEST_F(CalibrationOnBoard, BandFollowsTheFrequency) {
    // 5500 MHz is band 55 (5_1), 5600 MHz 5_8, 2484 MHz 2_4; 4900 MHz is
    // refused after the frequency command and the wait.
    BoardRun r = run({}, {"-calibrate", "-f", "5500", "-f", "5600", "-f", "2484", "-f", "4900",
                          "-m", "0"});
    ASSERT_EQ(r.process.exit_code, 1) << r.process.err;
    for (int frequency : {5500, 5600, 2484}) {
        const Band band = band_of(frequency);
        std::string expected = "Power_Level,MCS0_mV,MCS0_mW\n";
        for (int level = 1; level <= 60; ++level) {
            expected += std::to_string(level) + "," +
                        cells(measured_level(band, 0, detector_mv(band.token, 0, level, 0))) + "\n";
        }
        expected += lines(61, 63, ",-1,-1");
        EXPECT_EQ(r.tables[std::string("calibrated_") + band.token + ".csv"], expected) << frequency;
    }
    EXPECT_EQ(r.process.err,
              "Error: Invalid frequency 4900 MHz\n"
              "Calibration failed for Frequency: 4900 MHz, MCS: 0\n");
    EXPECT_TRUE(contains(r.process.out,
                         "Set frequency to 4900 MHz\nSleeping 7 seconds while frequency changes...\n"));
    EXPECT_TRUE(contains(r.tools_log,
                         "orvi-configure-vtx -F 4900\norvi-configure-vtx -m 0\n"
                         "orvi-configure-vtx -F 4900\norvi-send-command vtx_latency stop_test 1\n"));
}

TEST_F(CalibrationOnBoard, FailedReadingsAreRetriedAndSkipped) {
    const Band band = band_of(5805);
    // Sequence starts: levels 1 to 4 use 960. Readings 2 to 4 of level 5 fail
    // with their retries (1021 to 1026); level 6 uses 240 more, so reading 3
    // of level 7 and its retry are 1387 and 1388.
    BoardRun r = run({"--fault", "seq-start:nak:from=1021,count=6", "--fault",
                      "seq-start:nak:from=1387,count=2"},
                     {"-calibrate", "-f", "5805", "-m", "1"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS1_mV,MCS1_mW\n";
    for (int level = 1; level <= 60; ++level) {
        if (level == 5) {
            expected += "5,-1,-1\n";
            continue;
        }
        expected += std::to_string(level) + "," +
                    cells(measured_level(band, 1, detector_mv(band.token, 1, level, 0))) + "\n";
    }
    expected += lines(61, 63, ",-1,-1");
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], expected);
    EXPECT_TRUE(contains(r.process.out,
                         "Taking reading 2 of 4 for power level 5...\n"
                         "Failed to start the conversion sequence, retrying in 5 seconds...\n"
                         "Reading 2 failed, retrying...\n"
                         "Failed to start the conversion sequence, retrying in 5 seconds...\n"
                         "Reading 2 failed again, skipping this reading\n"
                         "Taking reading 3 of 4 for power level 5...\n"));
    EXPECT_TRUE(contains(r.process.out, "No valid readings for power level 5, skipping in output\n"));
    EXPECT_TRUE(contains(r.process.out,
                         "Failed to start the conversion sequence, retrying in 5 seconds...\n"
                         "Reading 3 failed again, skipping this reading\n"
                         "Taking reading 4 of 4 for power level 7...\n"));
    EXPECT_TRUE(contains(r.process.out, "(from 2 readings), Temperature = "));
    EXPECT_TRUE(contains(r.process.out, "Power 1 level 6: "));
}

TEST_F(CalibrationOnBoard, TemperatureLimitIsStrictAndOnlyWithTesting) {
    // Exactly 75.0 °C on every read of the sweep does not stop it.
    BoardRun at_limit = run({"--temp-spike", "75@1x24"},
                            {"-temp_test", "-fast-calibrate", "-f", "5805", "-m", "0"});
    ASSERT_EQ(at_limit.process.exit_code, 0) << at_limit.process.err;
    EXPECT_FALSE(contains(at_limit.process.out, "exceeds safety threshold"));
    EXPECT_TRUE(contains(at_limit.process.out, "Temperature = 75.00°C\n"));
    EXPECT_FALSE(contains(at_limit.tables["calibrated_5_8.csv"], "TEMP_ERROR"));
    EXPECT_TRUE(contains(at_limit.tables["calibrated_5_8.csv"], "\n60,"));

    // A hot board without "-temp_test" is calibrated all the same.
    BoardRun hot = run({"--temp-start", "90"}, {"-fast-calibrate", "-f", "5805", "-m", "0"});
    ASSERT_EQ(hot.process.exit_code, 0) << hot.process.err;
    EXPECT_FALSE(contains(hot.process.out, "exceeds safety threshold"));
    EXPECT_FALSE(contains(hot.tables["calibrated_5_8.csv"], "TEMP_ERROR"));

    // Without a temperature the limit cannot apply, and the second such
    // level stops the sweep.
    BoardRun no_sensor = run({"--fault", "temp-write@0x48:nak"},
                             {"-temp_test", "-fast-calibrate", "-f", "5805", "-m", "0"});
    ASSERT_EQ(no_sensor.process.exit_code, 0) << no_sensor.process.err;
    EXPECT_TRUE(contains(no_sensor.process.out,
                         "(from 3 readings), Temperature = NA\n"));
    EXPECT_TRUE(contains(no_sensor.process.out, "Power 2 level 35: "));
    EXPECT_FALSE(contains(no_sensor.process.out, "Power 2 level 45: "));
}

TEST_F(CalibrationOnBoard, UnreadableStoredTableIsNotReplaced) {
    BoardRun r = run({}, {"-fast-calibrate", "-f", "5805", "-m", "0"},
                     {"mkdir /data/quillon/vtx/calibrated_5_8.csv"});
    ASSERT_EQ(r.process.exit_code, 1);
    EXPECT_EQ(r.process.err,
              "Failed to read header from existing calibration file: Is a directory\n"
              "Calibration failed for Frequency: 5805 MHz, MCS: 0\n");
    // Nothing was measured: the power level stays where the driver left it.
    EXPECT_EQ(r.tools_log, driver_log(5805, 0, ""));
}

std::vector<std::vector<std::string>> table_cells(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream fields_in(line);
        std::string field;
        while (std::getline(fields_in, field, ',')) fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

// A board with a per-unit offset and ±1 mV of noise: every calibrated
// voltage lies within the noise (plus half a converter step) of the truth.
TEST_F(CalibrationOnBoard, FullSweepIsWithinTheBoardNoiseOfTheTruth) {
    const double offset = 7.5, noise = 1.0, half_step = 0.5 * 1800.0 / 4096.0;
    BoardRun r = run({"--offset-mv", "7.5"}, {"-calibrate", "-f", "5180", "-m", "0"}, {}, "1");
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    auto rows = table_cells(r.tables["calibrated_5_1.csv"]);
    ASSERT_EQ(rows.size(), 64u);
    double largest = 0;
    for (int level = 1; level <= 60; ++level) {
        ASSERT_EQ(rows[level].size(), 3u);
        double truth = default_cal_get_mv("5_1", 0, level) + offset;
        double diff = std::fabs(std::strtod(rows[level][1].c_str(), nullptr) - truth);
        EXPECT_LE(diff, noise + half_step + 0.005) << "level " << level;
        if (diff > largest) largest = diff;
    }
    std::printf("full sweep, band 5_1 MCS 0, offset %.1f mV, noise %.1f mV: largest |calibrated - "
                "true| = %.3f mV\n", offset, noise, largest);
    RecordProperty("full_sweep_largest_error_mv", std::to_string(largest));
}

// The default fast calibration (2412, 5180, 5805 MHz with MCS 0 and 3) on
// the same board, with and without noise: how far the estimated levels land
// from the truth.
TEST_F(CalibrationOnBoard, FastSweepAccuracyOfEveryBand) {
    const double offset = 7.5;
    for (const char* noise : {"1", "0"}) {
        BoardRun r = run({"--offset-mv", "7.5"}, {"-fast-calibrate"}, {}, noise);
        ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
        for (const char* token : {"2_4", "5_1", "5_8"}) {
            const std::string name = std::string("calibrated_") + token + ".csv";
            auto rows = table_cells(r.tables[name]);
            ASSERT_EQ(rows.size(), 64u) << name;
            EXPECT_EQ(rows[0], (std::vector<std::string>{"Power_Level", "MCS0_mV", "MCS0_mW",
                                                         "MCS3_mV", "MCS3_mW"}));
            for (int k = 0; k < 2; ++k) {
                const int mcs = k == 0 ? 0 : 3;
                double largest = 0, sum = 0;
                for (int level = 1; level <= 60; ++level) {
                    ASSERT_EQ(rows[level].size(), 5u) << name << " level " << level;
                    double truth = default_cal_get_mv(token, mcs, level) + offset;
                    double diff =
                        std::fabs(std::strtod(rows[level][1 + 2 * k].c_str(), nullptr) - truth);
                    sum += diff;
                    if (diff > largest) largest = diff;
                }
                for (int level = 61; level <= 63; ++level) EXPECT_EQ(rows[level][1 + 2 * k], "-1");
                std::printf("fast sweep, band %s MCS %d, offset %.1f mV, noise %s mV: |estimated - "
                            "true| largest %.3f mV, mean %.3f mV over levels 1-60\n",
                            token, mcs, offset, noise, largest, sum / 60);
                const std::string key = std::string("fast_") + token + "_mcs" +
                                        std::to_string(mcs) + "_noise" + noise;
                RecordProperty(key + "_largest_mv", std::to_string(largest));
                RecordProperty(key + "_mean_mv", std::to_string(sum / 60));
            }
        }
    }
}

}  // namespace
