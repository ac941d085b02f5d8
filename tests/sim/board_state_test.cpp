// The shared board state (board_state): the thermal model on the board's
// clock, the over-temperature stop it lets a calibration reach, and the
// board lock.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "board_runs.h"

namespace {

TEST(SimBoard, TemperatureRisesWithPowerOverTheBoardsVirtualTime) {
    // 30 C start, 60 C rise at index 60, 100 s time constant: after 1000 s of
    // (virtual) transmission 90 - 60 e^-10 = 89.997 C, word 0x5A00. The board
    // clock also moves with real time, so the first read, a moment after the
    // start, is only bounded: at 0.6 C/s at most it still reads 30.x C (0x1E).
    // "sleep 1000" is the shell tool: its virtual sleep moves the whole board.
    std::vector<std::string> argv{client(), "/dev/i2c-1", "select", "0x48", "w", "00", ";", "r",
                                  "2", "run", "sleep 1000", "w", "00", ";", "r", "2"};
    ProcessResult r = on_board({"--virtual-time", "--temp-start", "30", "--temp-rise", "60",
                                "--temp-tau", "100", "--power", "60"},
                               argv, 20000);
    EXPECT_FALSE(r.timed_out);
    const std::string before = "select 0x48 ok\nwrite 1\nread 2 1e ";
    const std::string after = "0\nrun 0\nwrite 1\nread 2 5a 00\n";
    ASSERT_EQ(r.out.size(), before.size() + 1 + after.size()) << r.out;
    EXPECT_EQ(r.out.substr(0, before.size()), before) << r.out;
    EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(r.out[before.size()]))) << r.out;
    EXPECT_EQ(r.out.substr(before.size() + 1), after) << r.out;
}

TEST(SimBoard, OverTemperatureStopIsReachableInVirtualTime) {
    // 35 C start, up to 115 C at index 60 with a 20 s time constant: a full
    // sweep (about 80 s of mandated waits) heats the board past 75 C.
    ProcessResult r = shell_on_board(
        {"--virtual-time", "--temp-rise", "80", "--temp-tau", "20"},
        binary_path("rfmon/orvi-rfmon") +
            " -temp_test -calibrate -f 5805 -m 0; echo status $?; cat /data/quillon/vtx/calibrated_5_8.csv",
        30000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_NE(r.out.find("exceeds safety threshold of 75.0°C at power level"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Stopping calibration for safety reasons\n"), std::string::npos);
    // The stop level carries the marker in both cells: TEMP_ERROR_75_x or above.
    size_t marker = r.out.find(",TEMP_ERROR_");
    ASSERT_NE(marker, std::string::npos);
    std::string cells = r.out.substr(marker + 1, r.out.find('\n', marker) - marker - 1);
    int whole = 0, tenth = 0;
    ASSERT_EQ(std::sscanf(cells.c_str(), "TEMP_ERROR_%d_%d", &whole, &tenth), 2) << cells;
    EXPECT_GE(whole, 75);
    EXPECT_EQ(cells, "TEMP_ERROR_" + std::to_string(whole) + "_" + std::to_string(tenth) + "," + cells.substr(0, cells.find(',')));
    EXPECT_NE(r.out.find("status 0\n"), std::string::npos);
}

TEST(SimBoard, BoardLockExcludesAcrossProcessesAndOutlivesAHolderThatDies) {
    // Three processes add to one unguarded counter under the board lock; then
    // a holder is killed inside the lock, and the next process still gets it.
    // N is native; e runs our build of the probe, which may be another
    // architecture's under emulation, so the lock also works across the two.
    const std::string script = "N=" + shell_quote(binary_path("tests/sim/sim_lock_probe")) +
                               "; e() { " + program_shell_words("tests/sim/sim_lock_probe") +
                               " \"$@\"; }; e add 20000 & $N add 20000 & e add 20000 & wait;"
                               " e die; $N add 1; $N die; e add 1; $N read";
    ProcessResult r = shell_on_board({}, script, 120000);
    ASSERT_FALSE(r.timed_out) << r.err;
    EXPECT_EQ(r.out, "60002\n") << r.err;
}

}  // namespace
