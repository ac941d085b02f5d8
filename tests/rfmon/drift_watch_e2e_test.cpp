// The drift warning on the simulated board: a calibrated unit monitored
// while its output falls by 3 dB (orvi-sim-ctl degrade output) and comes back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"
#include "unit_nine_board.h"

namespace {

class DriftWatchOnBoard : public UnitNineOnBoard {};

// Monitoring at index 30 of a calibrated unit: its output falls by 3 dB and
// comes back. The warning follows the fifth reading of the fall, the all-clear
// the first reading back.
TEST_F(DriftWatchOnBoard, DriftWarningAfterTheFifthReadingAndItsAllClear) {
    const ProcessResult r = on_board(
        "R -fast-calibrate -f 5805 -m 0 > /dev/null 2>&1 || exit 9\n"
        "orvi-configure-vtx -p 30\n"
        "X > \"$D/out\" 2>&1 & monitor=$!\n"
        "wait_for() { until grep -q \"$1\" \"$D/out\" || ! kill -0 $monitor 2> /dev/null; do "
        "env -u LD_PRELOAD sleep 0.05; done; }\n"
        "wait_for 'Power: 30$'; orvi-sim-ctl degrade output 3\n"
        "wait_for '^Warning: output differs'; orvi-sim-ctl degrade output 0\n"
        "wait_for '^Output back within'; kill -TERM $monitor; wait $monitor\n",
        {"--time-scale", "50"});
    ASSERT_EQ(r.exit_code, 143) << r.out << r.err;
    const std::vector<std::string> out = lines_of(read_file(dir_ + "/out"));
    // Channel 1's dBm of each monitoring line at index 30; the messages in between.
    std::vector<double> readings;
    size_t warning_after = 0, clear_after = 0, warnings = 0, clears = 0;
    for (const std::string& line : out) {
        double ch0 = 0, ch1 = 0;
        if (line.find("Power: 30") != std::string::npos &&
            std::sscanf(line.c_str(), "2.4 GHz (CH0): %lf dBm (%*f mV)   5.8 GHz (CH1): %lf", &ch0, &ch1) == 2) {
            readings.push_back(ch1);
        } else if (line.rfind("Warning: output differs from the calibration table by ", 0) == 0) {
            warning_after = readings.size();
            ++warnings;
        } else if (line.rfind("Output back within 1.50 dB of the calibration table: ", 0) == 0) {
            clear_after = readings.size();
            ++clears;
        }
    }
    ASSERT_EQ(warnings, 1u) << read_file(dir_ + "/out");
    ASSERT_EQ(clears, 1u);
    size_t first_fallen = 0;
    while (first_fallen < readings.size() && readings[first_fallen] > readings.front() - 2) ++first_fallen;
    EXPECT_EQ(warning_after, first_fallen + 5);
    ASSERT_GE(clear_after, 1u);
    EXPECT_NEAR(readings[clear_after - 1], readings.front(), 0.5);
    for (size_t i = first_fallen; i + 1 < clear_after; ++i) EXPECT_LT(readings[i], readings.front() - 2) << i;
}

}  // namespace
