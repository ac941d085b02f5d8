// Runs the real orvi-rfmon against a controlled set of I2C buses and records
// the transmitter tools it starts.
#pragma once

#include <string>
#include <vector>

#include "run_process.h"

struct Board {
    std::string buses;      // comma-separated buses that exist but hold nothing
    std::string vtx_buses;  // buses holding the detector and the sensor
};

class RfmonRig {
public:
    RfmonRig();
    ~RfmonRig();
    RfmonRig(const RfmonRig&) = delete;
    RfmonRig& operator=(const RfmonRig&) = delete;

    // argv[0] of every run, as the usage text shows it.
    std::string program() const;
    ProcessResult run(const std::vector<std::string>& args, const Board& board,
                      RunOptions options = {}) const;
    // Lets this process's own system() calls see the same buses (for tests
    // that call the program's functions directly).
    void use_in_this_process(const Board& board) const;
    // Calls of the external tools, one line each: name and arguments.
    std::string tool_log() const;
    // A scratch directory of this rig, removed with it.
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};
