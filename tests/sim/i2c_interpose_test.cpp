// The interposed C library calls (i2c_interpose): a bus descriptor closed
// behind the board's back.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "board_runs.h"

namespace {

TEST(SimBoard, ABusClosedBehindTheBoardsBackLeavesItsNumberToPlainFiles) {
    const ScratchDir dir("orvi-sim-test");
    const std::string file = dir / "plain.txt";
    std::ofstream(file) << "hello";
    for (const char* close_step : {"fclose", "closerange"}) {
        SCOPED_TRACE(close_step);
        ProcessResult r = on_board(
            {}, client_steps("/dev/i2c-1", std::string("select 0x1d ") + close_step + " cat " + file));
        EXPECT_EQ(r.out, std::string("select 0x1d ok\n") + close_step + " 0\ncat hello\n") << r.err;
    }
}

}  // namespace
