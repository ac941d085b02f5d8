// Monitoring's comparison of each reading with the calibration table: the
// transmitter picks power indices from that table, so a unit that no longer
// puts out what it says (an ageing amplifier, a damaged coupler) is worth a
// line before the link fails.
#pragma once

#include <sys/types.h>

#include "sensor_data.h"
#include "table_values.h"

// Readings in a row outside the tolerance before the warning.
constexpr int DRIFT_READINGS = 5;
constexpr double DEFAULT_DRIFT_TOLERANCE_DB = 1.5;

typedef struct drift_watch_t {
    char path[256];        // the table in memory, "" while none
    int mcs;
    ino_t inode;           // what the file was when read: a rewritten table is read again
    off_t size;
    long long modified_ns;
    bool usable;           // the file had the MCS column
    table_dbm_t table;
    int outside_in_a_row;
    bool warned;
} drift_watch_t;

// One monitoring reading (its band's channel) at the telemetry's frequency,
// MCS and power index. Writes one line on standard
// error when the fifth reading in a row is outside the tolerance and one
// when a reading is back within; readings the table has no value for are
// not compared.
void watch_drift(drift_watch_t* watch, int frequency, int mcs, int power_idx,
                 const sensor_data_t& reading, double tolerance_db);

// A reading taken without current telemetry: nothing is compared (its
// index and MCS may not be the transmitter's), and a run of readings
// outside the tolerance starts again.
void pause_drift(drift_watch_t* watch);
