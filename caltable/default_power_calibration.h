// Built-in reference calibration tables, one per band, in the calibration
// table format ("Power_Level,MCS0_mV,MCS0_mW,...").
#pragma once

#include <string_view>

namespace default_cal {
extern const std::string_view kCalibrated_2_4;
extern const std::string_view kCalibrated_5_1;
extern const std::string_view kCalibrated_5_8;
}  // namespace default_cal

// Built-in detector voltage for the band token ("2_4", "5_1", "5_8"), MCS and
// power level; -1 when there is none.
double default_cal_get_mv(const char* band_token, int mcs, int power_level);
// The built-in output power in mW at the same place; -1 when there is none.
double default_cal_get_mw(const char* band_token, int mcs, int power_level);
