#include "drift_watch.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "frequency_bands.h"

namespace {

// Reads the table again when it is another file or the same one rewritten.
void refresh_table(drift_watch_t* watch, const char (&path)[256], int mcs) {
    struct stat info;
    if (::stat(path, &info) != 0) {
        watch->usable = false;
        watch->path[0] = '\0';
        return;
    }
    const long long modified_ns =
        static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    if (std::strcmp(watch->path, path) == 0 && watch->mcs == mcs && watch->inode == info.st_ino &&
        watch->size == info.st_size && watch->modified_ns == modified_ns)
        return;
    std::snprintf(watch->path, sizeof watch->path, "%s", path);
    watch->mcs = mcs;
    watch->inode = info.st_ino;
    watch->size = info.st_size;
    watch->modified_ns = modified_ns;
    watch->usable = read_table_column(path, mcs, &watch->table) == table_column_read::read;
}

}  // namespace

void watch_drift(drift_watch_t* watch, int frequency, int mcs, int power_idx,
                 const sensor_data_t& reading, double tolerance_db) {
    char path[256];
    sweep_band_t band;
    if (!sweep_band(frequency, &band)) return;
    calibration_table_path(band, path);
    const double measured_dbm = band.channel == 0 ? reading.ch0_dbm : reading.ch1_dbm;
    refresh_table(watch, path, mcs);
    if (!watch->usable || power_idx < 1 || power_idx > CALIBRATION_TABLE_LEVELS ||
        !watch->table.present[power_idx])
        return;
    const double expected = watch->table.dbm[power_idx];
    const double difference = measured_dbm - expected;
    if (std::fabs(difference) <= tolerance_db) {
        watch->outside_in_a_row = 0;
        if (watch->warned) {
            std::fprintf(stderr,
                         "Output back within %.2f dB of the calibration table: %.2f dBm measured, "
                         "%.2f dBm expected at power index %d, MCS %d\n",
                         tolerance_db, measured_dbm, expected, power_idx, mcs);
            watch->warned = false;
        }
        return;
    }
    if (++watch->outside_in_a_row == DRIFT_READINGS && !watch->warned) {
        std::fprintf(stderr,
                     "Warning: output differs from the calibration table by %+.2f dB: %.2f dBm "
                     "measured, %.2f dBm expected at power index %d, MCS %d (%d readings in a row "
                     "beyond %.2f dB)\n",
                     difference, measured_dbm, expected, power_idx, mcs, DRIFT_READINGS,
                     tolerance_db);
        watch->warned = true;
    }
}

void pause_drift(drift_watch_t* watch) { watch->outside_in_a_row = 0; }
