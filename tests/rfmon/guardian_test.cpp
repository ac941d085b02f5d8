// The guardian of a run that a forked child of the test plays: what it
// does and says for each way the run ends, with stand-ins for the tools.
#include "guardian.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct Case {
    const char* name;
    bool temporary;       // a temporary table file is announced
    bool temporary_gone;  // and then said to be gone (renamed)
    int fault;            // the fault signal told, 0 for none
    bool dismissed;       // the run says it is done
    int configure_status;
    std::vector<std::string> calls;
    std::string said;     // the guardian's line after "... after orvi-rfmon (process <pid>) "
    bool temporary_left;  // the file (there in every case) is still there
};

const std::vector<std::string> kWayDown = {"orvi-configure-vtx [-p] [1]",
                                           "orvi-send-command [vtx_latency] [stop_test] [1]"};
const std::string kDied = "ended without finishing its run";

TEST(Guardian, ActsOnlyWhenTheRunDiesAndSaysSoInOneLine) {
    const std::vector<Case> cases = {
        {"dismissed", true, false, 0, true, 0, {}, "", true},
        {"died", false, false, 0, false, 0, kWayDown, kDied + "\n", true},
        {"died of a fault", false, false, SIGSEGV, false, 0, kWayDown, kDied + " (SIGSEGV)\n",
         true},
        {"died writing a table", true, false, 0, false, 0, kWayDown, kDied + "\n", false},
        {"died after writing a table", true, true, 0, false, 0, kWayDown, kDied + "\n", true},
        {"power 1 refused", false, false, 0, false, 3, kWayDown,
         kDied + ": orvi-configure-vtx exited with status 3; the power may still be high\n", true},
    };
    const ScratchDir scratch("orvi-guardian-test");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTools tools({"orvi-configure-vtx", "orvi-send-command"});
        tools.set_status("orvi-configure-vtx", c.configure_status);
        const std::string temporary = scratch / "calibrated_5_8.csv.tmp.a1B2c3";
        write_file(temporary, "part of a table");
        int err[2];
        ASSERT_EQ(pipe(err), 0);
        const pid_t run = fork();
        if (run == 0) {
            dup2(err[1], 2);
            if (!start_guardian(-1))
                _exit(2);
            if (c.temporary)
                tell_guardian_temporary_file(temporary.c_str());
            if (c.temporary_gone)
                tell_guardian_temporary_file(nullptr);
            if (c.fault)
                tell_guardian_fault(c.fault);
            if (c.dismissed)
                dismiss_guardian();
            _exit(0);
        }
        close(err[1]);
        std::string said;  // until the guardian, which shares the pipe, is gone too
        char buffer[512];
        for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
        close(err[0]);
        int status = 0;
        waitpid(run, &status, 0);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(tools.calls(), c.calls);
        const std::string power = c.configure_status == 0
                                      ? "Safety measure: Power level set to 1 (minimum) after "
                                      : "Failed to set power level to 1 after ";
        EXPECT_EQ(said, c.said.empty()
                            ? ""
                            : power + "orvi-rfmon (process " + std::to_string(run) + ") " + c.said);
        EXPECT_EQ(file_exists(temporary), c.temporary_left);
        std::remove(temporary.c_str());
    }
}

}  // namespace
