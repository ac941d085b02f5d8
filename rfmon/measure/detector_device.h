// Byte-level access to the ADS7142 detector ADC (0x1D) and the temperature
// sensor (0x48) over a Linux I2C character device. Every I2C transaction of
// orvi-rfmon goes through these functions; a short transfer is a failure.
#pragma once

#include <cstdint>

#include "sensor_data.h"

constexpr int ADS7142_ADDRESS = 0x1D;
constexpr int TEMP_SENSOR_ADDRESS = 0x48;

// ADS7142 opcodes and registers.
constexpr uint8_t ADS7142_OP_SINGLE_WRITE = 0x08;
constexpr uint8_t ADS7142_OP_SINGLE_READ = 0x10;
constexpr uint8_t ADS7142_OP_READ_DATA_BUFFER = 0x3B;
constexpr uint8_t WKEY = 0x17;
constexpr uint8_t DEVICE_RESET = 0x14;
constexpr uint8_t OPMODE_SEL = 0x1C;
constexpr uint8_t START_SEQUENCE = 0x1E;
constexpr uint8_t AUTO_SEQ_CHEN = 0x20;
constexpr uint8_t CHANNEL_INPUT_CFG = 0x24;
constexpr uint8_t DOUT_FORMAT_CFG = 0x28;

constexpr int ADS7142_DATA_BUFFER_BYTES = 32;
constexpr double ADC_FULL_SCALE_MV = 1800.0;
constexpr double ADC_CODES = 4096.0;
constexpr uint8_t TEMP_POINTER_REGISTER = 0x00;

// Points the descriptor at `address` (I2C_SLAVE); 0, or -1 with errno set
// and nothing printed (the callers word the failure).
int select_device(int fd, int address);
int write_register(int fd, uint8_t reg, uint8_t value);
int read_register(int fd, uint8_t reg);
int read_word_data(int fd, uint8_t reg);
float convert_to_celsius(int raw);
int reset_device(int fd, bool verbose);
int read_all_data_buffer_entries_by_channel(int fd, sensor_data_t* record, double* ch1_peak);
// 0 when `address` on bus `bus` takes a one-byte write. Bus detection runs
// i2cdetect instead, so that a bus holds the devices exactly when
// i2cdetect shows them; this probe stays with the device functions for
// checking one device by hand.
int check_i2c_device(int bus, int address);
