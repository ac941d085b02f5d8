// Process-wide settings and telemetry state of orvi-rfmon.
//
// The telemetry integers are written by the pipe callback thread and read
// once per monitoring cycle by the main thread; each is read and written
// whole (relaxed atomics). Everything else belongs to the main thread.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int MAX_CALIBRATION_FREQUENCIES = 10;
constexpr int MAX_CALIBRATION_MCS_VALUES = 10;
constexpr double TEMPERATURE_LIMIT_C = 75.0;

typedef struct calibration_params_t {
    int32_t frequencies[MAX_CALIBRATION_FREQUENCIES];
    int32_t mcs_values[MAX_CALIBRATION_MCS_VALUES];
    int32_t frequency_count;
    int32_t mcs_count;
} calibration_params_t;

extern int Average_Sampling;
extern double PAUSE_BETWEEN_PRINTS;
extern double desired_dBm;
extern bool adjust_power;
extern int current_power;
extern char I2C_DEVICE[32];
extern char VTX_PIPE_PATH[64];

// Written whole by the pipe thread, read whole by the main thread: no lock.
static_assert(std::atomic<int>::is_always_lock_free, "telemetry integers must be lock-free");
extern std::atomic<int> g_frequency;
extern std::atomic<int> g_mcs;
extern std::atomic<int> g_power_idx;

extern int g_global_frequency;
extern int g_global_mcs;
extern int g_global_power_idx;

extern bool g_temp_test_flag;
extern calibration_params_t g_calib_params;

// Snapshot of the telemetry into the out-parameters and the g_global_* values.
void get_vtx_config(int* mcs, int* frequency, int* power_idx);
