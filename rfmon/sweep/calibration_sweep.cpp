#include "calibration_sweep.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "calibration_table.h"
#include "conversion_table_check.h"
#include "conversion_tables.h"
#include "default_power_calibration.h"
#include "detector_trim.h"
#include "fast_estimation.h"
#include "frequency_bands.h"
#include "interruption.h"
#include "power_units.h"
#include "reading_uncertainty.h"
#include "safety_limits.h"
#include "sensor_processing.h"
#include "sleeping.h"
#include "table_values.h"
#include "tool_runner.h"
#include "transmitter_run.h"

bool g_temp_test_flag = false;

namespace {

constexpr long long FREQUENCY_SETTLE_US = 7000000;
constexpr long long LEVEL_SETTLE_US = 650000;
constexpr long long READING_GAP_US = 100000;
constexpr int READINGS_PER_LEVEL = 4;  // the first one is discarded
// With temperature testing on, the sweep stops after this many consecutive
// levels without a fresh temperature.
constexpr int MAX_LEVELS_WITHOUT_TEMPERATURE = 2;
// A full sweep stops as a failure after this many consecutive levels without
// a valid reading: it would otherwise raise the power blind.
constexpr int MAX_LEVELS_WITHOUT_READING = 2;

struct mv_to_dbm_context_t {
    const char* band_key;
    int mcs;
};

int convert_with_tables(double mv, double* dbm, void* context) {
    const mv_to_dbm_context_t* c = static_cast<const mv_to_dbm_context_t*>(context);
    double mv_out = mv;
    return convert_detector_reading(&mv_out, dbm, c->mcs, c->band_key, mv);
}

// read_stored_table(): a file that is there but is no calibration table.
constexpr int STORED_NOT_A_TABLE = -2;

// Reads the stored table; 1 when there is none, 0 when read, -1 on failure,
// STORED_NOT_A_TABLE (after one line naming it) for a file that is not a
// regular file or whose first line is not a table header: the merge would
// append columns to whatever it holds.
int read_stored_table(const char* path, stored_table_t* table) {
    // Not blocking: a FIFO put there must not hang the sweep.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        std::fprintf(stderr, "Error: %s is not a regular file; it is left as it is\n", path);
        return STORED_NOT_A_TABLE;
    }
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "r") : nullptr;
    if (!file) {
        if (fd >= 0) ::close(fd);
        if (errno == ENOENT) return 1;
        // An existing table that cannot be read must not be replaced by a new one.
        std::perror("Failed to open existing calibration file");
        return -1;
    }
    std::printf("Existing calibration file found. Reading contents...\n");
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    if (std::ferror(file)) {
        std::perror(text.empty() ? "Failed to read header from existing calibration file"
                                 : "Failed to read data row");
        std::fclose(file);
        return -1;
    }
    std::fclose(file);
    if (parse_stored_table(text, path, table) != 0) return -1;
    if (!is_calibration_table_header(table->header)) {
        std::fprintf(stderr,
                     "Error: %s is not a calibration table (its first line is not a Power_Level,"
                     "MCS<n>_mV,MCS<n>_mW header); it is left as it is\n",
                     path);
        return STORED_NOT_A_TABLE;
    }
    return 0;
}

// The readings of one level: how many were stored (0..3), their average in
// *average.
int sweep_level(int fd, int frequency, int mcs, const sweep_band_t& band, int level,
                sensor_data_t* record, double* average) {
    double sum = 0.0;
    int stored = 0;
    for (int r = 1; r <= READINGS_PER_LEVEL; ++r) {
        end_run_if_interrupted();
        std::printf("Taking reading %d of %d for power level %d...\n", r, READINGS_PER_LEVEL,
                    level);
        if (r >= 2) sleep_us(READING_GAP_US);
        if (!reading_with_retry(record, fd, mcs, frequency, r, ", skipping this reading")) continue;
        double mv = band.channel == 0 ? record->ch0_mv : record->ch1_mv;
        if (r == 1) {
            std::printf("Reading %d complete: %.2f mV (skipped)\n", r, mv);
            continue;
        }
        std::printf("Reading %d complete: %.2f mV (stored)\n", r, mv);
        sum += mv;
        ++stored;
    }
    if (stored > 0) *average = sum / stored;
    return stored;
}

// Beyond the conversion table the output is at least the table's top and
// otherwise unknown, so the level is a power stop whatever dBm it converts to.
bool report_over_range(const sweep_band_t& band, double average_mv, int level) {
    double top_mv = 0.0;
    if (!detector_reading_over_range(band.key, average_mv, &top_mv)) return false;
    std::printf(
        "WARNING: Detector voltage %.2f mV is above the conversion table's range (%.2f mV) at "
        "power level %d\n",
        average_mv, top_mv, level);
    return true;
}

void print_safety_stop() { std::printf("Stopping calibration for safety reasons\n"); }

// The power rule, with its warning: the reading above the limit, or so near
// it that the detector's own uncertainty leaves the true output possibly
// above.
bool report_power_stop(double dbm, double uncertainty_db, int level) {
    switch (reading_power_verdict(dbm, uncertainty_db)) {
    case POWER_WITHIN_LIMIT:
        return false;
    case POWER_WITHIN_UNCERTAINTY:
        std::printf(
            "WARNING: Measured dBm (%.2f) is within the detector's uncertainty (%.2f dB) of the "
            "safety threshold of 31.5 dBm at power level %d\n",
            dbm, uncertainty_db, level);
        return true;
    case POWER_ABOVE_LIMIT:
        break;
    }
    std::printf(
        "WARNING: Measured dBm (%.2f) exceeds safety threshold of 31.5 dBm at power level %d\n",
        dbm, level);
    return true;
}
// One sweep as it goes: what it measures and what it has found so far.
struct sweep_t {
    int fd;
    int frequency;
    int mcs;
    bool fast;
    sweep_band_t band;
    double uncertainty_db;  // of a reading in the band
    sensor_data_t record;   // what the last reading left
    sweep_results_t results;
    int levels_set;   // power commands that ran: the power may have been raised
    int stop_level;   // 0 until a stop
    bool power_stop;  // the stop was the power rule's or the table range's
    bool step_near_limit;  // a fast sweep measures every level near the limit
    level_visit_fn visit;  // told of each level with a result, at that level
    void* visit_context;
    int previous_level;
    int levels_without_temperature;
    int levels_without_reading;
    bool temperature_testing;  // -temp_test: the temperature rule applies
    bool heat_said;  // said once that it goes on above the limit, testing off
};

// The temperature rule, with its warning: -temp_test is on, the sensor
// answered and the temperature is above the limit. With testing off the
// sweep goes on, as asked, but says so once.
bool temperature_exceeded(sweep_t* s, int level) {
    const sensor_data_t& record = s->record;
    if (!record.temp_valid || !temperature_above_limit(record.temperature_c)) return false;
    if (!s->temperature_testing) {
        if (!s->heat_said) {
            std::printf("Warning: Temperature (%.2f°C) is above %.1f°C at power level %d, but "
                        "temperature testing is off; the sweep goes on\n",
                        record.temperature_c, TEMPERATURE_LIMIT_C, level);
            s->heat_said = true;
        }
        return false;
    }
    std::printf(
        "WARNING: Temperature (%.2f°C) exceeds safety threshold of %.1f°C at power level %d\n",
        record.temperature_c, TEMPERATURE_LIMIT_C, level);
    print_safety_stop();
    return true;
}

enum class level_outcome { next, stop, failed };

// A level whose readings all failed.
level_outcome level_without_readings(sweep_t* s, int level) {
    // The sensor may still answer when the detector does not.
    if (temperature_exceeded(s, level)) {
        s->results.level[level] = {true, TEMPERATURE_STOP_MV, s->record.temperature_c};
        return level_outcome::stop;
    }
    std::printf("No valid readings for power level %d, skipping in output\n", level);
    // A fast sweep fails at any anchor without a result: going higher
    // would gain nothing. A full sweep allows one such level.
    if (s->fast) return level_outcome::stop;
    if (++s->levels_without_reading >= MAX_LEVELS_WITHOUT_READING) {
        std::fprintf(stderr,
                     "Error: No valid readings at power levels %d and %d; stopping calibration "
                     "without writing the table\n",
                     s->previous_level, level);
        return level_outcome::failed;
    }
    return level_outcome::next;
}

void print_level_line(const sensor_data_t& record, int level, double average, double dbm,
                      double mw, int stored_count) {
    if (record.temp_valid) {
        std::printf(
            "Power 1 level %d: Average mV = %.2f, dBm = %.2f, mW = %.2f (from %d readings), "
            "Temperature = %.2f°C\n",
            level, average, dbm, mw, stored_count, record.temperature_c);
    } else {
        std::printf(
            "Power 2 level %d: Average mV = %.2f, dBm = %.2f, mW = %.2f (from %d readings), "
            "Temperature = NA\n",
            level, average, dbm, mw, stored_count);
    }
}

// A level with `stored_count` readings averaging `average` mV: its result,
// or a safety stop (temperature first, then the table's range and power).
level_outcome level_with_readings(sweep_t* s, int level, double average, int stored_count) {
    s->levels_without_reading = 0;
    double mv_out = average;
    double dbm = 0.0;
    if (convert_detector_reading(&mv_out, &dbm, s->mcs, s->band.key, average) != 0) {
        std::printf("Warning: Failed to convert mV to dBm for power level %d\n", level);
        dbm = 0.0;
    }
    level_result_t& result = s->results.level[level];
    // The sweep's -temp_test decides whether the rule applies; the record
    // says whether the sensor answered.
    if (temperature_exceeded(s, level)) {
        result = {true, TEMPERATURE_STOP_MV, s->record.temperature_c};
        return level_outcome::stop;
    }
    const double mw = custom_exp10(dbm / 10);
    result = {true, average, mw};
    if (report_over_range(s->band, average, level) ||
        report_power_stop(dbm, s->uncertainty_db, level)) {
        print_safety_stop();
        s->power_stop = true;
        return level_outcome::stop;
    }
    print_level_line(s->record, level, average, dbm, mw, stored_count);
    return level_outcome::next;
}

// A level's temperature is what its last reading left. One level without a
// fresh one is tolerated; a sensor that stays silent (its last value growing
// stale) must not let the power climb unwatched.
bool temperature_gone_stale(sweep_t* s, int level) {
    if (!s->temperature_testing) return false;
    s->levels_without_temperature = s->record.temp_fresh ? 0 : s->levels_without_temperature + 1;
    if (s->levels_without_temperature < MAX_LEVELS_WITHOUT_TEMPERATURE) return false;
    std::printf(
        "WARNING: No valid temperature at power levels %d and %d with temperature testing "
        "enabled\n",
        s->previous_level, level);
    print_safety_stop();
    return true;
}

// The i-th of `count` levels: set it, read it, judge it.
level_outcome sweep_one_level(sweep_t* s, int i, int count, int level) {
    std::printf("Calibrating power level %d (%d of %d)...\n", level, i, count);
    if (tool_failure_t failure{}; !configure_vtx("-p", level, &failure)) {
        end_run_if_interrupted();
        report_configure_failure("Failed to set power level", failure);
        return level_outcome::failed;
    }
    ++s->levels_set;
    sleep_us(LEVEL_SETTLE_US);

    double average = 0.0;
    const int stored_count =
        sweep_level(s->fd, s->frequency, s->mcs, s->band, level, &s->record, &average);
    const level_outcome outcome = stored_count == 0
                                      ? level_without_readings(s, level)
                                      : level_with_readings(s, level, average, stored_count);
    if (outcome != level_outcome::next) return outcome;
    if (temperature_gone_stale(s, level)) return level_outcome::stop;
    s->previous_level = level;
    if (s->visit && !s->visit(level, s->results.level[level], s->visit_context))
        return level_outcome::failed;
    return level_outcome::next;
}

// A fast sweep's anchors lie up to ten levels apart: the one after the last
// anchor below the guard could land well above the limit and be written as
// the stop. Where the rise to the next anchor may reach the guard, the levels
// between are measured one by one, so that the stop is the first level over
// the guard, as in a full sweep. The rise is taken as the larger of the
// reference curves' and of the last gap's rate carried on (an amplifier
// compresses, so that rate does not fall short), with a margin for the
// unit's own curve.
constexpr double STEP_MARGIN_DB = 1.0;

bool measured_dbm(const sweep_t& s, int level, double* dbm) {
    const level_result_t& r = s.results.level[level];
    if (level < 1 || !r.valid || r.mv == TEMPERATURE_STOP_MV || !(r.mw > 0)) return false;
    *dbm = mW_to_dBm(r.mw);
    return true;
}

bool next_anchor_may_reach_guard(const sweep_t& s, int before, int from, int to) {
    const double from_mw = default_cal_get_mw(s.band.token, s.mcs, from);
    const double to_mw = default_cal_get_mw(s.band.token, s.mcs, to);
    if (!(from_mw > 0) || !(to_mw > 0)) return true;
    double rise = mW_to_dBm(to_mw) - mW_to_dBm(from_mw);
    double from_dbm = 0, before_dbm = 0;
    if (!measured_dbm(s, from, &from_dbm)) return true;
    if (measured_dbm(s, before, &before_dbm))
        rise = std::fmax(rise, (from_dbm - before_dbm) / (from - before) * (to - from));
    return from_dbm + rise + s.uncertainty_db + STEP_MARGIN_DB > POWER_LIMIT_DBM;
}

// The levels between anchor `from` (just measured) and anchor `to`, when the
// way there may reach the guard; a stop among them is the sweep's stop.
level_outcome step_towards(sweep_t* s, int before, int from, int to, int i, int count) {
    const level_result_t& measured = s->results.level[from];
    if (!measured.valid || measured.mv == TEMPERATURE_STOP_MV || to - from < 2 ||
        !next_anchor_may_reach_guard(*s, before, from, to))
        return level_outcome::next;
    std::printf("Power level %d may come near the safety threshold; measuring levels %d to %d one "
                "by one\n",
                to, from + 1, to - 1);
    for (int level = from + 1; level < to; ++level) {
        end_run_if_interrupted();
        const level_outcome outcome = sweep_one_level(s, i, count, level);
        if (outcome == level_outcome::stop) s->stop_level = level;
        if (outcome != level_outcome::next) return outcome;
    }
    return level_outcome::next;
}

// Levels 1..60, or the `level_count` given ones, until a stop; false when
// the sweep failed. Above a power stop every level of the table is
// withheld: what a stored table held there was not measured by this sweep,
// and this sweep found the limit below it.
bool measure_levels(sweep_t* s, const int* levels, int level_count) {
    const int count = level_count == 0 ? POWER_LEVEL_MAX : level_count;
    for (int i = 1; i <= count; ++i) {
        end_run_if_interrupted();
        const int level = level_count == 0 ? i : levels[i - 1];
        level_outcome outcome = level_outcome::next;
        if (s->step_near_limit && i > 1)
            outcome = step_towards(s, i > 2 ? levels[i - 3] : 0, levels[i - 2], level, i, count);
        if (outcome == level_outcome::next) outcome = sweep_one_level(s, i, count, level);
        if (outcome == level_outcome::failed) return false;
        if (outcome == level_outcome::stop) {
            if (s->stop_level == 0) s->stop_level = level;  // else a level stepped to
            break;
        }
    }
    if (s->power_stop) {
        for (int level = s->stop_level + 1; level <= CALIBRATION_TABLE_LEVELS; ++level)
            s->results.withheld[level] = true;
    }
    return true;
}

// The new table, or the stored one merged, replacing the file whole; a
// failure leaves the stored table exactly as it was.
bool write_table(const stored_table_t* stored, const sweep_results_t& results, int mcs,
                 const char* path) {
    end_run_if_interrupted();
    std::string text;
    if (stored) {
        if (merge_table_text(*stored, results, mcs, path, &text) != 0) return false;
    } else {
        text = new_table_text(results, mcs);
    }
    // A run interrupted while the table was being written keeps the old one.
    return replace_file_contents(path, text, [] { return interruption_signal() != 0; },
                                 run_temporary_file_observer()) == 0;
}

enum class sweep_outcome { written, failed, anchors_failed, not_a_table };

// Measures the levels, estimates (fast sweep) and writes the table.
sweep_outcome measure_and_write(sweep_t* s, const int* levels, int level_count,
                                const char* path) {
    stored_table_t stored;
    const int stored_state = read_stored_table(path, &stored);
    if (stored_state == STORED_NOT_A_TABLE) return sweep_outcome::not_a_table;
    if (stored_state < 0) return sweep_outcome::failed;
    if (!measure_levels(s, levels, level_count)) return sweep_outcome::failed;
    if (s->fast) {
        if (report_failed_anchors(s->results, s->stop_level) > 0)
            return sweep_outcome::anchors_failed;
        mv_to_dbm_context_t context = {s->band.key, s->mcs};
        estimate_fast_levels(&s->results, s->band.token, s->mcs, s->stop_level,
                             s->uncertainty_db, convert_with_tables, &context);
    }
    const stored_table_t* merge_into = stored_state == 0 ? &stored : nullptr;
    return write_table(merge_into, s->results, s->mcs, path) ? sweep_outcome::written
                                                              : sweep_outcome::failed;
}

// Every way out after a power level was set ends at the minimum; a
// transmitter that may still be high fails the sweep.
int finish_sweep(sweep_outcome outcome, int levels_set, const char* path) {
    switch (outcome) {
    case sweep_outcome::written:
        std::printf("Calibration complete! Data saved to %s\n", path);
        return set_minimum_power("calibration") ? 0 : -1;
    case sweep_outcome::anchors_failed:
        set_minimum_power("fast calibration anchor failure");
        return -1;
    case sweep_outcome::not_a_table:
        // Refused before any level; the sweep has tuned the transmitter all
        // the same, so it ends at the minimum as a failed run should.
        set_minimum_power("calibration failure");
        return -1;
    case sweep_outcome::failed:
        break;
    }
    if (levels_set > 0) set_minimum_power("calibration failure");
    return -1;
}

// The start of every sweep: the band's conversion table checked before
// anything is set, the frequency set and waited for, the band.
bool start_sweep(int fd, int frequency, int mcs, bool fast, sweep_t* s) {
    sweep_band_t band;
    const bool in_band = sweep_band(frequency, &band);
    if (in_band && !conversion_table_fit_to_raise_power(band.key))
        return false;
    // The calibration driver has set this frequency and waited already; a
    // sweep sets it and waits for it again all the same, so that it never
    // measures a frequency it did not set itself.
    if (tool_failure_t failure{}; !configure_vtx("-F", frequency, &failure)) {
        end_run_if_interrupted();
        report_configure_failure("Failed to set frequency", failure);
        return false;
    }
    std::printf("Set frequency to %d MHz\n", frequency);
    std::printf("Sleeping 7 seconds while frequency changes...\n");
    sleep_us(FREQUENCY_SETTLE_US);
    end_run_if_interrupted();

    *s = {};
    s->fd = fd;
    // Read here, by the sweep's temperature rule: the command line's -temp_test.
    s->temperature_testing = g_temp_test_flag;
    s->frequency = frequency;
    s->mcs = mcs;
    s->fast = fast;
    if (!in_band) {
        std::fprintf(stderr, "Error: Invalid frequency %d MHz\n", frequency);
        return false;
    }
    s->band = band;
    s->uncertainty_db = reading_uncertainty_db(s->band.key, s->mcs);
    return true;
}

int perform_calibration_internal(int fd, int frequency, int mcs, const int* levels,
                                 int level_count, bool fast) {
    std::printf("Starting %scalibration for frequency %d MHz and MCS %d\n", fast ? "fast " : "",
                frequency, mcs);
    sweep_t s;
    if (!start_sweep(fd, frequency, mcs, fast, &s)) return -1;
    // A table is written from what this sweep measures: near the limit a
    // fast sweep measures every level (the field check compares anchors only).
    s.step_near_limit = fast;
    char path[256];
    calibration_table_path(s.band, path);

    sweep_outcome outcome = sweep_outcome::failed;
    try {
        outcome = measure_and_write(&s, levels, level_count, path);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        std::perror("Failed to allocate memory for data rows");
    }
    // An interruption (during the table's writing too) ends the run here.
    end_run_if_interrupted();
    return finish_sweep(outcome, s.levels_set, path);
}

}  // namespace

int perform_calibration(int fd, int frequency, int mcs) {
    return perform_calibration_internal(fd, frequency, mcs, nullptr, 0, false);
}

int perform_fast_calibration(int fd, int frequency, int mcs) {
    return perform_calibration_internal(fd, frequency, mcs, FAST_CALIBRATION_LEVELS,
                                        FAST_CALIBRATION_LEVEL_COUNT, true);
}

int measure_sweep_levels(int fd, int frequency, int mcs, const int* levels, int level_count,
                         level_visit_fn visit, void* context, anchor_measurement_t* measurement) {
    sweep_t s;
    *measurement = {};
    if (!start_sweep(fd, frequency, mcs, true, &s)) return -1;
    s.visit = visit;
    s.visit_context = context;
    const bool measured = measure_levels(&s, levels, level_count);
    measurement->results = s.results;
    measurement->stop_level = s.stop_level;
    measurement->levels_set = s.levels_set;
    return measured ? 0 : -1;
}

int measure_fast_anchors(int fd, int frequency, int mcs, anchor_measurement_t* measurement) {
    return measure_sweep_levels(fd, frequency, mcs, FAST_CALIBRATION_LEVELS,
                                FAST_CALIBRATION_LEVEL_COUNT, nullptr, nullptr, measurement);
}
