// The C library entry points that the board answers for "/dev/i2c-N":
// opening, existence tests, transfers and the I2C ioctls. Everything that is
// not a simulated bus goes to the next definition (the C library, or a
// sanitizer's interceptor) unchanged.
#include <fcntl.h>
#include <linux/close_range.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "preload_runtime.h"

extern "C" {
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int dirfd, const char* path, int flags);
int __openat64_2(int dirfd, const char* path, int flags);
ssize_t __read_chk(int fd, void* buf, size_t n, size_t buflen);
int __xstat(int ver, const char* path, struct stat* st);
int __xstat64(int ver, const char* path, struct stat64* st);
int __lxstat(int ver, const char* path, struct stat* st);
int __lxstat64(int ver, const char* path, struct stat64* st);
int __fxstat(int ver, int fd, struct stat* st);
int __fxstat64(int ver, int fd, struct stat64* st);
int __fxstatat(int ver, int dirfd, const char* path, struct stat* st, int flags);
int __fxstatat64(int ver, int dirfd, const char* path, struct stat64* st, int flags);
int fcntl64(int fd, int cmd, ...);
}

namespace {

constexpr int I2C_DEV_MAJOR = 89;
constexpr unsigned long SIM_FUNCS = I2C_FUNC_I2C | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE |
                                    I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA;

bool needs_mode(int flags) { return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE; }

// -1: not ours. Otherwise the bus number, or -2 when the simulated path
// does not exist (errno set).
int sim_path(const char* path, SimBoard** board_out) {
    bool alt = false;
    int bus = sim_bus_of_path(path, &alt);
    if (bus < 0) return -1;
    SimBoard* board = preload_board();
    if (board == nullptr) return -1;
    *board_out = board;
    if (alt || !board->cfg.bus_exists[bus]) {
        errno = ENOENT;
        return -2;
    }
    return bus;
}

int sim_path_at(int dirfd, const char* path, SimBoard** board) {
    (void)dirfd;  // only absolute paths name a bus
    if (path == nullptr || path[0] != '/') return -1;
    return sim_path(path, board);
}

int open_bus(int bus, int flags) {
    if (flags & O_DIRECTORY) {
        errno = ENOTDIR;
        return -1;
    }
    if ((flags & O_CREAT) && (flags & O_EXCL)) {
        errno = EEXIST;
        return -1;
    }
    int fd = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDWR | (flags & O_CLOEXEC), 0));
    if (fd < 0) return -1;
    SimHandle* h = new_handle(bus);
    if (h == nullptr || !track_handle(fd, h)) {
        if (h) release_handle(h);
        syscall(SYS_close, fd);
        errno = h ? EMFILE : ENOMEM;
        return -1;
    }
    return fd;
}

template <typename Stat>
void fill_stat(Stat* st, int bus) {
    std::memset(st, 0, sizeof *st);
    st->st_dev = makedev(0, 5);
    st->st_ino = 10000 + bus;
    st->st_mode = S_IFCHR | 0660;
    st->st_nlink = 1;
    st->st_rdev = makedev(I2C_DEV_MAJOR, bus);
    st->st_blksize = 4096;
}

void fill_statx(struct statx* stx, int bus) {
    std::memset(stx, 0, sizeof *stx);
    stx->stx_mask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_GID | STATX_INO;
    stx->stx_blksize = 4096;
    stx->stx_nlink = 1;
    stx->stx_mode = S_IFCHR | 0660;
    stx->stx_ino = 10000 + bus;
    stx->stx_rdev_major = I2C_DEV_MAJOR;
    stx->stx_rdev_minor = static_cast<uint32_t>(bus);
    stx->stx_dev_major = 0;
    stx->stx_dev_minor = 5;
}

// Result of an existence test on a simulated path: 0, or -1 with errno.
int sim_exists(int bus) { return bus >= 0 ? 0 : -1; }

ssize_t sim_transfer_result(ssize_t r) {
    if (r < 0) {
        errno = static_cast<int>(-r);
        return -1;
    }
    return r;
}

// -1 with errno set, as a failed call reports it.
int fail_with(int error) {
    errno = error;
    return -1;
}

// I2C_SLAVE and I2C_SLAVE_FORCE: the 7-bit address later transfers go to.
int ioctl_select(SimBoard* board, SimHandle* h, void* arg) {
    long addr = reinterpret_cast<long>(arg);
    if (addr < 0 || addr > 0x7F) return fail_with(EINVAL);
    int r = bus_select(board, h->bus, static_cast<int>(addr));
    if (r < 0) return fail_with(-r);
    h->addr.store(static_cast<int>(addr));
    return 0;
}

int ioctl_smbus(SimBoard* board, SimHandle* h, void* arg) {
    auto* d = static_cast<i2c_smbus_ioctl_data*>(arg);
    if (d == nullptr) return fail_with(EFAULT);
    int r = bus_smbus(board, h->bus, h->addr.load(), d->read_write, d->command, d->size,
                      reinterpret_cast<uint8_t*>(d->data));
    if (r < 0) return fail_with(-r);
    return 0;
}

// I2C_RDWR: the messages in order, each to its own address; a combined
// transfer is all or nothing.
int ioctl_rdwr(SimBoard* board, SimHandle* h, void* arg) {
    auto* d = static_cast<i2c_rdwr_ioctl_data*>(arg);
    if (d == nullptr || d->msgs == nullptr) return fail_with(EFAULT);
    if (d->nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) return fail_with(EINVAL);
    for (unsigned i = 0; i < d->nmsgs; ++i) {
        const i2c_msg& m = d->msgs[i];
        if (m.addr > 0x7F || (m.flags & I2C_M_TEN)) return fail_with(EINVAL);
        ssize_t r = (m.flags & I2C_M_RD) ? bus_read(board, h->bus, m.addr, m.buf, m.len)
                                         : bus_write(board, h->bus, m.addr, m.buf, m.len);
        if (r < 0) return fail_with(static_cast<int>(-r));
        if (r != m.len) return fail_with(EREMOTEIO);
    }
    return static_cast<int>(d->nmsgs);
}

int sim_ioctl(SimHandle* h, unsigned long request, void* arg) {
    SimBoard* board = preload_board();
    if (board == nullptr) return fail_with(ENOTTY);
    switch (request) {
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE:
            return ioctl_select(board, h, arg);
        case I2C_TENBIT:
            return arg != nullptr ? fail_with(EINVAL) : 0;
        case I2C_FUNCS:
            if (arg == nullptr) return fail_with(EFAULT);
            *static_cast<unsigned long*>(arg) = SIM_FUNCS;
            return 0;
        case I2C_RETRIES:
        case I2C_TIMEOUT:
        case I2C_PEC:
            return 0;
        case I2C_SMBUS:
            return ioctl_smbus(board, h, arg);
        case I2C_RDWR:
            return ioctl_rdwr(board, h, arg);
        default:
            return fail_with(ENOTTY);
    }
}

// A descriptor number the kernel hands out anew cannot still be a bus: the
// old one was closed behind our back (fclose, close_range in a library).
int fresh_fd(int fd) {
    if (fd >= 0 && any_handles()) untrack_handle(fd);
    return fd;
}

int dup_result(int oldfd, int newfd) {
    if (newfd < 0) return newfd;
    SimHandle* h = handle_of(oldfd);
    if (h) track_handle(newfd, h);
    else untrack_handle(newfd);
    return newfd;
}

// A simulated bus opens on the board; -2 (a simulated path that does not
// exist) fails as the kernel would; anything else opens for real.
template <typename RealOpen>
int open_simulated_or_real(int bus, int flags, RealOpen real_open_call) {
    if (bus == -2) return -1;
    if (bus >= 0) return open_bus(bus, flags);
    return fresh_fd(real_open_call());
}

}  // namespace

extern "C" {

// ---- opening ----

int open(const char* path, int flags, ...) {
    SIM_REAL(open);
    int mode = 0;
    if (needs_mode(flags)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    SimBoard* board = nullptr;
    return open_simulated_or_real(sim_path(path, &board), flags,
                                  [&] { return real_open(path, flags, mode); });
}

int open64(const char* path, int flags, ...) {
    SIM_REAL(open64);
    int mode = 0;
    if (needs_mode(flags)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    SimBoard* board = nullptr;
    return open_simulated_or_real(sim_path(path, &board), flags,
                                  [&] { return real_open64(path, flags, mode); });
}

int openat(int dirfd, const char* path, int flags, ...) {
    SIM_REAL(openat);
    int mode = 0;
    if (needs_mode(flags)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    SimBoard* board = nullptr;
    return open_simulated_or_real(sim_path_at(dirfd, path, &board), flags,
                                  [&] { return real_openat(dirfd, path, flags, mode); });
}

int openat64(int dirfd, const char* path, int flags, ...) {
    SIM_REAL(openat64);
    int mode = 0;
    if (needs_mode(flags)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    SimBoard* board = nullptr;
    return open_simulated_or_real(sim_path_at(dirfd, path, &board), flags,
                                  [&] { return real_openat64(dirfd, path, flags, mode); });
}

int __open_2(const char* path, int flags) {
    SIM_REAL(__open_2);
    SimBoard* board = nullptr;
    return open_simulated_or_real(sim_path(path, &board), flags,
                                  [&] { return real___open_2(path, flags); });
}

int __open64_2(const char* path, int flags) {
    SIM_REAL(__open64_2);
    SimBoard* board = nullptr;
    return open_simulated_or_real(sim_path(path, &board), flags,
                                  [&] { return real___open64_2(path, flags); });
}

int __openat_2(int dirfd, const char* path, int flags) {
    SIM_REAL(__openat_2);
    SimBoard* board = nullptr;
    return open_simulated_or_real(sim_path_at(dirfd, path, &board), flags,
                                  [&] { return real___openat_2(dirfd, path, flags); });
}

int __openat64_2(int dirfd, const char* path, int flags) {
    SIM_REAL(__openat64_2);
    SimBoard* board = nullptr;
    return open_simulated_or_real(sim_path_at(dirfd, path, &board), flags,
                                  [&] { return real___openat64_2(dirfd, path, flags); });
}

// ---- descriptors ----

int close(int fd) {
    SIM_REAL(close);
    untrack_handle(fd);
    return real_close(fd);
}

int close_range(unsigned int first, unsigned int last, int flags) {
    SIM_REAL(close_range);
    if (!(flags & CLOSE_RANGE_CLOEXEC) && any_handles()) {
        for (unsigned int fd = first; fd <= last && fd < SIM_MAX_FDS; ++fd)
            untrack_handle(static_cast<int>(fd));
    }
    return real_close_range(first, last, flags);
}

void closefrom(int lowfd) {
    SIM_REAL(closefrom);
    if (any_handles()) {
        for (int fd = lowfd < 0 ? 0 : lowfd; fd < SIM_MAX_FDS; ++fd) untrack_handle(fd);
    }
    real_closefrom(lowfd);
}

int dup(int fd) {
    SIM_REAL(dup);
    int r = real_dup(fd);
    return any_handles() ? dup_result(fd, r) : r;
}

int dup2(int oldfd, int newfd) {
    SIM_REAL(dup2);
    int r = real_dup2(oldfd, newfd);
    return (any_handles() && r >= 0 && oldfd != newfd) ? dup_result(oldfd, r) : r;
}

int dup3(int oldfd, int newfd, int flags) {
    SIM_REAL(dup3);
    int r = real_dup3(oldfd, newfd, flags);
    return (any_handles() && r >= 0) ? dup_result(oldfd, r) : r;
}

int fcntl(int fd, int cmd, ...) {
    SIM_REAL(fcntl);
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    int r = real_fcntl(fd, cmd, arg);
    if ((cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) && r >= 0 && any_handles())
        return dup_result(fd, r);
    return r;
}

int fcntl64(int fd, int cmd, ...) {
    SIM_REAL(fcntl64);
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    int r = real_fcntl64(fd, cmd, arg);
    if ((cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) && r >= 0 && any_handles())
        return dup_result(fd, r);
    return r;
}

// ---- transfers ----

ssize_t read(int fd, void* buf, size_t n) {
    SIM_REAL(read);
    SimHandle* h = handle_of(fd);
    SimBoard* board = h ? preload_board() : nullptr;
    if (board == nullptr) return real_read(fd, buf, n);
    if (n > 8192) n = 8192;  // what i2c-dev allows per transfer
    return sim_transfer_result(
        bus_read(board, h->bus, h->addr.load(), static_cast<uint8_t*>(buf), n));
}

ssize_t __read_chk(int fd, void* buf, size_t n, size_t buflen) {
    SIM_REAL(__read_chk);
    SimHandle* h = handle_of(fd);
    if (h == nullptr) return real___read_chk(fd, buf, n, buflen);
    if (n > buflen) std::abort();  // what the fortified check does
    return read(fd, buf, n);
}

ssize_t write(int fd, const void* buf, size_t n) {
    SIM_REAL(write);
    SimHandle* h = handle_of(fd);
    SimBoard* board = h ? preload_board() : nullptr;
    if (board == nullptr) return real_write(fd, buf, n);
    if (n > 8192) n = 8192;
    return sim_transfer_result(
        bus_write(board, h->bus, h->addr.load(), static_cast<const uint8_t*>(buf), n));
}

int ioctl(int fd, unsigned long request, ...) {
    SIM_REAL(ioctl);
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    SimHandle* h = handle_of(fd);
    if (h == nullptr) return real_ioctl(fd, request, arg);
    return sim_ioctl(h, request, arg);
}

// ---- existence tests ----

int access(const char* path, int mode) {
    SIM_REAL(access);
    SimBoard* board = nullptr;
    int bus = sim_path(path, &board);
    if (bus == -1) return real_access(path, mode);
    return sim_exists(bus);
}

int faccessat(int dirfd, const char* path, int mode, int flags) {
    SIM_REAL(faccessat);
    SimBoard* board = nullptr;
    int bus = sim_path_at(dirfd, path, &board);
    if (bus == -1) return real_faccessat(dirfd, path, mode, flags);
    return sim_exists(bus);
}

int euidaccess(const char* path, int mode) {
    SIM_REAL(euidaccess);
    SimBoard* board = nullptr;
    int bus = sim_path(path, &board);
    if (bus == -1) return real_euidaccess(path, mode);
    return sim_exists(bus);
}

int eaccess(const char* path, int mode) { return euidaccess(path, mode); }

#define SIM_PATH_STAT(fn, stat_t, real_call)           \
    SimBoard* board = nullptr;                         \
    int bus = sim_path(path, &board);                  \
    if (bus == -1) return real_call;                   \
    if (bus < 0) return -1;                            \
    fill_stat(st, bus);                                \
    return 0;

int stat(const char* path, struct stat* st) {
    SIM_REAL(stat);
    SIM_PATH_STAT(stat, struct stat, real_stat(path, st))
}

int stat64(const char* path, struct stat64* st) {
    SIM_REAL(stat64);
    SIM_PATH_STAT(stat64, struct stat64, real_stat64(path, st))
}

int lstat(const char* path, struct stat* st) {
    SIM_REAL(lstat);
    SIM_PATH_STAT(lstat, struct stat, real_lstat(path, st))
}

int lstat64(const char* path, struct stat64* st) {
    SIM_REAL(lstat64);
    SIM_PATH_STAT(lstat64, struct stat64, real_lstat64(path, st))
}

int __xstat(int ver, const char* path, struct stat* st) {
    SIM_REAL(__xstat);
    SIM_PATH_STAT(__xstat, struct stat, real___xstat ? real___xstat(ver, path, st) : stat(path, st))
}

int __xstat64(int ver, const char* path, struct stat64* st) {
    SIM_REAL(__xstat64);
    SIM_PATH_STAT(__xstat64, struct stat64,
                  real___xstat64 ? real___xstat64(ver, path, st) : stat64(path, st))
}

int __lxstat(int ver, const char* path, struct stat* st) {
    SIM_REAL(__lxstat);
    SIM_PATH_STAT(__lxstat, struct stat,
                  real___lxstat ? real___lxstat(ver, path, st) : lstat(path, st))
}

int __lxstat64(int ver, const char* path, struct stat64* st) {
    SIM_REAL(__lxstat64);
    SIM_PATH_STAT(__lxstat64, struct stat64,
                  real___lxstat64 ? real___lxstat64(ver, path, st) : lstat64(path, st))
}

int fstat(int fd, struct stat* st) {
    SIM_REAL(fstat);
    SimHandle* h = handle_of(fd);
    if (h == nullptr) return real_fstat(fd, st);
    fill_stat(st, h->bus);
    return 0;
}

int fstat64(int fd, struct stat64* st) {
    SIM_REAL(fstat64);
    SimHandle* h = handle_of(fd);
    if (h == nullptr) return real_fstat64(fd, st);
    fill_stat(st, h->bus);
    return 0;
}

int __fxstat(int ver, int fd, struct stat* st) {
    SIM_REAL(__fxstat);
    SimHandle* h = handle_of(fd);
    if (h == nullptr) return real___fxstat ? real___fxstat(ver, fd, st) : fstat(fd, st);
    fill_stat(st, h->bus);
    return 0;
}

int __fxstat64(int ver, int fd, struct stat64* st) {
    SIM_REAL(__fxstat64);
    SimHandle* h = handle_of(fd);
    if (h == nullptr) return real___fxstat64 ? real___fxstat64(ver, fd, st) : fstat64(fd, st);
    fill_stat(st, h->bus);
    return 0;
}

#define SIM_AT_STAT(real_call)                                        \
    if (path && path[0] == '\0' && (flags & AT_EMPTY_PATH)) {         \
        SimHandle* h = handle_of(dirfd);                              \
        if (h) {                                                      \
            fill_stat(st, h->bus);                                    \
            return 0;                                                 \
        }                                                             \
    }                                                                 \
    SimBoard* board = nullptr;                                        \
    int bus = sim_path_at(dirfd, path, &board);                       \
    if (bus == -1) return real_call;                                  \
    if (bus < 0) return -1;                                           \
    fill_stat(st, bus);                                               \
    return 0;

int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
    SIM_REAL(fstatat);
    SIM_AT_STAT(real_fstatat(dirfd, path, st, flags))
}

int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) {
    SIM_REAL(fstatat64);
    SIM_AT_STAT(real_fstatat64(dirfd, path, st, flags))
}

int __fxstatat(int ver, int dirfd, const char* path, struct stat* st, int flags) {
    SIM_REAL(__fxstatat);
    SIM_AT_STAT(real___fxstatat ? real___fxstatat(ver, dirfd, path, st, flags)
                                : fstatat(dirfd, path, st, flags))
}

int __fxstatat64(int ver, int dirfd, const char* path, struct stat64* st, int flags) {
    SIM_REAL(__fxstatat64);
    SIM_AT_STAT(real___fxstatat64 ? real___fxstatat64(ver, dirfd, path, st, flags)
                                  : fstatat64(dirfd, path, st, flags))
}

int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* stx) {
    SIM_REAL(statx);
    if (path && path[0] == '\0' && (flags & AT_EMPTY_PATH)) {
        SimHandle* h = handle_of(dirfd);
        if (h) {
            fill_statx(stx, h->bus);
            return 0;
        }
    }
    SimBoard* board = nullptr;
    int bus = sim_path_at(dirfd, path, &board);
    if (bus == -1) return real_statx(dirfd, path, flags, mask, stx);
    if (bus < 0) return -1;
    fill_statx(stx, bus);
    return 0;
}

// A device node has no extended attributes; tools such as ls ask.
#define SIM_XATTR(real_call)               \
    SimBoard* board = nullptr;             \
    int bus = sim_path(path, &board);      \
    if (bus == -1) return real_call;       \
    if (bus < 0) return -1;                \
    errno = ENODATA;                       \
    return -1;

ssize_t getxattr(const char* path, const char* name, void* value, size_t size) {
    SIM_REAL(getxattr);
    SIM_XATTR(real_getxattr(path, name, value, size))
}

ssize_t lgetxattr(const char* path, const char* name, void* value, size_t size) {
    SIM_REAL(lgetxattr);
    SIM_XATTR(real_lgetxattr(path, name, value, size))
}

ssize_t listxattr(const char* path, char* list, size_t size) {
    SIM_REAL(listxattr);
    SimBoard* board = nullptr;
    int bus = sim_path(path, &board);
    if (bus == -1) return real_listxattr(path, list, size);
    return bus < 0 ? -1 : 0;
}

ssize_t llistxattr(const char* path, char* list, size_t size) {
    SIM_REAL(llistxattr);
    SimBoard* board = nullptr;
    int bus = sim_path(path, &board);
    if (bus == -1) return real_llistxattr(path, list, size);
    return bus < 0 ? -1 : 0;
}

}  // extern "C"
