// The board's options (board_options): bad ones are refused before
// anything runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_runs.h"

namespace {

TEST(SimBoard, BadBoardOptionsAreRefusedBeforeAnythingRuns) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--fault", "bogus:nak"}, "orvi-sim-board: bad fault 'bogus:nak' (KIND[@ADDR]:ACTION[:WHEN])\n"},
        {{"--buses", "0,300"}, "orvi-sim-board: bad bus number '300' (0..255)\n"},
        {{"--power", "x"}, "orvi-sim-board: bad value 'x' for --power (0..63)\n"},
        {{"--unit", "-1"}, "orvi-sim-board: bad value '-1' for --unit (0..1000000)\n"},
        {{"--output-loss", "-41"}, "orvi-sim-board: bad value '-41' for --output-loss (dB, -40..40)\n"},
        {{"--wobble", "1"}, "orvi-sim-board: unknown board option --wobble\n"},
    };
    for (const auto& [options, message] : cases) {
        ProcessResult r = on_board(options, {"sh", "-c", "echo ran"});
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, message);
    }
}

}  // namespace
