// In-process tests of readings, the power search and the monitoring cycle
// on a simulated board of the test's own (own_board.h), with conversion
// tables in the hermetic /data (table_files.h) and converter words from a
// script.
#pragma once

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "own_board.h"
#include "table_files.h"

inline double code_mv(int code) {
    return code * 1800.0 / 4096.0;
}

// A buffer line with `code` on both channels.
inline std::string code_words(int code) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x %04x", code << 4, code << 4);
    return text;
}

// Power index 1..60 reads code 0x100 + 4 x index, or 0 at `zero_levels`.
inline BoardSetup codes_by_power(const std::vector<int>& zero_levels = {}) {
    BoardSetup board{{}, {}, true};
    for (int level = 1; level <= 60; ++level) {
        const bool zero = std::count(zero_levels.begin(), zero_levels.end(), level) > 0;
        board.adc_script.push_back(std::to_string(level) + " " +
                                   code_words(zero ? 0 : 0x100 + level * 4));
    }
    return board;
}

// Table rows keyed exactly at the voltage of each ADC code.
inline std::string coded_table(const std::map<int, double>& dbm_of_code) {
    std::string text = "mV,MCS0,MCS1,MCS2,MCS3,MCS4,MCS5,MCS6,MCS7\n";
    for (const auto& [code, dbm] : dbm_of_code) {
        char row[512];
        std::snprintf(row, sizeof row, "%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g\n",
                      code_mv(code), dbm, dbm, dbm, dbm, dbm, dbm, dbm, dbm);
        text += row;
    }
    return text;
}

// Tables and, on the board, the bus the code under test selects on.
class BoardTableTest : public TableTest {
  protected:
    bool on_own_board(const BoardSetup& board, const std::string& row = "") {
        if (!on_board(board, row))
            return false;
        fd = bus.emplace().fd;
        return true;
    }
    std::optional<BoardBus> bus;
    int fd = -1;
};
