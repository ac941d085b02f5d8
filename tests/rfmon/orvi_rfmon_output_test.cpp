// orvi-rfmon's monitoring lines reach a pipe as they are printed, in order
// with its error lines, also when the monitor is ended by a signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "run_process.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool is_monitor_line(const std::string& line) { return line.rfind("2.4 GHz (CH0): ", 0) == 0; }

}  // namespace

TEST(MonitorOutput, EveryLineReachesAPipeBeforeTheSignal) {
    // The second reading's first sequence start fails. Both streams share
    // one pipe; no stdbuf: the program must not rely on its caller.
    // Stopped once eight whole lines are out; the time limit only ends a run
    // that never gets there.
    RunOptions options;
    options.stop_when = [](const ProcessResult& so_far) {
        return std::count(so_far.out.begin(), so_far.out.end(), '\n') >= 8;
    };
    options.stop_after_ms = 100000;
    options.timeout_ms = 150000;
    const ProcessResult r = run_process(
        {source_path("sim/orvi-sim-board"), "--build", binary_path(""), "--virtual-time",
         "--fault", "seq-start:nak:at=301", "--", "sh", "-c", "exec \"$0\" \"$@\" 2>&1",
         binary_path("rfmon/orvi-rfmon"), "-d", "1"},
        options);
    ASSERT_FALSE(r.timed_out);
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GE(lines.size(), 7u) << r.out << r.err;
    EXPECT_TRUE(is_monitor_line(lines[0])) << lines[0];
    EXPECT_EQ(lines[1], "Failed to write to the i2c bus: Remote I/O error");
    EXPECT_EQ(lines[2], "Failed to start the conversion sequence, retrying in 5 seconds...");
    EXPECT_EQ(lines[3], "Error processing sensor data");
    // No publisher: after the 5 s wait the telemetry's age is said once.
    EXPECT_EQ(lines[4],
              "Warning: no telemetry from vtx_latency for 5 s; power index and MCS may be stale");
    for (size_t i = 5; i + 1 < lines.size(); ++i) EXPECT_TRUE(is_monitor_line(lines[i])) << i;
}
