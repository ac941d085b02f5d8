// Reading one calibration table file into per-MCS columns of level cells.
//
// The text is split with the calibration table code (parse_stored_table),
// after this module has checked the lines that splitter refuses; otherwise
// it only classifies the header and the cells. Every line that cannot be
// used gets one message "FILE:LINE: ..." on standard error and is left out,
// as the transmitter's loader leaves it out; a file that cannot be used
// gets one message "FILE: ...".
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "calibration_table.h"

enum cell_kind_t {
    CELL_ABSENT,            // no line for the level, or an empty cell (a merge's new line)
    CELL_MEASURED,          // a number: mW measured or estimated by the sweep
    CELL_NOT_MEASURED,      // "-1": no valid reading, above a stop, or beyond the sweep
    CELL_NA,                // "NA": a merge added the line and the sweep had nothing for it
    CELL_TEMPERATURE_STOP,  // "TEMP_ERROR_<C>_<tenth>": the level where the temperature stop hit
};

typedef struct level_cell_t {
    cell_kind_t kind;
    double value;  // mW when measured, °C at a temperature stop, otherwise 0
} level_cell_t;

// One MCS of a table, indexed by power level 1..63 (index 0 unused).
typedef struct table_column_t {
    int mcs;
    level_cell_t level[CALIBRATION_TABLE_LEVELS + 1];
    double level_mv[CALIBRATION_TABLE_LEVELS + 1];  // the measured mV cell, 0 when none
} table_column_t;

typedef struct calibration_table_t {
    std::string path;
    std::string band;  // "2_4", "5_1" or "5_8"
    time_t modified;
    std::string text;  // the file as read, for the transmitter's own loader
    std::vector<table_column_t> columns;  // in header order
    int bad_lines;                        // lines left out, each reported
} calibration_table_t;

enum table_read_t {
    TABLE_READ,        // read; bad_lines may still be nonzero
    TABLE_MISSING,     // no such file (nothing printed)
    TABLE_UNREADABLE,  // one message printed; nothing usable
};

// Largest file taken for a table; a real one holds a few kilobytes.
constexpr size_t CALIBRATION_TABLE_MAX_BYTES = 1 << 20;

// Time and bytes come from one open descriptor, so a table replaced
// meanwhile is read as one version or the other, never a mix.
table_read_t read_calibration_table(const std::string& path, const char* band,
                                    calibration_table_t* table);

// The same from text already in memory (`modified` is left as it is).
table_read_t parse_calibration_table(const std::string& text, const std::string& path,
                                     const char* band, calibration_table_t* table);
