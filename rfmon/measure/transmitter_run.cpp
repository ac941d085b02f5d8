#include "transmitter_run.h"

#include "calibration_table.h"
#include "guardian.h"
#include "interruption.h"
#include "run_lock.h"

namespace {

// The run lock's descriptor: one per process, as the board's run is, and
// held from begin_transmitter_run() to end_transmitter_run().
int g_run_lock = -1;

}  // namespace

bool begin_transmitter_run(int refused_status) {
    if (g_run_lock >= 0)
        return true;
    const int lock = take_run_lock(RUN_LOCK_PATH);
    if (lock < 0)
        return false;
    // The guardian shares the lock's open file description: the board stays
    // taken until it is gone too, also after the run died.
    if (!start_guardian(lock)) {
        release_run_lock(lock);
        return false;
    }
    g_run_lock = lock;
    set_unfinished_run_status(refused_status);
    return true;
}

void end_transmitter_run() {
    if (g_run_lock < 0)
        return;
    dismiss_guardian();
    release_run_lock(g_run_lock);
    g_run_lock = -1;
}

temporary_file_observer_t run_temporary_file_observer() {
    return g_run_lock >= 0 ? tell_guardian_temporary_file : nullptr;
}
