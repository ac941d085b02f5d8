// The ways orvi-rfmon runs once it holds the bus and the telemetry
// subscription, and the start and end that the runs raising the power share.
#pragma once

#include "drift_watch.h"
#include "monitor_state.h"
#include "sensor_data.h"
#include "telemetry_watch.h"

// Endless monitoring cycles after the initial power 1 that a pending search
// starts from, and the first telemetry record it searches on. Returns only
// when that power command cannot be run, when no record came, or when the
// search was refused (the bus device is then closed); the result is the
// exit status.
int run_monitoring(int fd, sensor_data_t* record, const monitor_settings_t& settings);

// What monitoring compares from one cycle to the next: whether each channel
// read beyond its conversion table last cycle (only the changes are
// reported), the readings against the calibration table, and the
// telemetry's age and MCS.
typedef struct cycle_watch_t {
    bool over_range[2];
    drift_watch_t drift;
    bool search_refused;  // the search set nothing: its conversion table failed its check
    telemetry_watch_t telemetry;
} cycle_watch_t;

// One cycle with its pause: the telemetry snapshot, one reading and its
// line, and, while adjust_power is set, the power search. current_power
// follows the telemetry's index while the search is pending; the search
// clears adjust_power and keeps its choice in current_power. False when the
// reading failed (after its message and the 5 s wait).
bool monitoring_cycle(int fd, sensor_data_t* record, const monitor_settings_t& settings,
                      cycle_watch_t* watch);

// Tunes the transmitter to each requested frequency x MCS and runs a sweep,
// then stops the latency test and closes the pipe clients and the bus.
// mode is MODE_FULL_CALIBRATION or MODE_FAST_CALIBRATION. The exit status:
// 1 when any combination's table was not written, else 0.
int run_calibration(int fd, int mode, const monitor_settings_t& settings);

// The field check (-verify) of each requested frequency x MCS against its
// stored table, ending at power level 1; then as run_calibration ends. The
// exit status: 1 when a compared level did not match, else 2 when a
// combination could not be checked (no table, a failed reading or step,
// too few levels compared), else 0.
int run_field_check(int fd, const monitor_settings_t& settings);

// The start of a run that raises the power (a sweep, -verify, -trim): the
// board's lock and the guardian, then every signal that can be handled
// ends it at power 1. False when refused, after the pipe clients and the
// bus are closed.
bool begin_power_run(int fd, int refused_status);
// Its end: the latency test stopped, the guardian dismissed and the lock
// let go, the pipe clients and the bus closed.
void end_power_run(int fd);

// A combination gets the fast sweep only in fast mode, at an anchor
// frequency and MCS.
bool is_fast_combination(bool fast_mode, int frequency, int mcs);
