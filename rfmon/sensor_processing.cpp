#include "sensor_processing.h"

#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "conversion_tables.h"
#include "detector_device.h"
#include "monitor_state.h"

namespace {

constexpr int READINGS_PER_MEASUREMENT = 3;
constexpr long long POWER_SETTLE_US = 250000;
constexpr long long READING_GAP_US = 100000;
constexpr double SEARCH_TOLERANCE_DB = 0.25;
constexpr double MAX_TARGET_DBM = 30.0;
constexpr int ZERO_RULE_MIN_LEVEL = 25;
constexpr double ZERO_RULE_DBM = 0.01;
constexpr int COMMAND_BYTES = 256;

// The sample pause is 100 us; the kernel's default timer slack of 50 us
// would stretch every one of them by up to half. Per thread, so only the
// thread that takes readings is affected.
void tighten_timer_slack() {
    thread_local bool done = false;
    if (done)
        return;
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    done = true;
}

void sleep_us(long long us) {
    if (us <= 0)
        return;
    timespec left{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Seconds to whole microseconds by truncation; nonsense (negative, NaN,
// absurdly long) becomes no pause rather than a wrapped-around one.
long long pause_us(double seconds) {
    if (!(seconds > 0.0))
        return 0;
    const double us = seconds * 1e6;
    if (us >= 9.0e15)
        return 0;
    return static_cast<long long>(us);
}

// Same failure rule as the device module: short transfers are I/O errors.
bool transferred(ssize_t got, size_t wanted) {
    if (got == static_cast<ssize_t>(wanted))
        return true;
    if (got >= 0)
        errno = EIO;
    return false;
}

bool select_device(int fd, int address) {
    return ioctl(fd, I2C_SLAVE, address) >= 0;
}

bool send_register(int fd, uint8_t reg, uint8_t value) {
    const uint8_t frame[3] = {ADS7142_OP_SINGLE_WRITE, reg, value};
    if (!transferred(write(fd, frame, sizeof frame), sizeof frame)) {
        perror("Failed to write to the i2c bus");
        return false;
    }
    return true;
}

void read_temperature(int fd, sensor_data_t* record) {
    if (!select_device(fd, TEMP_SENSOR_ADDRESS)) {
        std::puts("Temperature sensor not found, setting temperature to NA.");
        record->temp_valid = false;
        return;
    }
    const uint8_t pointer = TEMP_POINTER_REGISTER;
    if (!transferred(write(fd, &pointer, 1), 1)) {
        perror("Failed to write to the i2c bus");
        std::puts("Failed to read temperature data.");
        return;
    }
    uint8_t word[2] = {0, 0};
    if (!transferred(read(fd, word, sizeof word), sizeof word)) {
        perror("Failed to read from the i2c bus");
        std::puts("Failed to read temperature data.");
        return;
    }
    record->temperature_c = convert_to_celsius((word[0] << 8) | word[1]);
    record->temp_valid = true;
}

// Band key of the channel 1 table for a frequency in MHz.
const char* reading_band(int frequency) {
    const int q = frequency / 100;
    if (q >= 50 && q <= 55)
        return "5.1";
    if (q >= 56 && q <= 59)
        return "5.8";
    if (q >= 23 && q <= 25)
        return "2.4";
    std::fprintf(stderr, "Warning: Invalid frequency %d MHz\n", frequency);
    return "5.8";
}

bool run_power_command(int level) {
    char command[COMMAND_BYTES];
    std::snprintf(command, sizeof command, "orvi-configure-vtx -p %d", level);
    std::fflush(stdout);
    return std::system(command) != -1;
}

bool is_band_2_4(double band) {
    return std::fabs(band - 2.4) < 1e-9;
}

}  // namespace

int process_sensor_data(sensor_data_t* record, int fd, int mcs, int frequency, int samples,
                        double pause_s) {
    record->sample_count = 0;
    record->ch0_mv = 0.0;
    record->ch1_mv = 0.0;
    record->ch0_dbm = 0.0;
    record->ch1_dbm = 0.0;

    if (!select_device(fd, ADS7142_ADDRESS)) {
        perror("Failed to acquire bus access and/or talk to ADS7142");
        return -1;
    }
    if (!send_register(fd, WKEY, 0x0A) || !send_register(fd, DEVICE_RESET, 0x01) ||
        !send_register(fd, WKEY, 0x00)) {
        std::puts("Failed to reset device, retrying in 5 seconds...");
        return -1;
    }
    struct {
        uint8_t reg;
        uint8_t value;
        const char* failure;
    } const configuration[] = {
        {DOUT_FORMAT_CFG, 0x02, "Failed to configure DOUT_FORMAT_CFG, retrying in 5 seconds..."},
        {CHANNEL_INPUT_CFG, 0x00,
         "Failed to configure CHANNEL_INPUT_CFG, retrying in 5 seconds..."},
        {OPMODE_SEL, 0x06, "Failed to configure OPMODE_SEL, retrying in 5 seconds..."},
        {AUTO_SEQ_CHEN, 0x03, "Failed to configure AUTO_SEQ_CHEN, retrying in 5 seconds..."},
    };
    for (const auto& step : configuration) {
        if (!send_register(fd, step.reg, step.value)) {
            std::puts(step.failure);
            return -1;
        }
    }

    read_temperature(fd, record);

    if (!select_device(fd, ADS7142_ADDRESS)) {
        perror("Failed to acquire bus access and/or talk to ADS7142");
        return -1;
    }
    const long long pause = pause_us(pause_s);
    tighten_timer_slack();
    for (int i = 0; i < samples; ++i) {
        if (!send_register(fd, START_SEQUENCE, 0x01)) {
            std::puts("Failed to start the conversion sequence, retrying in 5 seconds...");
            return -1;
        }
        if (read_all_data_buffer_entries_by_channel(fd, record, &record->ch1_mv) != 0) {
            std::puts("Failed to read data buffer entries, retrying in 5 seconds...");
            return -1;
        }
        ++record->sample_count;
        sleep_us(pause);
    }

    double mv = 0.0;
    double ch0_dbm = 0.0;
    if (read_csv_data_cached(&mv, &ch0_dbm, mcs, "2.4", record->ch0_mv) != 0) {
        std::puts("Failed to read CSV data for channel 0");
        return -1;
    }
    double ch1_dbm = 0.0;
    if (read_csv_data_cached(&mv, &ch1_dbm, mcs, reading_band(frequency), record->ch1_mv) != 0) {
        std::puts("Failed to read CSV data for channel 1");
        return -1;
    }
    record->ch0_dbm = ch0_dbm;
    record->ch1_dbm = ch1_dbm;
    return 0;
}

void read_vtx_config(int* mcs, int* frequency) {
    *mcs = g_global_mcs;
    *frequency = g_global_frequency;
    if (*mcs == 0 && *frequency == 0) {
        *mcs = -9999;
        *frequency = -9999;
    }
}

bool is_valid_power_level(int level) {
    return level >= POWER_LEVEL_MIN && level <= POWER_LEVEL_MAX;
}

double apply_power_and_read_dbm(int fd, int level, sensor_data_t* record, double band) {
    if (!is_valid_power_level(level)) {
        std::fprintf(stderr, "Invalid power level %d. Must be between %d and %d.\n", level,
                     POWER_LEVEL_MIN, POWER_LEVEL_MAX);
        return -1.0;
    }
    if (!run_power_command(level)) {
        perror("Failed to set power level");
        return -1.0;
    }
    const bool channel0 = is_band_2_4(band);
    sleep_us(POWER_SETTLE_US);
    std::printf("Taking reading %d of %d...\n", 1, READINGS_PER_MEASUREMENT);

    double values[READINGS_PER_MEASUREMENT];
    int count = 0;
    for (int j = 1; j <= READINGS_PER_MEASUREMENT; ++j) {
        int mcs = 0;
        int frequency = 0;
        read_vtx_config(&mcs, &frequency);
        int result =
            process_sensor_data(record, fd, mcs, frequency, ADJUST_SAMPLES, ADJUST_SAMPLE_PAUSE_S);
        if (result < 0) {
            std::printf("Reading %d failed, retrying...\n", j);
            sleep_us(READING_GAP_US);
            result = process_sensor_data(record, fd, mcs, frequency, ADJUST_SAMPLES,
                                         ADJUST_SAMPLE_PAUSE_S);
            if (result < 0)
                std::printf("Reading %d failed again!\n", j);
        }
        if (result >= 0) {
            const double value = channel0 ? record->ch0_dbm : record->ch1_dbm;
            values[count++] = value;
            std::printf("Reading %d complete: %.2f dBm\n", j, value);
        }
        if (j < READINGS_PER_MEASUREMENT) {
            std::printf("Taking reading %d of %d...\n", j + 1, READINGS_PER_MEASUREMENT);
            sleep_us(READING_GAP_US);
        }
    }

    if (count == 0) {
        std::puts("All readings failed or were skipped!");
        return -1.0;
    }
    double result = 0.0;
    if (count < READINGS_PER_MEASUREMENT) {
        double sum = 0.0;
        for (int i = 0; i < count; ++i) sum += values[i];
        result = sum / count;
        std::printf("Got %d valid readings out of %d expected\n", count, READINGS_PER_MEASUREMENT);
        std::printf("Using average of valid readings: %.2f dBm\n", result);
    } else {
        double a = values[0], b = values[1], c = values[2];
        if (a > b)
            std::swap(a, b);
        if (b > c)
            std::swap(b, c);
        if (a > b)
            std::swap(a, b);
        result = b;
        std::printf("Using median value: %.2f dBm\n", result);
    }
    if (channel0) {
        record->ch0_dbm = result;
    } else {
        record->ch1_dbm = result;
    }
    return result;
}

namespace {

struct search_state_t {
    double target;
    double band;
    int best;
    double best_difference;
};

// One step of the search: measure, report, keep the best so far, and judge.
enum class probe_outcome { keep_going, within_tolerance, zero_reading };

probe_outcome probe_level(int fd, sensor_data_t* record, search_state_t* s, int level,
                          double* measured) {
    const double result = apply_power_and_read_dbm(fd, level, record, s->band);
    *measured = result;
    std::printf("Testing power level %d -> %.1f dBm\n", level, result);
    if (level > ZERO_RULE_MIN_LEVEL && std::fabs(result) < ZERO_RULE_DBM) {
        return probe_outcome::zero_reading;
    }
    const double difference = std::fabs(result - s->target);
    if (difference < s->best_difference) {
        std::printf("New best power level found: %d (%.1f dBm, %.1f from target)\n", level, result,
                    difference);
        s->best = level;
        s->best_difference = difference;
    }
    if (difference <= SEARCH_TOLERANCE_DB) {
        std::puts("Found power level within tolerance!");
        return probe_outcome::within_tolerance;
    }
    return probe_outcome::keep_going;
}

void finish_search(int level, bool* adjust_power, int* current_power) {
    *current_power = level;
    if (!run_power_command(level)) {
        perror("Failed to set optimal power level");
    } else {
        std::printf("Optimal power level found: %d\n", level);
    }
    *adjust_power = false;
}

void finish_zero_reading(int level, bool* adjust_power, int* current_power) {
    std::printf("Detected 0 dBm reading at high power level %d\n", level);
    std::puts("This indicates potential signal issues - using minimum power for safety");
    std::puts(
        "Binary search complete. Best power level found: 1 (selecting minimum power due to "
        "zero readings at high power)");
    finish_search(POWER_LEVEL_MIN, adjust_power, current_power);
}

}  // namespace

void set_dBm(int fd, sensor_data_t* record, bool* adjust_power, int* current_power,
             double desired_dbm, double frequency) {
    // Integer part of the frequency; anything unrepresentable has no band.
    const int q = (frequency > -1e9 && frequency < 1e9) ? static_cast<int>(frequency) / 100 : 0;
    double band = 0.0;
    if (q >= 23 && q <= 25) {
        band = 2.4;
    } else if (q >= 50 && q <= 52) {
        band = 5.1;
    } else if (q >= 57 && q <= 59) {
        band = 5.8;
    } else {
        std::fprintf(stderr, "Error: Invalid frequency band. Must be 2.4, 5.1, or 5.8 GHz band.\n");
        *adjust_power = false;
        return;
    }

    double target = std::round(desired_dbm * 4.0) / 4.0;
    if (target > MAX_TARGET_DBM) {
        std::fprintf(stderr, "Desired dBm is too high. Capping to 30 dBm.\n");
        target = MAX_TARGET_DBM;
    } else if (target < 0.0) {
        std::fprintf(stderr, "Desired dBm is too low. Setting it to 0.\n");
        target = 0.0;
    }

    std::printf(
        "Searching for optimal power level (range: %d-%d) to achieve %.2f dBm at %.1f "
        "GHz...\n",
        POWER_LEVEL_MIN, POWER_LEVEL_MAX, target, band);
    std::puts("Starting binary search for power level...");
    std::printf("Target dBm: %.1f\n", target);

    search_state_t s{target, band, -1, INFINITY};
    int low = POWER_LEVEL_MIN;
    int high = POWER_LEVEL_MAX;
    bool linear = false;
    while (true) {
        const int mid = low + (high - low) / 2;
        double result = 0.0;
        const probe_outcome outcome = probe_level(fd, record, &s, mid, &result);
        if (outcome == probe_outcome::zero_reading) {
            finish_zero_reading(mid, adjust_power, current_power);
            return;
        }
        if (outcome == probe_outcome::within_tolerance) {
            finish_search(mid, adjust_power, current_power);
            return;
        }
        if (target > result) {
            low = mid + 1;
            std::printf("dBm too low, searching higher range (%d to %d)\n", low, high);
        } else {
            high = mid - 1;
            std::printf("dBm too high, searching lower range (%d to %d)\n", low, high);
        }
        if (high < low)
            break;
        if (high - low <= 1) {
            linear = true;
            break;
        }
    }
    if (linear) {
        for (int level = low; level <= high; ++level) {
            double result = 0.0;
            const probe_outcome outcome = probe_level(fd, record, &s, level, &result);
            if (outcome == probe_outcome::zero_reading) {
                finish_zero_reading(level, adjust_power, current_power);
                return;
            }
            if (outcome == probe_outcome::within_tolerance) {
                finish_search(level, adjust_power, current_power);
                return;
            }
        }
    }

    std::printf("Binary search complete. Best power level found: %d\n", s.best);
    if (s.best < 0) {
        std::fprintf(stderr, "Failed to find optimal power level.\n");
        *adjust_power = false;
        return;
    }
    finish_search(s.best, adjust_power, current_power);
}
