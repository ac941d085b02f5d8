// The names of the files in a table folder, each written once, so that a
// sweep, the field check, monitoring and orvi-calreport find the same file.
#pragma once

#include <string>

// The parts of the names, for the readers that must build a path without
// allocating (every reading loads its conversion table through one).
constexpr const char* CALIBRATION_TABLE_PREFIX = "calibrated_";
constexpr const char* CALIBRATION_TABLE_SUFFIX = ".csv";
constexpr const char* CONVERSION_TABLE_SUFFIX = "_mv_to_dbm.csv";

// "<folder>calibrated_<token>.csv" for a band token ("2_4", "5_1", "5_8"),
// with a '/' between when `folder` does not end in one.
std::string calibration_table_file(const std::string& folder, const char* token);

// "<folder><token>_mv_to_dbm.csv", the band's conversion table, the same way.
std::string conversion_table_file_in(const std::string& folder, const char* token);

// "<folder>detector_trim.csv", the unit's detector trim, the same way.
std::string detector_trim_file_in(const std::string& folder);
