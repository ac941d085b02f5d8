// The one way orvi-rfmon waits: whole microseconds, resumed after a signal.
#pragma once

// Sleeps `microseconds` (nothing when 0 or less). A signal does not cut the
// wait short, except one that interrupts the run (interruption.h): then it
// ends at once, so that the run can end within a step.
void sleep_us(long long microseconds);

// Asks for a 1 us timer slack on the calling thread, once per thread: the
// readings pause 100 us between samples, which the kernel's default 50 us
// slack would stretch by up to half.
void tighten_timer_slack();
