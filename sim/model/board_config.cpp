#include "board_config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool parse_long(const std::string& text, long* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

bool parse_double(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

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

bool parse_fault_kind(const std::string& text, uint32_t* kind) {
    static const struct {
        const char* name;
        uint32_t kind;
    } kinds[] = {
        {"any", FK_ANY},           {"select", FK_SELECT},         {"write", FK_WRITE},
        {"read", FK_READ},         {"smbus", FK_SMBUS},           {"reg-write", FK_REG_WRITE},
        {"reg-read", FK_REG_READ}, {"reset", FK_RESET},           {"seq-start", FK_SEQ_START},
        {"buffer-cmd", FK_BUFFER_CMD}, {"buffer-read", FK_BUFFER_READ},
        {"temp-write", FK_TEMP_WRITE}, {"temp-read", FK_TEMP_READ},
        {"transfer", FK_TRANSFER},
    };
    for (const auto& k : kinds) {
        if (text == k.name) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

// KIND[@ADDR]:ACTION[:WHEN[,count=M]]
bool parse_fault(const std::string& text, FaultSpec* fault, std::string* error) {
    *error = "bad fault '" + text + "' (KIND[@ADDR]:ACTION[:WHEN])";
    size_t c1 = text.find(':');
    if (c1 == std::string::npos) return false;
    size_t c2 = text.find(':', c1 + 1);
    std::string kind_part = text.substr(0, c1);
    std::string action = text.substr(c1 + 1, c2 == std::string::npos ? std::string::npos
                                                                       : c2 - c1 - 1);
    std::string when = c2 == std::string::npos ? "" : text.substr(c2 + 1);

    size_t at = kind_part.find('@');
    if (at != std::string::npos) {
        long addr = -1;
        if (!parse_long(kind_part.substr(at + 1), &addr) || addr < 0 || addr > 0x7F) return false;
        fault->address = static_cast<int>(addr);
        kind_part = kind_part.substr(0, at);
    }
    if (!parse_fault_kind(kind_part, &fault->kind)) return false;

    if (action == "nak") fault->action = FaultAction::Nak;
    else if (action == "enxio") fault->action = FaultAction::Enxio;
    else if (action == "short") fault->action = FaultAction::Short;
    else if (action == "hang") fault->action = FaultAction::Hang;
    else return false;
    if (fault->action == FaultAction::Short && (fault->kind & (FK_SELECT | FK_SMBUS))) {
        *error = "bad fault '" + text + "': select and smbus transactions cannot be short";
        return false;
    }

    fault->when = FaultWhen::Always;
    size_t pos = 0;
    while (pos < when.size()) {
        size_t comma = when.find(',', pos);
        if (comma == std::string::npos) comma = when.size();
        std::string item = when.substr(pos, comma - pos);
        size_t eq = item.find('=');
        if (eq == std::string::npos) return false;
        std::string key = item.substr(0, eq), val = item.substr(eq + 1);
        if (key == "rate") {
            if (!parse_double(val, &fault->rate) || fault->rate < 0 || fault->rate > 1) return false;
            fault->when = FaultWhen::Rate;
        } else {
            long n = 0;
            if (!parse_long(val, &n) || n < 1) return false;
            if (key == "at") fault->when = FaultWhen::At, fault->n = n;
            else if (key == "from") fault->when = FaultWhen::From, fault->n = n;
            else if (key == "every") fault->when = FaultWhen::Every, fault->n = n;
            else if (key == "count") fault->count = n;
            else return false;
        }
        pos = comma + 1;
    }
    error->clear();
    return true;
}

// A buffer line: sixteen hex words, or two (channel 0, channel 1) that
// repeat eight times.
bool parse_buffer_words(const std::string& text, std::array<uint8_t, SIM_ADC_BUFFER_BYTES>* out) {
    std::vector<long> words;
    size_t pos = 0;
    while ((pos = text.find_first_not_of(" \t", pos)) != std::string::npos) {
        size_t end = text.find_first_of(" \t", pos);
        std::string word = text.substr(pos, end - pos);
        char* stop = nullptr;
        long w = std::strtol(word.c_str(), &stop, 16);
        if (*stop != '\0' || w < 0 || w > 0xFFFF) return false;
        words.push_back(w);
        pos = end;
    }
    if (words.size() != 2 && words.size() != 16) return false;
    for (size_t i = 0; i < 16; ++i) {
        long w = words.size() == 2 ? words[i % 2] : words[i];
        (*out)[2 * i] = static_cast<uint8_t>(w >> 8);
        (*out)[2 * i + 1] = static_cast<uint8_t>(w & 0xFF);
    }
    return true;
}

// Lines of buffers (`--adc-script`) or of a power index and its buffer
// (`--adc-script-power`); '#' starts a comment.
bool load_adc_script(const std::string& path, bool by_power, AdcScript* script,
                     std::string* error) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f) {
        *error = "cannot read ADC script " + path + ": " + std::strerror(errno);
        return false;
    }
    *script = AdcScript{};
    script->keyed_by_power = by_power;
    char line[1024];
    int number = 0;
    bool ok = true;
    while (ok && std::fgets(line, sizeof line, f)) {
        ++number;
        std::string text(line);
        text = text.substr(0, text.find_first_of("#\n"));
        if (text.find_first_not_of(" \t") == std::string::npos) continue;
        std::array<uint8_t, SIM_ADC_BUFFER_BYTES> buffer{};
        long power = -1;
        if (by_power) {
            size_t start = text.find_first_not_of(" \t");
            size_t space = text.find_first_of(" \t", start);
            ok = space != std::string::npos &&
                 parse_long(text.substr(start, space - start), &power) && power >= 0 &&
                 power <= SIM_MAX_POWER_INDEX && !script->power_listed[power];
            if (ok) text = text.substr(space);
        }
        ok = ok && parse_buffer_words(text, &buffer);
        if (!ok) break;
        if (by_power) {
            script->by_power[power] = buffer;
            script->power_listed[power] = true;
        } else {
            script->in_order.push_back(buffer);
        }
    }
    std::fclose(f);
    if (!ok) {
        *error = path + ":" + std::to_string(number) +
                 (by_power ? ": expected a power index (0..63, once) and 2 or 16 hex words"
                           : ": expected 2 or 16 hex words (0..ffff)");
        return false;
    }
    if (!by_power && script->in_order.empty()) {
        *error = "ADC script " + path + " holds no buffer";
        return false;
    }
    return true;
}

bool finalize(BoardConfig* cfg, std::string* error) {
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

}  // namespace

bool parse_loss_db(const std::string& text, double* out) {
    double d = 0;
    if (!parse_double(text, &d) || d < -SIM_MAX_LOSS_DB || d > SIM_MAX_LOSS_DB) return false;
    *out = d;
    return true;
}

bool board_option_has_value(const std::string& name, bool* known) {
    static const char* const flags[] = {"--no-temp-sensor", "--select-absent-fails",
                                        "--virtual-time"};
    static const char* const valued[] = {
        "--buses", "--vtx-buses", "--adc-buses", "--temp-buses", "--frequency", "--mcs",
        "--power", "--offset-mv", "--noise-mv", "--idle-mv", "--saturate-mv", "--over-power",
        "--seed", "--temp-start", "--temp-rise", "--temp-tau", "--temp-spike", "--fault",
        "--time-scale", "--log", "--i2c-log", "--configure-status", "--send-command-status",
        "--state", "--unit", "--truth-log", "--sleep-log", "--adc-script",
        "--adc-script-power", "--output-loss", "--detector-loss"};
    for (const char* f : flags) {
        if (name == f) return *known = true, false;
    }
    for (const char* v : valued) {
        if (name == v) return *known = true, true;
    }
    *known = false;
    return false;
}

namespace {

// Each group's option handler: TAKEN, FAILED (with *error), or NOT_MINE.
enum option_result_t { TAKEN, FAILED, NOT_MINE };

option_result_t bad_board_value(const std::string& name, const std::string& value, const char* what,
                                std::string* error) {
    *error = "bad value '" + value + "' for " + name + " (" + what + ")";
    return FAILED;
}

// Buses, devices and the transmitter's starting state.
option_result_t apply_bus_option(BoardConfig* cfg, const std::string& name, const std::string& value,
                                 std::string* error) {
    long n = 0;
    if (name == "--buses") {
        cfg->buses_list = value;
    } else if (name == "--vtx-buses") {
        cfg->vtx_list = value;
    } else if (name == "--adc-buses") {
        cfg->adc_list = value, cfg->adc_list_set = true;
    } else if (name == "--temp-buses") {
        cfg->temp_list = value, cfg->temp_list_set = true;
    } else if (name == "--no-temp-sensor") {
        cfg->no_temp_sensor = true;
    } else if (name == "--select-absent-fails") {
        cfg->select_absent_fails = true;
    } else if (name == "--frequency") {
        if (!parse_long(value, &n) || n < 1 || n > 100000) return bad_board_value(name, value, "MHz", error);
        cfg->frequency = static_cast<int>(n);
    } else if (name == "--mcs") {
        if (!parse_long(value, &n) || n < 0 || n > 31) return bad_board_value(name, value, "0..31", error);
        cfg->mcs = static_cast<int>(n);
    } else if (name == "--power") {
        if (!parse_long(value, &n) || n < 0 || n > 63) return bad_board_value(name, value, "0..63", error);
        cfg->power = static_cast<int>(n);
    } else {
        return NOT_MINE;
    }
    return TAKEN;
}

// "--offset-mv MV" or "--offset-mv BAND=MV".
option_result_t apply_offset(BoardConfig* cfg, const std::string& name, const std::string& value,
                             std::string* error) {
    double d = 0;
    const size_t eq = value.find('=');
    if (eq == std::string::npos) {
        if (!parse_double(value, &d)) return bad_board_value(name, value, "mV", error);
        cfg->offset_mv = d;
        return TAKEN;
    }
    const std::string band = value.substr(0, eq);
    const int idx = band == "2_4" ? 0 : band == "5_1" ? 1 : band == "5_8" ? 2 : -1;
    if (idx < 0 || !parse_double(value.substr(eq + 1), &d)) return bad_board_value(name, value, "MV or BAND=MV", error);
    cfg->band_offset_mv[idx] = d;
    return TAKEN;
}

// The RF model and the detector: the unit, offsets, noise, losses.
option_result_t apply_rf_option(BoardConfig* cfg, const std::string& name, const std::string& value,
                                std::string* error) {
    long n = 0;
    double d = 0;
    if (name == "--offset-mv") return apply_offset(cfg, name, value, error);
    if (name == "--noise-mv" || name == "--idle-mv") {
        if (!parse_double(value, &d) || d < 0) return bad_board_value(name, value, "mV >= 0", error);
        (name == "--noise-mv" ? cfg->noise_mv : cfg->idle_mv) = d;
    } else if (name == "--saturate-mv") {
        if (!parse_double(value, &d) || d <= 0) return bad_board_value(name, value, "mV > 0", error);
        cfg->saturate_mv = d;
    } else if (name == "--over-power") {
        const size_t colon = value.find(':');
        if (colon == std::string::npos || !parse_long(value.substr(0, colon), &n) || n < 1 || n > 63 ||
            !parse_double(value.substr(colon + 1), &d))
            return bad_board_value(name, value, "LEVEL:MV", error);
        cfg->over_power_level = static_cast<int>(n);
        cfg->over_power_mv = d;
    } else if (name == "--seed") {
        if (!parse_long(value, &n) || n < 0) return bad_board_value(name, value, "integer >= 0", error);
        cfg->seed = static_cast<uint64_t>(n);
    } else if (name == "--unit") {
        if (!parse_long(value, &n) || n < 0 || n > 1000000) return bad_board_value(name, value, "0..1000000", error);
        cfg->unit = static_cast<int>(n);
    } else if (name == "--output-loss" || name == "--detector-loss") {
        if (!parse_loss_db(value, &d)) return bad_board_value(name, value, "dB, -40..40", error);
        (name == "--output-loss" ? cfg->output_loss_db : cfg->detector_loss_db) = d;
    } else if (name == "--truth-log") {
        cfg->truth_log = value;
    } else {
        return NOT_MINE;
    }
    return TAKEN;
}

// "--temp-spike C@N[xK]".
option_result_t apply_spike(BoardConfig* cfg, const std::string& name, const std::string& value,
                            std::string* error) {
    double d = 0;
    long n = 0;
    const size_t at = value.find('@');
    if (at == std::string::npos || !parse_double(value.substr(0, at), &d))
        return bad_board_value(name, value, "C@N[xK]", error);
    std::string rest = value.substr(at + 1);
    const size_t x = rest.find('x');
    long len = 1;
    if (x != std::string::npos) {
        if (!parse_long(rest.substr(x + 1), &len) || len < 1) return bad_board_value(name, value, "C@N[xK]", error);
        rest = rest.substr(0, x);
    }
    if (!parse_long(rest, &n) || n < 1) return bad_board_value(name, value, "C@N[xK]", error);
    cfg->spike_c = d, cfg->spike_at = n, cfg->spike_len = len;
    return TAKEN;
}

// The board's temperature.
option_result_t apply_thermal_option(BoardConfig* cfg, const std::string& name, const std::string& value,
                                     std::string* error) {
    double d = 0;
    if (name == "--temp-start") {
        if (!parse_double(value, &d) || d < -128 || d > 200) return bad_board_value(name, value, "-128..200 C", error);
        cfg->temp_start_c = d;
    } else if (name == "--temp-rise") {
        if (!parse_double(value, &d)) return bad_board_value(name, value, "C", error);
        cfg->temp_rise_c = d;
    } else if (name == "--temp-tau") {
        if (!parse_double(value, &d) || d <= 0) return bad_board_value(name, value, "seconds > 0", error);
        cfg->temp_tau_s = d;
    } else if (name == "--temp-spike") {
        return apply_spike(cfg, name, value, error);
    } else {
        return NOT_MINE;
    }
    return TAKEN;
}

// Faults, time, logs, scripts and the fake tools' answers.
option_result_t apply_run_option(BoardConfig* cfg, const std::string& name, const std::string& value,
                                 std::string* error) {
    long n = 0;
    double d = 0;
    if (name == "--fault") {
        if (cfg->fault_count >= SIM_MAX_FAULTS) {
            *error = "too many faults (at most " + std::to_string(SIM_MAX_FAULTS) + ")";
            return FAILED;
        }
        FaultSpec f;
        if (!parse_fault(value, &f, error)) return FAILED;
        cfg->faults[cfg->fault_count++] = f;
    } else if (name == "--virtual-time") {
        cfg->virtual_time = true, cfg->time_scale = 0;
    } else if (name == "--time-scale") {
        if (!parse_double(value, &d) || d < 1) return bad_board_value(name, value, "a speed-up >= 1", error);
        cfg->virtual_time = true, cfg->time_scale = d;
    } else if (name == "--log" || name == "--state") {
        if (value.empty()) return bad_board_value(name, value, "a file", error);
        (name == "--log" ? cfg->tools_log : cfg->state_path) = value;
    } else if (name == "--i2c-log") {
        cfg->i2c_log = value;
    } else if (name == "--sleep-log") {
        cfg->sleep_log = value;
    } else if (name == "--adc-script" || name == "--adc-script-power") {
        if (!load_adc_script(value, name == "--adc-script-power", &cfg->adc_script, error)) return FAILED;
    } else if (name == "--configure-status" || name == "--send-command-status") {
        if (!parse_long(value, &n) || n < 0 || n > 255) return bad_board_value(name, value, "0..255", error);
        (name == "--configure-status" ? cfg->configure_status : cfg->send_command_status) = static_cast<int>(n);
    } else {
        return NOT_MINE;
    }
    return TAKEN;
}

}  // namespace

bool apply_board_option(BoardConfig* cfg, const std::string& name, const std::string& value,
                        std::string* error) {
    using group_t = option_result_t (*)(BoardConfig*, const std::string&, const std::string&, std::string*);
    for (group_t group : {apply_bus_option, apply_rf_option, apply_thermal_option, apply_run_option}) {
        const option_result_t result = group(cfg, name, value, error);
        if (result == FAILED) return false;
        if (result == TAKEN) return finalize(cfg, error);
    }
    *error = "unknown board option " + name;
    return false;
}

bool parse_board_options(BoardConfig* cfg, const std::vector<std::string>& args,
                         std::string* error) {
    if (!finalize(cfg, error)) return false;
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
    bool ok = finalize(cfg, error);
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
