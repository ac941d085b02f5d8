// The transmitter's power indices that the power search and the calibration
// sweeps use (the transmitter itself accepts up to 63).
#pragma once

constexpr int POWER_LEVEL_MIN = 1;
constexpr int POWER_LEVEL_MAX = 60;
