// Whether a detector conversion table may be trusted to raise the
// transmitter's power by. A table that cannot be read as one (too few rows,
// a value that is not a number, keys out of order, a column that falls)
// would switch the power stop off: readings of 0 dBm, or of "nan", never
// stop a sweep. A well-formed table of another board, or with a column
// shifted, reads wrong all the same; the limits cannot see that, so it gets
// a warning when it lies far from the built-in reference curves.
#pragma once

#include <string>

#include "conversion_tables.h"

// A column this far from the reference curves at their reference voltages
// is worth a warning.
constexpr double REFERENCE_DEVIATION_DB = 3.0;

// The point of a table farthest from the built-in reference curves.
typedef struct reference_deviation_t {
    int mcs;          // the table's column (MCS 0..7); -1 when nothing was compared
    int level;        // the reference curve's power level there
    double mv;        // its reference voltage
    double db;        // the table's dBm minus the reference's
    int columns_off;  // columns farther than REFERENCE_DEVIATION_DB somewhere
} reference_deviation_t;

// Why a loaded table cannot be used, naming its line and column ("line 7,
// column 3 (MCS1): not a finite number"); empty when it can: at least two
// rows, every number finite, the keys ascending, no column falling.
std::string conversion_table_fault(const csv_cache_t& table);

// The table against the built-in reference curves of `band_token` ("2_4",
// "5_1", "5_8"), each column at the reference voltages of its curve and
// looked up as a reading is.
reference_deviation_t reference_deviation(const csv_cache_t& table, const char* band_token);

// Before a sweep, a field check or a power search sets a power level: the
// band's table ("2.4", "5.1", "5.8") loaded and checked. False, after one
// error line on standard error naming the file, line and column, when it
// must not be used. The check runs once per band (a loaded table is never
// read again); a table that passes but lies more than REFERENCE_DEVIATION_DB
// from the reference curves gets one warning line on standard output, the
// first time only.
bool conversion_table_fit_to_raise_power(const char* band_key);

// A reading, which sets no power: the same check without the reference
// curves, a fault told once on standard error and nothing refused.
void note_conversion_table_fault(const char* band_key);
