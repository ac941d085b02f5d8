// The board's options ("--buses 0,1", "--virtual-time", ...), as the wrapper
// and orvi-sim-ctl take them on a command line and as the board's config
// file keeps them. One table in board_options.cpp names every option once,
// with whether it takes a value and what it sets.
#pragma once

#include <string>
#include <vector>

#include "board_config.h"

// Applies one option ("--buses", "0,1"). Options without a value take "".
// Returns false with a message in *error.
bool apply_board_option(BoardConfig* cfg, const std::string& name, const std::string& value,
                        std::string* error);

// True when the option takes a value; *known tells whether it is one.
bool board_option_has_value(const std::string& name, bool* known);

// Parses options as given on a command line; stops at the first error.
bool parse_board_options(BoardConfig* cfg, const std::vector<std::string>& args,
                         std::string* error);

// The config file holds one option a line: the name, a tab, the value.
bool load_board_config(BoardConfig* cfg, const std::string& path, std::string* error);
bool save_board_config(const std::vector<std::string>& args, const std::string& path,
                       std::string* error);
