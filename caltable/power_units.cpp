#include "power_units.h"

#include <cmath>

#include "safety_limits.h"

// The limits library holds the series, so that the limit's stored form and
// every stored power come from the one function.
double custom_exp10(double x) { return series_exp10(x); }

double mW_to_dBm(double mw) {
    return 10.0 * std::log10(mw);
}
