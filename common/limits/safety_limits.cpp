#include "safety_limits.h"

#include <cmath>

namespace {

// As a table stores a value: "%.2f".
double stored_hundredths(double value) { return std::round(value * 100.0) / 100.0; }

}  // namespace

bool power_above_limit(double dbm) { return dbm > POWER_LIMIT_DBM; }

bool stored_power_above_limit(double stored_mw) {
    static const double limit_mw = stored_hundredths(std::pow(10.0, POWER_LIMIT_DBM / 10.0));
    return stored_hundredths(stored_mw) > limit_mw;
}

bool temperature_above_limit(double celsius) { return celsius > TEMPERATURE_LIMIT_C; }

bool detector_over_range(double mv, double table_top_mv) {
    return stored_hundredths(mv) > stored_hundredths(table_top_mv);
}

bool in_fcc_cap_band(int frequency_mhz) {
    return frequency_mhz >= FCC_CAP_LOW_MHZ && frequency_mhz <= FCC_CAP_HIGH_MHZ;
}
