// Interposes the C library calls that the detector code makes, for the fake
// bus's descriptor only; every other descriptor goes to the real calls. Kept
// apart from the system headers that declare these functions.
#include <dlfcn.h>
#include <time.h>

#include <cstdarg>

#include "fake_i2c_hooks.h"

namespace {

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    const unsigned long arg = va_arg(args, unsigned long);
    va_end(args);
    if (fake_bus_owns(fd))
        return fake_bus_ioctl(request, arg);
    static auto real = next<int (*)(int, unsigned long, unsigned long)>("ioctl");
    return real(fd, request, arg);
}

ssize_t write(int fd, const void* data, size_t count) {
    if (fake_bus_owns(fd))
        return fake_bus_write(data, count);
    static auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    return real(fd, data, count);
}

ssize_t read(int fd, void* data, size_t count) {
    if (fake_bus_owns(fd))
        return fake_bus_read(data, count);
    static auto real = next<ssize_t (*)(int, void*, size_t)>("read");
    return real(fd, data, count);
}

int nanosleep(const struct timespec* request, struct timespec* remaining) {
    if (fake_bus_active()) {
        fake_bus_sleep(request->tv_sec * 1000000LL + request->tv_nsec / 1000);
        return 0;
    }
    static auto real = next<int (*)(const struct timespec*, struct timespec*)>("nanosleep");
    return real(request, remaining);
}

int usleep(unsigned int us) {
    if (fake_bus_active()) {
        fake_bus_sleep(us);
        return 0;
    }
    static auto real = next<int (*)(unsigned int)>("usleep");
    return real(us);
}

}  // extern "C"
