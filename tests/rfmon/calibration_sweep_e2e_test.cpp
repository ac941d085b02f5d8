// orvi-rfmon's full and fast calibrations on the simulated board, in
// virtual time, checking the written tables byte for byte.
//
// With the board's noise off and its temperature held, every sample of a
// level reads one voltage. The board tells, for every level, the true output
// power and that voltage's converter code (orvi-sim-ctl truth): a measured
// mV cell must be that voltage exactly, and every mW cell must lie within
// kTruthBoundDb of the true power.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "calibration_board.h"
#include "test_support.h"

namespace {

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
    BoardRun r = run({}, {"-calibrate", "-f", "5805", "-m", "0"}, {}, "0", {"5805_0"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 60; ++level) {
        expected += std::to_string(level) + "," + r.cells("calibrated_5_8.csv", 5805, 0, level) + "\n";
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
    BoardRun r = run({"--over-power", "40:300"}, {"-calibrate", "-f", "2412", "-m", "1"}, {}, "0",
                     {"2412_1"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS1_mV,MCS1_mW\n";
    for (int level = 1; level <= 39; ++level) {
        expected += std::to_string(level) + "," + r.cells("calibrated_2_4.csv", 2412, 1, level) + "\n";
    }
    // 300 mV above the truth lies beyond the table's last key, 972 mV: a
    // power stop, written with that row's MCS 1 value, 33.04 dBm: 2003.15 mW
    // through the 16-term series.
    const Truth top = r.truth[truth_key(2412, 1, 40)];
    EXPECT_NE(top.mv, "");
    expected += "40," + top.mv + ",2003.15\n" + lines(41, 63, ",-1,-1");
    EXPECT_EQ(r.tables["calibrated_2_4.csv"], expected);
    EXPECT_TRUE(contains(r.process.out, "WARNING: Detector voltage " + top.mv +
                                            " mV is above the conversion table's range (972.00 mV) "
                                            "at power level 40\nStopping calibration for safety "
                                            "reasons\n"))
        << r.process.out;
    EXPECT_FALSE(contains(r.process.out, "Power 1 level 40:"));
    EXPECT_EQ(r.tools_log, driver_log(2412, 1, power_commands(1, 40) + power_commands(1, 1)));
}

TEST_F(CalibrationOnBoard, AppendMergeAddsTheSweptColumns) {
    std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 63; ++level) {
        stored += std::to_string(level) + (level <= 60 ? ",500.5,12.25\n" : ",-1,-1\n");
    }
    store("calibrated_5_8.csv", stored);
    BoardRun r = run({}, {"-calibrate", "-f", "5805", "-m", "3"}, {}, "0", {"5805_3"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 60; ++level) {
        expected += std::to_string(level) + ",500.5,12.25," +
                    r.cells("calibrated_5_8.csv", 5805, 3, level, 3) + "\n";
    }
    expected += lines(61, 63, ",-1,-1,-1,-1");
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], expected);
    EXPECT_TRUE(contains(r.process.out, "Existing calibration file found. Reading contents...\n"));
    EXPECT_FALSE(contains(r.process.out, "they will be updated"));
}

// A power stop clears the stored cells of its MCS above it: they were not
// measured by this sweep, which found the limit below them.
TEST_F(CalibrationOnBoard, UpdateMergeStoppedAtLevel40ClearsTheCellsAbove) {
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
    BoardRun r = run({"--over-power", "40:300"}, {"-calibrate", "-f", "2412", "-m", "1"}, {}, "0",
                     {"2412_1"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW\n";
    for (int level = 1; level <= 39; ++level) {
        expected += std::to_string(level) + ",700.00,300.00," +
                    r.cells("calibrated_2_4.csv", 2412, 1, level, 3) + "\n";
    }
    expected += "40,700.00,300.00," + r.truth[truth_key(2412, 1, 40)].mv + ",2003.15\n";
    expected += lines(41, 61, ",700.00,300.00,-1,-1") + lines(62, 63, ",-1,-1,-1,-1");
    EXPECT_EQ(r.tables["calibrated_2_4.csv"], expected);
    EXPECT_TRUE(
        contains(r.process.out, "MCS1 columns already exist in the file, they will be updated\n"));
}

TEST_F(CalibrationOnBoard, MissingLevelGetsAnNALineAndABlankLineFailsTheMerge) {
    std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 63; ++level) {
        if (level != 62) stored += std::to_string(level) + ",1.00,2.00\n";
    }
    store("calibrated_5_1.csv", stored);
    BoardRun r = run({}, {"-calibrate", "-f", "5180", "-m", "3"}, {}, "0", {"5180_3"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 63; ++level) {
        if (level == 62) continue;
        expected += std::to_string(level) + ",1.00,2.00," +
                    (level <= 60 ? r.cells("calibrated_5_1.csv", 5180, 3, level, 3)
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
    // The table can be read but no temporary file made beside it.
    BoardRun r = run({}, {"-calibrate", "-f", "5805", "-m", "0"},
                     {"mount --bind /data/quillon/vtx /data/quillon/vtx && "
                      "mount -o remount,bind,ro /data/quillon/vtx"});
    ASSERT_EQ(r.process.exit_code, 1);
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], stored);
    EXPECT_EQ(r.process.err,
              "Failed to open output file for calibration data: Read-only file system\n"
              "Calibration failed for Frequency: 5805 MHz, MCS: 0\n");
}

TEST_F(CalibrationOnBoard, FastSweepMeasuresAnchorsAndEstimatesTheRest) {
    // The loss keeps the typical unit's top clear of the power guard and of the
    // levels a fast sweep steps to below it.
    BoardRun r = run({"--output-loss", "1.5"}, {"-fast-calibrate", "-f", "5805", "-m", "0"}, {},
                     "0", {"5805_0"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    // Anchors measured (the truth's voltage, offset included), the other
    // levels estimated; both within the bound of the true power.
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 60; ++level) {
        bool anchor = level == 10 || level == 35 || level == 45 || level == 50 || level == 56 ||
                      level == 60;
        expected += std::to_string(level) + "," +
                    r.cells("calibrated_5_8.csv", 5805, 0, level, 1, anchor) + "\n";
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

// A fast sweep into a stored table of another MCS adds its columns (anchors
// measured, the rest estimated) and keeps the stored cells as they were.
TEST_F(CalibrationOnBoard, FastSweepMergesItsColumnsIntoTheStoredTable) {
    std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 63; ++level)
        stored += std::to_string(level) + (level <= 60 ? ",500.5,12.25\n" : ",-1,-1\n");
    store("calibrated_5_8.csv", stored);
    BoardRun r = run({}, {"-fast-calibrate", "-f", "5805", "-m", "3"}, {}, "0", {"5805_3"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 60; ++level) {
        bool anchor = level == 10 || level == 35 || level == 45 || level == 50 || level == 56 ||
                      level == 60;
        expected += std::to_string(level) + ",500.5,12.25," +
                    r.cells("calibrated_5_8.csv", 5805, 3, level, 3, anchor) + "\n";
    }
    expected += lines(61, 63, ",-1,-1,-1,-1");
    EXPECT_EQ(r.tables["calibrated_5_8.csv"], expected);
    EXPECT_TRUE(contains(r.process.out, "Existing calibration file found. Reading contents...\n"));
}

TEST_F(CalibrationOnBoard, FastSweepTemperatureStopAtAnchor45) {
    // Temperature reads 9..12 belong to level 45; the last one decides.
    BoardRun r = run({"--temp-spike", "76.37@12"},
                     {"-temp_test", "-fast-calibrate", "-f", "5805", "-m", "0"}, {}, "0", {"5805_0"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW\n";
    for (int level = 1; level <= 44; ++level) {
        expected += std::to_string(level) + "," +
                    r.cells("calibrated_5_8.csv", 5805, 0, level, 1, level == 10 || level == 35) +
                    "\n";
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
    // The failed anchor already decides the sweep: the power goes no higher.
    EXPECT_TRUE(contains(r.tools_log, "orvi-configure-vtx -p 45\norvi-configure-vtx -p 1\n"))
        << r.tools_log;
    EXPECT_FALSE(contains(r.tools_log, "orvi-configure-vtx -p 50\n"));
}

TEST_F(CalibrationOnBoard, FailedReadingsAreRetriedAndSkipped) {
    // Sequence starts: levels 1 to 4 use 960. Readings 2 to 4 of level 5 fail
    // with their retries (1021 to 1026); level 6 uses 240 more, so reading 3
    // of level 7 and its retry are 1387 and 1388.
    BoardRun r = run({"--output-loss", "2", "--fault", "seq-start:nak:from=1021,count=6", "--fault",
                      "seq-start:nak:from=1387,count=2"},
                     {"-calibrate", "-f", "5805", "-m", "1"}, {}, "0", {"5805_1"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    std::string expected = "Power_Level,MCS1_mV,MCS1_mW\n";
    for (int level = 1; level <= 60; ++level) {
        if (level == 5) {
            expected += "5,-1,-1\n";
            continue;
        }
        expected += std::to_string(level) + "," + r.cells("calibrated_5_8.csv", 5805, 1, level) + "\n";
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

// Only a calibration table is merged into: anything else in its place is
// named, left byte for byte, and the sweep fails before any level, at
// power level 1.
TEST_F(CalibrationOnBoard, StoredFileThatIsNoTableIsRefused) {
    const std::string path = "/data/quillon/vtx/calibrated_5_8.csv";
    const std::string not_regular = "Error: " + path + " is not a regular file; it is left as it is";
    const std::string not_a_table = "Error: " + path +
                                    " is not a calibration table (its first line is not a "
                                    "Power_Level,MCS<n>_mV,MCS<n>_mW header); it is left as it is";
    const std::string accounts = "root:x:0:0:root:/root:/bin/sh\ndaemon:x:1:1::/usr/sbin:/usr/sbin/nologin\n";
    struct Case {
        const char* name;
        std::string text;   // the file the table path links to, when not empty
        std::string setup;  // otherwise what is put there
        std::string error;
    };
    const std::vector<Case> cases = {
        {"a link to an account file", accounts, "", not_a_table},
        {"a header without MCS columns", "Power_Level,Notes\n1,fine\n", "", not_a_table},
        {"a header with another first field", "Level,MCS0_mV,MCS0_mW\n1,2.00,3.00\n", "", not_a_table},
        {"a folder", "", "mkdir " + path, not_regular},
        {"a FIFO", "", "mkfifo " + path, not_regular},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = dir_ + "/linked";
        if (!c.text.empty()) write_file(target, c.text);
        BoardRun r = run({}, {"-fast-calibrate", "-f", "5805", "-m", "3"},
                         {c.text.empty() ? c.setup : "ln -s " + target + " " + path});
        ASSERT_EQ(r.process.exit_code, 1);
        EXPECT_EQ(r.process.err, c.error + "\nCalibration failed for Frequency: 5805 MHz, MCS: 3\n");
        EXPECT_TRUE(contains(r.process.out,
                             "Safety measure: Power level set to 1 (minimum) after calibration failure\n"));
        EXPECT_EQ(r.tools_log, driver_log(5805, 3, "orvi-configure-vtx -p 1\n"));
        if (!c.text.empty()) {
            EXPECT_EQ(read_file(target), c.text);
            EXPECT_EQ(r.tables["calibrated_5_8.csv"], c.text);
        }
    }
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

// A board with a detector offset and ±1 mV of noise: every calibrated
// voltage lies within the noise (plus half a converter step) of the truth.
TEST_F(CalibrationOnBoard, FullSweepIsWithinTheBoardNoiseOfTheTruth) {
    const double noise = 1.0, half_step = 0.5 * 1800.0 / 4096.0;
    BoardRun r = run({"--offset-mv", "7.5"}, {"-calibrate", "-f", "5180", "-m", "0"}, {}, "1",
                     {"5180_0"});
    ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
    auto rows = table_cells(r.tables["calibrated_5_1.csv"]);
    ASSERT_EQ(rows.size(), 64u);
    double largest = 0;
    for (int level = 1; level <= 60; ++level) {
        ASSERT_EQ(rows[level].size(), 3u);
        const double truth = std::strtod(r.truth[truth_key(5180, 0, level)].mv.c_str(), nullptr);
        double diff = std::fabs(std::strtod(rows[level][1].c_str(), nullptr) - truth);
        EXPECT_LE(diff, noise + 2 * half_step + 0.005) << "level " << level;
        if (diff > largest) largest = diff;
    }
    std::printf("full sweep, band 5_1 MCS 0, offset 7.5 mV, noise %.1f mV: largest |calibrated - "
                "true| = %.3f mV\n", noise, largest);
    RecordProperty("full_sweep_largest_error_mv", std::to_string(largest));
}

// The default fast calibration (2412, 5180, 5805 MHz with MCS 0 and 3) of
// the typical unit, with and without noise: every level, measured or
// estimated, lands within kFastBoundDb of the unit's true output power.
TEST_F(CalibrationOnBoard, FastSweepAccuracyOfEveryBand) {
    constexpr double kFastBoundDb = 1.0;
    const int frequencies[] = {2412, 5180, 5805};
    for (const char* noise : {"1", "0"}) {
        BoardRun r = run({}, {"-fast-calibrate"}, {}, noise,
                         {"2412_0", "2412_3", "5180_0", "5180_3", "5805_0", "5805_3"});
        ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
        for (int b = 0; b < 3; ++b) {
            const char* token = b == 0 ? "2_4" : b == 1 ? "5_1" : "5_8";
            const std::string name = std::string("calibrated_") + token + ".csv";
            auto rows = table_cells(r.tables[name]);
            ASSERT_EQ(rows.size(), 64u) << name;
            EXPECT_EQ(rows[0], (std::vector<std::string>{"Power_Level", "MCS0_mV", "MCS0_mW",
                                                         "MCS3_mV", "MCS3_mW"}));
            for (int k = 0; k < 2; ++k) {
                const int mcs = k == 0 ? 0 : 3;
                double largest = 0, sum = 0;
                int written = 0;
                for (int level = 1; level <= 60; ++level) {
                    ASSERT_EQ(rows[level].size(), 5u) << name << " level " << level;
                    const double truth = r.truth[truth_key(frequencies[b], mcs, level)].dbm;
                    // A level withheld by the power guard: its estimate plus
                    // the uncertainty (at most 0.73 dB) lay above 31.5 dBm.
                    if (rows[level][2 + 2 * k] == "-1") {
                        EXPECT_GT(truth, 31.5 - 0.73 - kFastBoundDb) << name << " level " << level;
                        continue;
                    }
                    const double dbm =
                        10 * std::log10(std::strtod(rows[level][2 + 2 * k].c_str(), nullptr));
                    const double diff = std::fabs(dbm - truth);
                    EXPECT_LE(diff, kFastBoundDb) << name << " MCS " << mcs << " level " << level;
                    sum += diff;
                    ++written;
                    if (diff > largest) largest = diff;
                }
                // 2.4 GHz MCS 3 flattens at about 31 dBm read, where the
                // guard keeps its top 18 levels back.
                EXPECT_GE(written, 42) << name << " MCS " << mcs;
                for (int level = 61; level <= 63; ++level) EXPECT_EQ(rows[level][1 + 2 * k], "-1");
                std::printf("fast sweep, band %s MCS %d, noise %s mV: |calibrated - true| largest "
                            "%.3f dB, mean %.3f dB over the %d levels written\n",
                            token, mcs, noise, largest, sum / written, written);
                const std::string key = std::string("fast_") + token + "_mcs" +
                                        std::to_string(mcs) + "_noise" + noise;
                RecordProperty(key + "_largest_db", std::to_string(largest));
                RecordProperty(key + "_mean_db", std::to_string(sum / written));
            }
        }
    }
}

}  // namespace

// The first level of a full sweep (every level) or a fast sweep (the
// anchors) at which `beyond` holds for the board's truth at 2412 MHz MCS 0.
template <typename Beyond>
int first_level_beyond(const BoardRun& r, bool fast, Beyond beyond) {
    const int anchors[] = {10, 35, 45, 50, 56, 60};
    for (int level = 1; level <= 60; ++level) {
        const bool measured =
            !fast || std::find(std::begin(anchors), std::end(anchors), level) != std::end(anchors);
        const auto t = r.truth.find(truth_key(2412, 0, level));
        if (measured && t != r.truth.end() && beyond(t->second)) return level;
    }
    return 0;
}

// The shipped 2.4 GHz table cut at 760 mV (its last row 759.81 mV, 25.76 dBm
// at MCS 0). Drawn unit 17 crosses that voltage below level 35: the full
// sweep and the fast sweep (at its first anchor beyond) stop exactly at the
// first level whose true voltage lies beyond the table, and write nothing
// above it.
TEST_F(CalibrationOnBoard, ReadingsBeyondAShortTableStopFullAndFastSweeps) {
    std::string cut;
    std::istringstream shipped(read_file(source_path("data/2_4_mv_to_dbm.csv")));
    for (std::string line; std::getline(shipped, line);) {
        if (!cut.empty() && std::strtod(line.c_str(), nullptr) > 760) break;
        cut += line + "\n";
    }
    ASSERT_EQ(cut.substr(cut.rfind('\n', cut.size() - 2) + 1, 20), "759.814453125,25.76,");
    for (const bool fast : {false, true}) {
        store("2_4_mv_to_dbm.csv", cut);
        BoardRun r = run({"--unit", "17"},
                         {fast ? "-fast-calibrate" : "-calibrate", "-f", "2412", "-m", "0"}, {}, "0",
                         {"2412_0"});
        ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
        const int stop = first_level_beyond(r, fast, [](const Truth& t) { return std::stod(t.mv) > 759.81; });
        ASSERT_GT(stop, 30) << fast;
        const std::string stop_mv = r.truth[truth_key(2412, 0, stop)].mv;
        EXPECT_TRUE(contains(r.process.out, "WARNING: Detector voltage " + stop_mv +
                                                " mV is above the conversion table's range "
                                                "(759.81 mV) at power level " +
                                                std::to_string(stop) +
                                                "\nStopping calibration for safety reasons\n"))
            << fast << r.process.out;
        const std::string table = r.tables["calibrated_2_4.csv"];
        // 25.76 dBm through the 16-term series (376.53 mW), as the power rule
        // writes a stop.
        EXPECT_TRUE(contains(table, "\n" + std::to_string(stop) + "," + stop_mv + ",376.53\n" +
                                        lines(stop + 1, 63, ",-1,-1")))
            << fast << table;
        EXPECT_TRUE(contains(r.tools_log, "orvi-configure-vtx -p " + std::to_string(stop) +
                                              "\norvi-configure-vtx -p 1\n"));
    }
}

// With the shipped tables, drawn unit 17 (33.55 dBm true at 2412 MHz MCS 0
// level 60) stops full and fast sweeps at the power guard, before its truth
// crosses 31.5 dBm: the stop level reads within the detector's uncertainty
// (0.72 dB in this band) of the limit, every level written below it is at
// or under 31.5 dBm true, and nothing above it gets a result.
TEST_F(CalibrationOnBoard, DrawnUnitAboveTheLimitStopsAtTheGuard) {
    for (const bool fast : {false, true}) {
        BoardRun r = run({"--unit", "17"},
                         {fast ? "-fast-calibrate" : "-calibrate", "-f", "2412", "-m", "0"}, {}, "0",
                         {"2412_0"});
        ASSERT_EQ(r.process.exit_code, 0) << r.process.err;
        const size_t at = r.process.out.find(
            "is within the detector's uncertainty (0.72 dB) of the safety threshold of 31.5 dBm at "
            "power level ");
        ASSERT_NE(at, std::string::npos) << fast << r.process.out;
        const int stop = std::atoi(r.process.out.c_str() + r.process.out.find("level ", at) + 6);
        const int crossing = first_level_beyond(r, fast, [](const Truth& t) { return t.dbm > 31.5; });
        ASSERT_GT(stop, 40) << fast;
        EXPECT_LE(stop, crossing) << fast;
        const std::string table = r.tables["calibrated_2_4.csv"];
        EXPECT_TRUE(contains(table, "\n" + std::to_string(stop) + "," +
                                        r.truth[truth_key(2412, 0, stop)].mv + ","))
            << fast << table;
        EXPECT_TRUE(contains(table, "\n" + lines(stop + 1, 63, ",-1,-1"))) << fast << table;
        for (int level = 1; level < stop; ++level)
            EXPECT_LE(r.truth[truth_key(2412, 0, level)].dbm, 31.5) << fast << " level " << level;
    }
}
