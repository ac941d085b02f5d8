// The field check on the simulated board: a unit calibrated, then checked
// as it is and after its output fell by 3 dB (orvi-sim-ctl degrade output).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"
#include "unit_nine_board.h"

namespace {

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

size_t count_lines_with(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (const std::string& line : lines_of(text)) n += (line + "\n").find(part) != std::string::npos;
    return n;
}

// The differences of the per-level lines, in level order.
std::vector<double> differences(const std::string& out) {
    std::vector<double> found;
    for (const std::string& line : lines_of(out)) {
        int level = 0;
        double measured = 0, table = 0, difference = 0;
        if (std::sscanf(line.c_str(), "Level %d: measured %lf dBm, table %lf dBm, difference %lf dB", &level,
                        &measured, &table, &difference) == 4)
            found.push_back(difference);
    }
    return found;
}

class FieldCheckOnBoard : public UnitNineOnBoard {};

TEST_F(FieldCheckOnBoard, PassesAsCalibratedFailsAfterALossNeedsATable) {
    const ProcessResult r = on_board(
        "R -fast-calibrate -f 5805 -m 0 > /dev/null 2>&1 || exit 9\n"
        "cp /data/quillon/vtx/calibrated_5_8.csv \"$D/before\"\n"
        "R -verify -f 5805 -m 0 > \"$D/as-calibrated\"; echo \"status $?\" >> \"$D/as-calibrated\"\n"
        "orvi-sim-ctl degrade output 3\n"
        ": > \"$D/tools.log\"\n"
        "R -verify -f 5805 -m 0 -verify-db 2 > \"$D/loss\"; echo \"status $?\" >> \"$D/loss\"\n"
        "R -verify -f 2412 -m 0 > \"$D/no-table\"; echo \"status $?\" >> \"$D/no-table\"\n"
        "cmp \"$D/before\" /data/quillon/vtx/calibrated_5_8.csv && ls /data/quillon/vtx > \"$D/listing\"\n");
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;

    const std::string as_calibrated = read_file(dir_ + "/as-calibrated");
    const std::vector<double> same = differences(as_calibrated);
    ASSERT_EQ(same.size(), 6u) << as_calibrated;
    for (double d : same) EXPECT_LE(std::fabs(d), 0.02) << as_calibrated;
    EXPECT_TRUE(ends_with(as_calibrated,
                          "Field check 5805 MHz MCS 0: PASS, the output matches the table within 1.50 dB\n"
                          "Safety measure: Power level set to 1 (minimum) after field check\n"
                          "Field check complete: the output matches the tables\nstatus 0\n"))
        << as_calibrated;

    const std::string loss = read_file(dir_ + "/loss");
    const std::vector<double> fallen = differences(loss);
    ASSERT_EQ(fallen.size(), 6u) << loss;
    for (double d : fallen) EXPECT_NEAR(d, -3.0, 0.3) << loss;
    EXPECT_EQ(static_cast<int>(lines_of(loss).size()) - static_cast<int>(lines_of(as_calibrated).size()), 0);
    EXPECT_NE(loss.find("difference -3.0"), std::string::npos);
    EXPECT_NE(loss.find(" dB  << outside\n"), std::string::npos);
    EXPECT_TRUE(ends_with(loss, "Field check 5805 MHz MCS 0: FAIL, 6 of 6 levels do not match the table within "
                                "2.00 dB\nSafety measure: Power level set to 1 (minimum) after field check\n"
                                "Field check complete: the output does NOT match the tables\nstatus 1\n"))
        << loss;
    // Only the anchors were set, then power 1 and the latency test's stop.
    EXPECT_TRUE(ends_with(read_file(dir_ + "/tools.log"),
                          "orvi-configure-vtx -p 56\norvi-configure-vtx -p 60\norvi-configure-vtx -p 1\n"
                          "orvi-send-command vtx_latency stop_test 1\norvi-configure-vtx -m 0\n"
                          "orvi-send-command vtx_latency stop_test 1\n"))
        << read_file(dir_ + "/tools.log");

    EXPECT_TRUE(ends_with(read_file(dir_ + "/no-table"),
                          "Field check 2412 MHz MCS 0: no table /data/quillon/vtx/calibrated_2_4.csv to check "
                          "against\nField check complete: a band has no table to check against\nstatus 2\n"));
    // The table is never written, and nothing is left beside it.
    EXPECT_EQ(read_file(dir_ + "/listing"),
              "2_4_mv_to_dbm.csv\n5_1_mv_to_dbm.csv\n5_8_mv_to_dbm.csv\ncalibrated_5_8.csv\n");
}

// A unit at 80 °C: calibrated without temperature testing, which says once
// that it goes on; checked with it after a 6 dB loss, it stops at level 10
// and has checked nothing (exit 2), where without it the loss shows (exit 1).
TEST_F(FieldCheckOnBoard, AHotUnitStoppedAtItsFirstLevelIsNotChecked) {
    const ProcessResult r = on_board(
        "R -fast-calibrate -f 5805 -m 0 > \"$D/calibrated\" 2>&1 || exit 9\n"
        "orvi-sim-ctl degrade output 6\n"
        "R -verify -f 5805 -m 0 -temp_test > \"$D/tested\"; echo \"status $?\" >> \"$D/tested\"\n"
        "R -verify -f 5805 -m 0 > \"$D/untested\"; echo \"status $?\" >> \"$D/untested\"\n",
        {"--virtual-time", "--temp-start", "80"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    const std::string heat = "but temperature testing is off; the sweep goes on\n";
    const std::string calibrated = read_file(dir_ + "/calibrated");
    EXPECT_EQ(count_lines_with(calibrated, heat), 1u) << calibrated;
    EXPECT_NE(calibrated.find("Warning: Temperature (80.00°C) is above 75.0°C at power level 10, " + heat),
              std::string::npos);

    const std::string tested = read_file(dir_ + "/tested");
    EXPECT_NE(tested.find("Level 10: not compared, temperature stop at 80.00°C\n"), std::string::npos) << tested;
    EXPECT_TRUE(ends_with(tested, "Field check 5805 MHz MCS 0: NOT CHECKED, 0 of 6 levels compared, at least 3 "
                                  "needed\nSafety measure: Power level set to 1 (minimum) after field check\n"
                                  "Field check complete: the output could not be checked against the tables\n"
                                  "status 2\n"))
        << tested;
    EXPECT_EQ(tested.find("PASS"), std::string::npos);

    const std::string untested = read_file(dir_ + "/untested");
    EXPECT_EQ(count_lines_with(untested, heat), 1u) << untested;
    EXPECT_EQ(differences(untested).size(), 6u) << untested;
    EXPECT_TRUE(ends_with(untested, "Field check complete: the output does NOT match the tables\nstatus 1\n"))
        << untested;
}

}  // namespace
