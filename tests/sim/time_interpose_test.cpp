// Virtual time (time_interpose): the sleeps, the shared clock, the sleep log
// and the time scale.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "board_runs.h"

namespace {

struct Sleep {
    std::string name;
    long long asked, elapsed;
};

std::vector<Sleep> parse_sleeps(const std::string& out, long long* virtual_ns) {
    std::vector<Sleep> sleeps;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t v = line.find("virtual_ns=");
        if (v != std::string::npos) {
            *virtual_ns = std::stoll(line.substr(v + 11));
            continue;
        }
        std::istringstream f(line);
        Sleep s;
        if (f >> s.name >> s.asked >> s.elapsed) sleeps.push_back(s);
    }
    return sleeps;
}

TEST(SimBoard, VirtualTimeAdvancesTheSharedMonotonicClock) {
    // 21 s of sleeps on the main thread; the run would time out if they were real.
    // The probe may be another architecture's build under emulation.
    const std::string probe = program_shell_words("tests/sim/sim_clock_probe");
    ProcessResult r = shell_on_board({"--virtual-time"}, probe + " 1000; orvi-sim-ctl show", 15000);
    ASSERT_FALSE(r.timed_out);
    long long virtual_ns = -1;
    std::vector<Sleep> sleeps = parse_sleeps(r.out, &virtual_ns);
    ASSERT_EQ(sleeps.size(), 7u) << r.out << r.err;
    for (const auto& s : sleeps) {
        SCOPED_TRACE(s.name);
        EXPECT_GE(s.elapsed, s.asked);
        // Each virtual second shows once on the clock, not twice (as it would
        // if an emulator's own clock reads were shifted too).
        if (s.name != "thread-usleep") {
            EXPECT_LT(s.elapsed, s.asked + s.asked / 2);
        }
    }
    // Every main-thread sleep moved the board clock by what it asked (the
    // absolute one by what was left of it); the thread's real sleep did not.
    EXPECT_LE(virtual_ns, 21000000000LL);
    EXPECT_GT(virtual_ns, 20000000000LL);
}

TEST(SimBoard, SleepLogHoldsEachVirtualSleep) {
    const std::string probe = binary_path("tests/sim/sim_clock_probe");
    ProcessResult r =
        shell_on_board({"--virtual-time", "--sleep-log", "/run/orvi-sim/sleeps"},
                       probe + " 1000 >/dev/null; cut -d' ' -f2- /run/orvi-sim/sleeps");
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    // The absolute sleep asks for what is left of its 5 s.
    EXPECT_EQ(lines[3].substr(0, 17), "clock_nanosleep 4") << lines[3];
    lines[3] = "absolute";
    EXPECT_EQ(lines, (std::vector<std::string>{"usleep 3000000000", "nanosleep 2000000000",
                                               "clock_nanosleep 4000000000", "absolute",
                                               "nanosleep 6000000000", "sleep 1000000000"}));
}

TEST(SimBoard, WithoutVirtualTimeSleepsAreReal) {
    const std::string probe = binary_path("tests/sim/sim_clock_probe");
    ProcessResult r = shell_on_board({}, probe + " 10; orvi-sim-ctl show");
    long long virtual_ns = -1;
    std::vector<Sleep> sleeps = parse_sleeps(r.out, &virtual_ns);
    ASSERT_EQ(sleeps.size(), 6u) << r.out;
    for (const auto& s : sleeps) EXPECT_GE(s.elapsed, s.asked) << s.name;
    EXPECT_EQ(virtual_ns, 0);
}

TEST(SimBoard, TimeScaleSleepsATenthAndMovesTheClockByTheRest) {
    // 2 s of main-thread sleeps at a speed-up of 10: 0.2 s real, 1.8 s virtual
    // (the absolute sleep counts what was left of it when it began).
    const std::string probe = binary_path("tests/sim/sim_clock_probe");
    ProcessResult r = shell_on_board({"--time-scale", "10"}, probe + " 100; orvi-sim-ctl show");
    long long virtual_ns = -1;
    std::vector<Sleep> sleeps = parse_sleeps(r.out, &virtual_ns);
    ASSERT_EQ(sleeps.size(), 6u) << r.out;
    for (const auto& s : sleeps) EXPECT_GE(s.elapsed, s.asked) << s.name;
    EXPECT_LE(virtual_ns, 1800000000LL);
    EXPECT_GT(virtual_ns, 1700000000LL);
}

}  // namespace
