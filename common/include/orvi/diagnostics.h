// Timing, averaging, unit and dump helpers shared by the programs.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <orvi/common_export.h>

// Monotonic clock in nanoseconds, or -1 (with a message on stderr) when it cannot be read.
ORVI_COMMON_EXPORT int64_t time_monotonic_ns();

// Moving average over the caller's window of at most ten latencies: the
// oldest value goes when the window is full, the new one is appended, and
// the float mean of the window is returned.
ORVI_COMMON_EXPORT float calc_avg_latency(float latency, std::deque<float>& window);

ORVI_COMMON_EXPORT double degreesToRadians(double degrees);
ORVI_COMMON_EXPORT float radiansToDegrees(float radians);

ORVI_COMMON_EXPORT std::string ledStatusToString(uint8_t status);

// One line of "xx " per byte on stderr.
ORVI_COMMON_EXPORT void print_hex(const uint8_t* data, int len);
// The same line for the whole vector, on stdout.
ORVI_COMMON_EXPORT void print_hex(std::shared_ptr<std::vector<uint8_t>> buffer);
// One stdout line per fragment, in order.
ORVI_COMMON_EXPORT void print_all_fragments(
    std::vector<std::shared_ptr<std::vector<uint8_t>>> fragments);
