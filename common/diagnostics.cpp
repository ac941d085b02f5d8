#include <orvi/diagnostics.h>

#include <cstdio>
#include <ctime>

namespace {

constexpr size_t kMaxWindow = 10;

std::string hex_line(const uint8_t* data, size_t len) {
    static const char digits[] = "0123456789abcdef";
    std::string line;
    line.reserve(len * 3 + 1);
    for (size_t i = 0; i < len; ++i) {
        line.push_back(digits[data[i] >> 4]);
        line.push_back(digits[data[i] & 0x0F]);
        line.push_back(' ');
    }
    line.push_back('\n');
    return line;
}

void print_null_frame() { std::printf("[ERROR] %s() --> FRAME NULLPTR\n", "print_hex"); }

}  // namespace

int64_t time_monotonic_ns() {
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        std::fprintf(stderr, "ERROR calling clock_gettime\n");
        return -1;
    }
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + static_cast<int64_t>(ts.tv_nsec);
}

float calc_avg_latency(float latency, std::deque<float>& window) {
    while (window.size() >= kMaxWindow) window.pop_front();
    window.push_back(latency);
    float sum = 0.0f;
    for (float value : window) sum += value;
    return sum / static_cast<float>(window.size());
}

double degreesToRadians(double degrees) { return degrees * 0.017453292519943295; }

float radiansToDegrees(float radians) { return static_cast<float>(radians * 57.29577951308232); }

std::string ledStatusToString(uint8_t status) {
    switch (status) {
        case 0: return "OFF";
        case 1: return "OVERT";
        case 2: return "IR";
        default: return "???";
    }
}

void print_hex(const uint8_t* data, int len) {
    if (data == nullptr) {
        print_null_frame();
        return;
    }
    const std::string line = hex_line(data, len > 0 ? static_cast<size_t>(len) : 0);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void print_hex(std::shared_ptr<std::vector<uint8_t>> buffer) {
    // A null buffer would crash the dump of a packet list; report it like a null frame.
    if (!buffer) {
        print_null_frame();
        return;
    }
    const std::string line = hex_line(buffer->data(), buffer->size());
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void print_all_fragments(std::vector<std::shared_ptr<std::vector<uint8_t>>> fragments) {
    for (auto& fragment : fragments) print_hex(fragment);
}
