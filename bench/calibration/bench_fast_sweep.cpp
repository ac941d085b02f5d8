// A fast calibration sweep in real time on the simulated board, against the
// waits it must make: 7 s after the frequency, then per anchor level 650 ms
// of settling, three 100 ms gaps and four readings of 60 samples 1 ms apart.
// Started outside the board, the program runs itself on it.
//
// Also the table work beside it: the reference lookups of an estimate and a
// merge of a full table, which must not be measurable next to the waits.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "calibration_sweep.h"
#include "calibration_table.h"
#include "default_power_calibration.h"
#include "fast_estimation.h"

namespace {

// Sends stdout to /dev/null while it lives.
struct StdoutToNull {
    int saved;
    StdoutToNull() {
        std::fflush(stdout);
        saved = dup(1);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        close(null_fd);
    }
    ~StdoutToNull() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

constexpr double MANDATED_S = 7.0 + 6 * (0.650 + 3 * 0.100 + 4 * 60 * 0.001);

void BM_FastSweepRealTime(benchmark::State& state) {
    int bus = open("/dev/i2c-1", O_RDWR);
    if (bus < 0) {
        state.SkipWithError("no simulated bus /dev/i2c-1");
        return;
    }
    double seconds = 0;
    for (auto _ : state) {
        std::chrono::steady_clock::time_point start, end;
        int result;
        {
            // The sweep's progress lines would drown the report.
            StdoutToNull quiet;
            start = std::chrono::steady_clock::now();
            result = perform_fast_calibration(bus, 5805, 0);
            end = std::chrono::steady_clock::now();
        }
        if (result != 0) {
            state.SkipWithError("fast sweep failed");
            break;
        }
        seconds = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(seconds);
    }
    close(bus);
    state.counters["mandated_s"] = MANDATED_S;
    state.counters["ratio"] = seconds / MANDATED_S;
}
BENCHMARK(BM_FastSweepRealTime)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_ReferenceLookupsOfOneEstimate(benchmark::State& state) {
    for (auto _ : state) {
        double sum = 0;
        for (int level = 1; level <= 60; ++level) sum += default_cal_get_mv("5_8", 3, level);
        for (int anchor : FAST_CALIBRATION_LEVELS) sum += default_cal_get_mv("5_8", 3, anchor);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ReferenceLookupsOfOneEstimate);

void BM_UpdateMergeOfAFullTable(benchmark::State& state) {
    stored_table_t stored;
    stored.header = "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 63; ++level) {
        stored.rows.push_back(std::to_string(level) + ",500.00,20.00,510.00,25.00,520.00,30.00");
    }
    sweep_results_t results = {};
    for (int level = 1; level <= 60; ++level) results.level[level] = {true, 600.0 + level, 40.0};
    // The merge announces the update on stdout; keep it out of the report.
    StdoutToNull quiet;
    for (auto _ : state) {
        std::string merged;
        benchmark::DoNotOptimize(merge_table_text(stored, results, 3, "bench.csv", &merged));
        benchmark::DoNotOptimize(merged.data());
    }
}
BENCHMARK(BM_UpdateMergeOfAFullTable);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("ORVI_SIM_BOARD") == nullptr) {
        std::string self = "/proc/self/exe";
        char path[4096];
        ssize_t n = readlink(self.c_str(), path, sizeof path - 1);
        if (n <= 0) return 1;
        path[n] = '\0';
        std::string wrapper = std::string(ORVI_SOURCE_DIR) + "/sim/orvi-sim-board";
        std::string build = ORVI_BINARY_DIR;
        std::vector<char*> args = {const_cast<char*>(wrapper.c_str()),
                                   const_cast<char*>("--build"),
                                   const_cast<char*>(build.c_str()),
                                   const_cast<char*>("--"),
                                   path};
        for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(wrapper.c_str(), args.data());
        std::perror("cannot start the simulated board");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
