#include "field_check.h"

#include <cmath>
#include <cstdio>

#include "calibration_sweep.h"
#include "conversion_table_check.h"
#include "conversion_tables.h"
#include "fast_estimation.h"
#include "frequency_bands.h"
#include "table_values.h"

namespace {

// Only a level the table has a value for and the check measured can match.
bool compare_level(const anchor_measurement_t& m, const table_dbm_t& table, const char* band_key,
                   int mcs, int level, double tolerance_db) {
    const level_result_t& result = m.results.level[level];
    if (m.stop_level && level > m.stop_level) {
        std::printf("Level %d: not measured, above the stop at level %d\n", level, m.stop_level);
        return true;
    }
    if (!result.valid) {
        std::printf("Level %d: no valid reading\n", level);
        return false;
    }
    if (result.mv == TEMPERATURE_STOP_MV) {
        std::printf("Level %d: not compared, temperature stop at %.2f°C\n", level, result.mw);
        return true;
    }
    double mv_out = result.mv;
    double measured = 0.0;
    if (read_csv_data_cached(&mv_out, &measured, mcs, band_key, result.mv) != 0) {
        std::printf("Level %d: no valid reading\n", level);
        return false;
    }
    if (!table.present[level]) {
        // A table cut by a safety stop below this level: the check stopping
        // here too agrees with it.
        const bool both_stopped = level == m.stop_level;
        std::printf("Level %d: measured %.2f dBm, no value in the table%s\n", level, measured,
                    both_stopped ? ", a safety stop here as in the table" : "");
        return both_stopped;
    }
    // Hundredths, as printed: a match shows +0.00, never -0.00.
    const double difference = std::round((measured - table.dbm[level]) * 100.0) / 100.0 + 0.0;
    const bool within = difference <= tolerance_db && difference >= -tolerance_db;
    std::printf("Level %d: measured %.2f dBm, table %.2f dBm, difference %+.2f dB%s\n", level,
                measured, table.dbm[level], difference, within ? "" : "  << outside");
    return within;
}

}  // namespace

field_check_result_t check_against_table(int fd, int frequency, int mcs, double tolerance_db) {
    char path[256];
    sweep_band_t band;
    if (!calibration_table_path(frequency, path) || !sweep_band(frequency, &band)) {
        std::fprintf(stderr, "Error: Invalid frequency %d MHz\n", frequency);
        return FIELD_CHECK_MISMATCH;
    }
    // The check raises the power as a sweep does; with a conversion table
    // that fails its check it cannot tell anything.
    if (!conversion_table_fit_to_raise_power(band.key)) {
        std::printf("Field check %d MHz MCS %d: could not check, the %s GHz conversion table "
                    "failed its check\n",
                    frequency, mcs, band.key);
        return FIELD_CHECK_NO_TABLE;
    }
    table_dbm_t table;
    switch (read_table_column(path, mcs, &table)) {
    case table_column_read::read:
        break;
    case table_column_read::no_table:
        std::printf("Field check %d MHz MCS %d: no table %s to check against\n", frequency, mcs, path);
        return FIELD_CHECK_NO_TABLE;
    case table_column_read::no_column:
        std::printf("Field check %d MHz MCS %d: %s has no MCS%d column to check against\n", frequency,
                    mcs, path, mcs);
        return FIELD_CHECK_NO_TABLE;
    case table_column_read::unreadable:
        return FIELD_CHECK_MISMATCH;
    }
    std::printf("Field check %d MHz MCS %d against %s (tolerance %.2f dB)\n", frequency, mcs, path,
                tolerance_db);
    anchor_measurement_t measurement;
    if (measure_fast_anchors(fd, frequency, mcs, &measurement) != 0) {
        std::printf("Field check %d MHz MCS %d: FAILED, the levels could not be measured\n", frequency,
                    mcs);
        return FIELD_CHECK_MISMATCH;
    }
    int outside = 0;
    for (int level : FAST_CALIBRATION_LEVELS) {
        if (!compare_level(measurement, table, band.key, mcs, level, tolerance_db)) ++outside;
    }
    if (outside == 0) {
        std::printf("Field check %d MHz MCS %d: PASS, the output matches the table within %.2f dB\n",
                    frequency, mcs, tolerance_db);
        return FIELD_CHECK_MATCH;
    }
    std::printf("Field check %d MHz MCS %d: FAIL, %d of %d levels do not match the table within "
                "%.2f dB\n",
                frequency, mcs, outside, FAST_CALIBRATION_LEVEL_COUNT, tolerance_db);
    return FIELD_CHECK_MISMATCH;
}
