#include "interruption.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "tool_runner.h"

namespace {

constexpr int INTERRUPTIONS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int INTERRUPTION_COUNT = sizeof INTERRUPTIONS / sizeof INTERRUPTIONS[0];

volatile sig_atomic_t g_interruption = 0;

struct saved_action_t {
    bool saved;
    struct sigaction action;
};
saved_action_t g_saved[INTERRUPTION_COUNT];

extern "C" void note_interruption(int signal_number) {
    // The first signal is the one the exit status reports.
    if (g_interruption == 0)
        g_interruption = signal_number;
}

}  // namespace

void catch_interruptions() {
    struct sigaction action {};
    action.sa_handler = note_interruption;
    sigemptyset(&action.sa_mask);
    for (int s : INTERRUPTIONS) sigaddset(&action.sa_mask, s);
    action.sa_flags = 0;
    for (int i = 0; i < INTERRUPTION_COUNT; ++i) {
        struct sigaction earlier {};
        if (sigaction(INTERRUPTIONS[i], nullptr, &earlier) != 0)
            continue;
        if (earlier.sa_handler == SIG_IGN)
            continue;
        if (sigaction(INTERRUPTIONS[i], &action, nullptr) == 0)
            g_saved[i] = {true, earlier};
    }
}

void release_interruptions() {
    for (int i = 0; i < INTERRUPTION_COUNT; ++i) {
        if (!g_saved[i].saved)
            continue;
        sigaction(INTERRUPTIONS[i], &g_saved[i].action, nullptr);
        g_saved[i].saved = false;
    }
}

int interruption_signal() {
    return g_interruption;
}

void stop_latency_test() {
    if (run_tool("orvi-send-command vtx_latency stop_test 1") != 0) {
        std::fputs("Warning: Failed to stop vtx_latency test\n", stderr);
    }
}

void end_run_if_interrupted() {
    const int signal_number = g_interruption;
    if (signal_number == 0)
        return;
    // A second Ctrl-C must not cut the way down short: ignored here, and by
    // the tools started from here on, which inherit it.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int s : INTERRUPTIONS) sigaction(s, &ignore, nullptr);
    set_minimum_power("interruption");
    stop_latency_test();
    // No destructors or exit handlers: this may run deep inside a sweep,
    // with the telemetry pipe's thread still running.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(128 + signal_number);
}
