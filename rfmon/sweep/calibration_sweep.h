// Full and fast calibration sweeps writing "/data/quillon/vtx/calibrated_<token>.csv".
#pragma once

#include "calibration_table.h"
#include "safety_limits.h"

// Temperature testing ("-temp_test"): set by the command line, read by every
// sweep. Main thread only.
extern bool g_temp_test_flag;

// 0 when the table was written (also after a safety stop), -1 on failure.
int perform_calibration(int fd, int frequency, int mcs);
int perform_fast_calibration(int fd, int frequency, int mcs);

// What a fast sweep's measuring found at its anchor levels.
typedef struct anchor_measurement_t {
    sweep_results_t results;  // the anchors measured; a stop level holds its stop values
    int stop_level;           // 0: none; a safety stop, or an anchor without a reading
    int levels_set;           // power commands that ran: the power may have been raised
} anchor_measurement_t;

// Told of each level that got a result, while the power is still at that
// level; false fails the measuring there.
typedef bool (*level_visit_fn)(int level, const level_result_t& result, void* context);

// A sweep's start and the given levels, measured as a fast sweep measures
// its anchors (both safety stops, a level without a reading stops), each
// visited; writing nothing and leaving the power where the last level set
// it. 0 when measured (a stop included), -1 after the failing step's message.
int measure_sweep_levels(int fd, int frequency, int mcs, const int* levels, int level_count,
                         level_visit_fn visit, void* context, anchor_measurement_t* measurement);

// A fast sweep's start and anchor levels, with its readings and both safety
// stops, writing nothing and leaving the power where the last level set it.
// 0 when measured (a stop included), -1 after the failing step's message.
int measure_fast_anchors(int fd, int frequency, int mcs, anchor_measurement_t* measurement);
