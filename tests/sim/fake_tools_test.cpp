// The fake transmitter tools (fake_configure_vtx, fake_send_command).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_runs.h"

namespace {

TEST(SimBoard, FakeToolsChangeTheTransmitterAndLogEveryCall) {
    const ScratchDir dir("orvi-sim-test");
    const std::string log = dir / "tools.log";
    ProcessResult r = shell_on_board(
        {"--log", log},
        "orvi-configure-vtx -F 2412; orvi-configure-vtx -m 1 -p 33; orvi-configure-vtx -p 99;"
        " echo status $?; orvi-send-command vtx_latency stop_test 1; echo status $?;"
        " orvi-sim-ctl show");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Everything but the temperature, which rises while the test runs.
    std::string out = r.out;
    size_t t = out.find("temperature="), sp = out.find(' ', t);
    ASSERT_NE(t, std::string::npos) << out;
    out.erase(t, sp - t + 1);
    EXPECT_EQ(out, "status 1\nstatus 0\nfrequency=2412 mcs=1 power=33 stop_test=1 virtual_ns=0\n");
    EXPECT_EQ(r.err, "orvi-configure-vtx: -p needs a value in 0..63\n");
    EXPECT_EQ(read_file(log),
              "orvi-configure-vtx -F 2412\norvi-configure-vtx -m 1 -p 33\norvi-configure-vtx -p 99\n"
              "orvi-send-command vtx_latency stop_test 1\n");
}

TEST(SimBoard, FakeToolsCanBeMadeToFail) {
    const ScratchDir dir("orvi-sim-test");
    const std::string log = dir / "tools.log";
    ProcessResult r = shell_on_board(
        {"--log", log, "--configure-status", "3", "--send-command-status", "1"},
        "orvi-configure-vtx -p 40; echo status $?; orvi-send-command vtx_latency stop_test 1;"
        " echo status $?; orvi-sim-ctl show | cut -d' ' -f3,5");
    EXPECT_EQ(r.out, "status 3\nstatus 1\npower=20 stop_test=0\n");
    EXPECT_EQ(read_file(log), "orvi-configure-vtx -p 40\norvi-send-command vtx_latency stop_test 1\n");
}

}  // namespace
