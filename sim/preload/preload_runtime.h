// Process-wide state of the preloaded board library: the board (set up on
// first use from the file that ORVI_SIM_BOARD names), the descriptors that
// stand for simulated buses, and the real C library functions.
#pragma once

#include <dlfcn.h>

#include <atomic>

#include "i2c_bus_model.h"

// Null when this process is not on a simulated board: then every call
// passes straight through.
SimBoard* preload_board();

// One open simulated bus. Shared by descriptors made with dup.
struct SimHandle {
    int bus;
    std::atomic<int> addr;
    std::atomic<int> refs;
};

constexpr int SIM_MAX_FDS = 4096;

SimHandle* handle_of(int fd);
bool track_handle(int fd, SimHandle* h);  // takes one reference
void untrack_handle(int fd);
SimHandle* new_handle(int bus);
void release_handle(SimHandle* h);
bool any_handles();

// Bus number of "/dev/i2c-N" (alt false) or "/dev/i2c/N" (alt true), or -1.
int sim_bus_of_path(const char* path, bool* alt);

template <typename F>
F real_function(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

#define SIM_REAL(name) \
    static const auto real_##name = real_function<decltype(&::name)>(#name)
