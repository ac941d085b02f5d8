// Output power in mW and dBm, as the calibration tables store it: a sweep
// writes mW = custom_exp10(dBm / 10), a reader turns the stored mW back
// into dBm.
#pragma once

// 10^x: an exact product of tens for whole x in 0..20, otherwise sixteen
// terms of the exponential series (a little below the true power).
double custom_exp10(double x);
// 10 log10(mw).
double mW_to_dBm(double mw);
