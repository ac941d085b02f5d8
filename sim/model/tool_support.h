// Shared by the board's command-line tools: finding the board this process
// runs on and recording a call in the tools' log.
#pragma once

#include <string>

#include "board_config.h"
#include "board_state.h"

struct ToolBoard {
    BoardConfig cfg;
    BoardShared* state = nullptr;
    bool shared = false;  // false: no state file, a stand-in only this process sees
};

// A whole decimal number in lo..hi (nothing before or after it); false for
// anything else, *out untouched.
bool parse_decimal(const char* text, long lo, long hi, long* out);

// Loads the board named by ORVI_SIM_BOARD; false with a message on stderr.
bool open_tool_board(const char* tool, ToolBoard* board);

// Appends "tool arg1 arg2 ...\n" to the board's tools log (one write, so
// concurrent callers do not interleave). False with a message on stderr.
bool log_tool_call(const ToolBoard& board, const char* tool, int argc, char** argv);
