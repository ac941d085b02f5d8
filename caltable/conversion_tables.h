// Detector millivolts to dBm through the per-band conversion tables
// "/data/quillon/vtx/<token>_mv_to_dbm.csv", cached in static storage.
#pragma once

#include "detector_trim.h"

constexpr int CSV_CACHE_MAX_ROWS = 1000;
constexpr int CSV_CACHE_COLUMNS = 9;  // key mV, then dBm for MCS 0..7
constexpr int CSV_MAX_MCS = 7;

typedef struct csv_cache_t {
    double data[CSV_CACHE_MAX_ROWS][CSV_CACHE_COLUMNS];
    int row_count;
    bool is_loaded;
    int line[CSV_CACHE_MAX_ROWS];  // the file line (from 1, the header) each row came from
    // What has been said of the band's table, each once per process
    // (conversion_table_check.h); a reload keeps them.
    bool reference_checked;  // compared with the reference curves (and warned)
    bool fault_noted;        // monitoring told its fault
    bool found_sound;        // the rows as loaded passed the check; cleared by a load
} csv_cache_t;

typedef struct csv_cache_manager_t {
    csv_cache_t band_2_4;
    csv_cache_t band_5_1;
    csv_cache_t band_5_8;
    // The board's detector trim, which every conversion goes through, read
    // once beside the tables (installed_detector_trims()).
    bool trims_read;
    detector_trims_t trims;
} csv_cache_manager_t;

// The one conversion-table cache of the process, main thread only; written
// by this module alone.
extern csv_cache_manager_t g_csv_cache_manager;

// The trims on the board, read once: none when the file is missing; none,
// said once on standard error, when it is there but cannot be used.
const detector_trims_t& installed_detector_trims();

// Forget what was read, so that the next call reads the file again (after
// a trim has replaced it).
void forget_installed_detector_trims();

// True the first time it is asked for a band key's table ("2.4", "5.1",
// "5.8"; false for any other): what is said of a table once per process.
bool first_reference_check(const char* band);
bool first_fault_note(const char* band);

// Whether the band's table as loaded has passed its check, and the note
// that it has: a sound table is checked once per load, not at every reading.
bool conversion_table_found_sound(const char* band);
void note_conversion_table_sound(const char* band);

int read_csv_data_cached(double* mv_out, double* dbm_out, int mcs, const char* band, double mv);
int load_csv_cache(csv_cache_t* cache, const char* path);
csv_cache_t* get_csv_cache_for_freq(const char* band);
void init_csv_cache_manager(void);
// The cached lookup's rule (nearest key, the rounded mean in the middle of
// an interval) on a loaded table; 0 dBm for a table without rows.
double lookup_in_table(const csv_cache_t& table, int mcs, double mv);
// "/data/quillon/vtx/<token>_mv_to_dbm.csv" for a band key.
void conversion_table_file(const char* band, char (&path)[256]);
// The band's cached table, loaded if need be; nullptr for an unknown key or
// after the failed load's message.
const csv_cache_t* loaded_conversion_table(const char* band);
// The key of the last row of a band's cached table (loaded if need be): the
// highest voltage the table can convert. -1 when the table cannot be
// loaded (after the load's message) or holds no rows.
int conversion_table_top_mv(const char* band, double* top_mv);
// The key of a loaded table's last row; false for a table without rows.
bool table_top_mv(const csv_cache_t& table, double* top_mv);
// The inverse of the cached lookup, interpolated between rows: the voltage
// at which the band's table gives `dbm` in the MCS column. -1 when the
// table cannot be loaded or never gives that dBm.
int conversion_table_mv_at_dbm(const char* band, int mcs, double dbm, double* mv);
// The same lookup without the cache, reading the file at every call. The
// monitor itself uses only the cached one; this one stays part of the
// tables' interface for callers that must see a table as it is now.
int read_csv_data(double* mv_out, double* dbm_out, int mcs, const char* band, double mv);
// Case-insensitive substring search. Nothing in orvi-rfmon calls it (table
// headers are matched case-sensitively); it stays with the table helpers.
const char* custom_strcasestr(const char* haystack, const char* needle);
