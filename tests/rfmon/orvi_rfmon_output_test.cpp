// orvi-rfmon's monitoring lines reach a pipe as they are printed, in order
// with its error lines, also when the monitor is ended by a signal; closed
// standard streams never become the bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

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

// Started with standard streams closed (as a careless service file or a
// daemonising wrapper does), a fast sweep makes exactly the bus transactions
// of one started normally: nothing printed reaches the bus.
TEST(MonitorOutput, ClosedStandardStreamsNeverBecomeTheBus) {
    const ScratchDir scratch("orvi-closed-streams-test");
    const auto transactions = [&](const std::string& redirection) {
        const std::string log = scratch / "i2c.log";
        std::remove(log.c_str());
        std::vector<std::string> command = {"sh", "-c", "exec \"$0\" \"$@\" " + redirection};
        for (const auto& word : program_command("rfmon/orvi-rfmon")) command.push_back(word);
        command.insert(command.end(), {"-d", "1", "-fast-calibrate", "-f", "5805", "-m", "0"});
        const ProcessResult r = run_on_board({"--virtual-time", "--i2c-log", log}, command);
        EXPECT_EQ(r.exit_code, 0) << redirection;
        std::string text;  // without the process ids
        for (const std::string& line : lines_of(read_file(log))) {
            const size_t space = line.find(' ');
            text += (space == std::string::npos ? line : line.substr(space)) + "\n";
        }
        return text;
    };
    const std::string normal = transactions("> /dev/null");
    ASSERT_NE(normal.find(" i2c-1 read 0x1d 32 ok\n"), std::string::npos);
    for (const char* redirection : {">&-", ">&- 2>&-", "<&- >&- 2>&-"}) {
        EXPECT_EQ(transactions(redirection), normal) << redirection;
    }
}

// Output that cannot be written ends the run, also where no signal would:
// plain monitoring into a pipe that closes, a sweep onto a full disk.
TEST(MonitorOutput, OutputThatCannotBeWrittenEndsTheRun) {
    struct Case {
        std::string output;  // where standard output goes
        std::vector<std::string> args;
        std::string err;
        int power;  // the board's power level after it (plain monitoring sets none)
    };
    const std::vector<Case> cases = {
        {"| head -n 3 > /dev/null", {},
         "Error: Failed to write to standard output (Broken pipe); monitoring stopped\n", 20},
        {"> /dev/full", {"-fast-calibrate", "-f", "5805", "-m", "0"},
         "Safety measure: Power level set to 1 (minimum) after a failed write to standard "
         "output\n", 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> command = {
            "bash", "-c", "\"$0\" \"$@\" 2> /run/err " + c.output + "; s=${PIPESTATUS[0]}; "
                          "cat /run/err; orvi-sim-ctl show; exit $s"};
        for (const auto& word : program_command("rfmon/orvi-rfmon")) command.push_back(word);
        command.insert(command.end(), {"-d", "1"});
        command.insert(command.end(), c.args.begin(), c.args.end());
        const ProcessResult r = run_on_board({"--virtual-time"}, command);
        EXPECT_EQ(r.exit_code, 1) << c.output;
        EXPECT_EQ(r.out.rfind(c.err, 0), 0u) << r.out;
        EXPECT_NE(r.out.find(" power=" + std::to_string(c.power) + " "), std::string::npos) << r.out;
    }
}
