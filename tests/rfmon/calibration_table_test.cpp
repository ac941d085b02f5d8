// Calibration table text: new tables, merges, stored-table parsing and the
// whole-file replacement.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "calibration_table.h"
#include "interruption.h"
#include "test_support.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

level_result_t measured(double mv, double mw) { return {true, mv, mw}; }
level_result_t temperature_stop(double c) { return {true, TEMPERATURE_STOP_MV, c}; }

std::string lines(int from, int to, const std::string& suffix) {
    std::string text;
    for (int level = from; level <= to; ++level) text += std::to_string(level) + suffix + "\n";
    return text;
}

stored_table_t stored_from(const std::string& text) {
    stored_table_t table;
    EXPECT_EQ(parse_stored_table(text, "calibrated_test.csv", &table), 0);
    return table;
}

struct MergeOutcome {
    int status;
    std::string text;
    std::string out;
    std::string err;
};

MergeOutcome merge(const std::string& stored_text, const sweep_results_t& results, int mcs) {
    stored_table_t stored = stored_from(stored_text);
    MergeOutcome outcome;
    CaptureStdout();
    CaptureStderr();
    outcome.status = merge_table_text(stored, results, mcs, "calibrated_test.csv", &outcome.text);
    outcome.out = GetCapturedStdout();
    outcome.err = GetCapturedStderr();
    return outcome;
}

TEST(CalibrationTable, TemperatureMarkerTruncatesToTenths) {
    const struct {
        double celsius;
        const char* marker;
    } cases[] = {
        {76.37, "TEMP_ERROR_76_3"},   {75.96, "TEMP_ERROR_75_9"}, {80.0, "TEMP_ERROR_80_0"},
        {76.1875, "TEMP_ERROR_76_1"}, {75.0625, "TEMP_ERROR_75_0"}, {101.99, "TEMP_ERROR_101_9"},
    };
    for (const auto& c : cases) EXPECT_EQ(temperature_marker(c.celsius), c.marker) << c.celsius;
}

TEST(CalibrationTable, NewTableAfterPowerStopAtLevel40) {
    sweep_results_t results = {};
    for (int level = 1; level <= 40; ++level) results.level[level] = measured(300.0 + level, level * 2.5);
    results.level[40] = measured(812.345, 1412.5);  // the stopping level keeps its values
    const std::string expected = "Power_Level,MCS3_mV,MCS3_mW\n" + [] {
        std::string body;
        char line[64];
        for (int level = 1; level <= 39; ++level) {
            std::snprintf(line, sizeof line, "%d,%d.00,%.2f\n", level, 300 + level, level * 2.5);
            body += line;
        }
        return body;
    }() + "40,812.35,1412.50\n" + lines(41, 63, ",-1,-1");
    EXPECT_EQ(new_table_text(results, 3), expected);
}

TEST(CalibrationTable, NewTableCarriesTemperatureMarkerAndGaps) {
    sweep_results_t results = {};
    results.level[10] = measured(499.664, 14.925);
    results.level[45] = temperature_stop(76.37);
    EXPECT_EQ(new_table_text(results, 0),
              "Power_Level,MCS0_mV,MCS0_mW\n" + lines(1, 9, ",-1,-1") + "10,499.66,14.93\n" +
                  lines(11, 44, ",-1,-1") + "45,TEMP_ERROR_76_3,TEMP_ERROR_76_3\n" +
                  lines(46, 63, ",-1,-1"));
}

// Withheld levels (above a power stop, estimates within the guard) get "-1"
// in the sweep's columns whatever the stored table held; others keep it, and
// a level the table lacks gets "-1" rather than "NA" when withheld.
TEST(CalibrationTable, WithheldLevelsAreClearedInAnUpdateMerge) {
    std::string stored = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 63; ++level) {
        if (level != 50 && level != 52) stored += std::to_string(level) + ",1.00,2.00,700.00,400.00\n";
    }
    sweep_results_t results = {};
    results.level[40] = measured(900.0, 1400.0);
    for (int level : {38, 39, 41, 42, 50}) results.withheld[level] = true;
    const MergeOutcome m = merge(stored, results, 3);
    ASSERT_EQ(m.status, 0) << m.err;
    std::string expected = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n" + lines(1, 37, ",1.00,2.00,700.00,400.00") +
                           lines(38, 39, ",1.00,2.00,-1,-1") + "40,1.00,2.00,900.00,1400.00\n" +
                           lines(41, 42, ",1.00,2.00,-1,-1") + lines(43, 49, ",1.00,2.00,700.00,400.00") +
                           "51,1.00,2.00,700.00,400.00\n" + lines(53, 63, ",1.00,2.00,700.00,400.00") +
                           "50,,,-1,-1\n52,,,NA,NA\n";
    EXPECT_EQ(m.text, expected);
}

TEST(CalibrationTable, AppendMergeAddsColumnsToEveryStoredLine) {
    const std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n" + lines(1, 60, ",500.00,10.00") +
                               lines(61, 63, ",-1,-1");
    sweep_results_t results = {};
    results.level[1] = measured(350.5, 14.5);
    results.level[2] = temperature_stop(76.37);
    MergeOutcome m = merge(stored, results, 3);
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(m.text, "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n"
                      "1,500.00,10.00,350.50,14.50\n"
                      "2,500.00,10.00,TEMP_ERROR_76_3,TEMP_ERROR_76_3\n" +
                          lines(3, 60, ",500.00,10.00,-1,-1") + lines(61, 63, ",-1,-1,-1,-1"));
    EXPECT_EQ(m.out, "");
    EXPECT_EQ(m.err, "");
}

TEST(CalibrationTable, UpdateMergeAfterStopKeepsOldCellsAboveIt) {
    // MCS 0 and MCS 3 pairs; MCS 3 re-swept and stopped at level 40.
    std::string stored = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 63; ++level) {
        if (level == 50) {
            stored += "50,858.84,831.76,NA,NA\n";
        } else if (level == 55) {
            stored += "55,-1,-1,NA,NA\n";
        } else if (level > 60) {
            stored += std::to_string(level) + ",-1,-1,-1,-1\n";
        } else {
            stored += std::to_string(level) + ",400.00,20.00,600.00,70.00\n";
        }
    }
    sweep_results_t results = {};
    for (int level = 1; level <= 40; ++level) results.level[level] = measured(650.0, 90.0);
    MergeOutcome m = merge(stored, results, 3);
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(m.out, "MCS3 columns already exist in the file, they will be updated\n");
    EXPECT_EQ(m.text, "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n" +
                          lines(1, 40, ",400.00,20.00,650.00,90.00") +
                          lines(41, 49, ",400.00,20.00,600.00,70.00") +
                          "50,858.84,831.76,-1,-1\n" + lines(51, 54, ",400.00,20.00,600.00,70.00") +
                          "55,-1,-1,-1,-1\n" + lines(56, 60, ",400.00,20.00,600.00,70.00") +
                          lines(61, 63, ",-1,-1,-1,-1"));
}

TEST(CalibrationTable, MissingLevelsFollowTheStoredLines) {
    const struct {
        const char* name;
        std::string stored;
        int mcs;
        std::string expected;
    } cases[] = {
        {"update, one pair",
         "Power_Level,MCS0_mV,MCS0_mW\n" + lines(1, 61, ",1.00,2.00") + "63,-1,-1\n", 0,
         "Power_Level,MCS0_mV,MCS0_mW\n" + lines(1, 61, ",1.00,2.00") + "63,-1,-1\n62,NA,NA\n"},
        {"append",
         "Power_Level,MCS0_mV,MCS0_mW\n" + lines(1, 61, ",1.00,2.00") + "63,-1,-1\n", 3,
         "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n" + lines(1, 61, ",1.00,2.00,-1,-1") +
             "63,-1,-1,-1,-1\n62,,,NA,NA\n"},
        {"update, second pair",
         "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n" + lines(3, 63, ",1,2,3,4"), 3,
         "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n" + lines(3, 63, ",1,2,3,4") +
             "1,,,NA,NA\n2,,,NA,NA\n"},
        // Empty cells keep their columns: the MCS 3 cells stay under MCS 3.
        {"update of a line that a merge added",
         "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n" + lines(1, 61, ",1,2,3,4") +
             "63,1,2,3,4\n62,,,NA,NA\n",
         0,
         "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n" + lines(1, 61, ",1,2,3,4") +
             "63,1,2,3,4\n62,-1,-1,NA,NA\n"},
        {"header alone, without a line end", "Power_Level,MCS3_mV,MCS3_mW", 3,
         "Power_Level,MCS3_mV,MCS3_mW\n" + lines(1, 63, ",NA,NA")},
        {"header alone, append", "Power_Level,MCS3_mV,MCS3_mW", 0,
         "Power_Level,MCS3_mV,MCS3_mW,MCS0_mV,MCS0_mW\n" + lines(1, 63, ",,,NA,NA")},
        // "\r\n" line ends are read as line ends and written as "\n".
        {"append to a table with CRLF line ends",
         "Power_Level,MCS0_mV,MCS0_mW\r\n" + lines(1, 62, ",1,2\r") + "63,1,2\r\n", 3,
         "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n" + lines(1, 63, ",1,2,-1,-1")},
    };
    sweep_results_t results = {};
    for (const auto& c : cases) {
        MergeOutcome m = merge(c.stored, results, c.mcs);
        EXPECT_EQ(m.status, 0) << c.name << m.err;
        EXPECT_EQ(m.text, c.expected) << c.name;
    }
}

TEST(CalibrationTable, MissingLevelMeasuredByTheSweepGetsItsValues) {
    const std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n" + lines(2, 63, ",1.00,2.00");
    sweep_results_t results = {};
    results.level[1] = measured(355.956, 16.2249);
    MergeOutcome m = merge(stored, results, 0);
    ASSERT_EQ(m.status, 0);
    EXPECT_EQ(m.text, "Power_Level,MCS0_mV,MCS0_mW\n" + lines(2, 63, ",1.00,2.00") +
                          "1,355.96,16.22\n");
}

TEST(CalibrationTable, UpdateRulesForOddStoredLines) {
    const std::string header = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    const std::string rest = lines(1, 63, ",1,2,3,4");
    const struct {
        const char* name;
        std::string line;
        std::string expected;
    } cases[] = {
        // a short line keeps what it has; the cell beyond its end is left alone
        {"short line", "5,7", "5,650.00"},
        {"short line without result", "70,NA", "70,-1"},
        {"level that does not parse", "abc,NA,,x,y", "abc,-1,-1,x,y"},
        {"level out of range", "64,NA,NA,NA,NA", "64,-1,-1,NA,NA"},
        {"level with trailing text", "5x,9,9,9,9", "5x,650.00,70.00,9,9"},
    };
    sweep_results_t results = {};
    results.level[5] = measured(650.0, 70.0);
    for (const auto& c : cases) {
        MergeOutcome m = merge(header + c.line + "\n" + rest, results, 0);
        ASSERT_EQ(m.status, 0) << c.name;
        std::string first_line = m.text.substr(header.size(), m.text.find('\n', header.size()) - header.size());
        EXPECT_EQ(first_line, c.expected) << c.name;
    }
}

TEST(CalibrationTable, MergeFailuresProduceNoTable) {
    const std::string full = lines(1, 63, ",1,2");
    const std::string prefix = "Power_Level,MCS0_mV,MCS0_mW,";
    const std::string long_header = prefix + std::string(1006 - prefix.size() - 1, 'x') + "\n";
    ASSERT_EQ(long_header.size(), 1006u);
    const struct {
        const char* name;
        std::string stored;
        int mcs;
        std::string err;
    } cases[] = {
        {"blank line", "Power_Level,MCS0_mV,MCS0_mW\n1,1,2\n\n2,1,2\n", 0,
         "Failed to parse power level from data row: Invalid argument\n"},
        {"commas only", "Power_Level,MCS0_mV,MCS0_mW\n1,1,2\n,,\n", 3,
         "Failed to parse power level from data row: Invalid argument\n"},
        {"header too long", prefix + std::string(1007 - prefix.size() - 1, 'x') + "\n" + full,
         3, "Header would be too long after adding new columns\n"},
        {"only the mV name", "Power_Level,MCS3_mV\n" + lines(1, 63, ",1"), 3,
         "Error: the header of calibrated_test.csv names only one of MCS3_mV and MCS3_mW; the "
         "file is left unchanged\n"},
        {"only the mW name", "Power_Level,MCS0_mV,MCS0_mW,MCS3_mW\n" + lines(1, 63, ",1,2,3"), 3,
         "Error: the header of calibrated_test.csv names only one of MCS3_mV and MCS3_mW; the "
         "file is left unchanged\n"},
        // The new cells would make the stored line too long to be read back.
        {"line too long after the update", "Power_Level,MCS3_mV,MCS3_mW\n1,1,2," +
                                               std::string(1016, 'x') + "\n",
         3,
         "Error: merging into calibrated_test.csv would write line 2 longer than 1022 "
         "characters; the file is left unchanged\n"},
        // An update would write the new cell over the level that this line keeps in field 1.
        {"level after an empty first field", "Power_Level,MCS3_mV,MCS3_mW\n,46,1,2\n", 3,
         "Failed to parse power level from data row: Invalid argument\n"},
        {"target name in the level column", "MCS3_mV,MCS3_mW\n" + lines(1, 63, ",1"), 3,
         "Error: the header of calibrated_test.csv has MCS3_mV in the power level column; the "
         "file is left unchanged\n"},
    };
    sweep_results_t results = {};
    results.level[1] = measured(1, 1);
    for (const auto& c : cases) {
        MergeOutcome m = merge(c.stored, results, c.mcs);
        EXPECT_EQ(m.status, -1) << c.name;
        EXPECT_EQ(m.err, c.err) << c.name;
        EXPECT_EQ(m.text, "") << c.name;
    }
    // One character less fits: 1006 + 2 + 16 = 1024.
    MergeOutcome fits = merge(long_header + full, results, 3);
    EXPECT_EQ(fits.status, 0);
    EXPECT_EQ(fits.text.substr(0, 1006 + 16), long_header.substr(0, 1005) + ",MCS3_mV,MCS3_mW\n");
}

TEST(CalibrationTable, StoredTableSplitsIntoHeaderAndLines) {
    const struct {
        std::string text;
        std::string header;
        std::vector<std::string> rows;
    } cases[] = {
        {"H\nA\nB", "H\n", {"A", "B"}},
        {"H\nA\nB\n", "H\n", {"A", "B"}},
        {"H\n\n", "H\n", {""}},
        {"H\n", "H\n", {}},
        {"H", "H", {}},
        {"H\r\nA\r\nB\r\n", "H\r\n", {"A", "B"}},
        {std::string(1022, 'h') + "\n" + std::string(1022, 'r'), std::string(1022, 'h') + "\n",
         {std::string(1022, 'r')}},
    };
    for (const auto& c : cases) {
        stored_table_t table;
        ASSERT_EQ(parse_stored_table(c.text, "t.csv", &table), 0);
        EXPECT_EQ(table.header, c.header);
        EXPECT_EQ(table.rows, c.rows);
    }
}

TEST(CalibrationTable, StoredTableRejectsEmptyFilesAndOverlongLines) {
    const struct {
        std::string text;
        std::string err;
    } cases[] = {
        {"", "Failed to read header from existing calibration file: No data available\n"},
        {std::string(1023, 'h') + "\n1,2,3\n",
         "Error: line 1 of t.csv is longer than 1022 characters; the file is left unchanged\n"},
        {"H\n1,2\n" + std::string(1023, '3'),
         "Error: line 3 of t.csv is longer than 1022 characters; the file is left unchanged\n"},
        {std::string("Power_Level,MCS0_mV\n1,2\n3,\0\n", 28),
         "Error: line 3 of t.csv holds a NUL byte; the file is left unchanged\n"},
    };
    for (const auto& c : cases) {
        stored_table_t table;
        CaptureStderr();
        EXPECT_EQ(parse_stored_table(c.text, "t.csv", &table), -1);
        EXPECT_EQ(GetCapturedStderr(), c.err);
    }
}

// Replacing a stored table in a scratch folder.
class TableFiles : public testing::Test {
protected:
    // The folder's names, sorted, one a line.
    std::string listing() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d)) {
                if (e->d_name[0] != '.') names.push_back(e->d_name);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        std::string text;
        for (const auto& name : names) text += name + "\n";
        return text;
    }

    const ScratchDir scratch_{"calibration-table"};
    const std::string& dir_ = scratch_.path();
};

TEST_F(TableFiles, ReplaceWritesTheWholeTextAndKeepsTheMode) {
    const std::string path = dir_ + "/calibrated_5_8.csv";
    const std::string first = "Power_Level,MCS0_mV,MCS0_mW\n1,2.00,3.00\n";
    ASSERT_EQ(replace_file_contents(path.c_str(), first), 0);
    EXPECT_EQ(read_file(path), first);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    // What a run with a fixed temporary name once left is no obstacle.
    ASSERT_EQ(mkdir((path + ".tmp").c_str(), 0755), 0);
    const std::string second = "Power_Level,MCS0_mV,MCS0_mW\n1,4.00,5.00\n2,-1,-1\n";
    ASSERT_EQ(replace_file_contents(path.c_str(), second), 0);
    EXPECT_EQ(read_file(path), second);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(listing(), "calibrated_5_8.csv\ncalibrated_5_8.csv.tmp\n");
}

TEST_F(TableFiles, ReplaceKeepsALinkedTableInItsPlace) {
    ASSERT_EQ(mkdir((dir_ + "/real").c_str(), 0755), 0);
    const std::string real = dir_ + "/real/calibrated_5_1.csv";
    const std::string link = dir_ + "/calibrated_5_1.csv";
    write_file(real, "old\n");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    ASSERT_EQ(replace_file_contents(link.c_str(), "new\n"), 0);
    EXPECT_EQ(read_file(real), "new\n");
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(TableFiles, FailedReplaceLeavesTheOldTable) {
    // A name so long that the temporary file's cannot be made beside it.
    const std::string name = std::string(250, 't') + ".csv";
    const std::string path = dir_ + "/" + name;
    const std::string old = "Power_Level,MCS3_mV,MCS3_mW\n1,350.83,14.52\n";
    write_file(path, old);
    CaptureStderr();
    EXPECT_EQ(replace_file_contents(path.c_str(), "something else\n"), -1);
    EXPECT_EQ(GetCapturedStderr(),
              "Failed to open output file for calibration data: File name too long\n");
    EXPECT_EQ(read_file(path), old);
    EXPECT_EQ(listing(), name + "\n");

    const std::string missing_dir = dir_ + "/absent/calibrated_2_4.csv";
    CaptureStderr();
    EXPECT_EQ(replace_file_contents(missing_dir.c_str(), old), -1);
    EXPECT_EQ(GetCapturedStderr(),
              "Failed to open output file for calibration data: No such file or directory\n");
}

// A signal noted while the new table is written (in a child, where the flag
// stays): the old table stays, no temporary file is left, nothing is said.
TEST_F(TableFiles, InterruptedReplaceLeavesTheOldTable) {
    const std::string path = dir_ + "/calibrated_5_8.csv";
    const std::string old = "Power_Level,MCS0_mV,MCS0_mW\n1,2.00,3.00\n";
    write_file(path, old);
    EXPECT_EXIT(
        {
            catch_interruptions();
            raise(SIGTERM);
            const bool refused =
                replace_file_contents(path.c_str(), "new\n", [] { return interruption_signal() != 0; }) == -1;
            const bool kept = read_file(path) == old && listing() == "calibrated_5_8.csv\n";
            std::_Exit(refused && kept ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^$");
}

}  // namespace
