#include "table_reading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

bool all_digits(std::string_view text) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// "MCS<k>_mV" or "MCS<k>_mW": the MCS and whether it is the mW column.
bool column_name(std::string_view name, int* mcs, bool* is_mw) {
    if (name.size() < 7 || name.substr(0, 3) != "MCS") return false;
    std::string_view unit = name.substr(name.size() - 3);
    if (unit != "_mV" && unit != "_mW") return false;
    std::string_view digits = name.substr(3, name.size() - 6);
    if (!all_digits(digits) || digits.size() > 3) return false;
    *mcs = std::atoi(std::string(digits).c_str());
    *is_mw = unit == "_mW";
    return true;
}

bool parse_number(std::string_view text, double* value) {
    if (text.empty() || text.size() > 64) return false;
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() + copy.size() && errno == 0 && std::isfinite(*value) &&
           (copy[0] == '-' || (copy[0] >= '0' && copy[0] <= '9'));
}

// False for a cell that is none of the forms a sweep or a merge writes.
bool classify_cell(std::string_view text, bool is_mw, level_cell_t* cell) {
    *cell = {CELL_ABSENT, 0};
    double value;
    if (text.empty()) return true;
    if (text == "NA") {
        cell->kind = CELL_NA;
        return true;
    }
    if (parse_temperature_marker(text, &value)) {
        *cell = {CELL_TEMPERATURE_STOP, value};
        return true;
    }
    if (!parse_number(text, &value)) return false;
    // The transmitter skips every cell whose integer part is -1.
    if (value <= -1 && value > -2) {
        cell->kind = CELL_NOT_MEASURED;
        return true;
    }
    // An output of zero or less has no dBm; a detector voltage may read 0.
    if (is_mw ? value <= 0 : value < 0) return false;
    *cell = {CELL_MEASURED, value};
    return true;
}

struct header_column_t {
    size_t column;  // index into the table's columns
    bool is_mw;
    std::string name;
};

void report(const std::string& path, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), line, what.c_str());
}

std::string quoted(std::string_view text) {
    // Keep a message on one line whatever the cell holds.
    std::string out = "\"";
    for (char c : text.substr(0, 40)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
    if (text.size() > 40) out += "...";
    return out + "\"";
}

// Everything the descriptor holds, up to one byte over the limit; false
// with errno set on a read error.
bool read_all(int fd, std::string* text) {
    char buffer[16384];
    text->clear();
    while (text->size() <= CALIBRATION_TABLE_MAX_BYTES) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text->append(buffer, static_cast<size_t>(got));
    }
    return true;
}

table_read_t unreadable(const std::string& path, const std::string& what, int fd) {
    std::fprintf(stderr, "%s: %s; table skipped\n", path.c_str(), what.c_str());
    if (fd >= 0) ::close(fd);
    return TABLE_UNREADABLE;
}

// A NUL byte or a line longer than the line buffer makes the table one
// that the sweep would not merge into either; one message for the first.
bool lines_fit(const std::string& text, const std::string& path) {
    const table_line_faults_t faults = find_table_line_faults(text);
    const long nul = faults.first_nul_line, too_long = faults.first_long_line;
    if (nul != 0 && (too_long == 0 || nul <= too_long)) {
        report(path, static_cast<int>(nul), "holds a NUL byte; table skipped");
        return false;
    }
    if (too_long != 0) {
        report(path, static_cast<int>(too_long),
               "longer than " + std::to_string(TABLE_LINE_LONGEST) + " characters; table skipped");
        return false;
    }
    return true;
}

}  // namespace

namespace {

// The header's columns, each placed in the table's column of its MCS; false
// after one message when the header cannot be a calibration table's.
bool read_header(const std::vector<std::string>& names, const std::string& path,
                 calibration_table_t* table, std::vector<header_column_t>* positions) {
    if (names[0] != "Power_Level") {
        report(path, 1, "header does not begin with Power_Level; table skipped");
        return false;
    }
    positions->assign(names.size(), header_column_t{});
    for (size_t i = 1; i < names.size(); ++i) {
        int mcs;
        bool is_mw;
        if (!column_name(names[i], &mcs, &is_mw)) {
            report(path, 1, "column " + quoted(names[i]) + " is not MCS<k>_mV or MCS<k>_mW; table skipped");
            return false;
        }
        if (std::find(names.begin() + 1, names.begin() + i, names[i]) != names.begin() + i) {
            report(path, 1, "column " + std::string(names[i]) + " appears twice; table skipped");
            return false;
        }
        size_t column = 0;
        while (column < table->columns.size() && table->columns[column].mcs != mcs) ++column;
        if (column == table->columns.size()) {
            table_column_t fresh = {};
            fresh.mcs = mcs;
            table->columns.push_back(fresh);
        }
        (*positions)[i] = {column, is_mw, std::string(names[i])};
    }
    return true;
}

// A pair whose mW column is missing gives the transmitter nothing.
bool every_column_has_mw(const std::vector<header_column_t>& positions, const std::string& path,
                         calibration_table_t* table) {
    std::vector<bool> has_mw(table->columns.size(), false);
    for (size_t i = 1; i < positions.size(); ++i) {
        if (positions[i].is_mw) has_mw[positions[i].column] = true;
    }
    for (size_t c = 0; c < has_mw.size(); ++c) {
        if (!has_mw[c]) {
            report(path, 1, "MCS" + std::to_string(table->columns[c].mcs) + "_mV has no MCS" +
                                std::to_string(table->columns[c].mcs) + "_mW column; table skipped");
            table->columns.clear();
            return false;
        }
    }
    if (table->columns.empty()) {
        report(path, 1, "no MCS<k>_mW column; table skipped");
        return false;
    }
    return true;
}

// The level of a line, or 0 after one message when the line is left out.
int level_of_line(const std::vector<std::string>& fields, size_t header_fields, const std::string& path,
                  int line, const int (&line_of_level)[CALIBRATION_TABLE_LEVELS + 1]) {
    if (fields.size() != header_fields) {
        report(path, line, std::to_string(fields.size()) + " fields where the header has " +
                               std::to_string(header_fields) + "; line left out");
        return 0;
    }
    int level = all_digits(fields[0]) ? std::atoi(std::string(fields[0]).c_str()) : 0;
    if (level < 1 || level > CALIBRATION_TABLE_LEVELS) {
        report(path, line, "power level " + quoted(fields[0]) + " is not 1 to 63; line left out");
        return 0;
    }
    if (line_of_level[level]) {
        report(path, line, "power level " + std::to_string(level) + " repeats line " +
                               std::to_string(line_of_level[level]) + "; line left out");
        return 0;
    }
    return level;
}

// Stores one line's cells; false after one message when a cell is of no form
// a sweep or a merge writes (the line is then left out whole).
bool store_cells(const std::vector<std::string>& fields, const std::vector<header_column_t>& positions,
                 int level, const std::string& path, int line, calibration_table_t* table) {
    std::vector<level_cell_t> cells(fields.size());
    for (size_t i = 1; i < fields.size(); ++i) {
        if (!classify_cell(fields[i], positions[i].is_mw, &cells[i])) {
            report(path, line, "cell " + quoted(fields[i]) + " of " + positions[i].name +
                                   " is not a number, -1, NA or TEMP_ERROR_<C>_<tenth>; line left out");
            return false;
        }
    }
    for (size_t i = 1; i < fields.size(); ++i) {
        table_column_t& column = table->columns[positions[i].column];
        if (positions[i].is_mw) {
            column.level[level] = cells[i];
        } else if (cells[i].kind == CELL_MEASURED) {
            column.level_mv[level] = cells[i].value;
        }
    }
    return true;
}

void read_rows(const stored_table_t& stored, const std::vector<header_column_t>& positions,
               const std::string& path, calibration_table_t* table) {
    int line_of_level[CALIBRATION_TABLE_LEVELS + 1] = {};
    for (size_t r = 0; r < stored.rows.size(); ++r) {
        const int line = static_cast<int>(r) + 2;
        const std::string_view row = stored.rows[r];
        if (row.empty()) {
            report(path, line, "blank line; line left out");
            ++table->bad_lines;
            continue;
        }
        const std::vector<std::string> fields = split_table_fields(row);
        const int level = level_of_line(fields, positions.size(), path, line, line_of_level);
        if (level == 0 || !store_cells(fields, positions, level, path, line, table)) {
            ++table->bad_lines;
            continue;
        }
        line_of_level[level] = line;
    }
}

}  // namespace

table_read_t parse_calibration_table(const std::string& text, const std::string& path,
                                     const char* band, calibration_table_t* table) {
    table->path = path;
    table->band = band;
    table->columns.clear();
    table->bad_lines = 0;
    if (text.empty()) {
        report(path, 1, "empty file, no header; table skipped");
        return TABLE_UNREADABLE;
    }
    if (!lines_fit(text, path)) return TABLE_UNREADABLE;
    stored_table_t stored;
    if (parse_stored_table(text, path.c_str(), &stored) != 0) return TABLE_UNREADABLE;

    std::string_view header = stored.header;
    while (!header.empty() && (header.back() == '\n' || header.back() == '\r')) header.remove_suffix(1);
    const std::vector<std::string> names = split_table_fields(header);
    std::vector<header_column_t> positions;
    if (!read_header(names, path, table, &positions) || !every_column_has_mw(positions, path, table))
        return TABLE_UNREADABLE;
    read_rows(stored, positions, path, table);
    table->text = text;
    return TABLE_READ;
}

table_read_t read_calibration_table(const std::string& path, const char* band,
                                    calibration_table_t* table) {
    // Anything but a regular file is refused before it is opened: opening a
    // device can do something. Then the time and the bytes come from one
    // descriptor, so a table renamed over this path meanwhile is read whole,
    // old or new; O_NONBLOCK keeps a FIFO swapped in from stalling the open.
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return TABLE_MISSING;
        return unreadable(path, std::string("cannot be read: ") + std::strerror(errno), -1);
    }
    if (!S_ISREG(info.st_mode)) return unreadable(path, "not a regular file", -1);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return TABLE_MISSING;
        return unreadable(path, std::string("cannot be read: ") + std::strerror(errno), -1);
    }
    if (::fstat(fd, &info) != 0) return unreadable(path, std::string("cannot be read: ") + std::strerror(errno), fd);
    if (!S_ISREG(info.st_mode)) return unreadable(path, "not a regular file", fd);
    std::string text;
    if (!read_all(fd, &text)) return unreadable(path, std::string("cannot be read: ") + std::strerror(errno), fd);
    ::close(fd);
    if (text.size() > CALIBRATION_TABLE_MAX_BYTES) {
        return unreadable(path, "larger than " + std::to_string(CALIBRATION_TABLE_MAX_BYTES) +
                                    " bytes, not a calibration table", -1);
    }
    table->modified = info.st_mtime;
    return parse_calibration_table(text, path, band, table);
}
