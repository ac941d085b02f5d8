#include "power_search.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include <orvi/brannic_json.h>
#include <orvi/config_helpers.h>
#include <orvi/regulatory_domain.h>
#include <orvi/vtx_constants.h>
#include "conversion_table_check.h"
#include "frequency_bands.h"
#include "interruption.h"
#include "reading_uncertainty.h"
#include "sensor_processing.h"
#include "sleeping.h"
#include "tool_runner.h"

// The snapshot starts as the telemetry's initial values: 5800 MHz, MCS 0,
// power index 1.
int g_global_frequency = 5800;
int g_global_mcs = 0;
int g_global_power_idx = 1;

namespace {

constexpr int READINGS_PER_MEASUREMENT = 3;
constexpr long long POWER_SETTLE_US = 250000;
constexpr long long READING_GAP_US = 100000;
constexpr double SEARCH_TOLERANCE_DB = 0.25;
constexpr int ZERO_RULE_MIN_LEVEL = 25;
constexpr double ZERO_RULE_DBM = 0.01;

}  // namespace

void read_vtx_config(int* mcs, int* frequency) {
    // g_global_*: the snapshot of the cycle that started the search, not the
    // live telemetry: new records may arrive while the search runs.
    *mcs = g_global_mcs;
    *frequency = g_global_frequency;
    if (*mcs == 0 && *frequency == 0) {
        *mcs = -9999;
        *frequency = -9999;
    }
}

bool is_valid_power_level(int level) {
    return level >= POWER_LEVEL_MIN && level <= POWER_LEVEL_MAX;
}

namespace {

// The readings of one measurement, each tried twice: their dBm on the
// band's channel in `values`, their count returned, and in *over_range
// whether any read beyond its table.
int take_readings(int fd, sensor_data_t* record, bool channel0,
                  double (&values)[READINGS_PER_MEASUREMENT], bool* over_range) {
    int count = 0;
    for (int j = 1; j <= READINGS_PER_MEASUREMENT; ++j) {
        end_run_if_interrupted();
        int mcs = 0;
        int frequency = 0;
        read_vtx_config(&mcs, &frequency);
        if (reading_with_retry(record, fd, mcs, frequency, j, "!")) {
            const double value = channel0 ? record->ch0_dbm : record->ch1_dbm;
            values[count++] = value;
            const bool beyond = channel0 ? record->ch0_over_range : record->ch1_over_range;
            *over_range = *over_range || beyond;
            std::printf("Reading %d complete: %.2f dBm\n", j, value);
        }
        if (j < READINGS_PER_MEASUREMENT) {
            std::printf("Taking reading %d of %d...\n", j + 1, READINGS_PER_MEASUREMENT);
            sleep_us(READING_GAP_US);
        }
    }
    return count;
}

// The median of three readings, or the mean of fewer, with its message.
double combine_readings(const double (&values)[READINGS_PER_MEASUREMENT], int count) {
    if (count < READINGS_PER_MEASUREMENT) {
        double sum = 0.0;
        for (int i = 0; i < count; ++i) sum += values[i];
        const double mean = sum / count;
        std::printf("Got %d valid readings out of %d expected\n", count, READINGS_PER_MEASUREMENT);
        std::printf("Using average of valid readings: %.2f dBm\n", mean);
        return mean;
    }
    double a = values[0], b = values[1], c = values[2];
    if (a > b)
        std::swap(a, b);
    if (b > c)
        std::swap(b, c);
    if (a > b)
        std::swap(a, b);
    std::printf("Using median value: %.2f dBm\n", b);
    return b;
}

// apply_power_and_read_dbm() with its failure told apart from a reading of
// -1.0 dBm: false when it has no value.
bool measure_power_level(int fd, int level, sensor_data_t* record, double band, double* dbm) {
    if (!is_valid_power_level(level)) {
        std::fprintf(stderr, "Invalid power level %d. Must be between %d and %d.\n", level,
                     POWER_LEVEL_MIN, POWER_LEVEL_MAX);
        return false;
    }
    if (tool_failure_t failure{}; !configure_vtx("-p", level, &failure)) {
        end_run_if_interrupted();
        report_configure_failure("Failed to set power level", failure);
        return false;
    }
    const bool channel0 = search_band_uses_channel0(band);
    sleep_us(POWER_SETTLE_US);
    std::printf("Taking reading %d of %d...\n", 1, READINGS_PER_MEASUREMENT);

    double values[READINGS_PER_MEASUREMENT];
    bool over_range = false;
    const int count = take_readings(fd, record, channel0, values, &over_range);
    if (count == 0) {
        std::puts("All readings failed or were skipped!");
        return false;
    }
    const double result = combine_readings(values, count);
    // One reading beyond the table is enough: the level may put out more.
    if (channel0) {
        record->ch0_dbm = result;
        record->ch0_over_range = over_range;
    } else {
        record->ch1_dbm = result;
        record->ch1_over_range = over_range;
    }
    *dbm = result;
    return true;
}

}  // namespace

double apply_power_and_read_dbm(int fd, int level, sensor_data_t* record, double band) {
    double dbm = 0.0;
    return measure_power_level(fd, level, record, band, &dbm) ? dbm : -1.0;
}

namespace {

struct search_state_t {
    double target;
    double band;
    double uncertainty_db;  // of a reading in the band
    // The highest reading a level may give to be kept: the power limit's
    // guard, or lower under the FCC cap.
    double cap_reading_dbm;
    bool fcc_capped;
    int best;
    double best_difference;
    bool* adjust_power;  // the caller's flags, cleared and set when the search ends
    int* current_power;
};

// A level whose output may lie above the power limit, or above the FCC cap,
// within the reading's uncertainty: never kept, always too high.
bool beyond_cap(int level, double result, const search_state_t& s) {
    if (reading_power_verdict(result, s.uncertainty_db) != POWER_WITHIN_LIMIT) {
        std::printf(
            "Power level %d reads %.2f dBm: with the detector's uncertainty (%.2f dB) it may be "
            "above the safety threshold of 31.5 dBm, counted as too high\n",
            level, result, s.uncertainty_db);
        return true;
    }
    if (s.fcc_capped && !(result <= s.cap_reading_dbm)) {
        std::printf(
            "Power level %d reads %.2f dBm: with the detector's uncertainty (%.2f dB) it may be "
            "above the FCC cap of %d mW, counted as too high\n",
            level, result, s.uncertainty_db, FCC_CAP_MW);
        return true;
    }
    return false;
}

// One step of the search: measure, report, keep the best so far, and judge.
enum class probe_outcome { keep_going, within_tolerance, zero_reading, no_value };

probe_outcome probe_level(int fd, sensor_data_t* record, search_state_t* s, int level,
                          double* measured) {
    end_run_if_interrupted();
    double result = 0.0;
    if (!measure_power_level(fd, level, record, s->band, &result)) {
        end_run_if_interrupted();
        return probe_outcome::no_value;
    }
    *measured = result;
    std::printf("Testing power level %d -> %.1f dBm\n", level, result);
    const bool over_range = search_band_uses_channel0(s->band) ? record->ch0_over_range
                                                                : record->ch1_over_range;
    if (over_range) {
        // Its output is unknown above the table: never kept, always too high.
        std::printf("Power level %d reads above the conversion table's range, counted as too high\n",
                    level);
        *measured = INFINITY;
        return probe_outcome::keep_going;
    }
    if (beyond_cap(level, result, *s)) {
        *measured = INFINITY;
        return probe_outcome::keep_going;
    }
    if (level > ZERO_RULE_MIN_LEVEL && std::fabs(result) < ZERO_RULE_DBM) {
        return probe_outcome::zero_reading;
    }
    const double difference = std::fabs(result - s->target);
    if (difference < s->best_difference) {
        std::printf("New best power level found: %d (%.1f dBm, %.1f from target)\n", level, result,
                    difference);
        s->best = level;
        s->best_difference = difference;
    }
    if (difference <= SEARCH_TOLERANCE_DB) {
        std::puts("Found power level within tolerance!");
        return probe_outcome::within_tolerance;
    }
    return probe_outcome::keep_going;
}

void finish_search(int level, const search_state_t& s) {
    *s.current_power = level;
    if (tool_failure_t failure{}; !configure_vtx("-p", level, &failure)) {
        report_configure_failure("Failed to set optimal power level", failure);
    } else {
        std::printf("Optimal power level found: %d\n", level);
    }
    *s.adjust_power = false;
}

void finish_zero_reading(int level, const search_state_t& s) {
    std::printf("Detected 0 dBm reading at high power level %d\n", level);
    std::puts("This indicates potential signal issues - using minimum power for safety");
    std::puts(
        "Binary search complete. Best power level found: 1 (selecting minimum power due to "
        "zero readings at high power)");
    finish_search(POWER_LEVEL_MIN, s);
}

// A failed measurement is neither too low nor too high: judged either way it
// would steer the search blind.
void finish_without_value(int level, const search_state_t& s) {
    std::fprintf(stderr,
                 "Error: No valid reading at power level %d; ending the power search at power "
                 "level 1\n",
                 level);
    if (set_minimum_power("power search failure")) *s.current_power = POWER_LEVEL_MIN;
    *s.adjust_power = false;
}

// Probes `level`; true when the search ends there (a zero reading, a result
// within the tolerance or no value), with the outcome applied.
bool search_ends_at(int fd, sensor_data_t* record, search_state_t* s, int level, double* result) {
    const probe_outcome outcome = probe_level(fd, record, s, level, result);
    if (outcome == probe_outcome::zero_reading) {
        finish_zero_reading(level, *s);
        return true;
    }
    if (outcome == probe_outcome::within_tolerance) {
        finish_search(level, *s);
        return true;
    }
    if (outcome == probe_outcome::no_value) {
        finish_without_value(level, *s);
        return true;
    }
    return false;
}

// `desired_dbm` on the 0.25 dB grid, within 0..30 dBm.
double search_target(double desired_dbm) {
    const double target = std::round(desired_dbm * 4.0) / 4.0;
    if (target > REQUEST_DBM_MAX) {
        std::fprintf(stderr, "Desired dBm is too high. Capping to 30 dBm.\n");
        return REQUEST_DBM_MAX;
    }
    if (target < REQUEST_DBM_MIN) {
        std::fprintf(stderr, "Desired dBm is too low. Setting it to 0.\n");
        return REQUEST_DBM_MIN;
    }
    return target;
}

// The transmitter's regulatory mode, from its configuration file; no
// limits when the file or the key is missing.
RegulatoryDomain configured_regulatory_domain() {
    cJSON* config = open_json(VTX_CONFIG_PATH, false);
    if (config == nullptr) return REGULATORY_DOMAIN_NONE;
    char mode[16];
    json_fetch_string_with_default(config, "regulatory_mode", mode, sizeof mode, "off");
    cJSON_Delete(config);
    return std::strcmp(mode, "fcc") == 0 ? REGULATORY_DOMAIN_FCC : REGULATORY_DOMAIN_NONE;
}

// Under FCC rules in the capped range, a target whose reading plus the
// uncertainty could exceed the cap is lowered, on the 0.25 dB grid, to one
// that cannot, with one line; every kept level must stay under the cap too.
void apply_fcc_cap(int frequency, search_state_t* s) {
    if (!in_fcc_cap_band(frequency) || configured_regulatory_domain() != REGULATORY_DOMAIN_FCC)
        return;
    s->fcc_capped = true;
    s->cap_reading_dbm = fcc_cap_reading_dbm(s->uncertainty_db);
    const double capped = std::floor(s->cap_reading_dbm * 4.0) / 4.0;
    if (s->target <= capped) return;
    std::printf(
        "Limiting the request at %d MHz to %.2f dBm under FCC rules: its reading plus the "
        "detector's uncertainty (%.2f dB) stays at or below %d mW\n",
        frequency, capped, s->uncertainty_db, FCC_CAP_MW);
    s->target = capped;
}

// The conversion-table key of a search band.
const char* search_band_key(double band) {
    if (band == 2.4) return "2.4";
    return band == 5.1 ? "5.1" : "5.8";
}

// The halving phase: true when the search ended at a level. Otherwise
// [*low, *high] is what is left for the linear phase: at most two levels,
// or none when the range is exhausted.
bool search_by_halving(int fd, sensor_data_t* record, search_state_t* s, int* low, int* high) {
    for (;;) {
        const int mid = *low + (*high - *low) / 2;
        double result = 0.0;
        if (search_ends_at(fd, record, s, mid, &result))
            return true;
        if (s->target > result) {
            *low = mid + 1;
            std::printf("dBm too low, searching higher range (%d to %d)\n", *low, *high);
        } else {
            *high = mid - 1;
            std::printf("dBm too high, searching lower range (%d to %d)\n", *low, *high);
        }
        if (*high < *low || *high - *low <= 1)
            return false;
    }
}

}  // namespace

void set_dBm(int fd, sensor_data_t* record, bool* adjust_power, int* current_power,
             double desired_dbm, double frequency) {
    const double band = search_band(frequency);
    if (band == 0.0) {
        std::fprintf(stderr, "Error: Invalid frequency band. Must be 2.4, 5.1, or 5.8 GHz band.\n");
        *adjust_power = false;
        return;
    }
    // Nothing is set with a conversion table that could hide the limit.
    const char* key = search_band_key(band);
    if (!search_may_raise_power(frequency)) {
        *adjust_power = false;
        return;
    }
    int mcs = 0, snapshot_frequency = 0;
    read_vtx_config(&mcs, &snapshot_frequency);
    search_state_t s{search_target(desired_dbm), band, reading_uncertainty_db(key, mcs), INFINITY,
                     false, -1, INFINITY, adjust_power, current_power};
    apply_fcc_cap(static_cast<int>(frequency), &s);
    const double target = s.target;
    std::printf(
        "Searching for optimal power level (range: %d-%d) to achieve %.2f dBm at %.1f "
        "GHz...\n",
        POWER_LEVEL_MIN, POWER_LEVEL_MAX, target, band);
    std::puts("Starting binary search for power level...");
    std::printf("Target dBm: %.1f\n", target);

    int low = POWER_LEVEL_MIN;
    int high = POWER_LEVEL_MAX;
    if (search_by_halving(fd, record, &s, &low, &high))
        return;
    for (int level = low; level <= high; ++level) {
        double result = 0.0;
        if (search_ends_at(fd, record, &s, level, &result))
            return;
    }

    std::printf("Binary search complete. Best power level found: %d\n", s.best);
    if (s.best < 0) {
        std::fprintf(stderr, "Failed to find optimal power level.\n");
        *adjust_power = false;
        return;
    }
    finish_search(s.best, s);
}

bool search_may_raise_power(double frequency) {
    const double band = search_band(frequency);
    // A frequency in no band is refused by the search itself.
    return band == 0.0 || conversion_table_fit_to_raise_power(search_band_key(band));
}
