#include "monitor_state.h"

#include "power_search.h"

int Average_Sampling = 300;
double PAUSE_BETWEEN_PRINTS = 0.0001;
double desired_dBm = 25.0;
bool adjust_power = false;
int current_power = 1;
char I2C_DEVICE[32] = {};
char VTX_PIPE_PATH[64] = {};

std::atomic<int> g_frequency{5800};
std::atomic<int> g_mcs{0};
std::atomic<int> g_power_idx{1};

calibration_params_t g_calib_params = {};

void get_vtx_config(int* mcs, int* frequency, int* power_idx) {
    // g_frequency, g_mcs, g_power_idx: the newest record, as the pipe thread left it.
    *mcs = g_mcs.load(std::memory_order_relaxed);
    *frequency = g_frequency.load(std::memory_order_relaxed);
    *power_idx = g_power_idx.load(std::memory_order_relaxed);
    g_global_mcs = *mcs;
    g_global_frequency = *frequency;
    g_global_power_idx = *power_idx;
}
