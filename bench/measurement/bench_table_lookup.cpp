// The cached mV-to-dBm lookup over a full 1000-row table: time per lookup,
// and the allocations it makes (none expected); and the table's check that
// every reading makes beside its lookup.
//
//   build/bench/measurement/bench_table_lookup
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "allocation_counter.h"
#include "conversion_table_check.h"
#include "conversion_tables.h"

namespace {

// A 1000-row table in a temporary file, loaded into the "5.8" cache.
bool load_full_table() {
    char path[] = "/tmp/bench-table-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return false;
    FILE* f = fdopen(fd, "w");
    std::fprintf(f, "mV,MCS0,MCS1,MCS2,MCS3,MCS4,MCS5,MCS6,MCS7\n");
    for (int r = 0; r < CSV_CACHE_MAX_ROWS; ++r) {
        const double mv = 300.0 + r * 0.75;
        const double dbm = 5.0 + r * 0.025;
        std::fprintf(f, "%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f\n", mv, dbm, dbm, dbm, dbm,
                     dbm, dbm, dbm, dbm);
    }
    std::fclose(f);
    init_csv_cache_manager();
    const int result = load_csv_cache(&g_csv_cache_manager.band_5_8, path);
    unlink(path);
    return result == 0 && g_csv_cache_manager.band_5_8.row_count == CSV_CACHE_MAX_ROWS;
}

// The counter must see an allocation it is shown, or its zero means nothing.
bool counter_works() {
    allocation_counter_arm(true);
    std::string* probe = new std::string(100, 'x');
    benchmark::DoNotOptimize(probe);
    delete probe;
    allocation_counter_arm(false);
    return allocation_counter_value() >= 2;
}

void BM_CachedLookup1000Rows(benchmark::State& state) {
    if (!counter_works()) {
        state.SkipWithError("allocation counter sees nothing");
        return;
    }
    if (!load_full_table()) {
        state.SkipWithError("cannot build the table");
        return;
    }
    double x = 300.0;
    double mv = 0, dbm = 0;
    allocation_counter_arm(true);
    for (auto _ : state) {
        read_csv_data_cached(&mv, &dbm, 3, "5.8", x);
        benchmark::DoNotOptimize(dbm);
        x += 0.37;
        if (x > 1100.0)
            x = 300.0;
    }
    allocation_counter_arm(false);
    state.counters["allocations"] = static_cast<double>(allocation_counter_value());
    state.counters["rows"] = g_csv_cache_manager.band_5_8.row_count;
}
BENCHMARK(BM_CachedLookup1000Rows);

// Each channel of a reading asks whether its table has a fault to tell;
// a sound table is checked once per load, not at every reading.
void BM_ReadingTableCheck1000Rows(benchmark::State& state) {
    if (!load_full_table()) {
        state.SkipWithError("cannot build the table");
        return;
    }
    for (auto _ : state) note_conversion_table_fault("5.8");
    state.counters["rows"] = g_csv_cache_manager.band_5_8.row_count;
}
BENCHMARK(BM_ReadingTableCheck1000Rows);

}  // namespace

BENCHMARK_MAIN();
