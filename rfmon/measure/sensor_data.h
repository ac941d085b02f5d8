// One reading of the RF power detector and the board temperature.
#pragma once

#include <cstdint>

// Every record starts as a reading that has seen nothing: a monitoring cycle
// whose temperature read fails shows the last temperature, or -9999.00
// before the first.
typedef struct sensor_data_t {
    double ch0_mv = 0.0;             // peak 2.4 GHz detector voltage over the reading, mV
    double ch1_mv = 0.0;             // peak 5 GHz detector voltage, mV
    double ch0_dbm = 0.0;            // channel 0 through the "2.4" table
    double ch1_dbm = 0.0;            // channel 1 through the table of the frequency's band
    double temperature_c = -9999.0;  // last temperature read (single-precision value)
    bool temp_valid = false;         // the sensor answered its address
    int32_t sample_count = 0;        // conversion sequences completed in the last reading
    // The last reading read the temperature (the two above may be older).
    bool temp_fresh = false;
    // ch0_mv lies above its table's top row: ch0_dbm is only a lower bound.
    bool ch0_over_range = false;
    bool ch1_over_range = false;  // the same for channel 1
} sensor_data_t;
