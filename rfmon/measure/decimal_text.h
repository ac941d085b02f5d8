// Numbers in decimal without the C library, for what runs in a signal
// handler or in the guardian after fork, where printf may not be called.
#pragma once

#include <cstddef>

// The longest text put_decimal() writes: a sign and 19 digits.
constexpr size_t DECIMAL_TEXT_MAX = 20;

// `value` in decimal at `out`, without a terminator; the count written.
size_t put_decimal(long value, char* out);
