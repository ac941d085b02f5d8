// The field check (-verify): before a flight, whether the radio still puts
// out what its calibration table says. It measures the fast calibration's
// anchor levels as a fast sweep does (its readings, both safety stops) and
// compares each with the stored table at that level and MCS. It never
// writes a table.
#pragma once

constexpr double DEFAULT_VERIFY_TOLERANCE_DB = 1.5;

enum field_check_result_t {
    FIELD_CHECK_MATCH = 0,     // every level within the tolerance
    FIELD_CHECK_MISMATCH = 1,  // a level outside it, or a reading or a step that failed
    FIELD_CHECK_NO_TABLE = 2,  // nothing to compare with: no table, or no column for the MCS
};

// One frequency and MCS: a line per anchor level and a verdict. The power
// is left where the last level set it (the caller ends at power level 1).
field_check_result_t check_against_table(int fd, int frequency, int mcs, double tolerance_db);
