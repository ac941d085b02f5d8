#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
std::atomic<bool> g_armed{false};
std::atomic<size_t> g_count{0};

void note() {
    if (g_armed.load(std::memory_order_relaxed))
        g_count.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

void allocation_counter_arm(bool on) {
    if (on)
        g_count = 0;
    g_armed = on;
}

size_t allocation_counter_value() {
    return g_count.load();
}

// The C library's allocator stays in charge; these only count on the way in.
extern "C" {
void* malloc(size_t size) {
    note();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    note();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    note();
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
    note();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    note();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    note();
    void* p = __libc_memalign(alignment, size);
    if (!p)
        return 12;  // ENOMEM
    *out = p;
    return 0;
}
}
