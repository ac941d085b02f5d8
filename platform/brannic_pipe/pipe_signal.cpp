// The process-wide running flag and the signals that clear it.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <initializer_list>

#include <orvi/brannic_pipe.h>

// A lock-free atomic store is async-signal-safe; anything else would not be.
static_assert(std::atomic<int>::is_always_lock_free, "main_running must be lock-free");

extern "C" {
std::atomic<int> main_running{1};
}

static void stop_running(int) { main_running.store(0); }

extern "C" int enable_signal_handler(void) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = stop_running;
    sigemptyset(&action.sa_mask);
    // Restart interrupted system calls; sleeps still return early, which is
    // what lets a waiting main loop notice the cleared flag at once.
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigaction(sig, &action, nullptr) != 0) {
            perror("enable_signal_handler: sigaction");
            return -1;
        }
    }
    return 0;
}
