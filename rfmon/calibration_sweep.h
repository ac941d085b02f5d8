// Full and fast calibration sweeps writing "/data/quillon/vtx/calibrated_<token>.csv".
#pragma once

constexpr int FAST_CALIBRATION_LEVEL_COUNT = 6;
extern const int FAST_CALIBRATION_LEVELS[FAST_CALIBRATION_LEVEL_COUNT];

int perform_calibration(int fd, int frequency, int mcs);
int perform_fast_calibration(int fd, int frequency, int mcs);
