#include "board_state.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Direct system calls: this code runs inside the preloaded library, where
// open/close/ftruncate may be our own interposed versions.
int sys_open(const char* path, int flags, int mode) {
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}
int sys_close(int fd) { return static_cast<int>(syscall(SYS_close, fd)); }

void init_shared(BoardShared* s, const BoardConfig& cfg) {
    std::memset(static_cast<void*>(s), 0, sizeof *s);
    new (&s->lock) std::atomic<uint32_t>(0);
    new (&s->virtual_ns) std::atomic<int64_t>(0);
    new (&s->frequency) std::atomic<int32_t>(cfg.frequency);
    new (&s->mcs) std::atomic<int32_t>(cfg.mcs);
    new (&s->power) std::atomic<int32_t>(cfg.power);
    new (&s->stop_test) std::atomic<int32_t>(0);
    new (&s->output_loss_db) std::atomic<double>(cfg.output_loss_db);
    new (&s->detector_loss_db) std::atomic<double>(cfg.detector_loss_db);
    s->temperature_c = cfg.temp_start_c;
    s->temperature_at_ns = -1;  // set by the first update
    for (auto& adc : s->adc) reset_adc(&adc);
    s->version = SIM_STATE_VERSION;
}

}  // namespace

void reset_adc(SimAdcState* adc) {
    std::memset(adc, 0, sizeof *adc);
}

bool create_board_state(const BoardConfig& cfg, std::string* error) {
    std::string tmp = cfg.state_path + ".tmp";
    int fd = sys_open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    if (syscall(SYS_ftruncate, fd, static_cast<long>(sizeof(BoardShared))) != 0) {
        *error = "cannot size " + tmp + ": " + std::strerror(errno);
        sys_close(fd);
        return false;
    }
    void* map = mmap(nullptr, sizeof(BoardShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    sys_close(fd);
    if (map == MAP_FAILED) {
        *error = "cannot map " + tmp + ": " + std::strerror(errno);
        return false;
    }
    auto* s = static_cast<BoardShared*>(map);
    init_shared(s, cfg);
    std::atomic_thread_fence(std::memory_order_release);
    s->magic = SIM_STATE_MAGIC;
    munmap(map, sizeof(BoardShared));
    if (std::rename(tmp.c_str(), cfg.state_path.c_str()) != 0) {
        *error = "cannot create " + cfg.state_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

BoardShared* attach_board_state(const BoardConfig& cfg, bool* shared) {
    if (shared != nullptr) *shared = false;
    int fd = sys_open(cfg.state_path.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd >= 0) {
        void* map = mmap(nullptr, sizeof(BoardShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        sys_close(fd);
        if (map != MAP_FAILED) {
            auto* s = static_cast<BoardShared*>(map);
            if (s->magic == SIM_STATE_MAGIC && s->version == SIM_STATE_VERSION) {
                if (shared != nullptr) *shared = true;
                return s;
            }
            munmap(map, sizeof(BoardShared));
        }
    }
    void* local = mmap(nullptr, sizeof(BoardShared), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (local == MAP_FAILED) return nullptr;
    auto* s = static_cast<BoardShared*>(local);
    init_shared(s, cfg);
    s->magic = SIM_STATE_MAGIC;
    return s;
}

namespace {

// How long a waiter sleeps before it looks whether the holder still lives.
constexpr long LOCK_CHECK_NS = 20 * 1000 * 1000;

bool holder_gone(uint32_t word) {
    auto pid = static_cast<pid_t>(word & ~BOARD_LOCK_WAITERS);
    return pid > 0 && syscall(SYS_kill, pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

// A futex lock on a 32-bit word, the same on every architecture (a
// process-shared pthread mutex is not: its size and its robust list belong
// to one C library, and an emulator cannot run a foreign robust list). The
// word names the holding process, so a waiter can see that it died.
void lock_board(BoardShared* s) {
    const auto self = static_cast<uint32_t>(getpid());
    uint32_t word = 0;
    if (s->lock.compare_exchange_strong(word, self, std::memory_order_acquire)) return;
    for (;;) {
        if (word == 0) {
            // Taken after a wait: others may still sleep on it.
            if (s->lock.compare_exchange_weak(word, self | BOARD_LOCK_WAITERS,
                                              std::memory_order_acquire))
                return;
            continue;
        }
        if (!(word & BOARD_LOCK_WAITERS)) {
            if (!s->lock.compare_exchange_weak(word, word | BOARD_LOCK_WAITERS,
                                               std::memory_order_relaxed))
                continue;
            word |= BOARD_LOCK_WAITERS;
        }
        timespec wait{0, LOCK_CHECK_NS};
        long r = syscall(SYS_futex, reinterpret_cast<uint32_t*>(&s->lock), FUTEX_WAIT, word, &wait,
                         nullptr, 0);
        if (r != 0 && errno == ETIMEDOUT && holder_gone(word)) {
            // A process killed while holding the lock leaves it to the next one.
            if (s->lock.compare_exchange_strong(word, self | BOARD_LOCK_WAITERS,
                                                std::memory_order_acquire))
                return;
            continue;
        }
        word = s->lock.load(std::memory_order_relaxed);
    }
}

void unlock_board(BoardShared* s) {
    if (s->lock.exchange(0, std::memory_order_release) & BOARD_LOCK_WAITERS)
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&s->lock), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

int64_t board_now_ns(const BoardShared* s, int64_t real_now_ns) {
    return real_now_ns + s->virtual_ns.load(std::memory_order_relaxed);
}

double update_temperature(BoardShared* s, const BoardConfig& cfg, int64_t now_ns) {
    lock_board(s);
    double t = update_temperature_locked(s, cfg, now_ns);
    unlock_board(s);
    return t;
}

double update_temperature_locked(BoardShared* s, const BoardConfig& cfg, int64_t now_ns) {
    if (s->temperature_at_ns < 0 || now_ns < s->temperature_at_ns) {
        s->temperature_at_ns = now_ns;
    } else {
        int power = s->power.load(std::memory_order_relaxed);
        if (power < 0) power = 0;
        double target = cfg.temp_start_c + cfg.temp_rise_c * power / 60.0;
        double dt = (now_ns - s->temperature_at_ns) / 1e9;
        s->temperature_c = target + (s->temperature_c - target) * std::exp(-dt / cfg.temp_tau_s);
        s->temperature_at_ns = now_ns;
    }
    return s->temperature_c;
}
