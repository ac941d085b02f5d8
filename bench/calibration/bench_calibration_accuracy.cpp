// How accurate the calibrations are on transmitters that differ the way real
// units do. For each drawn unit of the simulated board (sim/README.md, "The
// RF model") and each anchor frequency with MCS 0 and 3, it runs the
// monitor's full sweep and fast sweep in virtual time, takes monitoring
// readings, and compares the results with each other and with the truth the
// board logged (a full sweep against its own log; a fast sweep against its
// own log at its anchors and the board's truth just after it elsewhere). It
// prints one table per band, then what the 31.5 dBm stop and its guard did:
// levels written below a stop whose truth is above 31.5 dBm (the goal is
// none), the stop levels' truth (a stop is found by the sweep's own rule, so
// a stop at level 60 counts), and the levels left without a value whose
// truth is 31.0 dBm or less (what the guard costs).
//
//   bench_calibration_accuracy [UNITS] [--jobs N] [--first N] [--trim]
//
// With --trim each unit's detector is first trimmed against the board's
// power meter (orvi-rfmon -trim -meter "orvi-sim-ctl meter"), as a bench
// would, and everything after it reads through that trim.
// UNITS (default 50) units from number FIRST (default 1); at most N boards
// (1 or 2, default 2) run at once. Each unit runs on its own board.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "calibration_sweep.h"
#include "reading_uncertainty.h"
#include "rf_model.h"
#include "safety_limits.h"
#include "sensor_data.h"
#include "sensor_processing.h"

namespace {

constexpr int FREQUENCIES[] = {2412, 5180, 5805};
constexpr int MCS_VALUES[] = {0, 3};
constexpr int MONITOR_SAMPLES = 300;  // the monitor's reading
constexpr double MONITOR_PAUSE_S = 0.0001;
constexpr unsigned COOL_DOWN_S = 600;  // ten time constants of the board's thermal model

const char* token_of(int frequency) {
    return frequency < 4000 ? "2_4" : frequency / 100 < 56 ? "5_1" : "5_8";
}

// ---- on the board: one unit ----

// Mean true dBm per power index of the truth log's lines, then empties the log.
std::map<int, double> take_truth(const std::string& log, int frequency) {
    std::map<int, std::pair<double, int>> sums;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        int f = 0, m = 0, p = 0;
        double t = 0, dbm = 0;
        const size_t at = line.find("frequency=");
        if (at == std::string::npos ||
            std::sscanf(line.c_str() + at, "frequency=%d mcs=%d power=%d temperature=%lf dbm=%lf",
                        &f, &m, &p, &t, &dbm) != 5 ||
            f != frequency || p <= 0)
            continue;
        sums[p].first += dbm;
        sums[p].second += 1;
    }
    if (truncate(log.c_str(), 0) != 0) std::perror("truncate truth log");
    std::map<int, double> mean;
    for (const auto& [p, s] : sums) mean[p] = s.first / s.second;
    return mean;
}

// The mW column of `mcs` in a calibration table, as dBm per level, and in
// *stop its power stop, found by the sweep's own rule (0: none; a stop at
// level 60 looks like no stop but for its output); the table is removed.
std::map<int, double> take_table(int frequency, int mcs, int* stop) {
    const char* key = frequency < 4000 ? "2.4" : frequency / 100 < 56 ? "5.1" : "5.8";
    *stop = 0;
    const std::string path = std::string("/data/quillon/vtx/calibrated_") + token_of(frequency) + ".csv";
    std::map<int, double> dbm;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    const std::string want = "MCS" + std::to_string(mcs) + "_mW";
    int column = -1, index = 0;
    std::istringstream header(line);
    for (std::string name; std::getline(header, name, ','); ++index)
        if (name == want) column = index;
    while (column > 0 && std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
        if (static_cast<int>(cells.size()) <= column) continue;
        const double mw = std::strtod(cells[column].c_str(), nullptr);
        if (mw <= 0) continue;
        const int level = std::atoi(cells[0].c_str());
        dbm[level] = 10 * std::log10(mw);
        if (!*stop && stored_power_verdict(mw, reading_uncertainty_db(key, mcs)) != POWER_WITHIN_LIMIT)
            *stop = level;
    }
    std::remove(path.c_str());
    return dbm;
}

// The board's true dBm at `level` now, for levels that a sweep did not reach.
double ask_truth(int frequency, int mcs, int level) {
    const std::string command = "orvi-sim-ctl truth " + std::to_string(frequency) + " " +
                                std::to_string(mcs) + " " + std::to_string(level);
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return NAN;
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    const char* at = read ? std::strstr(line, " dbm=") : nullptr;
    return at ? std::strtod(at + 5, nullptr) : NAN;
}

std::map<int, double> with_unreached_levels(std::map<int, double> truth, int frequency, int mcs) {
    for (int level = 1; level <= 60; ++level)
        if (!truth.count(level)) truth[level] = ask_truth(frequency, mcs, level);
    return truth;
}

void run_tool(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

// The board back at its start temperature, transmitter off.
void cool_down() {
    run_tool("orvi-configure-vtx -p 0");
    sleep(COOL_DOWN_S);
}

// The unit's detector trimmed against the board's meter, as a bench would,
// by the real orvi-rfmon.
bool trim_unit() {
    cool_down();
    const std::string command = std::string(ORVI_BINARY_DIR) +
                                "/rfmon/orvi-rfmon -d 1 -trim -meter 'orvi-sim-ctl meter' "
                                ">/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

int run_unit(int unit, const std::string& out_path, const std::string& truth_log, bool trim) {
    FILE* out = std::fopen(out_path.c_str(), "w");
    if (out == nullptr) return 1;
    std::fprintf(out, "unit %d\n", unit);
    if (trim && !trim_unit()) return 1;
    const int bus = open("/dev/i2c-1", O_RDWR);
    if (bus < 0) return 1;
    // The sweeps narrate every step; only the results matter here.
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
    for (int frequency : FREQUENCIES) {
        for (int mcs : MCS_VALUES) {
            cool_down();
            run_tool("orvi-configure-vtx -F " + std::to_string(frequency) + " -m " + std::to_string(mcs));
            take_truth(truth_log, frequency);
            const int full_status = perform_calibration(bus, frequency, mcs);
            int full_stop = 0, fast_stop = 0;
            const auto full = take_table(frequency, mcs, &full_stop);
            const auto truth = with_unreached_levels(take_truth(truth_log, frequency), frequency, mcs);
            cool_down();
            const int fast_status = perform_fast_calibration(bus, frequency, mcs);
            const auto fast = take_table(frequency, mcs, &fast_stop);
            // The fast sweep's own truth: its anchors as measured, the other
            // levels as the board would put them out now, just after it.
            const auto fast_truth =
                with_unreached_levels(take_truth(truth_log, frequency), frequency, mcs);
            std::fprintf(out, "status %d %d %d %d\n", frequency, mcs, full_status, fast_status);
            std::fprintf(out, "stop %d %d %d %d\n", frequency, mcs, full_stop, fast_stop);
            auto value = [](const std::map<int, double>& m, int level) {
                const auto it = m.find(level);
                return it == m.end() ? NAN : it->second;
            };
            for (int level = 1; level <= 60; ++level) {
                std::fprintf(out, "sweep %d %d %d %.4f %.4f %.4f %.4f\n", frequency, mcs, level,
                             value(full, level), value(fast, level), value(truth, level),
                             value(fast_truth, level));
            }
            // Monitoring readings as the monitor takes them, every tenth index.
            for (int level = 10; level <= 60; level += 10) {
                run_tool("orvi-configure-vtx -p " + std::to_string(level));
                sensor_data_t record{};
                const int status = process_sensor_data(&record, bus, mcs, frequency,
                                                       MONITOR_SAMPLES, MONITOR_PAUSE_S);
                const auto truth_now = take_truth(truth_log, frequency);
                const auto t = truth_now.find(level);
                std::fprintf(out, "monitor %d %d %d %.4f %.4f\n", frequency, mcs, level,
                             status < 0 ? NAN : frequency < 4000 ? record.ch0_dbm : record.ch1_dbm,
                             t == truth_now.end() ? NAN : t->second);
            }
        }
    }
    close(bus);
    return std::fclose(out) == 0 ? 0 : 1;
}

// ---- outside: boards, then the tables ----

struct Error {
    double sum = 0, largest = -1;
    long count = 0;
    int unit = 0, level = 0;
    void add(double e, int u, int l) {
        if (std::isnan(e)) return;
        e = std::fabs(e);
        sum += e;
        ++count;
        if (e > largest) largest = e, unit = u, level = l;
    }
    double mean() const { return count ? sum / count : NAN; }
};

// What the 31.5 dBm stop and its guard did to one sweep kind over all units.
struct Limit {
    int written_above = 0;   // levels below the stop written while their truth is above 31.5 dBm
    int units_above = 0;     // units with such a level
    int stop_above = 0;      // stop levels whose truth is above 31.5 dBm
    int stop_below = 0;      // stop levels whose truth is 31.5 dBm or below
    int lost_low = 0;        // levels without a value ("-1" or above a stop), truth 31.0 dBm or less
    double worst_written = -INFINITY;  // highest truth of a level written below the stop
    int worst_unit = 0, worst_level = 0;
    double worst_stop = -INFINITY;     // highest truth of a stop level
    // `dbm` and `truth` per level 1..60 (NaN: not written / unknown) of
    // `unit`, whose power stop was at `stop` (0: none).
    void add(int unit, int stop, const double* dbm, const double* truth) {
        bool above = false;
        for (int level = 1; level <= 60; ++level) {
            const double t = truth[level];
            if (std::isnan(t)) continue;
            if (std::isnan(dbm[level])) {
                lost_low += t <= 31.0;
                continue;
            }
            if (level == stop) {
                (t > 31.5 ? stop_above : stop_below)++;
                worst_stop = std::max(worst_stop, t);
            } else {
                written_above += t > 31.5;
                above = above || t > 31.5;
                if (t > worst_written) worst_written = t, worst_unit = unit, worst_level = level;
            }
        }
        units_above += above;
    }
};

struct Combo {  // one band and MCS over all units
    Error fast_full, full_truth, fast_truth, monitor_truth;
    Limit full_limit, fast_limit;
    // unit -> full, fast, the full sweep's truth, the fast sweep's truth per level
    std::map<int, std::array<double, 4 * 61>> sweeps;
    std::map<int, std::pair<int, int>> stops;  // unit -> the power stops of full and fast
    Error by_range[6];                    // fast vs full over the ranges between anchors
    std::map<int, double> unit_largest;   // unit -> largest |fast - full|
    int stopped_units = 0, failed_sweeps = 0;
};

constexpr int RANGE_FIRST[6] = {1, 11, 36, 46, 51, 57};
constexpr int RANGE_LAST[6] = {9, 34, 44, 49, 55, 59};

int range_of(int level) {
    for (int r = 0; r < 6; ++r)
        if (level >= RANGE_FIRST[r] && level <= RANGE_LAST[r]) return r;
    return -1;
}

bool read_results(const std::string& path, int unit, std::map<std::pair<int, int>, Combo>* combos) {
    std::ifstream in(path);
    if (!in) return false;
    for (std::string line; std::getline(in, line);) {
        char kind[16];
        int f = 0, m = 0, a = 0, b = 0;
        double x = 0, y = 0, z = 0, w = 0;
        if (std::sscanf(line.c_str(), "status %d %d %d %d", &f, &m, &a, &b) == 4) {
            (*combos)[{f, m}].failed_sweeps += (a != 0) + (b != 0);
        } else if (std::sscanf(line.c_str(), "stop %d %d %d %d", &f, &m, &a, &b) == 4) {
            (*combos)[{f, m}].stops[unit] = {a, b};
        } else if (std::sscanf(line.c_str(), "%15s %d %d %d %lf %lf %lf %lf", kind, &f, &m, &a, &x,
                               &y, &z, &w) >= 6) {
            Combo& c = (*combos)[{f, m}];
            if (std::strcmp(kind, "sweep") == 0) {
                const int level = a;
                if (std::isnan(x) && level == 60) ++c.stopped_units;
                c.fast_full.add(y - x, unit, level);
                c.full_truth.add(x - z, unit, level);
                c.fast_truth.add(y - w, unit, level);
                auto& sweep = c.sweeps.try_emplace(unit).first->second;
                if (level == 1) sweep.fill(NAN);
                sweep[level] = x, sweep[61 + level] = y, sweep[122 + level] = z;
                sweep[183 + level] = w;
                if (!std::isnan(x - y)) {
                    double& worst = c.unit_largest[unit];
                    worst = std::max(worst, std::fabs(y - x));
                    if (range_of(level) >= 0) c.by_range[range_of(level)].add(y - x, unit, level);
                }
            } else if (std::strcmp(kind, "monitor") == 0) {
                c.monitor_truth.add(x - y, unit, a);
            }
        }
    }
    return true;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const size_t n = a.size();
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) ma += a[i] / n, mb += b[i] / n;
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0;
}

// Which unit parameter goes with a large fast-sweep error in this band.
void print_drivers(const Combo& c, int band, int mcs) {
    const char* names[] = {"gain_db",   "step_scale", "psat_db",  "smoothness_scale",
                           "ripple at anchor", "tempco", "detector slope_scale",
                           "detector offset_mv", "backoff_db"};
    std::vector<double> errors, params[9];
    const int ch = band == 0 ? 0 : 1;
    for (const auto& [unit, largest] : c.unit_largest) {
        const RfUnit u = rf_unit(unit);
        errors.push_back(largest);
        const double values[9] = {u.gain_db[band], u.step_scale[band], u.psat_db[band],
                                  u.smoothness_scale[band],
                                  u.ripple_db[band] * std::sin(u.ripple_phase[band]),
                                  u.tempco_db_per_c, u.det_slope_scale[ch], u.det_offset_mv[ch],
                                  u.backoff_db[mcs]};
        for (int k = 0; k < 9; ++k) params[k].push_back(values[k]);
    }
    std::vector<std::pair<double, int>> ranked;
    for (int k = 0; k < 9; ++k) ranked.push_back({correlation(errors, params[k]), k});
    std::sort(ranked.begin(), ranked.end(),
              [](auto x, auto y) { return std::fabs(x.first) > std::fabs(y.first); });
    std::printf("    largest |fast - full| of a unit correlates with:");
    for (int k = 0; k < 3; ++k)
        std::printf(" %s %+.2f%s", names[ranked[k].second], ranked[k].first, k < 2 ? "," : "\n");
}

void print_limits(std::map<std::pair<int, int>, Combo>& combos) {
    std::printf("\nthe 31.5 dBm stop and its guard against the truth, per sweep kind (full / fast), "
                "all units:\n"
                "  band MCS | written below the stop, truth > 31.5 (units) | highest truth written "
                "below the stop (unit:level) | stop level truth > 31.5 / <= 31.5 (highest) | levels "
                "without a value, truth <= 31.0\n");
    for (auto& [key, c] : combos) {
        for (const auto& [unit, sweep] : c.sweeps) {
            const auto [full_stop, fast_stop] = c.stops[unit];
            c.full_limit.add(unit, full_stop, &sweep[0], &sweep[122]);
            c.fast_limit.add(unit, fast_stop, &sweep[61], &sweep[183]);
        }
        const Limit& f = c.full_limit;
        const Limit& e = c.fast_limit;
        std::printf("  %s %3d | %4d (%d) / %-4d (%d) (goal 0) | %6.2f (%d:%d) / %-6.2f (%d:%d) | "
                    "%3d %3d (%.2f) / %3d %3d (%.2f) | %4d / %d\n",
                    token_of(key.first), key.second, f.written_above, f.units_above,
                    e.written_above, e.units_above, f.worst_written, f.worst_unit, f.worst_level,
                    e.worst_written, e.worst_unit, e.worst_level, f.stop_above,
                    f.stop_below, f.worst_stop, e.stop_above, e.stop_below, e.worst_stop,
                    f.lost_low, e.lost_low);
    }
}

void print_tables(std::map<std::pair<int, int>, Combo>& combos, int units) {
    for (int band = 0; band < 3; ++band) {
        const int frequency = FREQUENCIES[band];
        std::printf("\nband %s (%d MHz), %d units, |error| in dB over levels 1-60 "
                    "(mean / largest, unit:level of the largest)\n",
                    token_of(frequency), frequency, units);
        std::printf("  MCS | fast vs full            | full vs truth           | fast vs truth  "
                    "         | monitor vs truth\n");
        for (int mcs : MCS_VALUES) {
            Combo& c = combos[{frequency, mcs}];
            auto cell = [](const Error& e) {
                char text[64];
                std::snprintf(text, sizeof text, "%.3f / %.3f (%d:%d)", e.mean(), e.largest, e.unit,
                              e.level);
                return std::string(text);
            };
            std::printf("  %3d | %-23s | %-23s | %-23s | %s\n", mcs, cell(c.fast_full).c_str(),
                        cell(c.full_truth).c_str(), cell(c.fast_truth).c_str(),
                        cell(c.monitor_truth).c_str());
        }
        for (int mcs : MCS_VALUES) {
            Combo& c = combos[{frequency, mcs}];
            std::printf("  MCS %d fast vs full by levels:", mcs);
            for (int r = 0; r < 6; ++r)
                std::printf(" %d-%d %.2f/%.2f", RANGE_FIRST[r], RANGE_LAST[r], c.by_range[r].mean(),
                            c.by_range[r].largest);
            std::printf("\n    goal (0.25 mean, 0.50 largest): %s",
                        c.fast_full.mean() <= 0.25 && c.fast_full.largest <= 0.5 ? "met" : "missed");
            if (c.fast_full.largest > 0.5)
                std::printf(", largest over by %.2f dB", c.fast_full.largest - 0.5);
            if (c.fast_full.mean() > 0.25)
                std::printf(", mean over by %.2f dB", c.fast_full.mean() - 0.25);
            std::printf("; units stopped below level 60: %d; failed sweeps: %d\n", c.stopped_units,
                        c.failed_sweeps);
            print_drivers(c, band, mcs);
        }
    }
}

int coordinate(int units, int first, int jobs, const char* self, bool trim) {
    char pattern[] = "/tmp/calibration-accuracy-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    const auto start = std::chrono::steady_clock::now();
    std::map<pid_t, int> running;
    std::map<std::pair<int, int>, Combo> combos;
    int next = first, done = 0, failed = 0;
    auto path = [&](const char* what, int unit) {
        return dir + "/" + what + "-" + std::to_string(unit);
    };
    while (done < units) {
        while (static_cast<int>(running.size()) < jobs && next < first + units) {
            const int unit = next++;
            const pid_t pid = fork();
            if (pid == 0) {
                const std::string board = std::string(ORVI_SOURCE_DIR) + "/sim/orvi-sim-board";
                const std::string u = std::to_string(unit), truth = path("truth", unit);
                const std::string out = path("result", unit), tools = path("tools", unit);
                execl(board.c_str(), board.c_str(), "--build", ORVI_BINARY_DIR, "--virtual-time",
                      "--unit", u.c_str(), "--seed", u.c_str(), "--truth-log", truth.c_str(),
                      "--log", tools.c_str(), "--", self, "--unit-run", u.c_str(), out.c_str(),
                      truth.c_str(), trim ? "trim" : "untrimmed", static_cast<char*>(nullptr));
                _exit(127);
            }
            if (pid < 0) return 1;
            running[pid] = unit;
        }
        int status = 0;
        const pid_t pid = wait(&status);
        if (pid < 0) break;
        const int unit = running[pid];
        running.erase(pid);
        ++done;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
            !read_results(path("result", unit), unit, &combos)) {
            std::fprintf(stderr, "unit %d: board run failed\n", unit);
            ++failed;
        }
        for (const char* what : {"truth", "result", "tools"}) std::remove(path(what, unit).c_str());
    }
    rmdir(dir.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("calibration accuracy: units %d..%d, %d at a time, noise 1 mV, %s, %.0f s real time%s\n",
                first, first + units - 1, jobs,
                trim ? "each detector trimmed against the board's meter first" : "untrimmed", seconds,
                failed ? " (some units failed, see above)" : "");
    print_tables(combos, units - failed);
    print_limits(combos);
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--unit-run") == 0)
        return run_unit(std::atoi(argv[2]), argv[3], argv[4], std::strcmp(argv[5], "trim") == 0);
    int units = 50, first = 1, jobs = 2;
    bool trim = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--trim") {
            trim = true;
        } else if ((arg == "--jobs" || arg == "--first") && i + 1 < argc) {
            (arg == "--jobs" ? jobs : first) = std::atoi(argv[++i]);
        } else if (!arg.empty() && arg[0] != '-') {
            units = std::atoi(arg.c_str());
        } else {
            std::fprintf(stderr, "usage: %s [UNITS] [--jobs 1|2] [--first N] [--trim]\n", argv[0]);
            return 2;
        }
    }
    if (units < 1 || first < 1 || jobs < 1 || jobs > 2) {
        std::fprintf(stderr, "%s: UNITS and --first from 1, --jobs 1 or 2\n", argv[0]);
        return 2;
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = '\0';
    return coordinate(units, first, jobs, self, trim);
}
