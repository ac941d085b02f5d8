// Ending a run that SIGINT, SIGTERM or SIGHUP interrupts while it may have
// raised the transmitter's power (a calibration run, a power search).
//
// The handler only notes the signal. Every sleep ends early once one is
// noted; the sweeps and the search look between their steps and then end the
// run through end_run_if_interrupted(): power level 1, the latency test
// stopped, exit status 128 + the signal number. Main thread only (the pipe
// library's threads block these signals).
#pragma once

// Notes SIGINT, SIGTERM and SIGHUP from now on instead of dying at once,
// without SA_RESTART so that waits wake. A signal that was ignored when the
// program started (nohup, a background job) stays ignored.
void catch_interruptions();

// Gives the three signals their earlier handling back. A signal noted
// before still counts.
void release_interruptions();

// The signal noted, 0 while none.
int interruption_signal();

// Returns at once while no signal was noted. Otherwise, with further
// signals ignored (by the tools it runs too): sets power level 1, stops the
// latency test as a finished calibration run does, and exits with status
// 128 + the signal number.
void end_run_if_interrupted();

// "orvi-send-command vtx_latency stop_test 1", with a warning on standard
// error when it does not succeed.
void stop_latency_test();
