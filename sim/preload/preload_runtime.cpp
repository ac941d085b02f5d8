#include "preload_runtime.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "board_options.h"

namespace {

pthread_once_t g_once = PTHREAD_ONCE_INIT;
SimBoard* g_board = nullptr;
std::atomic<SimHandle*> g_handles[SIM_MAX_FDS];
std::atomic<int> g_handle_count{0};

void init_board() {
    const char* path = std::getenv(SIM_BOARD_ENV);
    if (path == nullptr || *path == '\0') return;
    auto* board = new (std::nothrow) SimBoard();
    if (board == nullptr) return;
    std::string error;
    if (!load_board_config(&board->cfg, path, &error)) {
        // A broken board must not pass for the real hardware.
        std::fprintf(stderr, "i2c-sim: %s\n", error.c_str());
        std::abort();
    }
    board->state = attach_board_state(board->cfg);
    if (board->state == nullptr) {
        std::fprintf(stderr, "i2c-sim: cannot set up the board state\n");
        std::abort();
    }
    board->unit = rf_unit(board->cfg.unit);
    if (!board->cfg.truth_log.empty()) {
        board->truth_fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD,
                                                   board->cfg.truth_log.c_str(),
                                                   O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    }
    if (!board->cfg.i2c_log.empty()) {
        board->log_fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, board->cfg.i2c_log.c_str(),
                                                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    }
    if (!board->cfg.sleep_log.empty()) {
        board->sleep_fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, board->cfg.sleep_log.c_str(),
                                                   O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    }
    g_board = board;
}

}  // namespace

SimBoard* preload_board() {
    pthread_once(&g_once, init_board);
    return g_board;
}

SimHandle* handle_of(int fd) {
    if (fd < 0 || fd >= SIM_MAX_FDS || g_handle_count.load(std::memory_order_acquire) == 0)
        return nullptr;
    return g_handles[fd].load(std::memory_order_acquire);
}

bool any_handles() { return g_handle_count.load(std::memory_order_acquire) != 0; }

bool track_handle(int fd, SimHandle* h) {
    if (fd < 0 || fd >= SIM_MAX_FDS) return false;
    h->refs.fetch_add(1);
    SimHandle* old = g_handles[fd].exchange(h);
    if (old) release_handle(old);
    else g_handle_count.fetch_add(1);
    return true;
}

void untrack_handle(int fd) {
    if (fd < 0 || fd >= SIM_MAX_FDS) return;
    SimHandle* old = g_handles[fd].exchange(nullptr);
    if (old) {
        g_handle_count.fetch_sub(1);
        release_handle(old);
    }
}

SimHandle* new_handle(int bus) {
    auto* h = new (std::nothrow) SimHandle;
    if (h == nullptr) return nullptr;
    h->bus = bus;
    h->addr.store(0);
    h->refs.store(0);
    return h;
}

void release_handle(SimHandle* h) {
    if (h->refs.fetch_sub(1) == 1) delete h;
}

int sim_bus_of_path(const char* path, bool* alt) {
    if (path == nullptr) return -1;
    const char* digits;
    if (std::strncmp(path, "/dev/i2c-", 9) == 0) {
        digits = path + 9, *alt = false;
    } else if (std::strncmp(path, "/dev/i2c/", 9) == 0) {
        digits = path + 9, *alt = true;
    } else {
        return -1;
    }
    if (digits[0] < '0' || digits[0] > '9') return -1;
    if (digits[0] == '0' && digits[1] != '\0') return -1;
    int bus = 0;
    for (const char* p = digits; *p; ++p) {
        if (*p < '0' || *p > '9') return -1;
        bus = bus * 10 + (*p - '0');
        if (bus > SIM_MAX_BUS) return -1;
    }
    return bus;
}
