// Ending a run that may have raised the transmitter's power (a calibration
// run, -verify, a power search) when it cannot go on: a signal, a failed
// write to standard output, or the loss of its guardian (guardian.h).
//
// Every signal whose default action ends the process is noted instead,
// except SIGKILL and SIGSTOP, which cannot be, SIGPIPE, which orvi-rfmon
// ignores (a closed output is a write error), and the fault signals (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS): after a fault the
// process cannot be trusted to take the way down, so their handler only
// tells the guardian which signal it was and lets the default action end
// the process; the guardian then sets power 1.
//
// The handler only notes the signal. Every sleep ends early once one is
// noted; the sweeps and the search look between their steps and then end the
// run through end_run_if_interrupted(): power level 1, the latency test
// stopped, exit status 128 + the signal number. Main thread only (the pipe
// library's threads block these signals: block_interruptions()).
#pragma once

#include <signal.h>

// The fault signals named above, after which the process cannot be trusted
// to take the way down itself. Async-signal-safe.
bool is_fault_signal(int signal_number);

// Notes the signals from now on instead of dying at once, without
// SA_RESTART so that waits wake, and installs the fault handler. A signal
// that was ignored when the program started (nohup, a background job)
// stays ignored.
void catch_interruptions();

// Gives the signals their earlier handling back. A signal noted before
// still counts.
void release_interruptions();

// The signal noted, 0 while none.
int interruption_signal();

// Blocks the noted signals on the calling thread and returns the mask
// before, for restore_signal_mask(). Threads started meanwhile keep them
// blocked, so that those signals always reach the main thread, whose waits
// they must cut short.
sigset_t block_interruptions();
void restore_signal_mask(const sigset_t& previous);

// The exit status of a run that ends because its output failed or its
// guardian was lost (1 unless set; -verify uses 2, "could not check").
void set_unfinished_run_status(int status);

// Whether a write to standard output has failed (a closed pipe, a full
// disk); the reason in *why as a message ends with it, " (Broken pipe)",
// when it can be told, else "".
bool standard_output_failed(const char** why);

// Returns at once while the run can go on. Otherwise, with further signals
// ignored (by the tools it runs too): sets power level 1, stops the latency
// test as a finished calibration run does, dismisses the guardian and exits:
// with 128 + the signal number after a signal; after a failed write to
// standard output, or when the guardian is gone, with one line on standard
// error and the unfinished run's status.
void end_run_if_interrupted();

// `status`, unless standard output has failed: then one line on standard
// error and, for a status of 0, the unfinished run's status.
int status_with_output_checked(int status);

// "orvi-send-command vtx_latency stop_test 1", with a warning on standard
// error when it does not succeed.
void stop_latency_test();
