#include "monitor_state.h"

#include "power_search.h"

int Average_Sampling = 300;
double PAUSE_BETWEEN_PRINTS = 0.0001;
double desired_dBm = 25.0;
double VERIFY_TOLERANCE_DB = 1.5;
const char* TRIM_METER_COMMAND = nullptr;
double TRIM_METER_DB = 0.2;
bool adjust_power = false;
int current_power = 1;
char I2C_DEVICE[32] = {};
char VTX_PIPE_PATH[64] = {};

std::atomic<int> g_frequency{5800};
std::atomic<bool> g_telemetry_received{false};
std::atomic<int> g_mcs{0};
std::atomic<int> g_power_idx{1};
std::atomic<int64_t> g_telemetry_ns{0};

calibration_params_t g_calib_params = {};

monitor_settings_t monitor_settings() {
    monitor_settings_t settings{};
    settings.average_sampling = Average_Sampling;
    settings.pause_between_prints = PAUSE_BETWEEN_PRINTS;
    settings.desired_dbm = desired_dBm;
    settings.verify_tolerance_db = VERIFY_TOLERANCE_DB;
    settings.meter_command = TRIM_METER_COMMAND;
    settings.meter_db = TRIM_METER_DB;
    settings.calibration = g_calib_params;
    return settings;
}

void get_vtx_config(int* mcs, int* frequency, int* power_idx) {
    *mcs = g_mcs.load(std::memory_order_relaxed);
    *frequency = g_frequency.load(std::memory_order_relaxed);
    *power_idx = g_power_idx.load(std::memory_order_relaxed);
    g_global_mcs = *mcs;
    g_global_frequency = *frequency;
    g_global_power_idx = *power_idx;
}
