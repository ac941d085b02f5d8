// One detector reading, and the search for the power index that meets a target.
#pragma once

#include "sensor_data.h"

constexpr int POWER_LEVEL_MIN = 1;
constexpr int POWER_LEVEL_MAX = 60;
constexpr int ADJUST_SAMPLES = 60;          // samples per reading of the search and sweeps
constexpr double ADJUST_SAMPLE_PAUSE_S = 0.001;

int process_sensor_data(sensor_data_t* record, int fd, int mcs, int frequency, int samples,
                        double pause_s);
void read_vtx_config(int* mcs, int* frequency);
bool is_valid_power_level(int level);
double apply_power_and_read_dbm(int fd, int level, sensor_data_t* record, double band);
void set_dBm(int fd, sensor_data_t* record, bool* adjust_power, int* current_power,
             double desired_dbm, double frequency);
