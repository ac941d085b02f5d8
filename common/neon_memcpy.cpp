#include <orvi/neon_memcpy.h>

#include <cstdint>
#include <cstring>

#if defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace neon {

void* memcpy(void* dst, const void* src, size_t n) {
    auto* d = static_cast<uint8_t*>(dst);
    const auto* s = static_cast<const uint8_t*>(src);
    size_t blocks = n / 16;
#if defined(__aarch64__)
    // vld1q/vst1q have no alignment requirement on bytes.
    for (; blocks > 0; --blocks, d += 16, s += 16) vst1q_u8(d, vld1q_u8(s));
#else
    for (; blocks > 0; --blocks, d += 16, s += 16) std::memcpy(d, s, 16);
#endif
    for (size_t tail = n % 16; tail > 0; --tail) *d++ = *s++;
    return dst;
}

}  // namespace neon
