// orvi-rfmon -trim: the unit's detector trimmed against a reference power
// meter, band by band, and the trim file replaced whole.
#pragma once

#include "frequency_bands.h"
#include "monitor_state.h"

// What -trim was asked for.
typedef struct trim_request_t {
    int frequencies[SWEEP_BAND_COUNT];  // one per band, MHz
    int frequency_count;
    int mcs;
    const char* meter_command;  // nullptr: the operator types the meter's readings
    double meter_db;            // the meter's stated accuracy
} trim_request_t;

// The levels a trim measures in a band at `mcs`: from low power to just under
// the guarded limit, by the built-in reference curves; how many in *count.
constexpr int TRIM_LEVEL_COUNT = 5;
bool choose_trim_levels(const char* band_token, int mcs, int* levels, int* count);

// The trim the command line asked for: its frequencies, the first MCS.
trim_request_t trim_request(const monitor_settings_t& settings);

// Trims each requested band, then writes every band's trim in one new file
// (the other bands' lines kept), or nothing when any band failed. Power 1
// and the latency test stopped at the end, under the run lock and the
// guardian. The exit status: 0 written, 1 otherwise.
int run_trim(int fd, const trim_request_t& request);
