// What a stored calibration table says one MCS puts out at each power
// level, for comparing the transmitter with its table after calibration.
#pragma once

#include "calibration_table.h"

typedef struct table_dbm_t {
    bool present[CALIBRATION_TABLE_LEVELS + 1];   // the level's mW cell holds a positive number
    double dbm[CALIBRATION_TABLE_LEVELS + 1];
} table_dbm_t;

enum class table_column_read { read, no_table, no_column, unreadable };

// The MCS<mcs>_mW column of the table at `path` in dBm, by level. Cells that
// hold no measurement ("-1", "NA", a temperature marker) are not present.
// unreadable comes with one message (a perror, or a line saying that the
// path is not a regular file); the other results print nothing.
table_column_read read_table_column(const char* path, int mcs, table_dbm_t* column);

#include "frequency_bands.h"

// "/data/quillon/vtx/calibrated_<token>.csv", the band's table on the board.
void calibration_table_path(const sweep_band_t& band, char (&path)[256]);
