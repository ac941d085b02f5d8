// The power adjustment: set a power index, measure the output from three
// readings, and search 1..60 for the index closest to a target in dBm.
#pragma once

#include "safety_limits.h"
#include "sensor_data.h"

// The monitoring cycle's snapshot of the telemetry (frequency MHz, MCS,
// power index), written by get_vtx_config (monitor_state.cpp) at the start of each cycle
// and read here by every measurement of a search. Main thread only.
extern int g_global_frequency;
extern int g_global_mcs;
extern int g_global_power_idx;

// MCS and frequency of the snapshot; -9999 for both while both are 0.
void read_vtx_config(int* mcs, int* frequency);
bool is_valid_power_level(int level);
// Sets `level`, measures, and returns the median (or mean of fewer) of the
// three readings in dBm of the band's channel (2.4: channel 0, others
// channel 1); -1.0 on failure.
double apply_power_and_read_dbm(int fd, int level, sensor_data_t* record, double band);
// Searches the index for `desired_dbm` at `frequency` (MHz) and sets it,
// storing it in *current_power; always clears *adjust_power. It never keeps
// or settles on a level whose reading plus the band's uncertainty is above
// the power limit; under FCC rules ("regulatory_mode" "fcc" in the
// transmitter's configuration) at 5180-5320 MHz, nor above 200 mW, and a
// request the cap cannot allow within the uncertainty is lowered. Nothing is
// set when the band's conversion table fails its check
// (search_may_raise_power).
void set_dBm(int fd, sensor_data_t* record, bool* adjust_power, int* current_power,
             double desired_dbm, double frequency);
// Whether the search at `frequency` may set any power level: its band's
// conversion table passes its check (false after the error line).
bool search_may_raise_power(double frequency);
