#include "field_check.h"

#include <cmath>
#include <cstdio>

#include "calibration_sweep.h"
#include "conversion_table_check.h"
#include "conversion_tables.h"
#include "detector_trim.h"
#include "fast_estimation.h"
#include "frequency_bands.h"
#include "table_values.h"

namespace {

// What one anchor level adds to the verdict.
enum class level_verdict { match, mismatch, not_compared, no_reading };

// Only a level the table has a value for and the check measured is
// compared.
level_verdict compare_level(const anchor_measurement_t& m, const table_dbm_t& table,
                            const char* band_key, int mcs, int level, double tolerance_db) {
    const level_result_t& result = m.results.level[level];
    if (m.stop_level && level > m.stop_level) {
        std::printf("Level %d: not measured, above the stop at level %d\n", level, m.stop_level);
        return level_verdict::not_compared;
    }
    if (!result.valid) {
        std::printf("Level %d: no valid reading\n", level);
        return level_verdict::no_reading;
    }
    if (result.mv == TEMPERATURE_STOP_MV) {
        std::printf("Level %d: not compared, temperature stop at %.2f°C\n", level, result.mw);
        return level_verdict::not_compared;
    }
    double mv_out = result.mv;
    double measured = 0.0;
    if (convert_detector_reading(&mv_out, &measured, mcs, band_key, result.mv) != 0) {
        std::printf("Level %d: no valid reading\n", level);
        return level_verdict::no_reading;
    }
    if (!table.present[level]) {
        // A table cut by a safety stop below this level: the check stopping
        // here too agrees with it, without a value to compare.
        const bool both_stopped = level == m.stop_level;
        std::printf("Level %d: measured %.2f dBm, no value in the table%s\n", level, measured,
                    both_stopped ? ", a safety stop here as in the table" : "");
        return both_stopped ? level_verdict::not_compared : level_verdict::mismatch;
    }
    // Hundredths, as printed: a match shows +0.00, never -0.00.
    const double difference = std::round((measured - table.dbm[level]) * 100.0) / 100.0 + 0.0;
    const bool within = difference <= tolerance_db && difference >= -tolerance_db;
    std::printf("Level %d: measured %.2f dBm, table %.2f dBm, difference %+.2f dB%s\n", level,
                measured, table.dbm[level], difference, within ? "" : "  << outside");
    return within ? level_verdict::match : level_verdict::mismatch;
}

// The table's column for the MCS, or why there is none to check against.
field_check_result_t read_reference(int frequency, int mcs, const char* path, table_dbm_t* table) {
    switch (read_table_column(path, mcs, table)) {
    case table_column_read::read:
        return FIELD_CHECK_MATCH;
    case table_column_read::no_table:
        std::printf("Field check %d MHz MCS %d: no table %s to check against\n", frequency, mcs, path);
        return FIELD_CHECK_NO_TABLE;
    case table_column_read::no_column:
        std::printf("Field check %d MHz MCS %d: %s has no MCS%d column to check against\n", frequency,
                    mcs, path, mcs);
        return FIELD_CHECK_NO_TABLE;
    case table_column_read::unreadable:
        break;
    }
    std::printf("Field check %d MHz MCS %d: NOT CHECKED, %s cannot be read\n", frequency, mcs, path);
    return FIELD_CHECK_UNREADABLE_TABLE;
}

// The verdict line of one combination from its levels' verdicts.
field_check_result_t judge_levels(int frequency, int mcs, double tolerance_db, int compared,
                                  int outside, int without_reading) {
    if (outside > 0) {
        std::printf("Field check %d MHz MCS %d: FAIL, %d of %d levels do not match the table within "
                    "%.2f dB\n",
                    frequency, mcs, outside, compared, tolerance_db);
        return FIELD_CHECK_MISMATCH;
    }
    if (without_reading > 0) {
        std::printf("Field check %d MHz MCS %d: NOT CHECKED, %d of %d levels without a valid "
                    "reading\n",
                    frequency, mcs, without_reading, FAST_CALIBRATION_LEVEL_COUNT);
        return FIELD_CHECK_NO_READING;
    }
    if (compared < FIELD_CHECK_MIN_COMPARED_LEVELS) {
        std::printf("Field check %d MHz MCS %d: NOT CHECKED, %d of %d levels compared, at least %d "
                    "needed\n",
                    frequency, mcs, compared, FAST_CALIBRATION_LEVEL_COUNT,
                    FIELD_CHECK_MIN_COMPARED_LEVELS);
        return FIELD_CHECK_TOO_FEW_LEVELS;
    }
    std::printf("Field check %d MHz MCS %d: PASS, the output matches the table within %.2f dB\n",
                frequency, mcs, tolerance_db);
    return FIELD_CHECK_MATCH;
}

// Ranks for combining verdicts: a higher rank wins, the first of a rank stays.
int verdict_rank(field_check_result_t result) {
    switch (result) {
    case FIELD_CHECK_MATCH:
        return 0;
    case FIELD_CHECK_NO_TABLE:
        return 1;
    case FIELD_CHECK_MISMATCH:
        return 3;
    default:
        return 2;
    }
}

}  // namespace

field_check_result_t check_against_table(int fd, int frequency, int mcs, double tolerance_db) {
    char path[256];
    sweep_band_t band;
    if (!sweep_band(frequency, &band)) {
        std::fprintf(stderr, "Error: Invalid frequency %d MHz\n", frequency);
        return FIELD_CHECK_NO_TABLE;
    }
    calibration_table_path(band, path);
    // The check raises the power as a sweep does; with a conversion table
    // that fails its check it cannot tell anything.
    if (!conversion_table_fit_to_raise_power(band.key)) {
        std::printf("Field check %d MHz MCS %d: could not check, the %s GHz conversion table "
                    "failed its check\n",
                    frequency, mcs, band.key);
        return FIELD_CHECK_BROKEN_CONVERSION;
    }
    table_dbm_t table;
    const field_check_result_t reference = read_reference(frequency, mcs, path, &table);
    if (reference != FIELD_CHECK_MATCH) return reference;
    std::printf("Field check %d MHz MCS %d against %s (tolerance %.2f dB)\n", frequency, mcs, path,
                tolerance_db);
    anchor_measurement_t measurement;
    if (measure_fast_anchors(fd, frequency, mcs, &measurement) != 0) {
        std::printf("Field check %d MHz MCS %d: NOT CHECKED, the levels could not be measured\n",
                    frequency, mcs);
        return FIELD_CHECK_STEP_FAILED;
    }
    int compared = 0, outside = 0, without_reading = 0;
    for (int level : FAST_CALIBRATION_LEVELS) {
        const level_verdict verdict =
            compare_level(measurement, table, band.key, mcs, level, tolerance_db);
        compared += verdict == level_verdict::match || verdict == level_verdict::mismatch;
        outside += verdict == level_verdict::mismatch;
        without_reading += verdict == level_verdict::no_reading;
    }
    return judge_levels(frequency, mcs, tolerance_db, compared, outside, without_reading);
}

field_check_result_t combined_field_check(field_check_result_t so_far, field_check_result_t next) {
    return verdict_rank(next) > verdict_rank(so_far) ? next : so_far;
}

int field_check_exit_status(field_check_result_t result) {
    if (result == FIELD_CHECK_MATCH) return FIELD_CHECK_EXIT_MATCH;
    if (result == FIELD_CHECK_MISMATCH) return FIELD_CHECK_EXIT_MISMATCH;
    return FIELD_CHECK_EXIT_NOT_CHECKED;
}
