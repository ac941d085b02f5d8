#include "conversion_tables.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "safety_limits.h"
#include "table_files.h"

csv_cache_manager_t g_csv_cache_manager;

namespace {

constexpr int LINE_BYTES = 1024;
constexpr int PATH_BYTES = 256;
constexpr int TOKEN_BYTES = 10;

const char* printable(const char* text) {
    return text ? text : "(null)";
}

// "5.8" -> "/data/quillon/vtx/5_8_mv_to_dbm.csv"; only the first nine
// characters of the key take part.
void table_path(char (&path)[PATH_BYTES], const char* band) {
    char token[TOKEN_BYTES] = {};
    std::snprintf(token, sizeof token, "%s", band);
    for (char* c = token; *c; ++c) {
        if (*c == '.')
            *c = '_';
    }
    std::snprintf(path, sizeof path, "%s%s%s", CALIBRATION_DATA_DIR, token,
                  CONVERSION_TABLE_SUFFIX);
}

// A table file read line by line as fgets would with a LINE_BYTES buffer (a
// longer line comes in pieces of LINE_BYTES - 1 characters), without the
// allocations of stdio.
struct table_file_t {
    int fd;
    size_t start;
    size_t end;
    bool at_end;
    int next_line_number;  // the file line the next piece starts on
    int line_number;       // the file line of the piece last read
    char buffer[4096];
};

bool next_line(table_file_t* file, char (&line)[LINE_BYTES]) {
    file->line_number = file->next_line_number;
    size_t n = 0;
    while (n < LINE_BYTES - 1) {
        if (file->start == file->end) {
            if (file->at_end)
                break;
            ssize_t got;
            do {
                got = read(file->fd, file->buffer, sizeof file->buffer);
            } while (got < 0 && errno == EINTR);
            if (got <= 0) {
                file->at_end = true;
                break;
            }
            file->start = 0;
            file->end = static_cast<size_t>(got);
        }
        const char c = file->buffer[file->start++];
        line[n++] = c;
        if (c == '\n') {
            ++file->next_line_number;
            break;
        }
    }
    line[n] = '\0';
    return n > 0;
}

// Opens a table and consumes its header line; false (message printed) on failure.
bool open_table(table_file_t* file, const char* path, char (&line)[LINE_BYTES]) {
    file->start = file->end = 0;
    file->at_end = false;
    file->next_line_number = 1;
    file->fd = open(path, O_RDONLY | O_CLOEXEC);
    if (file->fd < 0) {
        perror("Error opening csv dbm conversion file");
        return false;
    }
    if (!next_line(file, line)) {
        std::fprintf(stderr, "Error reading CSV header\n");
        close(file->fd);
        return false;
    }
    return true;
}

// Running state of the nearest-key search with its midpoint rule.
struct nearest_search_t {
    double x;
    double best_distance;
    double best_value;
    bool has_previous;
    double previous_key;
    double previous_value;
};

nearest_search_t start_search(double x) {
    return {x, INFINITY, 0.0, false, 0.0, 0.0};
}

void consider_row(nearest_search_t* s, double key, double value) {
    const double x = s->x;
    bool midpoint = false;
    if (s->has_previous && s->previous_key <= x && x <= key) {
        const double m = (s->previous_key + key) / 2.0;
        const double to_mid = std::fabs(x - m);
        if (to_mid < std::fabs(x - key) && to_mid < std::fabs(x - s->previous_key)) {
            // Between two neighbours: their mean on a 0.5 dB grid. On a table
            // finer than the grid that mean could land outside both
            // neighbours (16.50 between 16.24 and 16.26), so it is held
            // between them.
            s->best_distance = to_mid;
            const double low = std::fmin(s->previous_value, value);
            const double high = std::fmax(s->previous_value, value);
            s->best_value = std::fmin(std::fmax(std::round(s->previous_value + value) / 2.0, low), high);
            midpoint = true;
        }
    }
    if (!midpoint && std::fabs(x - key) < s->best_distance) {
        s->best_distance = std::fabs(x - key);
        s->best_value = value;
    }
    s->has_previous = true;
    s->previous_key = key;
    s->previous_value = value;
}

}  // namespace

int load_csv_cache(csv_cache_t* cache, const char* path) {
    if (cache->is_loaded)
        return 0;
    char line[LINE_BYTES];
    table_file_t file;
    if (!open_table(&file, path, line))
        return -1;
    cache->row_count = 0;
    while (cache->row_count < CSV_CACHE_MAX_ROWS && next_line(&file, line)) {
        char* state = nullptr;
        char* field = strtok_r(line, ",", &state);
        if (!field)
            continue;
        cache->line[cache->row_count] = file.line_number;
        double* row = cache->data[cache->row_count];
        row[0] = std::strtod(field, nullptr);
        for (int column = 1; column < CSV_CACHE_COLUMNS; ++column) {
            field = strtok_r(nullptr, ",", &state);
            row[column] = field ? std::strtod(field, nullptr) : 0.0;
        }
        ++cache->row_count;
    }
    close(file.fd);
    cache->is_loaded = true;
    cache->found_sound = false;
    return 0;
}

csv_cache_t* get_csv_cache_for_freq(const char* band) {
    if (!band)
        return nullptr;
    if (std::strcmp(band, "2.4") == 0)
        return &g_csv_cache_manager.band_2_4;
    if (std::strcmp(band, "5.1") == 0)
        return &g_csv_cache_manager.band_5_1;
    if (std::strcmp(band, "5.8") == 0)
        return &g_csv_cache_manager.band_5_8;
    return nullptr;
}

void init_csv_cache_manager(void) {
    csv_cache_t* const caches[] = {&g_csv_cache_manager.band_2_4, &g_csv_cache_manager.band_5_1,
                                   &g_csv_cache_manager.band_5_8};
    for (csv_cache_t* cache : caches) {
        cache->row_count = 0;
        cache->is_loaded = false;
    }
}

namespace {

int load_band_cache(csv_cache_t* cache, const char* band) {
    if (cache->is_loaded)
        return 0;
    char path[PATH_BYTES];
    table_path(path, band);
    return load_csv_cache(cache, path);
}

}  // namespace

void conversion_table_file(const char* band, char (&path)[256]) {
    table_path(path, printable(band));
}

const csv_cache_t* loaded_conversion_table(const char* band) {
    csv_cache_t* cache = get_csv_cache_for_freq(band);
    if (!cache || load_band_cache(cache, band) != 0)
        return nullptr;
    return cache;
}

int conversion_table_top_mv(const char* band, double* top_mv) {
    csv_cache_t* cache = get_csv_cache_for_freq(band);
    if (!cache || load_band_cache(cache, band) != 0 || !table_top_mv(*cache, top_mv))
        return -1;
    return 0;
}

bool table_top_mv(const csv_cache_t& table, double* top_mv) {
    if (table.row_count == 0)
        return false;
    *top_mv = table.data[table.row_count - 1][0];
    return true;
}

const detector_trims_t& installed_detector_trims() {
    csv_cache_manager_t& cache = g_csv_cache_manager;
    if (cache.trims_read) return cache.trims;
    cache.trims_read = true;
    cache.trims = {};
    std::string why;
    if (read_detector_trims(CALIBRATION_DATA_DIR, &cache.trims, &why) == TRIM_FILE_UNUSABLE)
        std::fprintf(stderr, "Warning: %s; the detector is taken as untrimmed\n", why.c_str());
    return cache.trims;
}

void forget_installed_detector_trims() {
    g_csv_cache_manager.trims_read = false;
    g_csv_cache_manager.trims = {};
}

namespace {

bool first_time(bool* said) {
    if (*said)
        return false;
    *said = true;
    return true;
}

}  // namespace

bool first_reference_check(const char* band) {
    csv_cache_t* cache = get_csv_cache_for_freq(band);
    return cache && first_time(&cache->reference_checked);
}

bool first_fault_note(const char* band) {
    csv_cache_t* cache = get_csv_cache_for_freq(band);
    return cache && first_time(&cache->fault_noted);
}

bool conversion_table_found_sound(const char* band) {
    const csv_cache_t* cache = get_csv_cache_for_freq(band);
    return cache && cache->is_loaded && cache->found_sound;
}

void note_conversion_table_sound(const char* band) {
    csv_cache_t* cache = get_csv_cache_for_freq(band);
    if (cache && cache->is_loaded) cache->found_sound = true;
}

int read_csv_data_cached(double* mv_out, double* dbm_out, int mcs, const char* band, double mv) {
    if (static_cast<unsigned>(mcs) > static_cast<unsigned>(CSV_MAX_MCS)) {
        std::fprintf(stderr, "Invalid MCS value: %d. Must be 0-%d\n", mcs, CSV_MAX_MCS);
        return -1;
    }
    csv_cache_t* cache = get_csv_cache_for_freq(band);
    if (!cache) {
        std::fprintf(stderr, "Invalid frequency: %s\n", printable(band));
        return -1;
    }
    if (load_band_cache(cache, band) != 0)
        return -1;
    *dbm_out = lookup_in_table(*cache, mcs, mv);
    *mv_out = mv;
    return 0;
}

double lookup_in_table(const csv_cache_t& table, int mcs, double mv) {
    nearest_search_t search = start_search(mv);
    for (int r = 0; r < table.row_count; ++r) {
        consider_row(&search, table.data[r][0], table.data[r][mcs + 1]);
    }
    return search.best_value;
}

int read_csv_data(double* mv_out, double* dbm_out, int mcs, const char* band, double mv) {
    char path[PATH_BYTES];
    table_path(path, printable(band));
    char line[LINE_BYTES];
    table_file_t file;
    if (!open_table(&file, path, line))
        return -1;
    // Field index of the value, 0-based; any negative MCS lands on the key.
    const long long wanted = mcs < 0 ? 0 : static_cast<long long>(mcs) + 1;
    nearest_search_t search = start_search(mv);
    while (next_line(&file, line)) {
        char* state = nullptr;
        char* field = strtok_r(line, ",", &state);
        if (!field)
            continue;
        const double key = std::strtod(field, nullptr);
        long long index = 0;
        while (field && index < wanted) {
            field = strtok_r(nullptr, ",", &state);
            ++index;
        }
        if (!field)
            continue;  // no value for this MCS: not even a neighbour
        consider_row(&search, key, std::strtod(field, nullptr));
    }
    close(file.fd);
    *dbm_out = search.best_value;
    *mv_out = mv;
    return 0;
}

const char* custom_strcasestr(const char* haystack, const char* needle) {
    if (!haystack || !needle)
        return nullptr;
    const size_t length = std::strlen(needle);
    if (length == 0)
        return haystack;
    for (const char* p = haystack; *p; ++p) {
        if (strncasecmp(p, needle, length) == 0)
            return p;
    }
    return nullptr;
}

int conversion_table_mv_at_dbm(const char* band, int mcs, double dbm, double* mv) {
    csv_cache_t* cache = get_csv_cache_for_freq(band);
    if (static_cast<unsigned>(mcs) > static_cast<unsigned>(CSV_MAX_MCS) || !cache ||
        load_band_cache(cache, band) != 0)
        return -1;
    // The first pair of rows that encloses dbm, interpolated; a column that
    // never reaches it has no voltage for it.
    for (int r = 1; r < cache->row_count; ++r) {
        const double low = cache->data[r - 1][mcs + 1], high = cache->data[r][mcs + 1];
        if (!(low <= dbm && dbm <= high) || !(high > low)) continue;
        const double k0 = cache->data[r - 1][0], k1 = cache->data[r][0];
        *mv = k0 + (dbm - low) / (high - low) * (k1 - k0);
        return 0;
    }
    return -1;
}
