#include "fast_estimation.h"

#include <cstdio>

#include "default_power_calibration.h"
#include "frequency_bands.h"
#include "power_units.h"
#include "safety_limits.h"

namespace {

bool is_anchor(int level) {
    for (int anchor : FAST_CALIBRATION_LEVELS) {
        if (anchor == level) return true;
    }
    return false;
}

}  // namespace

bool is_fast_calibration_combination(int frequency, int mcs) {
    if (!is_anchor_frequency(frequency)) return false;
    for (int fast_mcs : FAST_CALIBRATION_MCS) {
        if (fast_mcs == mcs) return true;
    }
    return false;
}

int report_failed_anchors(const sweep_results_t& results, int stop_level) {
    int failed = 0;
    for (int anchor : FAST_CALIBRATION_LEVELS) {
        if (stop_level > 0 && anchor > stop_level) continue;
        if (results.level[anchor].valid) continue;
        std::fprintf(stderr,
                     "Error: fast calibration anchor power level %d did not produce a valid "
                     "measured reading. Aborting without writing CSV.\n",
                     anchor);
        ++failed;
    }
    return failed;
}

int collect_anchor_offsets(const sweep_results_t& results, const char* band_token, int mcs,
                           anchor_offset_t offsets[FAST_CALIBRATION_LEVEL_COUNT]) {
    int count = 0;
    for (int anchor : FAST_CALIBRATION_LEVELS) {
        const level_result_t& r = results.level[anchor];
        if (!r.valid || r.mv == TEMPERATURE_STOP_MV) continue;
        double reference = default_cal_get_mv(band_token, mcs, anchor);
        if (reference < 0) continue;
        offsets[count].level = anchor;
        offsets[count].offset = r.mv - reference;
        ++count;
    }
    return count;
}

double offset_at_level(const anchor_offset_t* offsets, int count, int level) {
    if (count == 0) return 0.0;
    if (level <= offsets[0].level) return offsets[0].offset;
    if (level >= offsets[count - 1].level) return offsets[count - 1].offset;
    for (int k = 0; k + 1 < count; ++k) {
        const anchor_offset_t& a = offsets[k];
        const anchor_offset_t& b = offsets[k + 1];
        if (level == a.level) return a.offset;
        if (level > a.level && level < b.level) {
            return a.offset + static_cast<double>(level - a.level) / (b.level - a.level) *
                                  (b.offset - a.offset);
        }
    }
    return offsets[count - 1].offset;
}

void estimate_fast_levels(sweep_results_t* results, const char* band_token, int mcs,
                          int stop_level, double uncertainty_db, mv_to_dbm_fn convert,
                          void* context) {
    std::printf("Generating estimated fast calibration rows from measured anchors...\n");
    if (stop_level > 0) {
        std::printf(
            "Safety stop occurred at power level %d; rows above that level will remain "
            "uncalibrated\n",
            stop_level);
    }
    anchor_offset_t offsets[FAST_CALIBRATION_LEVEL_COUNT];
    const int count = collect_anchor_offsets(*results, band_token, mcs, offsets);

    for (int level = POWER_LEVEL_MIN; level <= POWER_LEVEL_MAX; ++level) {
        level_result_t& r = results->level[level];
        if (r.valid || is_anchor(level)) continue;
        if (stop_level > 0 && level > stop_level) continue;
        double reference = default_cal_get_mv(band_token, mcs, level);
        if (reference < 0) {
            std::printf(
                "Warning: No embedded default mV lookup for power level %d, leaving row "
                "uncalibrated\n",
                level);
            continue;
        }
        double estimate = reference + offset_at_level(offsets, count, level);
        if (estimate < ESTIMATE_MIN_MV) estimate = ESTIMATE_MIN_MV;
        double dbm = 0.0;
        if (convert(estimate, &dbm, context) != 0) {
            std::printf(
                "Warning: Failed to convert estimated mV to dBm for power level %d, leaving "
                "row uncalibrated\n",
                level);
            continue;
        }
        if (reading_power_verdict(dbm, uncertainty_db) != POWER_WITHIN_LIMIT) {
            std::printf(
                "Warning: Estimated dBm (%.2f) plus the detector's uncertainty (%.2f dB) exceeds "
                "the safety threshold of 31.5 dBm at power level %d, leaving row uncalibrated\n",
                dbm, uncertainty_db, level);
            results->withheld[level] = true;
            continue;
        }
        r.valid = true;
        r.mv = estimate;
        r.mw = custom_exp10(dbm / 10);
    }
}
