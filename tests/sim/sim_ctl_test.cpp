// orvi-sim-ctl (sim_ctl): the bench meter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_runs.h"

namespace {

// The bench meter reads the truth at the board's own settings, off by at
// most 0.1 dB, and the same twice for the same settings; it follows an
// output loss, not a detector loss.
TEST(SimBoard, MeterReadsTheTruthWithinItsOwnError) {
    const std::string look =
        "orvi-configure-vtx -F 2412 -m 3 -p 44; orvi-sim-ctl truth | cut -d' ' -f5; "
        "orvi-sim-ctl meter; orvi-sim-ctl meter; orvi-sim-ctl degrade detector 2; orvi-sim-ctl meter;"
        "orvi-sim-ctl degrade output 2; orvi-sim-ctl truth | cut -d' ' -f5; orvi-sim-ctl meter";
    for (const char* unit : {"0", "12", "140"}) {
        SCOPED_TRACE(unit);
        ProcessResult r = shell_on_board({"--unit", unit, "--temp-rise", "0"}, look);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(r.out.substr(at, end - at));
        ASSERT_EQ(lines.size(), 6u) << r.out;
        const double truth = std::stod(lines[0].substr(4)), meter = std::stod(lines[1]);
        EXPECT_NEAR(meter, truth, 0.1 + 0.005);
        EXPECT_EQ(lines[2], lines[1]);
        EXPECT_EQ(lines[3], lines[1]);
        EXPECT_NEAR(std::stod(lines[5]), std::stod(lines[4].substr(4)), 0.1 + 0.005);
        EXPECT_NEAR(std::stod(lines[4].substr(4)), truth - 2, 1e-3);
    }
}

}  // namespace
