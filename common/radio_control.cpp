#include <orvi/radio_control.h>

#include <fmt/core.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include <orvi/brannic_pipe.h>
#include <orvi/channel_plan.h>

namespace {

std::mutex cache_mutex;
std::map<std::string, std::string> chip_cache;  // guarded by cache_mutex
std::set<std::string> warned_paths;              // one thread at a time

constexpr const char* kOverrideParameterPath = "/sys/module/88XXau_vtx/parameters/channel_override";

// The name as it may be shown on one line: control bytes escaped.
// ASCII only, whatever the process locale says.
bool is_ascii_alnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7f) {
            out += fmt::format("\\x{:02x}", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool check_card(const char* operation, const std::string& card) {
    if (is_valid_interface_name(card)) return true;
    fmt::print(stderr, "{}: refusing interface name \"{}\" (not a valid network interface name)\n",
               operation, printable(card));
    std::fflush(stderr);
    return false;
}

bool check_service(const char* operation, const std::string& service) {
    if (is_valid_service_name(service)) return true;
    fmt::print(stderr, "{}: refusing service name \"{}\" (not a valid systemd unit name)\n",
               operation, printable(service));
    std::fflush(stderr);
    return false;
}

std::string read_all(FILE* pipe) {
    std::string out;
    char buffer[128];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer) - 1, pipe)) > 0) out.append(buffer, got);
    return out;
}

void strip_trailing_space(std::string& text) {
    size_t end = text.find_last_not_of(" \n\r\t");
    text.erase(end == std::string::npos ? 0 : end + 1);
}

// Output of a systemctl query ("systemctl <verb> <service> 2>&1") compared with `expected`.
bool systemctl_answers(const char* verb, const std::string& service, const char* expected) {
    std::string cmd = fmt::format("systemctl {} {} 2>&1", verb, service);
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) {
        fmt::print(stderr, "ERROR: Failed to run systemctl {} command.\n", verb);
        return false;
    }
    std::string out = read_all(pipe);
    pclose(pipe);
    strip_trailing_space(out);
    return out == expected;
}

}  // namespace

bool is_valid_interface_name(const std::string& name) {
    // IFNAMSIZ is 16 with the terminating NUL.
    if (name.empty() || name.size() > 15) return false;
    if (name == "." || name == "..") return false;  // would walk out of /sys/class/net
    if (name[0] == '-') return false;               // would be read as an option
    for (unsigned char c : name) {
        if (!is_ascii_alnum(c) && c != '.' && c != '_' && c != '-' && c != ':') return false;
    }
    return true;
}

bool is_valid_service_name(const std::string& name) {
    // systemd unit names: at most 255 bytes of letters, digits and ":-_.@".
    // The backslash escapes systemd also allows are refused: the shell would
    // eat them before systemctl saw them.
    if (name.empty() || name.size() > 255) return false;
    if (name[0] == '-') return false;  // would be read as an option
    for (unsigned char c : name) {
        if (!is_ascii_alnum(c) && c != ':' && c != '-' && c != '_' && c != '.' && c != '@') return false;
    }
    return true;
}

int set_power(std::string card, int power_idx, int pit_power_idx, bool flag, bool pit_mode) {
    if (!check_card("set_power", card)) return -1;
    int idx = (pit_mode && !flag) ? pit_power_idx : power_idx;
    std::string cmd = fmt::format("iw dev {} set txpower fixed {}", card, idx);
    return std::system(cmd.c_str());
}

int set_perf_mode() { return pipe_send_control_cmd("cpu_stats2", "set_cpu_mode_perf_with_pitmode"); }

std::string run_command(const std::string& cmd) {
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) {
        std::fprintf(stderr, "popen() failed!\n");
        return "";
    }
    std::string out = read_all(pipe);
    pclose(pipe);
    return out;
}

int set_ath0_monitor_mode(int channel) {
    std::printf("Setting monitor mode ath0\n");
    std::string cmd = fmt::format("bash /usr/bin/enable_vrx.sh -b {} -c {}", channel > 14 ? "5G" : "2G",
                                  channel);
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return -1;
    read_all(pipe);  // the script's exit status is not looked at
    pclose(pipe);
    return 0;
}

bool is_service_enabled(const std::string& service) {
    if (!check_service("is_service_enabled", service)) return false;
    return systemctl_answers("is-enabled", service, "enabled");
}

bool is_service_running(const std::string& service) {
    if (!check_service("is_service_running", service)) return false;
    return systemctl_answers("is-active", service, "active");
}

int set_monitor_mode(std::string card) {
    if (!check_card("set_monitor_mode", card)) return -1;
    const std::string commands[] = {
        "systemctl stop wpa_supplicant",
        "systemctl disable wpa_supplicant",
        "systemctl stop orvi-softap",
        "systemctl disable orvi-softap",
        fmt::format("ifconfig {} down", card),
        fmt::format("iw dev {} set monitor otherbss", card),
        fmt::format("ifconfig {} up", card),
    };
    // A command that runs and fails does not stop the sequence; only one
    // that cannot be started does.
    for (const auto& cmd : commands) {
        if (std::system(cmd.c_str()) < 0) return -1;
    }
    return 0;
}

std::string generate_salt() {
    try {
        std::random_device device("default");
        std::mt19937 generator(device());
        std::uniform_int_distribution<int> digit(0, 15);
        std::string salt;
        for (int i = 0; i < 8; ++i) salt += "0123456789abcdef"[digit(generator)];
        return salt;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "generate_salt: no random device: %s\n", e.what());
        return "";
    }
}

std::string get_chip(std::string card) {
    {
        std::lock_guard<std::mutex> lock(cache_mutex);
        auto it = chip_cache.find(card);
        if (it != chip_cache.end()) return it->second;
    }
    if (!check_card("get_chip", card)) return "";

    std::string cmd = fmt::format("ls /sys/class/net/{}/device/driver/module/drivers", card);
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) {
        std::printf("get_chip: cannot open pipe\n");
        return "";
    }
    std::string listing = read_all(pipe);
    pclose(pipe);

    std::string chip;
    if (listing.find("rtl8812au") != std::string::npos ||
        listing.find("rtl88xxau_vtx") != std::string::npos) {
        chip = "rtl8812au";
    } else {
        chip = listing;
        if (chip.size() > 1) chip.pop_back();  // the listing's newline
    }

    std::lock_guard<std::mutex> lock(cache_mutex);
    chip_cache[card] = chip;  // a concurrent lookup of the same card may have stored first
    return chip;
}

int set_frequency_and_bw(std::string card, int frequency, int bandwidth, RegulatoryDomain domain) {
    if (domain == REGULATORY_DOMAIN_FCC && frequency >= 5260 && frequency <= 5720) {
        std::printf("DFS channels (5260 to 5720 MHz) are disabled under FCC rules: not tuning to %d MHz.\n",
                    frequency);
        return -1;
    }
    if (!check_card("set_frequency_and_bw", card)) return -1;
    std::string chip = get_chip(card);

    const char* width = "HT20";
    int placeholder = 5180;
    if (bandwidth != 20) {
        width = bw_for_frequency(frequency);
        placeholder = std::strcmp(width, "HT40-") == 0 ? 5200 : 5180;
    }

    std::string cmd;
    if (chip.find("rtl8812au") != std::string::npos) {
        // The Realtek VTX driver takes its channel from the override
        // parameter; iw only sets the width, around a channel with a partner
        // on the right side.
        cmd = fmt::format("iw dev {} set freq {} {}", card, placeholder, width);
    } else if (frequency == 2484) {
        cmd = fmt::format("iw dev {} set freq 2484", card);  // channel 14 takes no HT40 pairing
    } else {
        cmd = fmt::format("iw dev {} set freq {} {}", card, frequency, width);
    }
    return std::system(cmd.c_str());
}

int get_ath10k_noise_floor(const std::string& card) {
    if (get_chip(card).find("ath10k") == std::string::npos) return 0;

    std::string phy;
    {
        std::ifstream name_file("/sys/class/net/" + card + "/phy80211/name");
        if (name_file) std::getline(name_file, phy);
        strip_trailing_space(phy);
        if (!name_file.is_open() || phy.empty()) {
            std::fprintf(stderr, "Warning: Unable to determine PHY for interface %s\n", card.c_str());
            return 0;
        }
    }

    std::string path = "/sys/kernel/debug/ieee80211/" + phy + "/ath10k/fw_stats";
    std::ifstream stats(path);
    if (!stats) {
        if (warned_paths.insert(path).second) {
            std::fprintf(stderr, "Warning: Unable to open %s\n", path.c_str());
        }
        return 0;
    }

    std::string line;
    while (std::getline(stats, line)) {
        if (line.find("Channel noise floor") == std::string::npos) continue;
        size_t last_blank = line.find_last_of(" \t");
        if (last_blank == std::string::npos) continue;
        try {
            return std::stoi(line.substr(last_blank + 1));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Error parsing noise floor value: %s\n", e.what());
        }
    }
    return 0;
}

int set_override_parameters(int channel, int /*ignored*/) {
    if (channel < 1 || channel > 177) return -1;
    usleep(200);
    FILE* file = std::fopen(kOverrideParameterPath, "w");
    if (!file) {
        std::printf("Failed to open override parameter file: %s", kOverrideParameterPath);
        return -1;
    }
    // The driver checks the value when the write reaches it, so a refusal
    // shows up at the flush in fclose.
    bool written = std::fprintf(file, "%d", channel) > 0;
    if (std::fclose(file) != 0) written = false;
    if (!written) {
        std::perror("Failed to write override parameter file");
        return -1;
    }
    return 0;
}
