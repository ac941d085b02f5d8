// A run that changes the transmitter (a sweep, -verify, a power search)
// from before it sets anything until its way down is done: the board's run
// lock (run_lock.h), so that no two runs drive the transmitter at once, and
// the guardian (guardian.h), so that no way the run can end leaves the power
// high.
#pragma once

#include "calibration_table.h"

// Takes the run lock and starts the guardian. `refused_status` is the exit
// status of this run when it is refused here, and when it cannot finish
// (interruption.h). False after one line on standard error, with nothing
// set and nothing held.
bool begin_transmitter_run(int refused_status);

// The way down is done: the guardian dismissed, the lock let go. Nothing
// when no run began.
void end_transmitter_run();

// Whom a table's temporary file is told to while a run is on (the guardian,
// which removes it when the run dies); nullptr when no run began.
temporary_file_observer_t run_temporary_file_observer();
