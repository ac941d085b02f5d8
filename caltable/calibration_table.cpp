#include "calibration_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>


namespace {

std::string format_fixed2(double value) {
    char small[64];
    int n = std::snprintf(small, sizeof small, "%.2f", value);
    if (n >= 0 && n < static_cast<int>(sizeof small)) return std::string(small, n);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%.2f", value);
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string format_name(const char* format, int mcs) {
    char text[64];
    std::snprintf(text, sizeof text, format, mcs, mcs);
    return text;
}

std::string join_fields(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line += ',';
        line += fields[i];
    }
    return line;
}

// Level of a stored line: its first non-empty field as a base-10 integer
// (0 when it does not parse). False when the line has no non-empty field.
bool stored_line_level(std::string_view line, long* level) {
    size_t start = line.find_first_not_of(',');
    if (start == std::string_view::npos) return false;
    size_t end = line.find(',', start);
    std::string field(line.substr(start, end == std::string_view::npos ? end : end - start));
    *level = std::strtol(field.c_str(), nullptr, 10);
    return true;
}

const level_result_t* result_of(const sweep_results_t& results, long level) {
    if (level < 1 || level > CALIBRATION_TABLE_LEVELS) return nullptr;
    const level_result_t* r = &results.level[level];
    return r->valid ? r : nullptr;
}

bool is_temperature_stop(const level_result_t& r) { return r.mv == TEMPERATURE_STOP_MV; }

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::vector<std::string> split_table_fields(std::string_view line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            fields.emplace_back(line.substr(start));
            return fields;
        }
        fields.emplace_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string temperature_marker(double temperature_c) {
    // Sensor temperatures are small; keep the integer conversions defined
    // for anything else.
    double t = temperature_c;
    if (!(t > -1e6)) t = -1e6;
    if (t > 1e6) t = 1e6;
    int whole = static_cast<int>(t);
    int tenth = static_cast<int>((t - whole) * 10);
    char text[48];
    std::snprintf(text, sizeof text, "TEMP_ERROR_%d_%d", whole, tenth);
    return text;
}

namespace {

bool marker_digits(std::string_view text) {
    if (text.empty() || text.size() > 6) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool parse_temperature_marker(std::string_view text, double* celsius) {
    constexpr std::string_view prefix = "TEMP_ERROR_";
    if (text.substr(0, prefix.size()) != prefix) return false;
    std::string_view rest = text.substr(prefix.size());
    const bool negative = !rest.empty() && rest[0] == '-';
    if (negative) rest.remove_prefix(1);
    const size_t underscore = rest.find('_');
    if (underscore == std::string_view::npos) return false;
    const std::string_view whole = rest.substr(0, underscore), tenth = rest.substr(underscore + 1);
    if (!marker_digits(whole) || !marker_digits(tenth)) return false;
    const double value =
        std::atoi(std::string(whole).c_str()) + std::atoi(std::string(tenth).c_str()) / 10.0;
    *celsius = negative ? -value : value;
    return true;
}

void level_cells(const level_result_t& result, const char* absent, std::string* mv_cell,
                 std::string* mw_cell) {
    if (!result.valid) {
        *mv_cell = absent;
        *mw_cell = absent;
    } else if (is_temperature_stop(result)) {
        *mv_cell = temperature_marker(result.mw);
        *mw_cell = *mv_cell;
    } else {
        *mv_cell = format_fixed2(result.mv);
        *mw_cell = format_fixed2(result.mw);
    }
}

int parse_stored_table(const std::string& text, const char* path, stored_table_t* table) {
    table->header.clear();
    table->rows.clear();
    if (text.empty()) {
        errno = ENODATA;
        std::perror("Failed to read header from existing calibration file");
        return -1;
    }
    // Lines that do not fit the line buffer would be read in pieces, each
    // piece becoming a line of its own: refuse them instead. A NUL byte
    // would end the text early for the line-based parts of the merge while
    // the rest still saw it: a corrupt table, left as it is.
    const table_line_faults_t faults = find_table_line_faults(text);
    if (faults.first_nul_line != 0) {
        std::fprintf(stderr,
                     "Error: line %ld of %s holds a NUL byte; the file is left unchanged\n",
                     faults.first_nul_line, path);
        return -1;
    }
    if (faults.first_long_line != 0) {
        std::fprintf(stderr,
                     "Error: line %ld of %s is longer than %zu characters; the file is left "
                     "unchanged\n",
                     faults.first_long_line, path, TABLE_LINE_LONGEST);
        return -1;
    }
    size_t start = 0;
    int line_number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t content_end = end == std::string::npos ? text.size() : end;
        ++line_number;
        if (line_number == 1) {
            size_t header_end = end == std::string::npos ? text.size() : end + 1;
            table->header = text.substr(start, header_end - start);
        } else {
            // A hand-edited table may end its lines in "\r\n".
            size_t row_end = content_end;
            if (row_end > start && text[row_end - 1] == '\r') --row_end;
            table->rows.push_back(text.substr(start, row_end - start));
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return 0;
}

namespace {

// "MCS<digits>_mV" or "MCS<digits>_mW".
bool is_mcs_column_name(std::string_view name) {
    if (name.size() < 7 || name.substr(0, 3) != "MCS") return false;
    const std::string_view unit = name.substr(name.size() - 3);
    if (unit != "_mV" && unit != "_mW") return false;
    const std::string_view digits = name.substr(3, name.size() - 6);
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool is_calibration_table_header(std::string_view header) {
    if (!header.empty() && header.back() == '\n') header.remove_suffix(1);
    if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
    const std::vector<std::string> fields = split_table_fields(header);
    if (fields[0] != "Power_Level") return false;
    int names = 0;
    for (size_t i = 1; i < fields.size(); ++i) {
        if (fields[i].empty()) continue;
        if (!is_mcs_column_name(fields[i])) return false;
        ++names;
    }
    return names > 0;
}

std::string new_table_text(const sweep_results_t& results, int mcs) {
    std::string text = format_name("Power_Level,MCS%d_mV,MCS%d_mW", mcs) + "\n";
    std::string mv_cell, mw_cell;
    for (int level = 1; level <= CALIBRATION_TABLE_LEVELS; ++level) {
        level_cells(results.level[level], "-1", &mv_cell, &mw_cell);
        text += std::to_string(level) + "," + mv_cell + "," + mw_cell + "\n";
    }
    return text;
}

namespace {

// What a merge works out about the stored table before it writes a line.
struct merge_plan_t {
    int mcs;
    std::string mv_name;  // "MCS<mcs>_mV"
    std::string mw_name;
    bool update;         // the sweep's columns exist and are updated, else appended
    std::string header;  // the header written, without its line end
    std::vector<std::string> header_fields;
    int mv_pos;  // the sweep's two columns in header_fields
    int mw_pos;
    std::vector<long> row_levels;  // the level of each stored line
    bool present[CALIBRATION_TABLE_LEVELS + 1];
};

// Update when the header names one of the sweep's columns, append
// otherwise; false when appending would overflow the line buffer.
bool plan_header(const std::string& header, merge_plan_t* plan) {
    plan->update = header.find("MCS") != std::string::npos &&
                   (header.find(plan->mv_name) != std::string::npos ||
                    header.find(plan->mw_name) != std::string::npos);
    std::string body = header;
    if (!body.empty() && body.back() == '\n') body.pop_back();
    if (!body.empty() && body.back() == '\r') body.pop_back();
    if (plan->update) {
        std::printf("MCS%d columns already exist in the file, they will be updated\n", plan->mcs);
        plan->header = body;
        return true;
    }
    const std::string added = format_name(",MCS%d_mV,MCS%d_mW", plan->mcs);
    if (header.size() + 2 + added.size() > static_cast<size_t>(CALIBRATION_LINE_BUFFER)) {
        std::fprintf(stderr, "Header would be too long after adding new columns\n");
        return false;
    }
    plan->header = body + added;
    return true;
}

// The level of every stored line, and which levels are present; false
// when a line has no field to take it from.
bool plan_row_levels(const stored_table_t& stored, merge_plan_t* plan) {
    plan->row_levels.reserve(stored.rows.size());
    for (const std::string& row : stored.rows) {
        long level = 0;
        if (!stored_line_level(row, &level)) {
            errno = EINVAL;
            std::perror("Failed to parse power level from data row");
            return false;
        }
        if (level >= 1 && level <= CALIBRATION_TABLE_LEVELS) plan->present[level] = true;
        plan->row_levels.push_back(level);
    }
    return true;
}

// The last field naming the mV column, the last other one naming the mW
// column; false when they cannot hold the sweep's two cells.
bool plan_target_columns(const char* path, merge_plan_t* plan) {
    plan->header_fields = split_table_fields(plan->header);
    const std::vector<std::string>& fields = plan->header_fields;
    plan->mv_pos = -1;
    plan->mw_pos = -1;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].find(plan->mv_name) != std::string::npos) plan->mv_pos = static_cast<int>(i);
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        const bool names_mv = fields[i].find(plan->mv_name) != std::string::npos;
        const bool names_mw = fields[i].find(plan->mw_name) != std::string::npos;
        if (!names_mv && names_mw) plan->mw_pos = static_cast<int>(i);
    }
    const char* mv = plan->mv_name.c_str();
    const char* mw = plan->mw_name.c_str();
    // Writing two cells under a header that names only one of them would
    // leave lines and header disagreeing; such a table needs a hand fix.
    if (plan->mv_pos < 0 || plan->mw_pos < 0) {
        std::fprintf(stderr,
                     "Error: the header of %s names only one of %s and %s; the file is left "
                     "unchanged\n",
                     path, mv, mw);
        return false;
    }
    // The first field of every line is its level; a cell written there would
    // lose the level.
    if (plan->mv_pos == 0 || plan->mw_pos == 0) {
        std::fprintf(stderr,
                     "Error: the header of %s has %s in the power level column; the file is "
                     "left unchanged\n",
                     path, plan->mv_pos == 0 ? mv : mw);
        return false;
    }
    return true;
}

// One stored line with the sweep's cells for its level (`r`, nullptr when
// the sweep has none; `withheld` when its cells must be "-1" all the same):
// appended, or put in place of the old ones.
bool merge_row(const std::string& row, const level_result_t* r, bool withheld,
               const merge_plan_t& plan, std::string* text) {
    std::string mv_cell, mw_cell;
    if (!plan.update) {
        if (r) {
            level_cells(*r, "-1", &mv_cell, &mw_cell);
        } else {
            mv_cell = mw_cell = "-1";
        }
        *text += row + "," + mv_cell + "," + mw_cell + "\n";
        return true;
    }
    std::vector<std::string> fields = split_table_fields(row);
    const size_t count = fields.size();
    // Fields keep their places here, so a line whose first field is empty
    // has its level in a data column, where a new cell would overwrite it.
    if (fields.empty() || fields[0].empty()) {
        errno = EINVAL;
        std::perror("Failed to parse power level from data row");
        return false;
    }
    if (r) {
        level_cells(*r, "-1", &mv_cell, &mw_cell);
        if (static_cast<size_t>(plan.mv_pos) < count) fields[plan.mv_pos] = mv_cell;
        if (static_cast<size_t>(plan.mw_pos) < count) fields[plan.mw_pos] = mw_cell;
    } else {
        for (int pos : {plan.mv_pos, plan.mw_pos}) {
            if (static_cast<size_t>(pos) < count &&
                (withheld || fields[pos].empty() || fields[pos] == "NA")) {
                fields[pos] = "-1";
            }
        }
    }
    *text += join_fields(fields) + "\n";
    return true;
}

// A line for every level 1..63 that the stored table lacks, after its lines.
void add_missing_levels(const sweep_results_t& results, const merge_plan_t& plan,
                        std::string* text) {
    std::string mv_cell, mw_cell;
    for (int level = 1; level <= CALIBRATION_TABLE_LEVELS; ++level) {
        if (plan.present[level]) continue;
        std::vector<std::string> fields(plan.header_fields.size());
        fields[0] = std::to_string(level);
        level_cells(results.level[level], results.withheld[level] ? "-1" : "NA", &mv_cell,
                    &mw_cell);
        fields[plan.mv_pos] = mv_cell;
        fields[plan.mw_pos] = mw_cell;
        *text += join_fields(fields) + "\n";
    }
}

// Every line must read back through the line buffer, or the next sweep
// could not merge into this table.
bool lines_fit_buffer(const std::string& text, const char* path) {
    const long line = find_table_line_faults(text).first_long_line;
    if (line == 0) return true;
    std::fprintf(stderr,
                 "Error: merging into %s would write line %ld longer than %zu characters; "
                 "the file is left unchanged\n",
                 path, line, TABLE_LINE_LONGEST);
    return false;
}

}  // namespace

int merge_table_text(const stored_table_t& stored, const sweep_results_t& results, int mcs,
                     const char* path, std::string* merged) {
    merge_plan_t plan = {};
    plan.mcs = mcs;
    plan.mv_name = format_name("MCS%d_mV", mcs);
    plan.mw_name = format_name("MCS%d_mW", mcs);
    if (!plan_header(stored.header, &plan) || !plan_row_levels(stored, &plan) ||
        !plan_target_columns(path, &plan)) {
        return -1;
    }
    std::string text = plan.header + "\n";
    for (size_t i = 0; i < stored.rows.size(); ++i) {
        const long level = plan.row_levels[i];
        const level_result_t* r = result_of(results, level);
        const bool withheld =
            level >= 1 && level <= CALIBRATION_TABLE_LEVELS && results.withheld[level];
        if (!merge_row(stored.rows[i], r, withheld, plan, &text)) return -1;
    }
    add_missing_levels(results, plan, &text);
    if (!lines_fit_buffer(text, path)) return -1;
    *merged = std::move(text);
    return 0;
}

namespace {

void note_temporary_file(temporary_file_observer_t observer, const char* path) {
    if (observer) observer(path);
}

// The temporary file beside `target`, unique to this call and created
// exclusively (never a file or link that was there), noted for the observer
// once it exists. -1 after the perror.
int create_temporary_beside(const std::string& target, mode_t mode,
                            temporary_file_observer_t observer, std::string* temporary) {
    *temporary = target + ".tmp.XXXXXX";
    const int fd = ::mkostemp(temporary->data(), O_CLOEXEC);
    if (fd < 0) {
        std::perror("Failed to open output file for calibration data");
        return -1;
    }
    note_temporary_file(observer, temporary->c_str());
    if (::fchmod(fd, mode) != 0) {
        std::perror("Failed to write calibration data");
        ::close(fd);
        ::unlink(temporary->c_str());
        note_temporary_file(observer, nullptr);
        return -1;
    }
    return fd;
}

void remove_temporary(const std::string& temporary, temporary_file_observer_t observer) {
    ::unlink(temporary.c_str());
    note_temporary_file(observer, nullptr);
}

}  // namespace

int replace_file_contents(const char* path, const std::string& text, bool (*abandon)(),
                          temporary_file_observer_t observer) {
    // A table that is a link to another file is replaced where it really lives.
    char resolved[PATH_MAX];
    const std::string target(::realpath(path, resolved) ? resolved : path);
    path = target.c_str();
    mode_t mode = 0644;
    struct stat existing;
    if (::stat(path, &existing) == 0) mode = existing.st_mode & 07777;

    std::string temporary;
    const int fd = create_temporary_beside(target, mode, observer, &temporary);
    if (fd < 0) return -1;
    bool ok = write_all(fd, text) && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        errno = saved;
        std::perror("Failed to write calibration data");
        remove_temporary(temporary, observer);
        return -1;
    }
    if (abandon && abandon()) {
        remove_temporary(temporary, observer);
        return -1;
    }
    if (::rename(temporary.c_str(), path) != 0) {
        std::perror("Failed to replace calibration file");
        remove_temporary(temporary, observer);
        return -1;
    }
    note_temporary_file(observer, nullptr);
    // Make the rename itself durable; the new table is in place either way.
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}
