#include "sleeping.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

#include "interruption.h"

void sleep_us(long long microseconds) {
    if (microseconds <= 0)
        return;
    timespec left{static_cast<time_t>(microseconds / 1000000),
                  static_cast<long>(microseconds % 1000000) * 1000};
    while (interruption_signal() == 0 && nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void tighten_timer_slack() {
    // The kernel keeps the slack per thread: whether this thread has set it.
    thread_local bool done = false;
    if (done)
        return;
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    done = true;
}
