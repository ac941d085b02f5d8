// The two ways orvi-rfmon runs once it holds the bus and the telemetry
// subscription.
#pragma once

#include "monitor_state.h"
#include "sensor_data.h"

// Endless cycles: snapshot, reading, one printed line, the one-time power
// search (while adjust_power is set, which the search clears; the search
// keeps its choice in current_power). Returns only when the initial power
// command cannot be run (the bus device is then closed); the result is the
// exit status.
int run_monitoring(int fd, sensor_data_t* record, const monitor_settings_t& settings);

// Tunes the transmitter to each requested frequency x MCS and runs a sweep,
// then stops the latency test and closes the pipe clients and the bus.
// mode is MODE_FULL_CALIBRATION or MODE_FAST_CALIBRATION. The exit status:
// 1 when any combination's table was not written, else 0.
int run_calibration(int fd, int mode, const monitor_settings_t& settings);

// A combination gets the fast sweep only in fast mode, at an anchor
// frequency and MCS.
bool is_fast_combination(bool fast_mode, int frequency, int mcs);
