#include "fake_i2c_bus.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fake_i2c_hooks.h"

namespace {

FakeI2cBus* g_bus = nullptr;
uint8_t g_adc_registers[256];

constexpr unsigned long I2C_SLAVE_REQUEST = 0x0703;

bool injected(FakeI2cBus* bus, size_t count, ssize_t* result) {
    const int n = bus->transfers++;
    if (!bus->fail_transfers.count(n))
        return false;
    if (bus->fail_short && count > 0) {
        *result = static_cast<ssize_t>(count - 1);
    } else {
        errno = EREMOTEIO;
        *result = -1;
    }
    return true;
}

}  // namespace

FakeI2cBus::FakeI2cBus() {
    fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    std::memset(g_adc_registers, 0, sizeof g_adc_registers);
    g_bus = this;
}

FakeI2cBus::~FakeI2cBus() {
    g_bus = nullptr;
    close(fd);
}

std::vector<std::string> FakeI2cBus::trace() const {
    std::vector<std::string> lines;
    for (const auto& t : log) {
        char text[8];
        std::snprintf(text, sizeof text, "%c %02x", t.op, t.address);
        std::string line = text;
        for (uint8_t b : t.bytes) {
            std::snprintf(text, sizeof text, " %02x", b);
            line += text;
        }
        lines.push_back(line);
    }
    return lines;
}

long long FakeI2cBus::slept_us() const {
    long long total = 0;
    for (long long us : sleeps_us) total += us;
    return total;
}

std::array<uint8_t, 32> words_buffer(uint16_t ch0, uint16_t ch1) {
    std::array<uint8_t, 32> out{};
    for (int pair = 0; pair < 8; ++pair) {
        out[pair * 4 + 0] = static_cast<uint8_t>(ch0 >> 8);
        out[pair * 4 + 1] = static_cast<uint8_t>(ch0 & 0xFF);
        out[pair * 4 + 2] = static_cast<uint8_t>(ch1 >> 8);
        out[pair * 4 + 3] = static_cast<uint8_t>(ch1 & 0xFF);
    }
    return out;
}

bool fake_bus_owns(int fd) {
    return g_bus && fd == g_bus->fd;
}
bool fake_bus_active() {
    return g_bus != nullptr;
}

int fake_bus_ioctl(unsigned long request, unsigned long arg) {
    FakeI2cBus* bus = g_bus;
    if (request != I2C_SLAVE_REQUEST) {
        errno = ENOTTY;
        return -1;
    }
    const int address = static_cast<int>(arg);
    bus->log.push_back({address, 'S', {}});
    const int n = bus->selects++;
    const bool absent = (address == 0x1D && !bus->adc_present) ||
                        (address == 0x48 && !bus->temp_present) ||
                        (address != 0x1D && address != 0x48);
    if (n == bus->fail_select || absent) {
        errno = ENXIO;
        return -1;
    }
    bus->current = address;
    bus->answer.clear();
    return 0;
}

ssize_t fake_bus_write(const void* data, size_t count) {
    FakeI2cBus* bus = g_bus;
    const auto* bytes = static_cast<const uint8_t*>(data);
    ssize_t result = static_cast<ssize_t>(count);
    const bool fault = injected(bus, count, &result);
    const size_t moved = result > 0 ? static_cast<size_t>(result) : 0;
    // A refused write is logged with the bytes it offered.
    bus->log.push_back(
        {bus->current, 'W', std::vector<uint8_t>(bytes, bytes + (result < 0 ? count : moved))});
    if (fault && result < 0)
        return result;
    if (moved == 0)
        return result;
    if (bus->current == 0x1D) {
        if (bytes[0] == 0x3B && moved == 1) {
            const auto buffer = bus->buffer(bus->buffer_reads++);
            bus->answer.assign(buffer.begin(), buffer.end());
        } else if (bytes[0] == 0x10 && moved == 2) {
            bus->answer.assign(1, g_adc_registers[bytes[1]]);
        } else if (bytes[0] == 0x08 && moved == 3) {
            g_adc_registers[bytes[1]] = bytes[2];
        }
    } else if (bus->current == 0x48 && moved == 1 && bytes[0] == 0x00) {
        bus->answer = {static_cast<uint8_t>(bus->temperature_word >> 8),
                       static_cast<uint8_t>(bus->temperature_word & 0xFF)};
    }
    return result;
}

ssize_t fake_bus_read(void* data, size_t count) {
    FakeI2cBus* bus = g_bus;
    ssize_t result = static_cast<ssize_t>(count);
    injected(bus, count, &result);
    if (result < 0) {
        bus->log.push_back({bus->current, 'R', {}});
        return result;
    }
    auto* out = static_cast<uint8_t*>(data);
    for (size_t i = 0; i < static_cast<size_t>(result); ++i) {
        out[i] = i < bus->answer.size() ? bus->answer[i] : 0;
    }
    bus->log.push_back({bus->current, 'R', std::vector<uint8_t>(out, out + result)});
    return result;
}

void fake_bus_sleep(long long us) {
    g_bus->sleeps_us.push_back(us);
}
