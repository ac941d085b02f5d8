// One detector reading: configure the ADS7142, read the temperature, keep
// each channel's peak over a number of conversion sequences, convert both
// peaks to dBm.
#pragma once

#include "sensor_data.h"

// Samples per reading, and the pause after each, of the power search and
// the calibration sweeps.
constexpr int ADJUST_SAMPLES = 60;
constexpr double ADJUST_SAMPLE_PAUSE_S = 0.001;

// 0 on success, -1 after the failing step's message. `frequency` (MHz)
// chooses channel 1's table, `mcs` the table column; `pause_s` is taken in
// whole microseconds, truncated.
int process_sensor_data(sensor_data_t* record, int fd, int mcs, int frequency, int samples,
                        double pause_s);

// A reading of the power search's and the sweeps' size, tried once more
// after 100 ms when it fails: "Reading <number> failed, retrying..." before
// the retry, "Reading <number> failed again<again_suffix>" after a second
// failure. True when either try succeeded.
bool reading_with_retry(sensor_data_t* record, int fd, int mcs, int frequency, int number,
                        const char* again_suffix);
