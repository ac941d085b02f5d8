// Closed-loop transmit power: the fast loop steers the power index toward
// the active profile's requested mW from each detector measurement, the slow
// loop then holds it there from averages of full windows of samples.
#pragma once

#include <cstdint>
#include <deque>

#include <orvi/vtx_config.h>
#include <orvi/vtx_export.h>

enum power_step_direction_e : int32_t {
    POWER_STEP_NONE = 0,
    POWER_STEP_UP = 1,
    POWER_STEP_DOWN = 2,
};

// State of one power adjustment, owned by the caller. To request a new
// power: set the profile's power, then active = true and step_count = 0.
struct PowerControl {
    bool reserved = false;        // owner's use; the loops leave it alone
    bool active = false;          // an adjustment toward a new target is under way
    int32_t step_count = 0;       // steps of the current adjustment
    int32_t power_idx_offset = 0; // added to the profile's power_idx in every set_power call
    int32_t lower_mw = 0;         // lower edge of the accepted band; 0 = from tolerance
    int32_t window = 10;          // samples per steady-state average
    double tolerance = 0.05;      // half-width of the band, fraction of the target
    int32_t direction = POWER_STEP_NONE;  // last step (power_step_direction_e)
};

// One measurement, in dBm. `flag` goes to set_power: with it clear and
// config->enable_pit set, the profile's pit_power_idx is applied instead.
ORVI_VTX_EXPORT void power_feedback_loop(vtx_config_t* config, PowerControl* control,
                                         double measured_dbm, bool flag);

// The slow loop over the fast loop's sample queue.
ORVI_VTX_EXPORT void steady_state_power_feedback_loop(vtx_config_t* config, PowerControl* control,
                                                      std::deque<int>& samples, int lower_mw,
                                                      int upper_mw, int measured_mw, bool flag);
