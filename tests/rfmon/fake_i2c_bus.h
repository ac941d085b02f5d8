// A scripted I2C bus for unit tests of the detector code.
//
// The code under test gets a real descriptor (/dev/null); this test binary
// interposes read, write and ioctl for that one descriptor and answers as an
// ADS7142 at 0x1D and a temperature sensor at 0x48 would. Every transfer is
// logged, and any one transfer can be made to fail or come up short. Sleeps
// (nanosleep, usleep) are virtual while a bus is active: they return at once
// and are recorded.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

struct FakeTransfer {
    int address;
    char op;                     // 'S' select (ioctl), 'W' write, 'R' read
    std::vector<uint8_t> bytes;  // written bytes, or the bytes handed out by a read
};

struct FakeI2cBus {
    FakeI2cBus();
    ~FakeI2cBus();
    FakeI2cBus(const FakeI2cBus&) = delete;
    FakeI2cBus& operator=(const FakeI2cBus&) = delete;

    int fd = -1;

    bool adc_present = true;
    bool temp_present = true;
    uint16_t temperature_word = 0x1900;  // 25.0 degrees C
    // The 32-byte buffer handed out by data-buffer read number n (0-based).
    std::function<std::array<uint8_t, 32>(int n)> buffer = [](int) {
        return std::array<uint8_t, 32>{};
    };

    // These transfers (0-based, reads and writes only) fail: with -1 and
    // EREMOTEIO, or moving one byte less when fail_short is set.
    std::set<int> fail_transfers;
    bool fail_short = false;
    // ioctl number fail_select (0-based) fails with ENXIO.
    int fail_select = -1;

    std::vector<FakeTransfer> log;
    std::vector<long long> sleeps_us;
    int transfers = 0;
    int selects = 0;
    int buffer_reads = 0;
    int current = -1;
    int pending_read = 0;  // bytes of the answer prepared by the last write
    std::vector<uint8_t> answer;

    // Writes and reads in order as "W 1d 08 17 0a" / "R 48 19 00" / "S 1d".
    std::vector<std::string> trace() const;
    long long slept_us() const;
};

// Eight word pairs, channel 0 first, high byte first.
std::array<uint8_t, 32> words_buffer(uint16_t ch0, uint16_t ch1);
