// orvi-rfmon's calibration on the simulated board (virtual time), seen as a
// user sees it: the table files, the exit status, the transmitter tools run.
// The RF model's voltages are not asserted, only which levels got values.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The level field of every line whose cells are not "-1,-1".
std::vector<int> levels_with_values(const std::string& table) {
    std::vector<int> levels;
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        if (line.size() < 6 || line.compare(line.size() - 6, 6, ",-1,-1") != 0)
            levels.push_back(std::atoi(line.c_str()));
    }
    return levels;
}

// The argument of the last "orvi-configure-vtx -p" call, -1 without one.
int last_power_command(const std::string& tools_log) {
    const std::string call = "orvi-configure-vtx -p ";
    const size_t at = tools_log.rfind(call);
    return at == std::string::npos ? -1 : std::atoi(tools_log.c_str() + at + call.size());
}

struct SweepRun {
    ProcessResult process;
    std::string table;  // calibrated_5_8.csv after the run, "" when absent
    std::string tools_log;
};

class CalibrationFaults : public testing::Test {
protected:
    // `stored` (when not empty) is the band's table before the run.
    SweepRun run(const std::vector<std::string>& board, const std::vector<std::string>& args,
            const std::string& stored = "") {
        std::vector<std::string> options = {"--virtual-time", "--log", dir_ + "/tools.log"};
        options.insert(options.end(), board.begin(), board.end());
        if (!stored.empty()) {
            make_dirs(dir_ + "/in");
            write_file(dir_ + "/in/calibrated_5_8.csv", stored);
            options.insert(options.end(), {"--data", dir_ + "/in"});
        }
        std::vector<std::string> command = {
            "sh", "-c",
            "\"$0\" \"$@\"; s=$?; cp /data/quillon/vtx/calibrated_5_8.csv '" + dir_ +
                "/table.csv' 2>/dev/null; exit $s",
            binary_path("rfmon/orvi-rfmon"), "-d", "1"};
        command.insert(command.end(), args.begin(), args.end());
        SweepRun result;
        result.process = run_on_board(options, command);
        result.table = read_file(dir_ + "/table.csv");
        result.tools_log = read_file(dir_ + "/tools.log");
        return result;
    }

    const ScratchDir scratch_{"rfmon-calibration"};
    const std::string& dir_ = scratch_.path();
};

const std::vector<int> LEVELS_1_TO_47 = [] {
    std::vector<int> levels;
    for (int level = 1; level <= 47; ++level) levels.push_back(level);
    return levels;
}();

}  // namespace

// The sensor vanishes during level 46, the first the sweep steps to below
// anchor 50 (its 40th transaction): levels 46 and 47 have no fresh
// temperature, so the power never reaches 50.
TEST_F(CalibrationFaults, TemperatureTestingStopsWhenTheSensorFallsSilent) {
    const SweepRun r = run({"--fault", "any@0x48:enxio:from=40"},
                      {"-temp_test", "-fast-calibrate", "-f", "5805", "-m", "3"});
    EXPECT_EQ(r.process.exit_code, 0) << r.process.err;
    EXPECT_EQ(levels_with_values(r.table), LEVELS_1_TO_47) << r.table;
    EXPECT_EQ(count_of(r.process.out, "WARNING: No valid temperature at power levels 46 and 47 "
                                      "with temperature testing enabled\n"
                                      "Stopping calibration for safety reasons\n"),
              1u)
        << r.process.out;
    EXPECT_FALSE(contains(r.tools_log, "orvi-configure-vtx -p 60\n"));
    EXPECT_EQ(last_power_command(r.tools_log), 1);
}

// A table that cannot be merged: nothing is written, the power ends at
// level 1 after the sweep went up to 60, and the run exits with status 1.
TEST_F(CalibrationFaults, FailedMergeLeavesThePowerAtOneAndFailsTheRun) {
    const std::string stored = "Power_Level,MCS0_mV,MCS0_mW\n1,2.00,3.00\n\n";
    const SweepRun r = run({}, {"-fast-calibrate", "-f", "5805", "-m", "3"}, stored);
    EXPECT_EQ(r.process.exit_code, 1);
    EXPECT_EQ(r.table, stored);
    EXPECT_EQ(r.process.err,
              "Failed to parse power level from data row: Invalid argument\n"
              "Calibration failed for Frequency: 5805 MHz, MCS: 3\n");
    EXPECT_TRUE(contains(r.tools_log, "orvi-configure-vtx -p 60\norvi-configure-vtx -p 1\n"))
        << r.tools_log;
    EXPECT_EQ(last_power_command(r.tools_log), 1);
    EXPECT_TRUE(contains(r.process.out, "Safety measure: Power level set to 1 (minimum) after "
                                        "calibration failure\n"));
}

// One combination failing fails the run; the others still run and write.
TEST_F(CalibrationFaults, AnyFailedCombinationGivesExitStatusOne) {
    const SweepRun r = run({}, {"-fast-calibrate", "-f", "3000", "-f", "5805", "-m", "3"});
    EXPECT_EQ(r.process.exit_code, 1);
    EXPECT_EQ(r.process.err,
              "Warning: Fast calibration is not supported for 3000 MHz MCS 3; using full "
              "calibration instead.\n"
              "Error: Invalid frequency 3000 MHz\n"
              "Calibration failed for Frequency: 3000 MHz, MCS: 3\n");
    EXPECT_EQ(levels_with_values(r.table).size(), 60u) << r.table;
    EXPECT_TRUE(contains(r.process.out, "All calibrations completed!\n"));
}
