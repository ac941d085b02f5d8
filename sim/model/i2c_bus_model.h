// The simulated I2C buses: which devices answer where, what each transfer
// does to the ADS7142 and the temperature sensor, and where faults strike.
// Every function returns a byte count or 0 on success, -errno on failure.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "board_config.h"
#include "board_state.h"
#include "rf_model.h"

struct SimBoard {
    BoardConfig cfg;
    BoardShared* state = nullptr;
    RfUnit unit = rf_unit(0);
    // Per process, under the board lock.
    uint64_t noise_counter = 0;
    long fault_seen[SIM_MAX_FAULTS] = {};
    long fault_injected[SIM_MAX_FAULTS] = {};
    long temp_reads = 0;
    long scripted_reads = 0;  // data-buffer reads answered from the ADC script
    int log_fd = -1;
    int truth_fd = -1;
    int sleep_fd = -1;
};

// The unit's drift as the board state holds it now.
RfDrift board_drift(const BoardShared* state);

bool bus_device_present(const SimBoard& board, int bus, int addr);

int bus_select(SimBoard* board, int bus, int addr);
ssize_t bus_write(SimBoard* board, int bus, int addr, const uint8_t* data, size_t n);
ssize_t bus_read(SimBoard* board, int bus, int addr, uint8_t* data, size_t n);

// SMBus transfer as the I2C_SMBUS ioctl carries it; `data` points to the
// kernel's union i2c_smbus_data (34 bytes).
int bus_smbus(SimBoard* board, int bus, int addr, int read_write, uint8_t command, uint32_t size,
              uint8_t* data);

// Real CLOCK_MONOTONIC in ns, bypassing any interposed clock.
int64_t real_monotonic_ns();
