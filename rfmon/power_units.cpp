#include "power_units.h"

#include <cmath>
#include <cstdint>

double custom_exp10(double x) {
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

double mW_to_dBm(double mw) {
    return 10.0 * std::log10(mw);
}
