// The field check (-verify): before a flight, whether the radio still puts
// out what its calibration table says. It measures the fast calibration's
// anchor levels as a fast sweep does (its readings, both safety stops) and
// compares each with the stored table at that level and MCS. It never
// writes a table.
#pragma once

constexpr double DEFAULT_VERIFY_TOLERANCE_DB = 1.5;
// A combination passes only on this many levels compared, all within the
// tolerance: a check cut short by a safety stop has not shown a match.
constexpr int FIELD_CHECK_MIN_COMPARED_LEVELS = 3;

// The exit statuses of -verify.
constexpr int FIELD_CHECK_EXIT_MATCH = 0;
constexpr int FIELD_CHECK_EXIT_MISMATCH = 1;
constexpr int FIELD_CHECK_EXIT_NOT_CHECKED = 2;

// What the check of one combination found. Everything but a match and a
// mismatch means that it could not check; a new reason goes at the end and
// exits with FIELD_CHECK_EXIT_NOT_CHECKED without further change.
enum field_check_result_t {
    FIELD_CHECK_MATCH = 0,         // enough levels compared, every one within the tolerance
    FIELD_CHECK_MISMATCH = 1,      // a compared level outside it
    FIELD_CHECK_NO_TABLE,          // no table, or no column for the MCS
    FIELD_CHECK_UNREADABLE_TABLE,  // the stored table cannot be read
    FIELD_CHECK_STEP_FAILED,       // a transmitter command or a sweep step failed
    FIELD_CHECK_NO_READING,        // a level without a valid reading
    FIELD_CHECK_TOO_FEW_LEVELS,    // fewer than FIELD_CHECK_MIN_COMPARED_LEVELS compared
    FIELD_CHECK_BROKEN_CONVERSION,  // the band's conversion table failed its check: nothing set
};

// One frequency and MCS: a line per anchor level and a verdict. The power
// is left where the last level set it (the caller ends at power level 1).
field_check_result_t check_against_table(int fd, int frequency, int mcs, double tolerance_db);

// The verdict of a run from those of its combinations: a mismatch whatever
// else was found, then a reason for not checking (one other than a missing
// table first), a match only when everything matched.
field_check_result_t combined_field_check(field_check_result_t so_far, field_check_result_t next);

// 0 match, 1 mismatch, 2 could not check.
int field_check_exit_status(field_check_result_t result);
