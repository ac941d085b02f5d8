// Virtual time: on a board that asks for it, the sleeps of a process's main
// thread return at once and the board's monotonic clock moves on by the time
// asked, so long mandated waits cost nothing in a test. Other threads keep
// real sleeps (a library thread that polls must not spin), and every thread
// reads the same shifted clock.
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "preload_runtime.h"

namespace {

constexpr int64_t NS_PER_S = 1000000000LL;

SimBoard* virtual_board() {
    SimBoard* board = preload_board();
    return board && board->cfg.virtual_time ? board : nullptr;
}

bool on_main_thread() { return syscall(SYS_gettid) == getpid(); }

bool shifted_clock(clockid_t clk) {
    return clk == CLOCK_MONOTONIC || clk == CLOCK_MONOTONIC_RAW || clk == CLOCK_MONOTONIC_COARSE ||
           clk == CLOCK_BOOTTIME;
}

bool valid(const timespec* ts) {
    return ts && ts->tv_sec >= 0 && ts->tv_nsec >= 0 && ts->tv_nsec < NS_PER_S;
}

int64_t to_ns(const timespec& ts) { return static_cast<int64_t>(ts.tv_sec) * NS_PER_S + ts.tv_nsec; }

// One line per sleep that virtual time answers: "<pid> <call> <ns>".
void log_sleep(const SimBoard* board, const char* call, int64_t ns) {
    if (board->sleep_fd < 0) return;
    char line[96];
    int len = std::snprintf(line, sizeof line, "%d %s %lld\n", static_cast<int>(getpid()), call,
                            static_cast<long long>(ns));
    if (len > 0 && len < static_cast<int>(sizeof line))
        syscall(SYS_write, board->sleep_fd, line, static_cast<size_t>(len));
}

void virtual_sleep(SimBoard* board, const char* call, int64_t ns) {
    log_sleep(board, call, ns);
    if (ns <= 0) {
        sched_yield();
        return;
    }
    if (board->cfg.time_scale > 0) {
        int64_t real_ns = static_cast<int64_t>(ns / board->cfg.time_scale);
        board->state->virtual_ns.fetch_add(ns - real_ns);
        timespec ts{static_cast<time_t>(real_ns / NS_PER_S), static_cast<long>(real_ns % NS_PER_S)};
        while (syscall(SYS_nanosleep, &ts, &ts) != 0 && errno == EINTR) {
        }
    } else {
        board->state->virtual_ns.fetch_add(ns);
        sched_yield();  // let the other threads and processes see the world move
    }
}

int64_t real_clock_ns(clockid_t clk) {
    timespec ts{};
    syscall(SYS_clock_gettime, clk, &ts);
    return to_ns(ts);
}

}  // namespace

extern "C" {

int clock_gettime(clockid_t clk, timespec* ts) {
    SIM_REAL(clock_gettime);
    int r = real_clock_gettime(clk, ts);
    if (r != 0 || !shifted_clock(clk)) return r;
    SimBoard* board = virtual_board();
    if (board == nullptr) return r;
    int64_t ns = to_ns(*ts) + board->state->virtual_ns.load(std::memory_order_relaxed);
    ts->tv_sec = static_cast<time_t>(ns / NS_PER_S);
    ts->tv_nsec = static_cast<long>(ns % NS_PER_S);
    return 0;
}

int nanosleep(const timespec* req, timespec* rem) {
    SIM_REAL(nanosleep);
    SimBoard* board = virtual_board();
    if (board == nullptr || !on_main_thread()) return real_nanosleep(req, rem);
    if (!valid(req)) {
        errno = EINVAL;
        return -1;
    }
    virtual_sleep(board, "nanosleep", to_ns(*req));
    if (rem) rem->tv_sec = 0, rem->tv_nsec = 0;
    return 0;
}

int clock_nanosleep(clockid_t clk, int flags, const timespec* req, timespec* rem) {
    SIM_REAL(clock_nanosleep);
    SimBoard* board = virtual_board();
    bool sleeping_clock = shifted_clock(clk) || clk == CLOCK_REALTIME;
    if (board == nullptr || !sleeping_clock || !on_main_thread())
        return real_clock_nanosleep(clk, flags, req, rem);
    if (!valid(req)) return EINVAL;
    int64_t ns = to_ns(*req);
    if (flags & TIMER_ABSTIME) {
        int64_t now = real_clock_ns(clk);
        if (shifted_clock(clk)) now += board->state->virtual_ns.load();
        ns -= now;
    } else if (rem) {
        rem->tv_sec = 0, rem->tv_nsec = 0;
    }
    virtual_sleep(board, "clock_nanosleep", ns);
    return 0;
}

int usleep(useconds_t us) {
    SIM_REAL(usleep);
    SimBoard* board = virtual_board();
    if (board == nullptr || !on_main_thread()) return real_usleep(us);
    virtual_sleep(board, "usleep", static_cast<int64_t>(us) * 1000);
    return 0;
}

unsigned int sleep(unsigned int seconds) {
    SIM_REAL(sleep);
    SimBoard* board = virtual_board();
    if (board == nullptr || !on_main_thread()) return real_sleep(seconds);
    virtual_sleep(board, "sleep", static_cast<int64_t>(seconds) * NS_PER_S);
    return 0;
}

}  // extern "C"
