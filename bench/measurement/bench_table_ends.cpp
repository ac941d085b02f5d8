// How well the conversion tables convert near their ends on transmitters that
// differ the way real units do. For each drawn unit of the simulated board
// (sim/README.md, "The RF model") it asks the board for the truth at 2412,
// 5180 and 5805 MHz, MCS 0 and 3, power levels 1 and 55 to 60 (35 C), looks
// up the true detector voltage, and the converter code's voltage, with the
// monitor's cached lookup, and prints how far both land from the true dBm,
// and how often the code's reading is over the 31.5 dBm stop while the truth
// is not (the stop fires early), or the other way round (late).
//
//   bench_table_ends [UNITS] [--first N] [--tables DIR]
//
// UNITS (default 50) units from number FIRST (default 1; 0 is the typical
// unit); DIR holds the three *_mv_to_dbm.csv tables (default: data/ of the
// source tree). About a second for 50 units.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "conversion_tables.h"

namespace {

constexpr double STOP_DBM = 31.5;
constexpr double CODE_MV = 1800.0 / 4096.0;

struct Error {
    int count = 0;
    double sum = 0, largest = 0, low = 0, high = 0;
    int worst_unit = 0, worst_level = 0;
    void add(double e, int unit, int level) {
        if (count == 0 || e < low) low = e;
        if (count == 0 || e > high) high = e;
        ++count;
        sum += std::fabs(e);
        if (std::fabs(e) > largest) {
            largest = std::fabs(e);
            worst_unit = unit;
            worst_level = level;
        }
    }
};

// Readings on the other side of the stop than the truth: over it while the
// truth is under (the stop fires early) and under it while the truth is over
// (late), with the truth's largest distance from the stop.
struct Stop {
    int points = 0, early = 0, late = 0;
    double farthest_early = 0, farthest_late = 0;
};

using Key = std::tuple<int, int, bool>;  // frequency, MCS, top end

const char* band_of(int frequency) {
    return frequency < 4000 ? "2.4" : frequency / 100 < 56 ? "5.1" : "5.8";
}

double lookup(int mcs, int frequency, double mv) {
    double out_mv = 0, dbm = NAN;
    if (read_csv_data_cached(&out_mv, &dbm, mcs, band_of(frequency), mv) != 0) return NAN;
    return dbm;
}

bool load_tables(const std::string& dir) {
    csv_cache_t* caches[] = {&g_csv_cache_manager.band_2_4, &g_csv_cache_manager.band_5_1,
                             &g_csv_cache_manager.band_5_8};
    const char* tokens[] = {"2_4", "5_1", "5_8"};
    for (int i = 0; i < 3; ++i) {
        const std::string path = dir + "/" + tokens[i] + "_mv_to_dbm.csv";
        if (load_csv_cache(caches[i], path.c_str()) != 0) return false;
    }
    return true;
}

// Reads one unit's truth from its board and adds it up.
bool run_unit(int unit, std::map<Key, Error>* raw, std::map<Key, Error>* code,
              std::map<Key, Stop>* stop) {
    const std::string command =
        std::string(ORVI_SOURCE_DIR) + "/sim/orvi-sim-board --build " ORVI_BINARY_DIR
        " --no-tables --unit " + std::to_string(unit) +
        " -- sh -c 'for f in 2412 5180 5805; do for m in 0 3; do for l in 1 55 56 57 58 59 60; "
        "do orvi-sim-ctl truth $f $m $l 35 || exit 1; done; done; done'";
    FILE* in = popen(command.c_str(), "r");
    if (in == nullptr) return false;
    char line[256];
    int lines = 0;
    while (std::fgets(line, sizeof line, in) != nullptr) {
        int f = 0, m = 0, level = 0, c = 0;
        double t = 0, dbm = 0, mv = 0;
        if (std::sscanf(line, "frequency=%d mcs=%d power=%d temperature=%lf dbm=%lf mv=%lf code=%d",
                        &f, &m, &level, &t, &dbm, &mv, &c) != 7)
            continue;
        ++lines;
        const Key key{f, m, level > 1};
        (*raw)[key].add(lookup(m, f, mv) - dbm, unit, level);
        const double read = lookup(m, f, c * CODE_MV);
        (*code)[key].add(read - dbm, unit, level);
        Stop& s = (*stop)[key];
        ++s.points;
        if (read > STOP_DBM && dbm <= STOP_DBM) {
            ++s.early;
            s.farthest_early = std::fmax(s.farthest_early, STOP_DBM - dbm);
        } else if (read <= STOP_DBM && dbm > STOP_DBM) {
            ++s.late;
            s.farthest_late = std::fmax(s.farthest_late, dbm - STOP_DBM);
        }
    }
    return pclose(in) == 0 && lines == 3 * 2 * 7;
}

void print(const std::map<Key, Error>& raw, const std::map<Key, Error>& code,
           const std::map<Key, Stop>& stop) {
    std::printf("MHz  MCS levels | true mV: mean |err|, range, worst (unit/level) | code mV: mean "
                "|err|, range, worst | code mV over 31.5 dBm early, late (of points; truth's "
                "largest distance from it)\n");
    for (const auto& [key, r] : raw) {
        const auto& [f, m, top] = key;
        const Error& c = code.at(key);
        const Stop& s = stop.at(key);
        std::printf("%d %d   %-6s | %.2f  %+.2f..%+.2f  %.2f (%d/%d) | %.2f  %+.2f..%+.2f  %.2f "
                    "(%d/%d) | %d, %d of %d",
                    f, m, top ? "55-60" : "1", r.sum / r.count, r.low, r.high, r.largest,
                    r.worst_unit, r.worst_level, c.sum / c.count, c.low, c.high, c.largest,
                    c.worst_unit, c.worst_level, s.early, s.late, s.points);
        if (s.early + s.late > 0)
            std::printf(" (%.2f, %.2f dB)", s.farthest_early, s.farthest_late);
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    int units = 50, first = 1;
    std::string tables = std::string(ORVI_SOURCE_DIR) + "/data";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--first") == 0 && i + 1 < argc) {
            first = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--tables") == 0 && i + 1 < argc) {
            tables = argv[++i];
        } else if (std::atoi(argv[i]) > 0) {
            units = std::atoi(argv[i]);
        } else {
            std::fprintf(stderr, "usage: bench_table_ends [UNITS] [--first N] [--tables DIR]\n");
            return 2;
        }
    }
    if (first < 0 || !load_tables(tables)) {
        std::fprintf(stderr, "bench_table_ends: cannot load the tables of %s\n", tables.c_str());
        return 1;
    }
    std::map<Key, Error> raw, code;
    std::map<Key, Stop> stop;
    for (int unit = first; unit < first + units; ++unit) {
        if (!run_unit(unit, &raw, &code, &stop)) {
            std::fprintf(stderr, "unit %d: board run failed\n", unit);
            return 1;
        }
    }
    std::printf("units %d..%d, tables %s, 35 C\n", first, first + units - 1, tables.c_str());
    print(raw, code, stop);
    return 0;
}
