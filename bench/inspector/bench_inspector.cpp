// Records per second that the inspector's data callback validates, formats
// and prints (to /dev/null), with and without the CSV log, one record per
// delivery (as the transmitter publishes) and in batches.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "telemetry_view.h"

namespace {

std::vector<char> make_batch(int n) {
    std::vector<char> bytes(static_cast<size_t>(n) * sizeof(vtx_data_t));
    for (int i = 0; i < n; ++i) {
        vtx_data_t r;
        std::memset(&r, 0, sizeof r);
        r.magic_number = PIPE_RECORD_MAGIC;
        r.input_mbps = 8.25f;
        r.output_mbps = 10.3125f;
        r.vtx_latency_ms = 3.5f + 0.1f * (i % 5);
        r.frame_latency_ms = 16.0f;
        r.fec_latency_ms = 1.2f;
        r.exposure_ns = 8000000;
        r.packets_per_second = 900;
        r.fragments = 6;
        r.frame_type = i % 30 == 0 ? 19 : 1;
        r.temperature_c = 41.5;
        r.power_dbm = 21.25;
        r.power_idx = 20;
        r.frequency = 5805;
        r.mcs = 3;
        r.fec = 25;
        std::memcpy(bytes.data() + static_cast<size_t>(i) * sizeof r, &r, sizeof r);
    }
    return bytes;
}

// Fresh ids for every delivery, so none is skipped as a repeat.
void renumber(std::vector<char>& bytes, int32_t& next_id) {
    for (size_t at = 0; at < bytes.size(); at += sizeof(vtx_data_t)) {
        const int32_t id = next_id++;
        std::memcpy(bytes.data() + at + offsetof(vtx_data_t, id), &id, sizeof id);
    }
}

void run(benchmark::State& state, bool save, bool json) {
    const int batch = static_cast<int>(state.range(0));
    FILE* devnull = std::fopen("/dev/null", "w");
    if (devnull == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    char log_path[] = "/tmp/bench-inspector-XXXXXX";
    const int log_fd = mkstemp(log_path);
    if (log_fd < 0) {
        state.SkipWithError("cannot create the log file");
        std::fclose(devnull);
        return;
    }

    telemetry_view_t view;
    view.out = devnull;
    view.save_to_file = save;
    view.json_mode = json;
    view.csv_path = log_path;
    std::vector<char> bytes = make_batch(batch);
    int32_t next_id = 1;
    int64_t deliveries = 0;
    for (auto _ : state) {
        renumber(bytes, next_id);
        view_handle_delivery(view, bytes.data(), static_cast<int>(bytes.size()));
        // Keep the log from filling the disk on long runs.
        if (save && ++deliveries % 8192 == 0) {
            state.PauseTiming();
            if (ftruncate(log_fd, 0) != 0) state.SkipWithError("cannot truncate the log");
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * batch),
                           benchmark::Counter::kIsRate);
    close(log_fd);
    unlink(log_path);
    std::fclose(devnull);
}

void BM_Rows(benchmark::State& state) { run(state, false, false); }
void BM_RowsAndLog(benchmark::State& state) { run(state, true, false); }
void BM_Json(benchmark::State& state) { run(state, false, true); }
void BM_JsonAndLog(benchmark::State& state) { run(state, true, true); }

BENCHMARK(BM_Rows)->Arg(1)->Arg(16)->Arg(404);
BENCHMARK(BM_RowsAndLog)->Arg(1)->Arg(16)->Arg(404);
BENCHMARK(BM_Json)->Arg(1)->Arg(404);
BENCHMARK(BM_JsonAndLog)->Arg(1)->Arg(404);

}  // namespace

BENCHMARK_MAIN();
