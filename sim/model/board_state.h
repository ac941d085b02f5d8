// The board's shared state: transmitter settings, thermal model, device
// registers and the virtual clock offset. It lives in a file mapped by every
// process on the board, so the fake tools, the program under test, its
// children and the publisher all see one board.
//
// The record is shared between processes of different architectures (an
// emulated aarch64 program and the native tools), so it holds only
// fixed-size integers, doubles and lock-free atomics of them: no type whose
// layout belongs to one C library's ABI. The static_asserts below pin it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "board_config.h"

constexpr uint32_t SIM_STATE_MAGIC = 0x4D495342;  // "BSIM"
constexpr uint32_t SIM_STATE_VERSION = 3;

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
    // Guards everything not atomic: 0 when free, else the holder's process id,
    // with BOARD_LOCK_WAITERS set while someone sleeps on it (futex word).
    std::atomic<uint32_t> lock;
    uint32_t reserved;
    std::atomic<int64_t> virtual_ns;
    std::atomic<int32_t> frequency;
    std::atomic<int32_t> mcs;
    std::atomic<int32_t> power;
    std::atomic<int32_t> stop_test;
    double temperature_c;
    int64_t temperature_at_ns;  // board monotonic time of temperature_c
    SimAdcState adc[SIM_MAX_DEVICE_BUS + 1];
    SimTempSensorState temp[SIM_MAX_DEVICE_BUS + 1];
    // How far the unit has drifted since it was calibrated (dB, positive a
    // loss): orvi-sim-ctl degrade changes them while programs run.
    std::atomic<double> output_loss_db;
    std::atomic<double> detector_loss_db;
};

constexpr uint32_t BOARD_LOCK_WAITERS = 0x80000000u;

static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free &&
                  std::atomic<int64_t>::is_always_lock_free && std::atomic<double>::is_always_lock_free,
              "the board's atomics must be plain words that another process can share");
static_assert(sizeof(std::atomic<int64_t>) == 8 && alignof(std::atomic<int64_t>) == 8 &&
                  sizeof(std::atomic<double>) == 8 && alignof(std::atomic<double>) == 8 &&
                  sizeof(double) == 8 && alignof(double) == 8,
              "8-byte fields must have one size and alignment on every board architecture");
static_assert(sizeof(SimAdcState) == 291 && sizeof(SimTempSensorState) == 1,
              "device state is plain bytes");
static_assert(offsetof(BoardShared, lock) == 8 && offsetof(BoardShared, virtual_ns) == 16 &&
                  offsetof(BoardShared, frequency) == 24 && offsetof(BoardShared, stop_test) == 36 &&
                  offsetof(BoardShared, temperature_c) == 40 &&
                  offsetof(BoardShared, temperature_at_ns) == 48 && offsetof(BoardShared, adc) == 56 &&
                  offsetof(BoardShared, temp) == 56 + 32 * 291 &&
                  offsetof(BoardShared, output_loss_db) == 9400 &&
                  offsetof(BoardShared, detector_loss_db) == 9408 && sizeof(BoardShared) == 9416,
              "the shared board record must have the same layout on every architecture");

// Creates (or replaces) the state file for a fresh board.
bool create_board_state(const BoardConfig& cfg, std::string* error);

// Maps the state file; when it does not exist, a process-local state set up
// from cfg stands in, so a lone process still behaves like a board. *shared
// (when given) tells which of the two it is.
BoardShared* attach_board_state(const BoardConfig& cfg, bool* shared = nullptr);

// The board lock. A holder that dies (killed in the middle of a transfer)
// does not wedge the board: a waiter finds the holder gone and takes the
// lock over; the guarded data is at worst half-way through one update.
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
