// Runs the real orvi-rfmon, either directly (the test itself runs on the
// simulated board) or on a board of its own described by board options
// (sim/README.md), and reads what the board's fake tools recorded.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

class RfmonRig {
public:
    // argv[0] of every run, as the usage text shows it.
    std::string program() const;
    // A scratch directory of this rig under /tmp, removed with it.
    const std::string& dir() const { return dir_.path(); }

    // orvi-rfmon with args, in the current environment.
    ProcessResult run(const std::vector<std::string>& args, RunOptions options = {}) const;

    struct BoardRun {
        std::vector<std::string> board;  // board and wrapper options
        std::vector<std::string> args;   // orvi-rfmon's arguments
        bool line_buffered = false;      // stdbuf -oL -eL, for runs that get stopped
        bool merge_stderr = false;       // stderr into stdout, to see the interleaving
    };
    // orvi-rfmon on a fresh board; the fake tools log to tool_log().
    ProcessResult run_on_board(const BoardRun& run, RunOptions options = {}) const;
    std::string tool_log() const;

private:
    ScratchDir dir_{"rfmon-rig"};
};

// orvi-rfmon's usage text with the given program name and defaults.
std::string usage(const std::string& program, int sampling = 300, const char* pause = "0.000");
