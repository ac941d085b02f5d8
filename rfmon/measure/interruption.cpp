#include "interruption.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "guardian.h"
#include "tool_runner.h"

namespace {

// The signals whose default action ends the process and that the run ends
// at power 1 itself.
bool is_interruption(int s) {
    switch (s) {
        case SIGHUP:
        case SIGINT:
        case SIGQUIT:
        case SIGUSR1:
        case SIGUSR2:
        case SIGALRM:
        case SIGTERM:
        case SIGXCPU:
        case SIGXFSZ:
        case SIGVTALRM:
        case SIGPROF:
        case SIGIO:
#ifdef SIGSTKFLT
        case SIGSTKFLT:
#endif
#ifdef SIGPWR
        case SIGPWR:
#endif
            return true;
        default:
            return s >= SIGRTMIN && s <= SIGRTMAX;
    }
}

// The signal noted, the exit status of a run that cannot finish, and the
// actions replaced: process-wide as the signal handlers are, since a run may
// be ended from any depth of a sweep.
volatile sig_atomic_t g_interruption = 0;
int g_unfinished_status = 1;

struct saved_action_t {
    bool saved;
    struct sigaction action;
};
saved_action_t g_saved[NSIG];

extern "C" void note_interruption(int signal_number) {
    // The first signal is the one the exit status reports.
    if (g_interruption == 0)
        g_interruption = signal_number;
}

extern "C" void note_fault(int signal_number) {
    tell_guardian_fault(signal_number);
    // SA_RESETHAND has given the default action back; the signal, blocked
    // while this runs, ends the process as soon as it returns (a real fault
    // would also just repeat).
    raise(signal_number);
}

sigset_t interruption_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int s = 1; s < NSIG; ++s) {
        if (is_interruption(s))
            sigaddset(&set, s);
    }
    return set;
}

void install(int s, const struct sigaction& action) {
    struct sigaction earlier {};
    if (sigaction(s, nullptr, &earlier) != 0 || earlier.sa_handler == SIG_IGN)
        return;
    if (sigaction(s, &action, nullptr) == 0 && !g_saved[s].saved)
        g_saved[s] = {true, earlier};
}

void ignore_interruptions() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int s = 1; s < NSIG; ++s) {
        if (is_interruption(s))
            sigaction(s, &ignore, nullptr);
    }
}

// No destructors or exit handlers: this may run deep inside a sweep, with
// the telemetry pipe's thread still running.
[[noreturn]] void leave(int status) {
    dismiss_guardian();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

[[noreturn]] void end_after_output_failure(const char* why) {
    // The tools share this standard output: /dev/null from now on, so that
    // none of them trips over it on the way down.
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) {
        dup2(null_fd, STDOUT_FILENO);
        close(null_fd);
    }
    char after[128];
    std::snprintf(after, sizeof after, "a failed write to standard output%s", why);
    set_minimum_power_reporting(stderr, after);
    stop_latency_test();
    leave(g_unfinished_status);
}

[[noreturn]] void end_without_guardian(int guardian_pid) {
    set_minimum_power("the loss of the power guardian");
    std::fprintf(stderr,
                 "Error: The power guardian (process %d) has ended; the run cannot go on without "
                 "it\n",
                 guardian_pid);
    stop_latency_test();
    leave(g_unfinished_status);
}

}  // namespace

bool is_fault_signal(int s) {
    return s == SIGSEGV || s == SIGBUS || s == SIGILL || s == SIGFPE || s == SIGABRT ||
           s == SIGTRAP || s == SIGSYS;
}

void catch_interruptions() {
    struct sigaction action {};
    action.sa_handler = note_interruption;
    action.sa_mask = interruption_set();
    action.sa_flags = 0;
    struct sigaction fault {};
    fault.sa_handler = note_fault;
    sigemptyset(&fault.sa_mask);
    fault.sa_flags = SA_RESETHAND;
    for (int s = 1; s < NSIG; ++s) {
        if (is_interruption(s))
            install(s, action);
        else if (is_fault_signal(s))
            install(s, fault);
    }
}

void release_interruptions() {
    for (int s = 1; s < NSIG; ++s) {
        if (!g_saved[s].saved)
            continue;
        sigaction(s, &g_saved[s].action, nullptr);
        g_saved[s].saved = false;
    }
}

int interruption_signal() {
    return g_interruption;
}

sigset_t block_interruptions() {
    const sigset_t set = interruption_set();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &set, &previous);
    return previous;
}

void restore_signal_mask(const sigset_t& previous) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void set_unfinished_run_status(int status) {
    g_unfinished_status = status;
}

bool standard_output_failed(const char** why) {
    if (!std::ferror(stdout))
        return false;
    // A pipe whose reader has gone says so; a full disk does not.
    static char reason[64];
    pollfd out = {STDOUT_FILENO, POLLOUT, 0};
    const bool reader_gone = poll(&out, 1, 0) == 1 && (out.revents & POLLERR);
    std::snprintf(reason, sizeof reason, reader_gone ? " (%s)" : "", std::strerror(EPIPE));
    *why = reason;
    return true;
}

void stop_latency_test() {
    if (run_tool("orvi-send-command vtx_latency stop_test 1") != 0) {
        std::fputs("Warning: Failed to stop vtx_latency test\n", stderr);
    }
}

void end_run_if_interrupted() {
    const int signal_number = g_interruption;
    const char* why = "";
    int guardian_pid = 0;
    if (signal_number == 0 && !standard_output_failed(&why) && !guardian_lost(&guardian_pid))
        return;
    // A second Ctrl-C must not cut the way down short: ignored here, and by
    // the tools started from here on, which inherit it.
    ignore_interruptions();
    if (signal_number == 0) {
        if (guardian_pid == 0)
            end_after_output_failure(why);
        end_without_guardian(guardian_pid);
    }
    set_minimum_power("interruption");
    stop_latency_test();
    leave(128 + signal_number);
}

int status_with_output_checked(int status) {
    std::fflush(stdout);
    const char* why = "";
    if (!standard_output_failed(&why))
        return status;
    std::fprintf(stderr, "Error: Failed to write to standard output%s\n", why);
    return status == 0 ? g_unfinished_status : status;
}
