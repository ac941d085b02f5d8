// One run at a time on a board: a run that changes the transmitter (a sweep,
// -verify, a power search) holds an exclusive lock on RUN_LOCK_PATH from
// before it sets anything until it ends.
//
// The lock is a flock(2) on the file, which belongs to the open file
// description rather than to the process: the kernel drops it when the last
// descriptor of that description is closed, so a killed run never blocks the
// next one, and the run's guardian (guardian.h), which inherits the
// description, keeps it held until it has set power 1 too. A run that starts
// while a killed run's guardian is still on its way down is refused instead
// of racing it. (A fcntl lock would be dropped with the run's death, in the
// middle of that way down, and is not inherited.)
//
// The file holds the process id of the holder, so that a refused run can
// name it.
#pragma once

constexpr const char* RUN_LOCK_PATH = "/run/orvi-rfmon.lock";

// Takes the lock at `path` without waiting. Returns its descriptor
// (close-on-exec), to be kept for the whole run; -1 after one line on
// standard error that names the lock and, when another process holds it,
// that process's id.
int take_run_lock(const char* path);

// Lets the lock go. It is free once a guardian that shares it is gone too.
void release_run_lock(int fd);

// Writes `pid` as the holder into the lock file of `fd`, with raw system
// calls only (a guardian that takes over after fork uses it).
void write_lock_holder(int fd, int pid);
