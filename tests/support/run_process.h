// Runs a program to completion and captures its output and exit status.
#pragma once

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
    std::string cwd;
};

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

// Paths of this checkout and its build tree.
std::string source_path(const std::string& relative);
std::string binary_path(const std::string& relative);
