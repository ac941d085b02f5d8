// The band's conversion table beside the calibration tables, read as
// orvi-rfmon reads it: its top row (a sweep reading above it stopped there,
// whatever output the stored level shows), the check a sweep makes before
// it raises the power, and how far it lies from the reference curves.
#pragma once

#include <string>

#include "conversion_table_check.h"

typedef struct conversion_table_t {
    bool read;          // the file was there and loaded
    std::string path;
    double top_mv;      // the key of its last row; 0 when not read or without rows
    std::string fault;  // why a sweep refuses it; empty when it passes
    reference_deviation_t deviation;  // against the reference curves, when it passes
} conversion_table_t;

// "<dir>/<token>_mv_to_dbm.csv" for a band token ("2_4", "5_1", "5_8").
// Nothing is printed when the file is not there: the report then only
// misses the over-range stops and the table's check.
conversion_table_t read_conversion_table(const std::string& dir, const char* band);

// Its fault or its distance from the reference curves: a defect.
bool conversion_table_defective(const conversion_table_t& table);
