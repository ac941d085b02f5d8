#include "safety_limits.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// As a table stores a value: "%.2f".
double stored_hundredths(double value) { return std::round(value * 100.0) / 100.0; }

// What the detector's stated unit spread (±10 mV at 20 dBm, ±3 % of slope)
// gives at 31.5 dBm through each band's conversion tables: 10 mV over the
// band's shallowest top slope (2.4: 27.36, 5.1: 26.53, 5.8: 26.81 mV/dB)
// plus 3 % of the 11.5 dB from 20 dBm, rounded up to the hundredth. The
// derivation is in data/README.md; the spread is the detector's, so the
// figures hold whatever conversion table is installed.
struct untrimmed_uncertainty_t {
    const char* band_key;
    double db;
};
constexpr untrimmed_uncertainty_t UNTRIMMED_UNCERTAINTY[] = {
    {"2.4", 0.72},
    {"5.1", 0.73},
    {"5.8", 0.72},
};

}  // namespace

double series_exp10(double x) {
    if (x >= 0.0 && x <= 20.0 && x == static_cast<double>(static_cast<int32_t>(x))) {
        double result = 1.0;
        for (int i = static_cast<int>(x); i > 0; --i) result *= 10.0;
        return result;
    }
    const double y = x * 2.30258509299;
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n < 16; ++n) {
        term *= y / n;
        sum += term;
    }
    return sum;
}

double stored_mw_of_dbm(double dbm) { return stored_hundredths(series_exp10(dbm / 10)); }

double untrimmed_reading_uncertainty_db(const char* band_key) {
    double largest = 0.0;
    for (const untrimmed_uncertainty_t& u : UNTRIMMED_UNCERTAINTY) {
        if (band_key && std::strcmp(band_key, u.band_key) == 0) return u.db;
        largest = std::fmax(largest, u.db);
    }
    return largest;
}

power_verdict_t stored_power_verdict(double stored_mw, double uncertainty_db) {
    // Written as "not at or below", so that a value that is not a number is
    // never taken for one within the limit.
    const double stored = stored_hundredths(stored_mw);
    if (!(stored <= stored_mw_of_dbm(POWER_LIMIT_DBM))) return POWER_ABOVE_LIMIT;
    const double guard_mw = stored_mw_of_dbm(POWER_LIMIT_DBM - uncertainty_db);
    if (!(stored <= guard_mw)) return POWER_WITHIN_UNCERTAINTY;
    return POWER_WITHIN_LIMIT;
}

power_verdict_t reading_power_verdict(double dbm, double uncertainty_db) {
    return stored_power_verdict(stored_mw_of_dbm(dbm), uncertainty_db);
}

bool stored_power_impossible(double stored_mw) {
    return stored_hundredths(stored_mw) >
           stored_mw_of_dbm(POWER_LIMIT_DBM + IMPOSSIBLE_POWER_MARGIN_DB);
}

bool power_above_limit(double dbm) { return dbm > POWER_LIMIT_DBM; }

bool stored_power_above_limit(double stored_mw) {
    return stored_hundredths(stored_mw) > stored_mw_of_dbm(POWER_LIMIT_DBM);
}

bool temperature_above_limit(double celsius) { return celsius > TEMPERATURE_LIMIT_C; }

bool detector_over_range(double mv, double table_top_mv) {
    return stored_hundredths(mv) > stored_hundredths(table_top_mv);
}

bool in_fcc_cap_band(int frequency_mhz) {
    return frequency_mhz >= FCC_CAP_LOW_MHZ && frequency_mhz <= FCC_CAP_HIGH_MHZ;
}

double fcc_cap_reading_dbm(double uncertainty_db) {
    return 10.0 * std::log10(static_cast<double>(FCC_CAP_MW)) - uncertainty_db;
}
