#include "board_options.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "option_text.h"

namespace {

using Text = const std::string&;

bool bad_value(Text name, Text value, const char* what, std::string* error) {
    *error = "bad value '" + value + "' for " + name + " (" + what + ")";
    return false;
}

// A whole number in lo..hi into *out, or the option's bad-value message.
template <typename Int>
bool set_whole(Text name, Text value, long lo, long hi, const char* what, Int* out,
               std::string* error) {
    long n = 0;
    if (!parse_long(value, &n) || n < lo || n > hi) return bad_value(name, value, what, error);
    *out = static_cast<Int>(n);
    return true;
}

// ---- buses, devices and the transmitter's starting state ----

bool set_buses(BoardConfig* cfg, Text, Text value, std::string*) {
    cfg->buses_list = value;
    return true;
}

bool set_vtx_buses(BoardConfig* cfg, Text, Text value, std::string*) {
    cfg->vtx_list = value;
    return true;
}

bool set_adc_buses(BoardConfig* cfg, Text, Text value, std::string*) {
    cfg->adc_list = value, cfg->adc_list_set = true;
    return true;
}

bool set_temp_buses(BoardConfig* cfg, Text, Text value, std::string*) {
    cfg->temp_list = value, cfg->temp_list_set = true;
    return true;
}

bool set_no_temp_sensor(BoardConfig* cfg, Text, Text, std::string*) {
    cfg->no_temp_sensor = true;
    return true;
}

bool set_select_absent_fails(BoardConfig* cfg, Text, Text, std::string*) {
    cfg->select_absent_fails = true;
    return true;
}

bool set_frequency(BoardConfig* cfg, Text name, Text value, std::string* error) {
    return set_whole(name, value, 1, 100000, "MHz", &cfg->frequency, error);
}

bool set_mcs(BoardConfig* cfg, Text name, Text value, std::string* error) {
    return set_whole(name, value, 0, 31, "0..31", &cfg->mcs, error);
}

bool set_power(BoardConfig* cfg, Text name, Text value, std::string* error) {
    return set_whole(name, value, 0, 63, "0..63", &cfg->power, error);
}

// ---- the RF model and the detector ----

// "--offset-mv MV" or "--offset-mv BAND=MV".
bool set_offset(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    const size_t eq = value.find('=');
    if (eq == std::string::npos) {
        if (!parse_double(value, &d)) return bad_value(name, value, "mV", error);
        cfg->offset_mv = d;
        return true;
    }
    const std::string band = value.substr(0, eq);
    const int idx = band == "2_4" ? 0 : band == "5_1" ? 1 : band == "5_8" ? 2 : -1;
    if (idx < 0 || !parse_double(value.substr(eq + 1), &d)) return bad_value(name, value, "MV or BAND=MV", error);
    cfg->band_offset_mv[idx] = d;
    return true;
}

bool set_noise_or_idle(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    if (!parse_double(value, &d) || d < 0) return bad_value(name, value, "mV >= 0", error);
    (name == "--noise-mv" ? cfg->noise_mv : cfg->idle_mv) = d;
    return true;
}

bool set_saturate(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    if (!parse_double(value, &d) || d <= 0) return bad_value(name, value, "mV > 0", error);
    cfg->saturate_mv = d;
    return true;
}

// "--over-power LEVEL:MV".
bool set_over_power(BoardConfig* cfg, Text name, Text value, std::string* error) {
    long n = 0;
    double d = 0;
    const size_t colon = value.find(':');
    if (colon == std::string::npos || !parse_long(value.substr(0, colon), &n) || n < 1 || n > 63 ||
        !parse_double(value.substr(colon + 1), &d))
        return bad_value(name, value, "LEVEL:MV", error);
    cfg->over_power_level = static_cast<int>(n);
    cfg->over_power_mv = d;
    return true;
}

bool set_seed(BoardConfig* cfg, Text name, Text value, std::string* error) {
    long n = 0;
    if (!parse_long(value, &n) || n < 0) return bad_value(name, value, "integer >= 0", error);
    cfg->seed = static_cast<uint64_t>(n);
    return true;
}

bool set_unit(BoardConfig* cfg, Text name, Text value, std::string* error) {
    return set_whole(name, value, 0, 1000000, "0..1000000", &cfg->unit, error);
}

bool set_loss(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    if (!parse_loss_db(value, &d)) return bad_value(name, value, "dB, -40..40", error);
    (name == "--output-loss" ? cfg->output_loss_db : cfg->detector_loss_db) = d;
    return true;
}

// ---- the board's temperature ----

bool set_temp_start(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    if (!parse_double(value, &d) || d < -128 || d > 200) return bad_value(name, value, "-128..200 C", error);
    cfg->temp_start_c = d;
    return true;
}

bool set_temp_rise(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    if (!parse_double(value, &d)) return bad_value(name, value, "C", error);
    cfg->temp_rise_c = d;
    return true;
}

bool set_temp_tau(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    if (!parse_double(value, &d) || d <= 0) return bad_value(name, value, "seconds > 0", error);
    cfg->temp_tau_s = d;
    return true;
}

// "--temp-spike C@N[xK]".
bool set_spike(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    long n = 0;
    const size_t at = value.find('@');
    if (at == std::string::npos || !parse_double(value.substr(0, at), &d))
        return bad_value(name, value, "C@N[xK]", error);
    std::string rest = value.substr(at + 1);
    const size_t x = rest.find('x');
    long len = 1;
    if (x != std::string::npos) {
        if (!parse_long(rest.substr(x + 1), &len) || len < 1) return bad_value(name, value, "C@N[xK]", error);
        rest = rest.substr(0, x);
    }
    if (!parse_long(rest, &n) || n < 1) return bad_value(name, value, "C@N[xK]", error);
    cfg->spike_c = d, cfg->spike_at = n, cfg->spike_len = len;
    return true;
}

// ---- faults, time, logs, scripts and the fake tools' answers ----

bool add_fault(BoardConfig* cfg, Text, Text value, std::string* error) {
    if (cfg->fault_count >= SIM_MAX_FAULTS) {
        *error = "too many faults (at most " + std::to_string(SIM_MAX_FAULTS) + ")";
        return false;
    }
    FaultRule f;
    if (!parse_fault(value, &f, error)) return false;
    cfg->faults[cfg->fault_count++] = f;
    return true;
}

bool set_virtual_time(BoardConfig* cfg, Text, Text, std::string*) {
    cfg->virtual_time = true, cfg->time_scale = 0;
    return true;
}

bool set_time_scale(BoardConfig* cfg, Text name, Text value, std::string* error) {
    double d = 0;
    if (!parse_double(value, &d) || d < 1) return bad_value(name, value, "a speed-up >= 1", error);
    cfg->virtual_time = true, cfg->time_scale = d;
    return true;
}

bool set_log_or_state(BoardConfig* cfg, Text name, Text value, std::string* error) {
    if (value.empty()) return bad_value(name, value, "a file", error);
    (name == "--log" ? cfg->tools_log : cfg->state_path) = value;
    return true;
}

bool set_i2c_log(BoardConfig* cfg, Text, Text value, std::string*) {
    cfg->i2c_log = value;
    return true;
}

bool set_truth_log(BoardConfig* cfg, Text, Text value, std::string*) {
    cfg->truth_log = value;
    return true;
}

bool set_sleep_log(BoardConfig* cfg, Text, Text value, std::string*) {
    cfg->sleep_log = value;
    return true;
}

bool set_adc_script(BoardConfig* cfg, Text name, Text value, std::string* error) {
    return load_adc_script(value, name == "--adc-script-power", &cfg->adc_script, error);
}

bool set_tool_status(BoardConfig* cfg, Text name, Text value, std::string* error) {
    return set_whole(name, value, 0, 255, "0..255",
                     name == "--configure-status" ? &cfg->configure_status : &cfg->send_command_status,
                     error);
}

struct BoardOption {
    const char* name;
    bool takes_value;
    bool (*apply)(BoardConfig* cfg, Text name, Text value, std::string* error);
};

constexpr bool VALUE = true, FLAG = false;

// Every board option, once (sim/README.md, "Board options").
const BoardOption BOARD_OPTIONS[] = {
    {"--buses", VALUE, set_buses},
    {"--vtx-buses", VALUE, set_vtx_buses},
    {"--adc-buses", VALUE, set_adc_buses},
    {"--temp-buses", VALUE, set_temp_buses},
    {"--no-temp-sensor", FLAG, set_no_temp_sensor},
    {"--select-absent-fails", FLAG, set_select_absent_fails},
    {"--frequency", VALUE, set_frequency},
    {"--mcs", VALUE, set_mcs},
    {"--power", VALUE, set_power},
    {"--unit", VALUE, set_unit},
    {"--offset-mv", VALUE, set_offset},
    {"--noise-mv", VALUE, set_noise_or_idle},
    {"--idle-mv", VALUE, set_noise_or_idle},
    {"--saturate-mv", VALUE, set_saturate},
    {"--over-power", VALUE, set_over_power},
    {"--output-loss", VALUE, set_loss},
    {"--detector-loss", VALUE, set_loss},
    {"--seed", VALUE, set_seed},
    {"--temp-start", VALUE, set_temp_start},
    {"--temp-rise", VALUE, set_temp_rise},
    {"--temp-tau", VALUE, set_temp_tau},
    {"--temp-spike", VALUE, set_spike},
    {"--fault", VALUE, add_fault},
    {"--virtual-time", FLAG, set_virtual_time},
    {"--time-scale", VALUE, set_time_scale},
    {"--log", VALUE, set_log_or_state},
    {"--i2c-log", VALUE, set_i2c_log},
    {"--truth-log", VALUE, set_truth_log},
    {"--sleep-log", VALUE, set_sleep_log},
    {"--adc-script", VALUE, set_adc_script},
    {"--adc-script-power", VALUE, set_adc_script},
    {"--configure-status", VALUE, set_tool_status},
    {"--send-command-status", VALUE, set_tool_status},
    {"--state", VALUE, set_log_or_state},
};

const BoardOption* find_option(Text name) {
    for (const BoardOption& option : BOARD_OPTIONS) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

}  // namespace

bool board_option_has_value(const std::string& name, bool* known) {
    const BoardOption* option = find_option(name);
    *known = option != nullptr;
    return option != nullptr && option->takes_value;
}

bool apply_board_option(BoardConfig* cfg, const std::string& name, const std::string& value,
                        std::string* error) {
    const BoardOption* option = find_option(name);
    if (option == nullptr) {
        *error = "unknown board option " + name;
        return false;
    }
    return option->apply(cfg, name, value, error) && finish_board_config(cfg, error);
}

bool parse_board_options(BoardConfig* cfg, const std::vector<std::string>& args,
                         std::string* error) {
    if (!finish_board_config(cfg, error)) return false;
    for (size_t i = 0; i < args.size(); ++i) {
        bool known = false;
        bool has_value = board_option_has_value(args[i], &known);
        if (!known) {
            *error = "unknown board option " + args[i];
            return false;
        }
        std::string value;
        if (has_value) {
            if (i + 1 >= args.size()) {
                *error = "option " + args[i] + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!apply_board_option(cfg, args[i - (has_value ? 1 : 0)], value, error)) return false;
    }
    return true;
}

bool load_board_config(BoardConfig* cfg, const std::string& path, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = finish_board_config(cfg, error);
    char line[4096];
    while (ok && std::fgets(line, sizeof line, f)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (text.empty()) continue;
        size_t tab = text.find('\t');
        std::string name = text.substr(0, tab);
        std::string value = tab == std::string::npos ? "" : text.substr(tab + 1);
        ok = apply_board_option(cfg, name, value, error);
    }
    std::fclose(f);
    return ok;
}

bool save_board_config(const std::vector<std::string>& args, const std::string& path,
                       std::string* error) {
    std::string text;
    for (size_t i = 0; i < args.size(); ++i) {
        bool known = false;
        bool has_value = board_option_has_value(args[i], &known);
        if (!known) {
            *error = "unknown board option " + args[i];
            return false;
        }
        std::string value = has_value && i + 1 < args.size() ? args[i + 1] : "";
        if (value.find('\n') != std::string::npos || value.find('\t') != std::string::npos) {
            *error = "option " + args[i] + ": value holds a tab or newline";
            return false;
        }
        text += args[i] + "\t" + value + "\n";
        if (has_value) ++i;
    }
    std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot write " + tmp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}
