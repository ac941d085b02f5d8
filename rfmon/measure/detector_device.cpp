#include "detector_device.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// A short transfer leaves errno untouched, so perror would print whatever an
// earlier call left there; name it as an I/O error instead.
bool transferred(ssize_t got, size_t wanted) {
    if (got == static_cast<ssize_t>(wanted))
        return true;
    if (got >= 0)
        errno = EIO;
    return false;
}

double code_to_mv(uint8_t high, uint8_t low) {
    const unsigned word = (static_cast<unsigned>(high) << 8) | low;
    return static_cast<double>(word >> 4) * ADC_FULL_SCALE_MV / ADC_CODES;
}

}  // namespace

int select_device(int fd, int address) { return ioctl(fd, I2C_SLAVE, address) < 0 ? -1 : 0; }

int write_register(int fd, uint8_t reg, uint8_t value) {
    const uint8_t frame[3] = {ADS7142_OP_SINGLE_WRITE, reg, value};
    if (!transferred(write(fd, frame, sizeof frame), sizeof frame)) {
        perror("Failed to write to the i2c bus");
        return -1;
    }
    return 0;
}

int read_register(int fd, uint8_t reg) {
    const uint8_t frame[2] = {ADS7142_OP_SINGLE_READ, reg};
    if (!transferred(write(fd, frame, sizeof frame), sizeof frame)) {
        perror("Failed to set register for reading");
        return -1;
    }
    uint8_t value = 0;
    if (!transferred(read(fd, &value, 1), 1)) {
        perror("Failed to read from the i2c bus");
        return -1;
    }
    return value;
}

int read_word_data(int fd, uint8_t reg) {
    if (!transferred(write(fd, &reg, 1), 1)) {
        perror("Failed to write to the i2c bus");
        return -1;
    }
    uint8_t word[2] = {0, 0};
    if (!transferred(read(fd, word, sizeof word), sizeof word)) {
        perror("Failed to read from the i2c bus");
        return -1;
    }
    return (word[0] << 8) | word[1];
}

float convert_to_celsius(int raw) {
    int t = (raw >> 4) & 0xFFF;
    if (t & 0x800)
        t -= 4096;
    return static_cast<float>(t * 0.0625);
}

int reset_device(int fd, bool verbose) {
    if (write_register(fd, WKEY, 0x0A) != 0) {
        if (verbose)
            std::puts("Failed to write to WKEY register.");
        return -1;
    }
    if (write_register(fd, DEVICE_RESET, 0x01) != 0) {
        if (verbose)
            std::puts("Failed to write to DEVICE_RESET register.");
        return -1;
    }
    if (verbose)
        std::puts("Device reset successfully.");
    if (write_register(fd, WKEY, 0x00) != 0) {
        if (verbose)
            std::puts("Failed to write to WKEY register for safety.");
        return -1;
    }
    if (verbose)
        std::puts("WKEY register set to 0x00 for safety.");
    return 0;
}

int read_all_data_buffer_entries_by_channel(int fd, sensor_data_t* record, double* ch1_peak) {
    const uint8_t command = ADS7142_OP_READ_DATA_BUFFER;
    if (!transferred(write(fd, &command, 1), 1)) {
        perror("Failed to send read command to the i2c bus");
        return -1;
    }
    uint8_t buffer[ADS7142_DATA_BUFFER_BYTES];
    if (!transferred(read(fd, buffer, sizeof buffer), sizeof buffer)) {
        perror("Failed to read from the i2c bus");
        return -1;
    }
    // Words alternate channel 0, channel 1, high byte first.
    for (int pair = 0; pair < ADS7142_DATA_BUFFER_BYTES / 4; ++pair) {
        const uint8_t* p = buffer + pair * 4;
        const double ch0 = code_to_mv(p[0], p[1]);
        const double ch1 = code_to_mv(p[2], p[3]);
        if (ch0 > record->ch0_mv)
            record->ch0_mv = ch0;
        if (ch1 > *ch1_peak)
            *ch1_peak = ch1;
    }
    return 0;
}

int check_i2c_device(int bus, int address) {
    char path[20];
    std::snprintf(path, sizeof path, "/dev/i2c-%d", bus);
    const int fd = open(path, O_RDWR);
    if (fd < 0)
        return -1;
    if (select_device(fd, address) != 0) {
        close(fd);
        return -1;
    }
    const uint8_t probe = 0x00;
    const ssize_t written = write(fd, &probe, 1);
    close(fd);
    return written == 1 ? 0 : -1;
}
