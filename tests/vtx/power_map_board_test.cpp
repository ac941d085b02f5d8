// Calibration tables written by real sweeps of orvi-rfmon on the simulated
// board, read back as power maps.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <orvi/power_map.h>
#include "test_support.h"

namespace {

struct Measured {
    int level;
    double mw;
};

// The measured rows of one MCS column pair of a table: level and mW, for
// the levels that carry numbers.
std::vector<Measured> measured_rows(const std::string& table, int mcs) {
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> header;
    {
        std::istringstream h(line);
        std::string name;
        while (std::getline(h, name, ',')) header.push_back(name);
    }
    size_t column = 0;
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i] == "MCS" + std::to_string(mcs) + "_mW") column = i;
    }
    EXPECT_NE(column, 0u) << "no MCS" << mcs << "_mW column";
    std::vector<Measured> rows;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream l(line);
        std::string cell;
        while (std::getline(l, cell, ',')) cells.push_back(cell);
        if (column >= cells.size() || cells[column] == "-1" || cells[column] == "NA") continue;
        rows.push_back({std::stoi(cells[0]), std::stod(cells[column])});
    }
    return rows;
}

class PowerMapOnBoard : public ::testing::Test {
protected:
    // Runs one calibration and returns the table it wrote for `token`.
    std::string calibrate(std::vector<std::string> board, int frequency, int mcs, const std::string& token) {
        board.insert(board.end(), {"--virtual-time", "--noise-mv", "0", "--log", dir_ / "tools.log"});
        std::vector<std::string> command{
            "/bin/sh", "-c",
            "\"$0\" \"$@\"; s=$?; cp /data/quillon/vtx/calibrated_*.csv '" + dir_.path() + "/'; exit $s"};
        for (const auto& word : program_command("rfmon/orvi-rfmon")) command.push_back(word);
        command.insert(command.end(),
                       {"-d", "1", "-calibrate", "-f", std::to_string(frequency), "-m", std::to_string(mcs)});
        ProcessResult r = run_on_board(board, command);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        path_ = dir_ / "calibrated_" + token + ".csv";
        return read_file(path_);
    }

    const ScratchDir dir_{"orvi-power-board"};
    std::string path_;
};

TEST_F(PowerMapOnBoard, SweptTableGivesTheMeasuredLevels) {
    const std::string table = calibrate({}, 5805, 3, "5_8");
    const std::vector<Measured> rows = measured_rows(table, 3);
    ASSERT_EQ(rows.size(), 60u) << table;

    Captured c;
    PowerMap map;
    c = capture_output([&] { map = loadPowerCalibrationOrDefault(path_, "", "5.8"); });
    EXPECT_EQ(c.err, "");
    // Only MCS 3 was calibrated; MCS 4 to 7 share its curve.
    ASSERT_EQ(map.size(), 5u);
    for (int mcs = 4; mcs <= 7; ++mcs) EXPECT_EQ(map[mcs], map[3]);

    std::map<int, int> expected;  // rounded mW -> last level that measured it
    for (const auto& row : rows) expected[static_cast<int>(std::lround(row.mw))] = row.level;
    EXPECT_EQ(map[3], expected);

    // Asking for what a level measured gives a level that measured the same.
    for (const auto& row : rows) {
        int mw = static_cast<int>(std::lround(row.mw));
        int index = findClosestPowerIndex(map, 3, &mw, 5805, REGULATORY_DOMAIN_FCC, true);
        EXPECT_EQ(expected.at(mw), index) << "level " << row.level;
        int lower_mcs = mw;
        EXPECT_EQ(findClosestPowerIndex(map, 0, &lower_mcs, 5805, REGULATORY_DOMAIN_NONE, true), index);
    }
}

TEST_F(PowerMapOnBoard, LevelsAboveASafetyStopAreNeverChosen) {
    const std::string table = calibrate({"--over-power", "40:300"}, 2412, 1, "2_4");
    const std::vector<Measured> rows = measured_rows(table, 1);
    ASSERT_FALSE(rows.empty()) << table;
    int top = 0;
    for (const auto& row : rows) top = std::max(top, row.level);
    EXPECT_LE(top, 40);

    PowerMap map = loadPowerCalibrationData(path_);
    normalizeMcsCoverage(map);
    ASSERT_EQ(map.size(), 2u);  // MCS 1, and MCS 2 from it
    for (int mcs : {1, 2}) {
        for (int mw : {1, 100, 5000, 100000}) {
            int request = mw;
            int index = findClosestPowerIndex(map, mcs, &request, 2412, REGULATORY_DOMAIN_NONE, true);
            EXPECT_GE(index, 1);
            EXPECT_LE(index, top) << mw << " mW";
        }
    }
}

}  // namespace
