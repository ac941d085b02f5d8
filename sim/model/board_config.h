// What the simulated board looks like: buses, devices, RF and thermal model
// settings, faults and time mode. Set from the board's options
// (board_options.h) and kept in a small text file that every process on the
// board reads.
#pragma once

#include <cstdint>
#include <string>

#include "adc_script.h"
#include "fault_vocabulary.h"

constexpr int SIM_MAX_BUS = 255;        // /dev/i2c-0 .. /dev/i2c-255 are simulated paths
constexpr int SIM_MAX_DEVICE_BUS = 31;  // devices may sit on buses 0..31
constexpr int SIM_MAX_FAULTS = 16;

struct BoardConfig {
    // As given; turned into the tables below once all options are in.
    std::string buses_list = "0,1";
    std::string vtx_list = "1";
    std::string adc_list, temp_list;
    bool adc_list_set = false, temp_list_set = false, no_temp_sensor = false;

    bool bus_exists[SIM_MAX_BUS + 1] = {};
    bool adc_on[SIM_MAX_DEVICE_BUS + 1] = {};
    bool temp_on[SIM_MAX_DEVICE_BUS + 1] = {};
    bool select_absent_fails = false;

    int frequency = 5805;
    int mcs = 3;
    int power = 20;

    double offset_mv = 0;
    double band_offset_mv[3] = {0, 0, 0};  // 2_4, 5_1, 5_8
    double noise_mv = 1.0;
    double idle_mv = 2.0;
    double saturate_mv = 1750.0;
    int over_power_level = 0;  // 0: off
    double over_power_mv = 0;
    uint64_t seed = 1;
    int unit = 0;  // 0: the typical unit; others are drawn (rf_unit)
    double output_loss_db = 0;    // at the start; the board state holds the current ones
    double detector_loss_db = 0;

    double temp_start_c = 35.0;
    double temp_rise_c = 30.0;
    double temp_tau_s = 60.0;
    double spike_c = 0;
    long spike_at = 0;  // 0: off
    long spike_len = 1;

    FaultRule faults[SIM_MAX_FAULTS];
    int fault_count = 0;

    bool virtual_time = false;
    double time_scale = 0;  // 0: sleeps take no real time

    std::string tools_log = "/run/orvi-sim/tools.log";
    std::string i2c_log;
    std::string truth_log;  // what the RF model put out, for tests and benchmarks
    std::string sleep_log;  // every virtual sleep, for tests
    AdcScript adc_script;   // empty: the RF model fills the buffer
    std::string state_path = "/run/orvi-sim/board.shm";
    int configure_status = 0;
    int send_command_status = 0;
};

// Losses (and, negative, gains) a unit may take after calibration, dB.
constexpr double SIM_MAX_LOSS_DB = 40;

// A loss within +-SIM_MAX_LOSS_DB dB; false when the text is not one.
bool parse_loss_db(const std::string& text, double* out);

// Works the bus and device tables out of the lists as given; false with a
// message in *error. Every option applied calls it again.
bool finish_board_config(BoardConfig* cfg, std::string* error);

// Environment variable naming the config file of the board.
constexpr const char* SIM_BOARD_ENV = "ORVI_SIM_BOARD";
