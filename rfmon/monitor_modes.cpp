#include "monitor_modes.h"

#include <unistd.h>

#include <cstdio>

#include <orvi/brannic_pipe.h>
#include "calibration_sweep.h"
#include "command_line.h"
#include "conversion_tables.h"
#include "field_check.h"
#include "fast_estimation.h"
#include "frequency_bands.h"
#include "interruption.h"
#include "power_search.h"
#include "sensor_processing.h"
#include "sleeping.h"
#include "tool_runner.h"
#include "transmitter_run.h"

namespace {

constexpr long long CYCLE_PAUSE_US = 500000;
constexpr long long FAILED_READING_PAUSE_US = 5000000;
constexpr long long SETTLE_AFTER_TUNING_US = 4000000;
constexpr long long PAUSE_AFTER_SWEEP_US = 1000000;
constexpr int INITIAL_POWER_INDEX = 1;

void watch_over_range(int channel, bool over_range, double mv, const char* band,
                      cycle_watch_t* watch) {
    if (over_range == watch->over_range[channel]) return;
    watch->over_range[channel] = over_range;
    double top_mv = 0.0;
    if (over_range && conversion_table_top_mv(band, &top_mv) == 0) {
        std::fprintf(stderr,
                     "Warning: CH%d detector voltage %.2f mV is above the %s conversion table's "
                     "range (%.2f mV); its dBm is only a lower bound\n",
                     channel, mv, band, top_mv);
    } else if (!over_range) {
        std::fprintf(stderr, "CH%d detector voltage is back within the %s conversion table's range\n",
                     channel, band);
    }
}

void watch_both_channels(const sensor_data_t& record, int frequency, cycle_watch_t* watch) {
    const char* ch1_band = reading_band_key(frequency);
    watch_over_range(0, record.ch0_over_range, record.ch0_mv, "2.4", watch);
    watch_over_range(1, record.ch1_over_range, record.ch1_mv, ch1_band ? ch1_band : "5.8", watch);
}

}  // namespace

bool is_fast_combination(bool fast_mode, int frequency, int mcs) {
    return fast_mode && is_fast_calibration_combination(frequency, mcs);
}

bool monitoring_cycle(int fd, sensor_data_t* record, const monitor_settings_t& settings,
                      cycle_watch_t* watch) {
    int mcs = 0;
    int frequency = 0;
    int power_idx = 0;
    get_vtx_config(&mcs, &frequency, &power_idx);
    const bool telemetry_is_current = telemetry_current(&watch->telemetry);
    // adjust_power and current_power: the search's state, the loop's own.
    if (adjust_power) current_power = power_idx;

    // The line keeps the telemetry's MCS; only the conversion takes a column
    // the tables hold.
    if (process_sensor_data(record, fd, reading_mcs(&watch->telemetry, mcs), frequency,
                            settings.average_sampling, settings.pause_between_prints) < 0) {
        std::fputs("Error processing sensor data\n", stderr);
        sleep_us(FAILED_READING_PAUSE_US);
        return false;
    }
    std::printf(
        "2.4 GHz (CH0): %.2f dBm (%.2f mV)   %s GHz (CH1): %.2f dBm (%.2f mV)   Temperature "
        "(C): %.2f   Freq: %d MHz   MCS: %d   Power: %d\n",
        record->ch0_dbm, record->ch0_mv, channel1_label(frequency), record->ch1_dbm,
        record->ch1_mv, record->temperature_c, frequency, mcs, power_idx);
    watch_both_channels(*record, frequency, watch);
    // Without current telemetry the index may not be the transmitter's.
    if (telemetry_is_current)
        watch_drift(&watch->drift, frequency, mcs, power_idx, *record, settings.verify_tolerance_db);
    else
        pause_drift(&watch->drift);
    if (adjust_power && !search_may_raise_power(static_cast<double>(frequency))) {
        adjust_power = false;
        watch->search_refused = true;
    }
    if (adjust_power) {
        // The search's own readings must not disturb the monitoring record.
        sensor_data_t scratch = *record;
        // The search raises the power: a signal during it ends at power 1.
        catch_interruptions();
        set_dBm(fd, &scratch, &adjust_power, &current_power, settings.desired_dbm,
                static_cast<double>(frequency));
        end_run_if_interrupted();
        release_interruptions();
        end_transmitter_run();
    }
    sleep_us(CYCLE_PAUSE_US);
    return true;
}

int run_monitoring(int fd, sensor_data_t* record, const monitor_settings_t& settings) {
    // adjust_power: the command line's request for a search.
    if (adjust_power) {
        // The search's run: from the initial power to the search's end.
        if (!begin_transmitter_run(1)) {
            close(fd);
            return 1;
        }
        std::puts("Setting initial power to 1...");
        if (tool_failure_t failure{}; !configure_vtx("-p", INITIAL_POWER_INDEX, &failure)) {
            report_configure_failure("Failed to set initial power using orvi-configure-vtx", failure);
            end_transmitter_run();
            close(fd);
            return 1;
        }
        // A search on the starting values would tune for a frequency and MCS
        // the transmitter may not use.
        if (!wait_for_first_telemetry(FIRST_TELEMETRY_WAIT_US)) {
            std::fputs("Error: no telemetry record from vtx_latency within 5 s; no power search "
                       "on assumed settings, the power stays at 1\n",
                       stderr);
            end_transmitter_run();
            pipe_client_close_all();
            close(fd);
            return 1;
        }
    }
    cycle_watch_t watch = {};
    for (;;) {
        monitoring_cycle(fd, record, settings, &watch);
        const char* why = "";
        if (standard_output_failed(&why)) {
            std::fprintf(stderr, "Error: Failed to write to standard output%s; monitoring stopped\n",
                         why);
            pipe_client_close_all();
            close(fd);
            return 1;
        }
        if (watch.search_refused) {
            // The search never raised the power: its run ends as it should.
            end_transmitter_run();
            close(fd);
            return 1;
        }
    }
}

namespace {

void print_calibration_plan(bool fast_mode, const calibration_params_t& params) {
    std::printf("Running in calibration mode with %d frequencies and %d MCS values\n",
                params.frequency_count, params.mcs_count);
    if (fast_mode) {
        std::puts(
            "Fast calibration supported for: 2412/5180/5805 MHz and MCS 0/3 (anchors: 10, 35, 45, "
            "50, 56, 60)");
    }
    std::puts("Will perform calibration for the following combinations:");
    for (int fi = 0; fi < params.frequency_count; fi++) {
        for (int mi = 0; mi < params.mcs_count; mi++) {
            int frequency = params.frequencies[fi];
            int mcs = params.mcs_values[mi];
            std::printf("Frequency: %d MHz, MCS: %d (%s)\n", frequency, mcs,
                        is_fast_combination(fast_mode, frequency, mcs) ? "fast" : "full");
        }
    }
}

void print_combination_banner(bool fast_mode, bool fast, int frequency, int mcs) {
    std::puts("\n========================================");
    if (fast) {
        std::printf("Starting fast calibration for Frequency: %d MHz, MCS: %d\n", frequency, mcs);
    } else {
        if (fast_mode) {
            std::fprintf(stderr,
                         "Warning: Fast calibration is not supported for %d MHz MCS %d; using "
                         "full calibration instead.\n",
                         frequency, mcs);
        }
        std::printf("Starting full calibration for Frequency: %d MHz, MCS: %d\n", frequency, mcs);
    }
    std::puts("========================================");
}

// Tunes the transmitter to one combination and sweeps it; false when its
// table was not written.
bool calibrate_combination(int fd, bool fast_mode, int frequency, int mcs) {
    const bool fast = is_fast_combination(fast_mode, frequency, mcs);
    print_combination_banner(fast_mode, fast, frequency, mcs);
    // The sweep never sets the MCS, so it is set here, with the frequency;
    // the sweep then sets the frequency and waits once more on its own.
    std::printf("Setting frequency to %d MHz...\n", frequency);
    if (tool_failure_t failure{}; !configure_vtx("-F", frequency, &failure)) {
        end_run_if_interrupted();
        report_configure_failure("Failed to set frequency using orvi-configure-vtx", failure);
        return false;
    }
    std::printf("Setting MCS to %d...\n", mcs);
    if (tool_failure_t failure{}; !configure_vtx("-m", mcs, &failure)) {
        end_run_if_interrupted();
        report_configure_failure("Failed to set MCS using orvi-configure-vtx", failure);
        return false;
    }
    sleep_us(SETTLE_AFTER_TUNING_US);
    end_run_if_interrupted();

    int result = fast ? perform_fast_calibration(fd, frequency, mcs)
                      : perform_calibration(fd, frequency, mcs);
    end_run_if_interrupted();
    if (result != 0) {
        std::fprintf(stderr, "Calibration failed for Frequency: %d MHz, MCS: %d\n", frequency,
                     mcs);
    }
    sleep_us(PAUSE_AFTER_SWEEP_US);
    return result == 0;
}

}  // namespace

bool begin_power_run(int fd, int refused_status) {
    if (!begin_transmitter_run(refused_status)) {
        pipe_client_close_all();
        close(fd);
        return false;
    }
    catch_interruptions();
    return true;
}

void end_power_run(int fd) {
    end_run_if_interrupted();
    stop_latency_test();
    end_transmitter_run();
    pipe_client_close_all();
    close(fd);
}

int run_calibration(int fd, int mode, const monitor_settings_t& settings) {
    const bool fast_mode = mode == MODE_FAST_CALIBRATION;
    const calibration_params_t& params = settings.calibration;
    // Every sweep raises the power: a signal from here on ends at power 1.
    if (!begin_power_run(fd, 1)) return 1;
    print_calibration_plan(fast_mode, params);

    // A script must be able to tell a run that wrote every table from one
    // that did not; a safety stop still writes its table and counts as done.
    bool any_failed = false;
    for (int fi = 0; fi < params.frequency_count; fi++) {
        for (int mi = 0; mi < params.mcs_count; mi++) {
            end_run_if_interrupted();
            const int frequency = params.frequencies[fi];
            if (!calibrate_combination(fd, fast_mode, frequency, params.mcs_values[mi])) {
                any_failed = true;
            }
        }
    }

    end_power_run(fd);
    std::puts("All calibrations completed!");
    return any_failed ? 1 : 0;
}

namespace {

// One combination of the field check: the MCS set, then the check (which
// starts as a sweep starts); the power back at 1 once it may have been raised.
field_check_result_t check_combination(int fd, int frequency, int mcs, double tolerance_db) {
    std::puts("\n========================================");
    std::printf("Field check for Frequency: %d MHz, MCS: %d\n", frequency, mcs);
    std::puts("========================================");
    if (tool_failure_t failure{}; !configure_vtx("-m", mcs, &failure)) {
        end_run_if_interrupted();
        report_configure_failure("Failed to set MCS using orvi-configure-vtx", failure);
        return FIELD_CHECK_STEP_FAILED;
    }
    field_check_result_t result = check_against_table(fd, frequency, mcs, tolerance_db);
    end_run_if_interrupted();
    // A check that may leave the power high has not passed.
    const bool nothing_set = result == FIELD_CHECK_NO_TABLE || result == FIELD_CHECK_BROKEN_CONVERSION;
    if (!nothing_set && !set_minimum_power("field check") &&
        result == FIELD_CHECK_MATCH)
        result = FIELD_CHECK_STEP_FAILED;
    return result;
}

const char* field_check_summary(field_check_result_t result) {
    switch (result) {
    case FIELD_CHECK_MATCH:
        return "the output matches the tables";
    case FIELD_CHECK_MISMATCH:
        return "the output does NOT match the tables";
    case FIELD_CHECK_NO_TABLE:
        return "a band has no table to check against";
    default:
        return "the output could not be checked against the tables";
    }
}

}  // namespace

int run_field_check(int fd, const monitor_settings_t& settings) {
    const calibration_params_t& params = settings.calibration;
    // The check raises the power: a signal from here on ends at power 1.
    // Refused, the check could not check.
    if (!begin_power_run(fd, FIELD_CHECK_EXIT_NOT_CHECKED)) return FIELD_CHECK_EXIT_NOT_CHECKED;
    field_check_result_t verdict = FIELD_CHECK_MATCH;
    for (int fi = 0; fi < params.frequency_count; fi++) {
        for (int mi = 0; mi < params.mcs_count; mi++) {
            end_run_if_interrupted();
            const field_check_result_t result = check_combination(
                fd, params.frequencies[fi], params.mcs_values[mi], settings.verify_tolerance_db);
            verdict = combined_field_check(verdict, result);
        }
    }
    end_power_run(fd);
    std::printf("Field check complete: %s\n", field_check_summary(verdict));
    return field_check_exit_status(verdict);
}
