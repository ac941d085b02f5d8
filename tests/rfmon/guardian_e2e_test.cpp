// Every way a run can end, during a full sweep, a fast sweep, -verify and a
// power search of orvi-rfmon on the simulated board (virtual time): each
// must leave the transmitter at power level 1 with the latency test
// stopped, the stored table as it was, no file beside it, and one line that
// says so, from orvi-rfmon or from its guardian.
//
// A stand-in orvi-configure-vtx in front of the board's own strikes at one
// call line, so that the blow lands at a known step whatever the machine's
// speed: a signal to orvi-rfmon after the call, or before it while the tool
// goes on, to its whole process group before it (the tool itself dies too),
// or SIGKILL to the guardian. Or the
// run's output goes into `head`, which leaves early. The board's namespace
// ends with its first process, and the guardian with it: the script waits
// until the guardian, which shares the run lock, has let it go.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "board_run_files.h"
#include "test_support.h"

namespace {

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

const std::string kStored = "Power_Level,MCS0_mV,MCS0_mW\n1,2.00,5.00\n";
const std::string kListing =
    "2_4_mv_to_dbm.csv\n5_1_mv_to_dbm.csv\n5_8_mv_to_dbm.csv\ncalibrated_5_8.csv\n";
const std::string kStopTest = "orvi-send-command vtx_latency stop_test 1\n";

std::string power_calls(const std::vector<int>& levels) {
    std::string text;
    for (int level : levels) text += "orvi-configure-vtx -p " + std::to_string(level) + "\n";
    return text;
}

const char* kStandIn =
    "#!/bin/sh\n"
    "hit=; case \"|$STRIKE_AT|\" in *\"|$*|\"*) hit=1;; esac\n"
    "rfmon=$(cat \"$PID_FILE\")\n"
    "[ -n \"$hit\" ] && [ \"$TARGET\" = group ] && kill -s \"$SIGNAL\" -- -\"$rfmon\"\n"
    "[ -n \"$hit\" ] && [ \"$TARGET\" = during ] && kill -s \"$SIGNAL\" \"$rfmon\" && "
    "env -u LD_PRELOAD sleep 0.2\n"
    "\"$REAL_TOOL\" \"$@\" || exit\n"
    "[ -n \"$hit\" ] && [ \"$TARGET\" = run ] && kill -s \"$SIGNAL\" \"$rfmon\"\n"
    "if [ -n \"$hit\" ] && [ \"$TARGET\" = guardian ]; then\n"
    "  for c in $(cat /proc/$rfmon/task/$rfmon/children); do\n"
    "    [ \"$c\" = $$ ] || [ \"$c\" = $PPID ] || { kill -s KILL \"$c\"\n"
    "      until grep -q '^State:.Z' /proc/$c/status 2> /dev/null || [ ! -e /proc/$c ]; do :; "
    "done; }\n"
    "  done\n"
    "fi\n"
    "exit 0\n";

// What a run does before the blow: its arguments, the call line struck, the
// power level set before that one, how many lines `head` takes (in the
// middle of raising the power) and the status of a run that cannot finish.
struct Kind {
    const char* name;
    std::vector<std::string> args;
    int strike_level;
    int previous_level;
    int head_lines;
    int unfinished_status;
};

enum class Blow {
    interrupt,
    kill_run,
    kill_during,
    kill_group,
    fault,
    kill_guardian,
    close_output
};

struct Way {
    const char* name;
    Blow blow;
    const char* signal_name;
    int signal;
};

struct Outcome : BoardRunFiles {
    ProcessResult process;
    std::string pid;
};

class WaysOut : public testing::Test {
  protected:
    Outcome run(const Kind& k, const Way& w) {
        const std::string& d = scratch_.path();
        make_dirs(d + "/bin");
        make_dirs(d + "/in");
        write_file(d + "/bin/orvi-configure-vtx", kStandIn);
        chmod((d + "/bin/orvi-configure-vtx").c_str(), 0755);
        write_file(d + "/in/calibrated_5_8.csv", kStored);
        const char* target = w.blow == Blow::kill_group      ? "group"
                             : w.blow == Blow::kill_during   ? "during"
                             : w.blow == Blow::kill_guardian ? "guardian"
                                                             : "run";
        const std::string start =
            "setsid sh -c 'echo $$ > \"$PID_FILE\"; exec env --default-signal \"$0\" \"$@\"' "
            "\"$0\" \"$@\" 2> \"$D/err\"";
        const std::string script =
            "ulimit -c 0; D=" + shell_quote(d) +
            "\nexport PATH=\"$D/bin:$PATH\" PID_FILE=\"$D/pid\"" +
            " REAL_TOOL=" + shell_quote(binary_path("sim/bin/orvi-configure-vtx")) +
            " STRIKE_AT='-p " + std::to_string(k.strike_level) + "' TARGET=" + target +
            " SIGNAL=" + w.signal_name + "\n" +
            (w.blow == Blow::close_output ? start + " | head -n " + std::to_string(k.head_lines) +
                                                " > \"$D/out\"\n" + "s=${PIPESTATUS[0]}\n"
                                          : start + " > \"$D/out\" &\nwait $!; s=$?\n") +
            "flock /run/orvi-rfmon.lock true\ncd /data/quillon/vtx && ls -A > \"$D/listing\"; "
            "cp calibrated_5_8.csv \"$D/table\"; orvi-sim-ctl show > \"$D/state\"; exit $s";
        std::vector<std::string> command = {"/bin/bash", "-c", script};
        for (const auto& word : program_command("rfmon/orvi-rfmon")) command.push_back(word);
        command.insert(command.end(), {"-d", "1"});
        command.insert(command.end(), k.args.begin(), k.args.end());
        remove_board_run_files(d);
        std::remove((d + "/pid").c_str());
        Outcome o;
        // A search waits for telemetry: a publisher, and a clock slow enough
        // for its real-time records to come within the wait.
        std::vector<std::string> board = {"--log", d + "/tools.log", "--data", d + "/in"};
        if (k.args[0] == "-adjust-dbm")
            board.insert(board.end(), {"--publisher", "", "--time-scale", "40"});
        else
            board.push_back("--virtual-time");
        o.process = run_on_board(board, command);
        o.pid = read_file(d + "/pid");
        if (!o.pid.empty())
            o.pid.pop_back();
        static_cast<BoardRunFiles&>(o) = read_board_run_files(d);
        return o;
    }

    const ScratchDir scratch_{"orvi-ways-out-test"};
};

// What the guardian says for a run that died.
std::string guardian_line(const std::string& pid, const char* fault) {
    return "Safety measure: Power level set to 1 (minimum) after orvi-rfmon (process " + pid +
           ") ended without finishing its run" + fault + "\n";
}

void check_says_so(const Kind& k, const Way& w, const Outcome& o) {
    const std::string interrupted =
        "Safety measure: Power level set to 1 (minimum) after interruption\n";
    switch (w.blow) {
        case Blow::interrupt:
            EXPECT_TRUE(ends_with(o.out, interrupted)) << o.out.substr(o.out.size() / 2);
            EXPECT_EQ(o.err, "");
            break;
        case Blow::kill_run:
        case Blow::kill_during:
        case Blow::kill_group:
            EXPECT_EQ(o.err, guardian_line(o.pid, ""));
            break;
        case Blow::fault:
            EXPECT_EQ(o.err, guardian_line(o.pid, " (SIGSEGV)"));
            break;
        case Blow::kill_guardian:
            EXPECT_TRUE(ends_with(o.out,
                                  "Safety measure: Power level set to 1 (minimum) after the "
                                  "loss of the power guardian\n"));
            EXPECT_EQ(o.err.rfind("Error: The power guardian (process ", 0), 0u) << o.err;
            EXPECT_TRUE(ends_with(o.err, ") has ended; the run cannot go on without it\n"))
                << o.err;
            break;
        case Blow::close_output:
            EXPECT_EQ(o.err,
                      "Safety measure: Power level set to 1 (minimum) after a failed write to "
                      "standard output (Broken pipe)\n");
            // The power had been raised when the output went.
            EXPECT_NE(o.tools.find(power_calls({k.strike_level})), std::string::npos) << o.tools;
            break;
    }
}

TEST_F(WaysOut, EveryWayOutEndsAtPowerOne) {
    const std::vector<Kind> kinds = {
        {"full sweep", {"-calibrate", "-f", "5805", "-m", "0"}, 3, 2, 40, 1},
        {"fast sweep", {"-fast-calibrate", "-f", "5805", "-m", "0"}, 35, 10, 30, 1},
        {"-verify", {"-verify", "-f", "5805", "-m", "0"}, 35, 10, 22, 2},
        {"power search", {"-adjust-dbm", "20"}, 30, 1, 18, 1},
    };
    const std::vector<Way> ways = {
        {"SIGUSR1", Blow::interrupt, "USR1", SIGUSR1},
        {"SIGQUIT", Blow::interrupt, "QUIT", SIGQUIT},
        {"SIGALRM", Blow::interrupt, "ALRM", SIGALRM},
        {"SIGKILL of orvi-rfmon alone", Blow::kill_run, "KILL", SIGKILL},
        // The tool's level must not land after the guardian's power 1.
        {"SIGKILL of orvi-rfmon while a tool runs", Blow::kill_during, "KILL", SIGKILL},
        {"SIGKILL of its process group", Blow::kill_group, "KILL", SIGKILL},
        {"SIGSEGV", Blow::fault, "SEGV", SIGSEGV},
        {"SIGKILL of its guardian", Blow::kill_guardian, "KILL", SIGKILL},
        {"SIGPIPE through | head", Blow::close_output, "PIPE", SIGPIPE},
    };
    for (const Kind& k : kinds) {
        for (const Way& w : ways) {
            SCOPED_TRACE(std::string(w.name) + " during a " + k.name);
            const Outcome o = run(k, w);
            const bool run_ends_itself =
                w.blow == Blow::kill_guardian || w.blow == Blow::close_output;
            EXPECT_EQ(o.process.exit_code, run_ends_itself ? k.unfinished_status : 128 + w.signal)
                << o.process.err << o.err;
            // The last level set before the blow (a group's SIGKILL takes
            // the tool with it), then power 1 and the latency test's end.
            const std::string tail = w.blow == Blow::close_output ? power_calls({1})
                                     : w.blow == Blow::kill_group
                                         ? power_calls({k.previous_level, 1})
                                         : power_calls({k.strike_level, 1});
            EXPECT_TRUE(ends_with(o.tools, tail + kStopTest)) << o.tools;
            EXPECT_NE(o.state.find(" power=1 "), std::string::npos) << o.state;
            EXPECT_NE(o.state.find(" stop_test=1 "), std::string::npos) << o.state;
            EXPECT_EQ(o.table, kStored);
            EXPECT_EQ(o.listing, kListing);
            check_says_so(k, w, o);
        }
    }
}

}  // namespace
