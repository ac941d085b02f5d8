// Block copy used on the packet paths: 16-byte blocks front to back, then the tail.
#pragma once

#include <cstddef>

#include <orvi/common_export.h>

namespace neon {

// Copies n bytes from src to dst (areas must not overlap) and returns dst.
// Never reads or writes a byte at or beyond n.
ORVI_COMMON_EXPORT void* memcpy(void* dst, const void* src, size_t n);

}  // namespace neon
