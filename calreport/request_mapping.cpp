#include "request_mapping.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "frequency_bands.h"
#include "power_units.h"
#include "safety_limits.h"
#include "safety_limits.h"

namespace {

// `fd` back to what `saved` holds, or closed again if it was closed.
void restore_stream(int saved, int fd) {
    if (saved < 0) {
        close(fd);
        return;
    }
    dup2(saved, fd);
    close(saved);
}

// The power map code prints its diagnostics ("Limiting power for frequency
// ...", loader complaints) on the standard streams, which would break the
// one-line and JSON outputs; they go to /dev/null while it runs. The saved
// copies stay above 2, so a closed standard stream is never mistaken for
// the other one.
template <typename F>
auto without_library_output(F&& call) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_out = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int saved_err = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) {
        dup2(null_fd, STDOUT_FILENO);
        dup2(null_fd, STDERR_FILENO);
        if (null_fd > STDERR_FILENO) close(null_fd);
    }
    auto result = call();
    std::fflush(stdout);
    std::fflush(stderr);
    restore_stream(saved_out, STDOUT_FILENO);
    restore_stream(saved_err, STDERR_FILENO);
    return result;
}

const table_column_t* column_of(const calibration_table_t& table, int mcs) {
    for (const table_column_t& column : table.columns) {
        if (column.mcs == mcs) return &column;
    }
    return nullptr;
}

// The table column whose curve the map holds for `mcs`: the MCS's own, or
// the one the map's normalisation copied into it.
const table_column_t* source_column(const calibration_table_t& table, int mcs) {
    if (const table_column_t* own = column_of(table, mcs)) return own;
    const int source = mcsCoverageSource(mcs);
    return source < 0 ? nullptr : column_of(table, source);
}

}  // namespace

PowerMap transmitter_power_map(const calibration_table_t& table) {
    return without_library_output([&] {
        PowerMap map = loadPowerCalibrationDataFromString(table.text);
        normalizeMcsCoverage(map);
        return map;
    });
}

power_pick_t pick_power_index(const calibration_table_t& table, const PowerMap& map, int mcs,
                              int request_mw, int frequency, RegulatoryDomain domain,
                              double uncertainty_db) {
    power_pick_t pick = {request_mw, request_mw, 1, false, 0, false, 0};
    pick.fcc = domain == REGULATORY_DOMAIN_FCC && in_fcc_cap_band(frequency);
    pick.index = without_library_output(
        [&] { return findClosestPowerIndex(map, mcs, &pick.capped_mw, frequency, domain, true); });
    int served = 0;
    const table_column_t* column =
        servingMcs(map, mcs, &served) ? source_column(table, served) : nullptr;
    if (column && pick.index >= 1 && pick.index <= CALIBRATION_TABLE_LEVELS &&
        column->level[pick.index].kind == CELL_MEASURED) {
        pick.measured = true;
        pick.measured_mw = column->level[pick.index].value;
        pick.most_mw = pick.measured_mw * std::pow(10.0, uncertainty_db / 10.0);
    }
    return pick;
}

bool pick_off_target(const power_pick_t& pick) {
    if (!pick.measured || pick.capped_mw <= 0) return true;
    return std::fabs(mW_to_dBm(pick.measured_mw) - mW_to_dBm(pick.capped_mw)) > REQUEST_TOLERANCE_DB;
}
