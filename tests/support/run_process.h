// Runs a program to completion, alone, on the simulated board or inside the
// hermetic runner, and captures its output and exit status.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
    int exit_code = -1;    // valid when term_signal is 0
    int term_signal = 0;   // signal that ended the process, 0 if it exited
    bool timed_out = false;
    std::string out;
    std::string err;
};

struct RunOptions {
    std::vector<std::string> env;  // "NAME=value" entries added to (or replacing in) the environment
    std::string input;             // written to standard input, which is then closed
    int timeout_ms = 120000;       // SIGKILL after this long
    int stop_after_ms = 0;         // if > 0, SIGTERM after this long (not a failure)
    // If set, SIGTERM (not a failure) as soon as it holds for the output so far:
    // a run stopped by what it printed does not depend on the machine's speed.
    std::function<bool(const ProcessResult&)> stop_when;
    std::string cwd;
};

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

// Paths of this checkout and its build tree.
std::string source_path(const std::string& relative);
std::string binary_path(const std::string& relative);

// The first words of a command that runs one of our programs (`relative` to
// a build tree): binary_path(relative), or, for the programs of another
// architecture, the emulator words of ORVI_TEST_EMULATOR followed by
// `relative` in the build tree ORVI_TEST_PROGRAM_DIR (either may be unset).
std::vector<std::string> program_command(const std::string& relative);
// The same as shell words, quoted and joined by spaces.
std::string program_shell_words(const std::string& relative);
// What the real-time limits of a run of our programs are multiplied by:
// ORVI_TEST_TIME_FACTOR (emulated programs run several times slower), or 1.
double program_time_factor();
// sim/orvi-sim-board with this tree's build, plus --emulated-build for the
// programs of ORVI_TEST_PROGRAM_DIR when they run under an emulator.
std::vector<std::string> board_wrapper();

// `command` on a fresh simulated board built from this tree (sim/README.md);
// `board` holds the board's and its wrapper's options.
ProcessResult run_on_board(const std::vector<std::string>& board,
                           const std::vector<std::string>& command, const RunOptions& options = {});
// `command` inside the hermetic runner alone (private /run, /data, /etc),
// after the shell line `setup` when one is given.
ProcessResult run_in_runner(const std::vector<std::string>& command, const RunOptions& options = {},
                            const std::string& setup = "");

// `text` as one single-quoted shell word.
std::string shell_quote(const std::string& text);
