// What the transmitter's power map makes of a request: its own loader and
// findClosestPowerIndex on the table's text, and the measured output at the
// index it picks.
#pragma once

#include <orvi/power_map.h>

#include "table_reading.h"

// A request further than this from the measured output at the picked index
// is a defect.
constexpr double REQUEST_TOLERANCE_DB = 3.0;

typedef struct power_pick_t {
    int request_mw;     // as asked
    int capped_mw;      // after the FCC cap (the transmitter's view of the request)
    int index;          // the power index the transmitter would set
    bool measured;      // the table holds an output for that index
    double measured_mw;
    bool fcc;           // picked under the FCC cap (FCC rules, 5180-5320 MHz)
    double most_mw;     // the most the pick may put out within the reading's uncertainty
} power_pick_t;

// The map the transmitter builds from the table (loaded and normalised).
// The loader's own messages are suppressed: the table reader reports the
// same lines once.
PowerMap transmitter_power_map(const calibration_table_t& table);

// The transmitter's pick for `request_mw` at `mcs`, with the measured output
// of the column that served it (the MCS itself, or the neighbour the map
// falls back to).
power_pick_t pick_power_index(const calibration_table_t& table, const PowerMap& map, int mcs,
                              int request_mw, int frequency, RegulatoryDomain domain,
                              double uncertainty_db);

// True when the pick has no measured output or misses the (capped) request
// by more than REQUEST_TOLERANCE_DB.
bool pick_off_target(const power_pick_t& pick);
