#include "board_config.h"

#include <cstring>

#include "option_text.h"

namespace {

bool parse_bus_list(const std::string& text, int max_bus, bool* table, std::string* error) {
    for (int i = 0; i <= max_bus; ++i) table[i] = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(pos, comma - pos);
        long bus = -1;
        if (!parse_long(item, &bus) || bus < 0 || bus > max_bus) {
            *error = "bad bus number '" + item + "' (0.." + std::to_string(max_bus) + ")";
            return false;
        }
        table[bus] = true;
        pos = comma + 1;
    }
    return true;
}

}  // namespace

bool finish_board_config(BoardConfig* cfg, std::string* error) {
    bool vtx[SIM_MAX_DEVICE_BUS + 1];
    if (!parse_bus_list(cfg->buses_list, SIM_MAX_BUS, cfg->bus_exists, error)) return false;
    if (!parse_bus_list(cfg->vtx_list, SIM_MAX_DEVICE_BUS, vtx, error)) return false;
    if (cfg->adc_list_set) {
        if (!parse_bus_list(cfg->adc_list, SIM_MAX_DEVICE_BUS, cfg->adc_on, error)) return false;
    } else {
        std::memcpy(cfg->adc_on, vtx, sizeof vtx);
    }
    if (cfg->temp_list_set) {
        if (!parse_bus_list(cfg->temp_list, SIM_MAX_DEVICE_BUS, cfg->temp_on, error)) return false;
    } else {
        std::memcpy(cfg->temp_on, vtx, sizeof vtx);
    }
    for (int b = 0; b <= SIM_MAX_DEVICE_BUS; ++b) {
        if (cfg->no_temp_sensor) cfg->temp_on[b] = false;
        if (cfg->adc_on[b] || cfg->temp_on[b]) cfg->bus_exists[b] = true;
    }
    return true;
}

bool parse_loss_db(const std::string& text, double* out) {
    double d = 0;
    if (!parse_double(text, &d) || d < -SIM_MAX_LOSS_DB || d > SIM_MAX_LOSS_DB) return false;
    *out = d;
    return true;
}
