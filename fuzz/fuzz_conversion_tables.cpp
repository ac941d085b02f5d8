// The conversion-table loader and both lookups over arbitrary file contents.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "conversion_tables.h"
#include "fuzz_input.h"

namespace {

// The uncached lookup reads its fixed path; only write there inside the
// hermetic runner, which gives /data a private tmpfs.
bool may_write_data_folder() { return std::getenv("ORVI_SIM_INSIDE") != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int mcs = in.integer(-2, 9);
    const double mv = in.integer(-100, 2000) + in.byte() / 256.0;
    const std::string text = in.rest();

    const int fd = memfd_create("table", 0);
    if (fd < 0) return 0;
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        close(fd);
        return 0;
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    init_csv_cache_manager();
    csv_cache_t* cache = get_csv_cache_for_freq("5.8");
    const int loaded = load_csv_cache(cache, path);
    if (loaded == 0 && (cache->row_count < 0 || cache->row_count > CSV_CACHE_MAX_ROWS)) std::abort();
    if (loaded == 0) {
        double got_mv = -1, dbm = 12345;
        const int r = read_csv_data_cached(&got_mv, &dbm, mcs, "5.8", mv);
        if (r == 0 && got_mv != mv) std::abort();
        if (r != 0 && (mcs >= 0 && mcs <= 7)) std::abort();
        if (r != 0 && dbm != 12345) std::abort();
    }
    close(fd);

    if (may_write_data_folder()) {
        if (FILE* f = std::fopen("/data/quillon/vtx/fz_mv_to_dbm.csv", "w")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
            double got_mv = 0, dbm = 0;
            read_csv_data(&got_mv, &dbm, mcs, "fz", mv);
        }
    }
    return 0;
}
