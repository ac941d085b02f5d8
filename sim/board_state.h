// The board's shared state: transmitter settings, thermal model, device
// registers and the virtual clock offset. It lives in a file mapped by every
// process on the board, so the fake tools, the program under test, its
// children and the publisher all see one board.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "board_config.h"

constexpr uint32_t SIM_STATE_MAGIC = 0x4D495342;  // "BSIM"
constexpr uint32_t SIM_STATE_VERSION = 1;

enum AdcReadMode : uint8_t { ADC_READ_NONE = 0, ADC_READ_REGISTER = 1, ADC_READ_BUFFER = 2 };

struct SimAdcState {
    uint8_t regs[256];
    uint8_t buffer[32];
    uint8_t read_mode;
    uint8_t read_reg;
    uint8_t buffer_filled;
};

struct SimTempSensorState {
    uint8_t pointer;
};

struct BoardShared {
    uint32_t magic;
    uint32_t version;
    pthread_mutex_t lock;  // robust, process-shared: guards everything not atomic
    std::atomic<int64_t> virtual_ns;
    std::atomic<int32_t> frequency;
    std::atomic<int32_t> mcs;
    std::atomic<int32_t> power;
    std::atomic<int32_t> stop_test;
    double temperature_c;
    int64_t temperature_at_ns;  // board monotonic time of temperature_c
    SimAdcState adc[SIM_MAX_DEVICE_BUS + 1];
    SimTempSensorState temp[SIM_MAX_DEVICE_BUS + 1];
};

// Creates (or replaces) the state file for a fresh board.
bool create_board_state(const BoardConfig& cfg, std::string* error);

// Maps the state file; when it does not exist, a process-local state set up
// from cfg stands in, so a lone process still behaves like a board.
BoardShared* attach_board_state(const BoardConfig& cfg);

void lock_board(BoardShared* s);
void unlock_board(BoardShared* s);

// Monotonic time of the board in ns: the real CLOCK_MONOTONIC plus the
// virtual offset. `real_now_ns` is the caller's reading of the real clock.
int64_t board_now_ns(const BoardShared* s, int64_t real_now_ns);

// Brings the thermal model up to `now_ns` at the current power index and
// returns the temperature. Call before changing the power.
double update_temperature(BoardShared* s, const BoardConfig& cfg, int64_t now_ns);
// The same with the board lock already held.
double update_temperature_locked(BoardShared* s, const BoardConfig& cfg, int64_t now_ns);

// Registers after a device reset.
void reset_adc(SimAdcState* adc);
