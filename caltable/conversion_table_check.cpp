#include "conversion_table_check.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "default_power_calibration.h"
#include "frequency_bands.h"
#include "power_units.h"
#include "safety_limits.h"

namespace {

std::string column_name(int column) {
    if (column == 0)
        return "mV";
    return "MCS" + std::to_string(column - 1);
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// The first value of row `r` that is not a finite number, or -1.
int first_non_finite(const csv_cache_t& table, int r) {
    for (int c = 0; c < CSV_CACHE_COLUMNS; ++c) {
        if (!std::isfinite(table.data[r][c]))
            return c;
    }
    return -1;
}

// Row `r` against the row before it: the keys ascend, no column falls.
std::string order_fault(const csv_cache_t& table, int r) {
    const double* row = table.data[r];
    const double* before = table.data[r - 1];
    if (!(row[0] > before[0])) {
        return format("line %d, column 1 (mV): %.2f does not ascend from %.2f on line %d",
                      table.line[r], row[0], before[0], table.line[r - 1]);
    }
    for (int c = 1; c < CSV_CACHE_COLUMNS; ++c) {
        if (row[c] < before[c]) {
            return format("line %d, column %d (%s): %.2f dBm falls from %.2f dBm on line %d",
                          table.line[r], c + 1, column_name(c).c_str(), row[c], before[c],
                          table.line[r - 1]);
        }
    }
    return "";
}

void warn_if_far_from_reference(const csv_cache_t& table, int band, const char* path) {
    const reference_deviation_t d = reference_deviation(table, SWEEP_BANDS[band].token);
    if (d.columns_off == 0)
        return;
    std::printf(
        "Warning: conversion table %s column MCS%d lies %+.2f dB from the built-in reference "
        "curve at %.2f mV (power level %d); %d of %d columns more than %.1f dB off: a table of "
        "another board, or a shifted column?\n",
        path, d.mcs, d.db, d.mv, d.level, d.columns_off, CSV_MAX_MCS + 1, REFERENCE_DEVIATION_DB);
}

// The band's table loaded and checked (once per load while it is sound;
// a faulty one at every call); false when it cannot be loaded
// (after the load's message; the next call tries again, as every lookup
// does), else its fault in *fault, empty when fit. The path of the table in
// `path`. A fit table about to raise the power is compared with the
// reference curves once.
bool check_band(int band, bool raising_power, char (&path)[256], std::string* fault) {
    const char* key = SWEEP_BANDS[band].key;
    conversion_table_file(key, path);
    const csv_cache_t* table = loaded_conversion_table(key);
    if (!table)
        return false;
    if (conversion_table_found_sound(key)) {
        fault->clear();
    } else {
        *fault = conversion_table_fault(*table);
        if (fault->empty()) note_conversion_table_sound(key);
    }
    if (raising_power && fault->empty() && first_reference_check(key)) {
        warn_if_far_from_reference(*table, band, path);
    }
    return true;
}

}  // namespace

std::string conversion_table_fault(const csv_cache_t& table) {
    if (table.row_count < 2) {
        if (table.row_count == 0)
            return "line 1: only a header; at least two rows are needed";
        return format("line %d: the only row; at least two rows are needed", table.line[0]);
    }
    for (int r = 0; r < table.row_count; ++r) {
        const int c = first_non_finite(table, r);
        if (c >= 0) {
            return format("line %d, column %d (%s): not a finite number", table.line[r], c + 1,
                          column_name(c).c_str());
        }
        if (r > 0) {
            std::string fault = order_fault(table, r);
            if (!fault.empty())
                return fault;
        }
    }
    return "";
}

reference_deviation_t reference_deviation(const csv_cache_t& table, const char* band_token) {
    reference_deviation_t worst = {-1, 0, 0.0, 0.0, 0};
    int columns_off = 0;
    for (int mcs = 0; mcs <= CSV_MAX_MCS; ++mcs) {
        double column_worst = 0.0;
        for (int level = POWER_LEVEL_MIN; level <= POWER_LEVEL_MAX; ++level) {
            const double mv = default_cal_get_mv(band_token, mcs, level);
            const double mw = default_cal_get_mw(band_token, mcs, level);
            if (mv < 0 || mw <= 0)
                continue;
            const double db = lookup_in_table(table, mcs, mv) - mW_to_dBm(mw);
            column_worst = std::fmax(column_worst, std::fabs(db));
            if (worst.mcs < 0 || std::fabs(db) > std::fabs(worst.db))
                worst = {mcs, level, mv, db, 0};
        }
        if (column_worst > REFERENCE_DEVIATION_DB)
            ++columns_off;
    }
    worst.columns_off = columns_off;
    return worst;
}

bool conversion_table_fit_to_raise_power(const char* band_key) {
    const int band = sweep_band_index_of_key(band_key);
    char path[256];
    std::string fault;
    if (band < 0 || !check_band(band, true, path, &fault)) {
        std::fprintf(stderr,
                     "Error: no conversion table could be read for band %s; the power is not "
                     "raised\n",
                     band_key ? band_key : "(null)");
        return false;
    }
    if (fault.empty())
        return true;
    std::fprintf(stderr, "Error: conversion table %s %s; the power is not raised with it\n", path,
                 fault.c_str());
    return false;
}

void note_conversion_table_fault(const char* band_key) {
    const int band = sweep_band_index_of_key(band_key);
    char path[256];
    std::string fault;
    if (band < 0 || !check_band(band, false, path, &fault) || fault.empty())
        return;
    if (!first_fault_note(band_key))
        return;
    std::fprintf(stderr, "Error: conversion table %s %s; its readings are not to be trusted\n",
                 path, fault.c_str());
}
