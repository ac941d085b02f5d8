// What a run on a scratch board leaves in its directory: the program's
// streams and what the script saved after it (tool log, folder listing,
// table, the board's state).
#pragma once

#include <cstdio>
#include <string>

#include "test_support.h"

struct BoardRunFiles {
    std::string out, err, tools, listing, table, state;
};

inline const char* const kBoardRunFileNames[] = {"/tools.log", "/out",   "/err",
                                                 "/listing",   "/table", "/state"};

inline void remove_board_run_files(const std::string& dir) {
    for (const char* name : kBoardRunFileNames) std::remove((dir + name).c_str());
}

inline BoardRunFiles read_board_run_files(const std::string& dir) {
    return {read_file(dir + "/out"),     read_file(dir + "/err"),   read_file(dir + "/tools.log"),
            read_file(dir + "/listing"), read_file(dir + "/table"), read_file(dir + "/state")};
}
