#include <orvi/power_map.h>

#include <fmt/core.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <iostream>
#include <sstream>
#include <vector>

#include "safety_limits.h"

namespace {

// Fields as std::getline splits them: an empty line has none, and a trailing
// comma adds no empty last field.
std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) fields.push_back(field);
    return fields;
}

bool to_int(const std::string& text, int* out) {
    try {
        *out = std::stoi(text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Rounded mW of a cell, halves away from zero; false for anything that is
// not a finite number in int range ("NA", "TEMP_ERROR_76_3", "inf").
bool to_rounded_mw(const std::string& text, int* out) {
    double value;
    try {
        value = std::stod(text);
    } catch (const std::exception&) {
        return false;
    }
    double rounded = std::round(value);
    if (!std::isfinite(rounded) || rounded < INT_MIN || rounded > INT_MAX) return false;
    *out = static_cast<int>(rounded);
    return true;
}

struct PowerColumn {
    size_t position;
    int mcs;
};

std::vector<PowerColumn> power_columns(const std::string& header) {
    std::vector<PowerColumn> columns;
    std::vector<std::string> names = split_fields(header);
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (name.rfind("MCS", 0) != 0 || name.size() <= 3 || name.find("_mW") == std::string::npos) continue;
        int mcs;
        if (!to_int(name.substr(3, name.find('_', 3) - 3), &mcs)) {
            std::cerr << "Error extracting MCS index from column name: " << name << "\n";
            continue;
        }
        columns.push_back({i, mcs});
    }
    return columns;
}

// Under a cap the nearest point may lie above it: the highest point not
// above the request, or the lowest point when none is that low.
int highest_index_at_or_below(const std::map<int, int>& points, int request) {
    auto above = points.upper_bound(request);
    const auto& pick = above == points.begin() ? *above : *std::prev(above);
    return pick.first < 0 ? 1 : pick.second;
}

}  // namespace

PowerMap loadPowerCalibrationDataFromStream(std::istream& in) {
    PowerMap map;
    std::string line;
    if (!std::getline(in, line)) return map;
    const std::vector<PowerColumn> columns = power_columns(line);

    while (std::getline(in, line)) {
        std::vector<std::string> fields = split_fields(line);
        if (fields.empty()) continue;
        int level;
        if (!to_int(fields[0], &level)) {
            std::cerr << "Error parsing power level: " << fields[0] << "\n";
            continue;
        }
        for (const PowerColumn& column : columns) {
            if (column.position >= fields.size()) {
                std::cerr << "Not enough columns in line: " << line << "\n";
                continue;
            }
            const std::string& cell = fields[column.position];
            int leading;
            if (to_int(cell, &leading) && leading == -1) continue;  // level not measured
            auto& points = map[column.mcs];
            int mw;
            if (to_rounded_mw(cell, &mw)) points[mw] = level;
        }
    }
    return map;
}

PowerMap loadPowerCalibrationData(const std::string& path) {
    std::ifstream in(path);
    if (!in) return {};
    return loadPowerCalibrationDataFromStream(in);
}

PowerMap loadPowerCalibrationDataFromString(std::string_view csv) {
    std::istringstream in{std::string(csv)};
    return loadPowerCalibrationDataFromStream(in);
}

PowerMap loadPowerCalibrationOrDefault(const std::string& path, std::string_view default_csv,
                                       const char* label) {
    PowerMap map = loadPowerCalibrationData(path);
    if (map.empty()) {
        fmt::print(stderr, "Calibration file {} missing or empty, using embedded default for {}.\n", path,
                   label ? label : "");
        map = loadPowerCalibrationDataFromString(default_csv);
    }
    normalizeMcsCoverage(map);
    return map;
}

void normalizeMcsCoverage(std::map<int, std::map<int, int>>& map) {
    for (int mcs = 0; mcs <= 7; ++mcs) {
        const int source = mcsCoverageSource(mcs);
        if (source < 0 || map.count(mcs)) continue;
        const auto from = map.find(source);
        if (from != map.end()) map.emplace(mcs, std::map<int, int>(from->second));
    }
}

int mcsCoverageSource(int mcs) {
    // Neighbouring rates of one modulation share a power curve closely
    // enough: BPSK/QPSK 1/2 covers 2, 16-QAM 1/2 covers the rates above it.
    if (mcs == 2) return 1;
    if (mcs >= 4 && mcs <= 7) return 3;
    return -1;
}

bool servingMcs(const std::map<int, std::map<int, int>>& map, int mcs, int* served) {
    if (map.count(mcs)) {
        *served = mcs;
        return true;
    }
    for (int lower = mcs - 1; lower >= 0; --lower) {
        if (map.count(lower)) {
            *served = lower;
            return true;
        }
    }
    for (int higher = mcs + 1; higher <= 7; ++higher) {
        if (map.count(higher)) {
            *served = higher;
            return true;
        }
    }
    return false;
}

int findClosestPowerIndex(const std::map<int, std::map<int, int>>& map, int mcs, int* mw, int frequency,
                          RegulatoryDomain domain, bool adc_available) {
    if (map.empty() && !adc_available) {
        // No calibration and no way to measure: the highest index known safe
        // for the band and rate.
        int index;
        if (frequency <= 2484) {
            index = mcs <= 2 ? 39 : 45;
        } else {
            index = (domain != REGULATORY_DOMAIN_NONE && frequency <= 5340) ? 30 : 58;
        }
        std::cerr << "Calibration file missing and ADC unavailable. Defaulting to max power idx for "
                  << frequency << "MHz --> " << index << "\n";
        return index;
    }

    int served = 0;
    const auto entry = servingMcs(map, mcs, &served) ? map.find(served) : map.end();
    if (entry == map.end()) {
        std::cerr << "Power calibration data for MCS" << mcs << " not found and no neighboring MCS available.\n";
        return 1;
    }
    if (!mw) {
        std::cerr << "findClosestPowerIndex: no requested power given\n";
        return 1;
    }

    const bool capped = domain == REGULATORY_DOMAIN_FCC && in_fcc_cap_band(frequency);
    if (capped) {
        std::printf("Limiting power for frequency %d to max of 200mw (23dBm).\n", frequency);
        if (*mw > FCC_CAP_MW) *mw = FCC_CAP_MW;
    }

    const std::map<int, int>& points = entry->second;
    if (points.empty()) {
        // The column exists but none of its cells held a number.
        std::cerr << "Power calibration data for MCS" << entry->first << " holds no usable points.\n";
        return 1;
    }
    if (capped) return highest_index_at_or_below(points, *mw);
    const long long request = *mw;
    auto above = points.lower_bound(*mw);
    if (above == points.end()) {
        auto last = points.rbegin();
        return last->first < 0 ? 1 : last->second;
    }
    if (above == points.begin()) return above->first < 0 ? 1 : above->second;
    auto below = std::prev(above);
    // On equal distance the lower power wins.
    return (request - below->first <= above->first - request) ? below->second : above->second;
}

void printPowerMap(const std::map<int, std::map<int, int>>& map) {
    for (const auto& [mcs, points] : map) {
        std::cerr << "MCS Index: " << mcs << "\n";
        for (const auto& [mw, index] : points) {
            std::cerr << "  Output Power (mW): " << mw << " -> Power Index: " << index << "\n";
        }
        std::cerr << "\n" << std::flush;
    }
}
