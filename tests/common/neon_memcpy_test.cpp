#include <orvi/neon_memcpy.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Copies into the middle of guarded areas, at every misalignment, and
// checks that exactly n bytes changed on either side.
TEST(NeonMemcpy, CopiesExactlyNBytes) {
    constexpr size_t kGuard = 32;
    constexpr uint8_t kDstFill = 0xA5;
    for (size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 100u}) {
        for (size_t offset = 0; offset < 16; ++offset) {
            std::vector<uint8_t> src(kGuard + offset + n + kGuard);
            for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7 + 1);
            const std::vector<uint8_t> src_before = src;
            std::vector<uint8_t> dst(kGuard + n + kGuard + offset, kDstFill);
            uint8_t* d = dst.data() + kGuard + (15 - offset);
            const uint8_t* s = src.data() + kGuard + offset;

            EXPECT_EQ(neon::memcpy(d, s, n), d);

            EXPECT_EQ(src, src_before);
            for (size_t i = 0; i < dst.size(); ++i) {
                const uint8_t* p = dst.data() + i;
                if (p >= d && p < d + n) {
                    ASSERT_EQ(*p, s[p - d]) << "n " << n << " offset " << offset << " at " << i;
                } else {
                    ASSERT_EQ(*p, kDstFill) << "n " << n << " offset " << offset << " at " << i;
                }
            }
        }
    }
}

}  // namespace
