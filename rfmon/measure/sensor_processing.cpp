#include "sensor_processing.h"

#include <cstdio>

#include "conversion_table_check.h"
#include "conversion_tables.h"
#include "detector_device.h"
#include "detector_trim.h"
#include "frequency_bands.h"
#include "sleeping.h"

namespace {

constexpr long long RETRY_PAUSE_US = 100000;

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

bool select_converter(int fd) {
    if (select_device(fd, ADS7142_ADDRESS) != 0) {
        perror("Failed to acquire bus access and/or talk to ADS7142");
        return false;
    }
    return true;
}

// Never fatal: a reading without a temperature keeps the last one.
void read_temperature(int fd, sensor_data_t* record) {
    if (select_device(fd, TEMP_SENSOR_ADDRESS) != 0) {
        std::puts("Temperature sensor not found, setting temperature to NA.");
        record->temp_valid = false;
        return;
    }
    const int word = read_word_data(fd, TEMP_POINTER_REGISTER);
    if (word < 0) {
        std::puts("Failed to read temperature data.");
        return;
    }
    record->temperature_c = convert_to_celsius(word);
    record->temp_valid = true;
    record->temp_fresh = true;
}

// A table without rows has no range to leave.
bool over_table_range(const char* band, double mv) {
    double top_mv = 0.0;
    return detector_reading_over_range(band, mv, &top_mv);
}

void start_reading(sensor_data_t* record) {
    record->sample_count = 0;
    record->ch0_mv = 0.0;
    record->ch1_mv = 0.0;
    record->ch0_dbm = 0.0;
    record->ch1_dbm = 0.0;
    record->temp_fresh = false;
    record->ch0_over_range = false;
    record->ch1_over_range = false;
}

// Reset and configuration of the ADS7142: auto sequence of both channels,
// channel number in the data words. The "retrying in 5 seconds" of these
// messages and of sample_peaks' is the monitoring loop's wait; the power
// search and the sweeps retry after 100 ms and print the same lines, which
// logs of this monitor are searched for as they are.
bool configure_converter(int fd) {
    if (!select_converter(fd))
        return false;
    if (reset_device(fd, false) != 0) {
        std::puts("Failed to reset device, retrying in 5 seconds...");
        return false;
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
        if (write_register(fd, step.reg, step.value) != 0) {
            std::puts(step.failure);
            return false;
        }
    }
    return true;
}

// `samples` conversion sequences, keeping each channel's peak.
bool sample_peaks(int fd, sensor_data_t* record, int samples, double pause_s) {
    if (!select_converter(fd))
        return false;
    const long long pause = pause_us(pause_s);
    tighten_timer_slack();
    for (int i = 0; i < samples; ++i) {
        if (write_register(fd, START_SEQUENCE, 0x01) != 0) {
            std::puts("Failed to start the conversion sequence, retrying in 5 seconds...");
            return false;
        }
        if (read_all_data_buffer_entries_by_channel(fd, record, &record->ch1_mv) != 0) {
            std::puts("Failed to read data buffer entries, retrying in 5 seconds...");
            return false;
        }
        ++record->sample_count;
        sleep_us(pause);
    }
    return true;
}

// Both peaks to dBm: channel 0 through "2.4", channel 1 through the
// frequency's band. A table that fails its check is told once; what raises
// the power refuses it before any reading.
bool convert_peaks(sensor_data_t* record, int mcs, int frequency) {
    double mv = 0.0;
    double ch0_dbm = 0.0;
    if (convert_detector_reading(&mv, &ch0_dbm, mcs, "2.4", record->ch0_mv) != 0) {
        std::puts("Failed to read CSV data for channel 0");
        return false;
    }
    const char* ch1_band = reading_band_key(frequency);
    if (ch1_band == nullptr) {
        std::fprintf(stderr, "Warning: Invalid frequency %d MHz\n", frequency);
        ch1_band = "5.8";
    }
    double ch1_dbm = 0.0;
    if (convert_detector_reading(&mv, &ch1_dbm, mcs, ch1_band, record->ch1_mv) != 0) {
        std::puts("Failed to read CSV data for channel 1");
        return false;
    }
    note_conversion_table_fault("2.4");
    note_conversion_table_fault(ch1_band);
    record->ch0_dbm = ch0_dbm;
    record->ch1_dbm = ch1_dbm;
    record->ch0_over_range = over_table_range("2.4", record->ch0_mv);
    record->ch1_over_range = over_table_range(ch1_band, record->ch1_mv);
    return true;
}

}  // namespace

int process_sensor_data(sensor_data_t* record, int fd, int mcs, int frequency, int samples,
                        double pause_s) {
    start_reading(record);
    if (!configure_converter(fd))
        return -1;
    read_temperature(fd, record);
    if (!sample_peaks(fd, record, samples, pause_s) || !convert_peaks(record, mcs, frequency))
        return -1;
    return 0;
}

bool reading_with_retry(sensor_data_t* record, int fd, int mcs, int frequency, int number,
                        const char* again_suffix) {
    if (process_sensor_data(record, fd, mcs, frequency, ADJUST_SAMPLES, ADJUST_SAMPLE_PAUSE_S) >= 0)
        return true;
    std::printf("Reading %d failed, retrying...\n", number);
    sleep_us(RETRY_PAUSE_US);
    if (process_sensor_data(record, fd, mcs, frequency, ADJUST_SAMPLES, ADJUST_SAMPLE_PAUSE_S) >= 0)
        return true;
    std::printf("Reading %d failed again%s\n", number, again_suffix);
    return false;
}
