// orvi-calreport as a whole process (start, read, analyse, write, exit) on
// three full tables: the built-in reference tables (levels 1..60, three MCS
// each) written as calibrated_2_4/5_1/5_8.csv. Reported per run: wall time
// the child's CPU time and its peak resident set. Target: under 50 ms for
// text + SVG + JSON; --version alone shows the cost of starting a process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "default_power_calibration.h"

extern char** environ;

namespace {

std::string tables_dir() {
    static std::string dir;
    if (dir.empty()) {
        char pattern[] = "/tmp/bench-calreport-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        dir = pattern;
        std::ofstream(dir + "/calibrated_2_4.csv") << default_cal::kCalibrated_2_4 << "\n";
        std::ofstream(dir + "/calibrated_5_1.csv") << default_cal::kCalibrated_5_1 << "\n";
        std::ofstream(dir + "/calibrated_5_8.csv") << default_cal::kCalibrated_5_8 << "\n";
    }
    return dir;
}

void run_calreport(benchmark::State& state, std::vector<std::string> args) {
    const std::string program = ORVI_BINARY_DIR "/calreport/orvi-calreport";
    args.insert(args.begin(), {program, "--dir", tables_dir()});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    long peak_kb = 0;
    double cpu_s = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        pid_t pid;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start orvi-calreport");
            break;
        }
        int status;
        struct rusage usage;
        wait4(pid, &status, 0, &usage);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
            state.SkipWithError("orvi-calreport failed");
            break;
        }
        peak_kb = std::max(peak_kb, usage.ru_maxrss);
        cpu_s += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    posix_spawn_file_actions_destroy(&actions);
    state.counters["peak_rss_kB"] = static_cast<double>(peak_kb);
    // The child's own CPU time, which the machine's load does not inflate.
    state.counters["child_cpu_ms"] = state.iterations() ? cpu_s * 1000 / state.iterations() : 0;
}

void BM_TextAndSvg(benchmark::State& state) { run_calreport(state, {"--svg", tables_dir() + ".svg"}); }
void BM_JsonAndSvg(benchmark::State& state) { run_calreport(state, {"--json", "--svg", tables_dir() + ".svg"}); }
void BM_Text(benchmark::State& state) { run_calreport(state, {}); }
// The floor: start and exit, nothing read.
void BM_VersionOnly(benchmark::State& state) { run_calreport(state, {"--version"}); }
void BM_Query(benchmark::State& state) {
    run_calreport(state, {"--mw", "200", "--mcs", "3", "--frequency", "5200", "--fcc"});
}

BENCHMARK(BM_TextAndSvg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_JsonAndSvg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_Text)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_VersionOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_Query)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const std::string dir = tables_dir();
    for (const char* band : {"2_4", "5_1", "5_8"}) std::remove((dir + "/calibrated_" + band + ".csv").c_str());
    std::remove((dir + ".svg").c_str());
    rmdir(dir.c_str());
    return 0;
}
