#include "adc_script.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "option_text.h"

namespace {

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

}  // namespace

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
