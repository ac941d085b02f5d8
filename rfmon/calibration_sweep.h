// Full and fast calibration sweeps writing "/data/quillon/vtx/calibrated_<token>.csv".
#pragma once

#include "safety_limits.h"

// Temperature testing ("-temp_test"): set by the command line, read by every
// sweep. Main thread only.
extern bool g_temp_test_flag;

// 0 when the table was written (also after a safety stop), -1 on failure.
int perform_calibration(int fd, int frequency, int mcs);
int perform_fast_calibration(int fd, int frequency, int mcs);
