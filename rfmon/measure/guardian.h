// The guardian: a child process that holds nothing but the way down of a
// run that may raise the transmitter's power.
//
// It is forked (no exec: it works the same under an emulator that cannot
// start another program of its architecture) and from then on makes only
// async-signal-safe calls, straight to the kernel, because the run already
// has the pipe library's thread. It leaves the run's session and process
// group and ignores every signal it can, so neither Ctrl-C, a closed ssh
// session nor a signal to the run's group can end it before it has acted.
// Its standard input and output are /dev/null; it keeps standard error, the
// run lock's open file description (run_lock.h) and its end of a socket
// pair, its only link to the run.
//
// The run writes "D" on that link when it ends as it should; the guardian
// then leaves. End of file without it means the run died (any signal,
// SIGKILL, a crash, the out-of-memory killer) and the tools it started,
// which inherit its end of the link, are done too (a tool still setting a
// level would otherwise land after power 1): the guardian sets power level
// 1 through orvi-configure-vtx, removes the table's temporary file if one
// was in the making, stops the latency test as a finished calibration run
// does, writes one line on standard error saying what happened and whether
// the power is now 1, and exits.
#pragma once

// Starts the guardian for the calling process; `lock_fd` (or -1) is the run
// lock it shares. True when it runs (also when one runs already); false
// after one line on standard error when it cannot be started.
bool start_guardian(int lock_fd);

// Tells the guardian that the run ended as it should and waits until it has
// left. Nothing when none runs.
void dismiss_guardian();

// True once a started guardian has gone while the run goes on (then the run
// has no way down any more); its process id in *pid.
bool guardian_lost(int* pid);

// The signal that is about to end the run, for the guardian's line. For a
// fault signal's handler: async-signal-safe.
void tell_guardian_fault(int signal_number);

// The table's temporary file that exists from now on (nullptr: none any
// more). Paths longer than 1000 bytes are not passed on.
void tell_guardian_temporary_file(const char* path);
