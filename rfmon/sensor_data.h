// One reading of the RF power detector and the board temperature.
#pragma once

#include <cstdint>

typedef struct sensor_data_t {
    double ch0_mv;         // peak 2.4 GHz detector voltage over the reading, mV
    double ch1_mv;         // peak 5 GHz detector voltage, mV
    double ch0_dbm;        // channel 0 through the "2.4" table
    double ch1_dbm;        // channel 1 through the table of the frequency's band
    double temperature_c;  // last temperature read (single-precision value)
    bool temp_valid;       // the sensor answered its address
    int32_t sample_count;  // conversion sequences completed in the last reading
    bool temp_fresh;       // the last reading read the temperature (the two above may be older)
    bool ch0_over_range;   // ch0_mv lies above its table's top row: ch0_dbm is only a lower bound
    bool ch1_over_range;   // the same for channel 1
} sensor_data_t;
