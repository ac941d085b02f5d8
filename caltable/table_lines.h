// The line rules of a calibration table file, for the sweep that merges into
// one and for orvi-calreport alike: every line must fit the line buffer it is
// read back with, and no byte may be NUL (it would end the text early for the
// line-based readers while the others still saw it).
#pragma once

#include <cstddef>
#include <string_view>

constexpr int CALIBRATION_LINE_BUFFER = 1024;  // line buffer of the stored table and header limit
// The longest line, its line end aside ("\r" counts), that the buffer takes.
constexpr size_t TABLE_LINE_LONGEST = CALIBRATION_LINE_BUFFER - 2;

// Where a text breaks the rules, lines counted from 1; 0 where it does not.
typedef struct table_line_faults_t {
    long first_nul_line;   // the first line holding a NUL byte
    long first_long_line;  // the first line longer than TABLE_LINE_LONGEST
} table_line_faults_t;

table_line_faults_t find_table_line_faults(std::string_view text);
