// One run at a time on the simulated board (virtual time): runs that would
// change the transmitter while another does are refused at once and set
// nothing, and a killed run blocks the next one only while its guardian is
// still on its way down.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kStored = "Power_Level,MCS0_mV,MCS0_mW\n1,2.00,5.00\n";

std::string refusal(const std::string& pid) {
    return "Error: Another run holds the board's lock /run/orvi-rfmon.lock (process " + pid +
           "); nothing was changed\n";
}

class RunLock : public testing::Test {
  protected:
    // `script` run by bash on a board of its own, with $D the scratch folder,
    // $R orvi-rfmon -d 1, the stand-in tool first on PATH (it holds the call
    // $HOLD_AT while $D/hold exists, until $D/go does; after a "-p 35" while
    // $D/strike exists it kills the process in $D/first.pid); the board's
    // tool log and table after it.
    ProcessResult run(const std::string& script) {
        const std::string& d = scratch_.path();
        make_dirs(d + "/bin");
        make_dirs(d + "/in");
        write_file(d + "/bin/orvi-configure-vtx",
                   "#!/bin/sh\n"
                   "if [ \"$*\" = \"$HOLD_AT\" ] && [ -e \"$D/hold\" ]; then\n"
                   "  rm \"$D/hold\"; touch \"$D/held\"\n"
                   "  until [ -e \"$D/go\" ]; do env -u LD_PRELOAD sleep 0.01; done\nfi\n" +
                       shell_quote(binary_path("sim/bin/orvi-configure-vtx")) +
                       " \"$@\" || exit\n"
                       "if [ \"$*\" = \"-p 35\" ] && [ -e \"$D/strike\" ]; then\n"
                       "  rm \"$D/strike\"; kill -KILL \"$(cat \"$D/first.pid\")\"\nfi\n");
        chmod((d + "/bin/orvi-configure-vtx").c_str(), 0755);
        write_file(d + "/in/calibrated_5_8.csv", kStored);
        const std::string full =
            "D=" + shell_quote(d) +
            "; export D PATH=\"$D/bin:$PATH\"; R=\"$0 -d 1\"\n"
            "until_file() { until [ -e \"$1\" ]; do env -u LD_PRELOAD sleep 0.01; done; }\n" +
            script + "\ncp /data/quillon/vtx/calibrated_5_8.csv \"$D/table\"";
        std::vector<std::string> command = {"/bin/bash", "-c", full};
        for (const auto& word : program_command("rfmon/orvi-rfmon")) command.push_back(word);
        for (const char* f :
             {"/tools.log", "/table", "/go", "/held", "/hold", "/strike", "/seconds"})
            std::remove((d + f).c_str());
        // A constant temperature: the board's follows the real clock too, and
        // two runs must measure the same.
        return run_on_board(
            {"--virtual-time", "--temp-rise", "0", "--log", d + "/tools.log", "--data", d + "/in"},
            command);
    }
    std::string file(const char* name) const { return read_file(scratch_.path() + "/" + name); }

    const ScratchDir scratch_{"orvi-run-lock-test"};
};

TEST_F(RunLock, SecondRunsAreRefusedAndTheFirstIsUndisturbed) {
    const std::string sweep = "$R -calibrate -f 5805 -m 0 > \"$D/first.out\" 2> \"$D/first.err\"";
    ASSERT_EQ(run(sweep).exit_code, 0) << file("first.err");
    const std::string alone_table = file("table");
    const std::string alone_tools = file("tools.log");

    // Each second run while the first is held at setting level 3: status,
    // bytes on standard output, standard error.
    const ProcessResult r = run(
        "export HOLD_AT='-p 3'; touch \"$D/hold\"\n" + sweep +
        " &\necho $! > \"$D/first.pid\"\nuntil_file \"$D/held\"\n"
        "for second in '-calibrate -f 5805 -m 3' '-fast-calibrate -f 5805 -m 0' "
        "'-verify -f 5805 -m 0' '-adjust-dbm 20'; do\n"
        "  $R $second > \"$D/second.out\" 2> \"$D/second.err\"\n"
        "  echo \"$? $(wc -c < \"$D/second.out\") $(cat \"$D/second.err\")\" >> \"$D/seconds\"\n"
        "done\ntouch \"$D/go\"; wait \"$(cat \"$D/first.pid\")\"");
    ASSERT_EQ(r.exit_code, 0) << r.err << file("first.err");
    std::string pid = file("first.pid");
    pid.pop_back();
    const std::string refused = refusal(pid);
    EXPECT_EQ(file("seconds"),
              "1 0 " + refused + "1 0 " + refused + "2 0 " + refused + "1 0 " + refused);
    EXPECT_EQ(file("table"), alone_table);
    EXPECT_EQ(file("tools.log"), alone_tools);
}

// A killed run's guardian holds the lock until its way down is done: a run
// started meanwhile is refused naming the guardian; the one after it runs.
TEST_F(RunLock, AKilledRunBlocksOnlyWhileItsGuardianActs) {
    const ProcessResult r = run(
        "export HOLD_AT='-p 1'; touch \"$D/strike\" \"$D/hold\"\n"
        "setsid sh -c 'echo $$ > \"$D/first.pid\"; exec \"$0\" \"$@\"' $R -fast-calibrate -f 5805 "
        "-m 0 > \"$D/first.out\" 2> \"$D/first.err\" &\nwait $!\nuntil_file \"$D/held\"\n"
        "cat /run/orvi-rfmon.lock > \"$D/holder\"\n"
        "$R -fast-calibrate -f 5805 -m 0 > /dev/null 2> \"$D/second.err\"; echo $? > "
        "\"$D/second\"\n"
        "touch \"$D/go\"; flock /run/orvi-rfmon.lock true\n"
        "$R -fast-calibrate -f 5805 -m 0 > /dev/null 2> \"$D/third.err\"; echo $? > \"$D/third\"");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string holder = file("holder");
    ASSERT_FALSE(holder.empty());
    holder.pop_back();
    EXPECT_EQ(file("second"), "1\n");
    EXPECT_EQ(file("second.err"), refusal(holder));
    EXPECT_EQ(file("third"), "0\n") << file("third.err");
    EXPECT_EQ(file("third.err"), "");
    const std::string tools = file("tools.log");
    // The guardian's way down, then the third run.
    EXPECT_NE(tools.find("orvi-configure-vtx -p 35\norvi-configure-vtx -p 1\n"
                         "orvi-send-command vtx_latency stop_test 1\norvi-configure-vtx -F 5805\n"),
              std::string::npos)
        << tools;
    EXPECT_NE(file("table").find("\n35,"), std::string::npos) << file("table");
}

}  // namespace
