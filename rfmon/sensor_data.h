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
} sensor_data_t;
