#include "run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decimal_text.h"

namespace {

// A holder writes its id right after it took the lock: a run that looks in
// between finds the file empty for a moment.
constexpr int HOLDER_READ_TRIES = 20;
constexpr useconds_t HOLDER_READ_PAUSE_US = 1000;

// The id in the lock file, 0 when there is none (yet).
int read_lock_holder(int fd) {
    for (int attempt = 0; attempt < HOLDER_READ_TRIES; ++attempt) {
        char text[24] = {};
        const ssize_t n = pread(fd, text, sizeof text - 1, 0);
        if (n > 0) {
            const long pid = std::strtol(text, nullptr, 10);
            if (pid > 0)
                return static_cast<int>(pid);
        }
        usleep(HOLDER_READ_PAUSE_US);
    }
    return 0;
}

void report_held(const char* path, int fd) {
    const int holder = read_lock_holder(fd);
    if (holder > 0) {
        std::fprintf(stderr,
                     "Error: Another run holds the board's lock %s (process %d); nothing was "
                     "changed\n",
                     path, holder);
    } else {
        std::fprintf(stderr,
                     "Error: Another process holds the board's lock %s; nothing was changed\n",
                     path);
    }
}

}  // namespace

int take_run_lock(const char* path) {
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "Error: Cannot open the board's lock %s: %s; nothing was changed\n",
                     path, std::strerror(errno));
        return -1;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK) {
            report_held(path, fd);
        } else {
            std::fprintf(stderr,
                         "Error: Cannot lock the board's lock %s: %s; nothing was changed\n", path,
                         std::strerror(errno));
        }
        close(fd);
        return -1;
    }
    write_lock_holder(fd, static_cast<int>(getpid()));
    return fd;
}

void release_run_lock(int fd) {
    if (fd >= 0)
        close(fd);
}

void write_lock_holder(int fd, int pid) {
    char text[DECIMAL_TEXT_MAX + 1];
    const size_t n = put_decimal(pid, text);
    text[n] = '\n';
    // Straight to the kernel: after fork only what is async-signal-safe is
    // allowed, and a preloaded library's wrappers need not be.
    syscall(SYS_ftruncate, fd, 0L);
    syscall(SYS_pwrite64, fd, text, n + 1, 0L);
}
