// Process-wide settings and telemetry state of orvi-rfmon.
//
// parse_arguments sets the settings below and returns them, with those kept
// nowhere else, as one monitor_settings_t that travels into the mode, so the
// modes read no setting from here. The power search's state (adjust_power, current_power)
// is the monitoring loop's, kept here. The telemetry integers are written by
// the pipe callback thread and read once per monitoring cycle by the main
// thread; each is read and written whole (relaxed atomics). Everything else
// belongs to the main thread.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int MAX_CALIBRATION_FREQUENCIES = 10;
constexpr int MAX_CALIBRATION_MCS_VALUES = 10;

typedef struct calibration_params_t {
    int32_t frequencies[MAX_CALIBRATION_FREQUENCIES];
    int32_t mcs_values[MAX_CALIBRATION_MCS_VALUES];
    int32_t frequency_count;
    int32_t mcs_count;
} calibration_params_t;

// Written by the command line (command_line.cpp) alone.
extern int Average_Sampling;
extern double PAUSE_BETWEEN_PRINTS;
extern double desired_dBm;
// A power search is requested and not yet carried out: set by the command
// line, cleared by the monitoring loop (monitor_modes.cpp) through the search.
extern bool adjust_power;
// The power index: the telemetry's while a search is pending, then the one
// the search chose (the monitoring loop's, written through the search).
extern int current_power;
extern char I2C_DEVICE[32];     // written by the command line
extern char VTX_PIPE_PATH[64];  // written by the subscription (telemetry_subscription.cpp)

// Written whole by the pipe thread (telemetry_subscription.cpp), read whole
// by the main thread (get_vtx_config): no lock.
static_assert(std::atomic<int>::is_always_lock_free, "telemetry integers must be lock-free");
extern std::atomic<int> g_frequency;
extern std::atomic<int> g_mcs;
extern std::atomic<int> g_power_idx;

extern calibration_params_t g_calib_params;  // written by the command line

// What the command line asked for, as one record (parse_arguments returns
// it): the globals above as it left them, and what it keeps nowhere else.
typedef struct monitor_settings_t {
    int average_sampling;         // samples per monitoring reading (-s)
    double pause_between_prints;  // pause after each sample, seconds (-p)
    double desired_dbm;           // the power search's target (-adjust-dbm, -adjust-mW)
    double verify_tolerance_db;   // field check and drift warning (-verify-db)
    calibration_params_t calibration;  // frequencies and MCS values (-f, -m)
    const char* meter_command;    // the trim's power meter (-meter), nullptr: the operator
    double meter_db;              // its stated accuracy (-meter-db)
} monitor_settings_t;

// Snapshot of the telemetry into the out-parameters and the g_global_* values
// of power_search.h, which the power search reads.
void get_vtx_config(int* mcs, int* frequency, int* power_idx);
