// Sleeps through every sleeping call in turn and prints how far the
// monotonic clock moved across each, in ns:
//   NAME ASKED_NS ELAPSED_NS
// "thread-usleep" sleeps on a second thread.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

long long now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

template <typename F>
void measure(const char* name, long long asked_ns, F sleep_fn) {
    long long start = now_ns();
    sleep_fn();
    std::printf("%s %lld %lld\n", name, asked_ns, now_ns() - start);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const long long scale = argc > 1 ? std::atoll(argv[1]) : 1;  // ms per unit
    const long long unit_ns = scale * 1000000LL;
    measure("usleep", 3 * unit_ns, [&] { usleep(static_cast<useconds_t>(3 * scale * 1000)); });
    measure("nanosleep", 2 * unit_ns, [&] {
        timespec ts{static_cast<time_t>(2 * unit_ns / 1000000000LL),
                    static_cast<long>(2 * unit_ns % 1000000000LL)};
        nanosleep(&ts, nullptr);
    });
    measure("clock_nanosleep", 4 * unit_ns, [&] {
        timespec ts{static_cast<time_t>(4 * unit_ns / 1000000000LL),
                    static_cast<long>(4 * unit_ns % 1000000000LL)};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, nullptr);
    });
    measure("clock_nanosleep_abs", 5 * unit_ns, [&] {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        long long target = ts.tv_sec * 1000000000LL + ts.tv_nsec + 5 * unit_ns;
        ts.tv_sec = static_cast<time_t>(target / 1000000000LL);
        ts.tv_nsec = static_cast<long>(target % 1000000000LL);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
    });
    measure("sleep_for", 6 * unit_ns,
            [&] { std::this_thread::sleep_for(std::chrono::milliseconds(6 * scale)); });
    if (scale % 1000 == 0) {
        measure("sleep", 1 * unit_ns, [&] { sleep(static_cast<unsigned>(scale / 1000)); });
    }
    measure("thread-usleep", 200000000LL, [] {
        std::thread t([] { usleep(200000); });
        t.join();
    });
    return 0;
}
