// Fast calibration: the anchor check and the estimate of the levels between
// the anchors from the built-in reference curves, shifted by the offsets
// measured at the anchors.
#pragma once

#include "calibration_table.h"

// The levels a fast sweep measures, in this order; the others are estimated.
constexpr int FAST_CALIBRATION_LEVEL_COUNT = 6;
inline constexpr int FAST_CALIBRATION_LEVELS[FAST_CALIBRATION_LEVEL_COUNT] = {10, 35, 45, 50, 56, 60};

// The MCS values whose reference curves a fast calibration shifts.
constexpr int FAST_CALIBRATION_MCS_COUNT = 2;
inline constexpr int FAST_CALIBRATION_MCS[FAST_CALIBRATION_MCS_COUNT] = {0, 3};

constexpr double ESTIMATE_MIN_MV = 1.0;

// A band's anchor frequency at one of FAST_CALIBRATION_MCS: the combinations
// with a reference curve to shift. Every other one needs a full sweep.
bool is_fast_calibration_combination(int frequency, int mcs);

// Measured minus reference voltage at one anchor level.
typedef struct anchor_offset_t {
    int level;
    double offset;
} anchor_offset_t;

// Converts a voltage to dBm for the sweep's band and MCS; 0 on success.
typedef int (*mv_to_dbm_fn)(double mv, double* dbm, void* context);

// Anchors tested after a sweep that stopped at `stop_level` (0: no stop)
// that have no result: one error line each on standard error. Returns how
// many failed.
int report_failed_anchors(const sweep_results_t& results, int stop_level);

// Offsets of the anchors with a measured result (not a temperature stop)
// and a reference voltage, in anchor order. Returns their count.
int collect_anchor_offsets(const sweep_results_t& results, const char* band_token, int mcs,
                           anchor_offset_t offsets[FAST_CALIBRATION_LEVEL_COUNT]);

// Offset at `level`: the nearest end offset outside the kept anchors, linear
// between them, 0 without anchors.
double offset_at_level(const anchor_offset_t* offsets, int count, int level);

// Fills every level 1..60 without a result that is not an anchor (and not
// above `stop_level` when a stop occurred) with an estimate, printing the
// estimation's progress and per-level warnings. An estimate whose dBm plus
// `uncertainty_db` is above the power limit is not written: the level is
// withheld, as no reading vouches for it.
void estimate_fast_levels(sweep_results_t* results, const char* band_token, int mcs,
                          int stop_level, double uncertainty_db, mv_to_dbm_fn convert,
                          void* context);
