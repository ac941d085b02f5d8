// Converter words that replace the RF model's (`--adc-script` and
// `--adc-script-power`): either handed out in order, one buffer per
// data-buffer read, or chosen by the transmitter's power index.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int SIM_ADC_BUFFER_BYTES = 32;  // one data-buffer read: sixteen words
constexpr int SIM_MAX_POWER_INDEX = 63;

struct AdcScript {
    std::vector<std::array<uint8_t, SIM_ADC_BUFFER_BYTES>> in_order;
    std::array<uint8_t, SIM_ADC_BUFFER_BYTES> by_power[SIM_MAX_POWER_INDEX + 1] = {};
    bool power_listed[SIM_MAX_POWER_INDEX + 1] = {};
    bool keyed_by_power = false;
};

// Lines of buffers, or (by_power) of a power index and its buffer; '#'
// starts a comment. False with a message in *error.
bool load_adc_script(const std::string& path, bool by_power, AdcScript* script, std::string* error);
