#include "table_values.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frequency_bands.h"
#include "safety_limits.h"
#include "table_files.h"

namespace {

bool whole_number(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' || *end == '\r';
}

// The position of "MCS<mcs>_mW" in the header, or 0 when there is none.
size_t mw_position(const std::string& header, int mcs) {
    const std::vector<std::string> names = split_table_fields(header);
    const std::string wanted = "MCS" + std::to_string(mcs) + "_mW";
    for (size_t i = 1; i < names.size(); ++i) {
        std::string name = names[i];
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (name == wanted) return i;
    }
    return 0;
}

}  // namespace

table_column_read read_table_column(const char* path, int mcs, table_dbm_t* column) {
    *column = {};
    // A FIFO or a device there would hang the reader or hand it anything.
    struct stat info;
    if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "Error: %s is not a regular file\n", path);
        return table_column_read::unreadable;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return table_column_read::no_table;
        std::perror("Failed to open calibration table");
        return table_column_read::unreadable;
    }
    std::string line;
    if (!std::getline(in, line)) return table_column_read::no_column;
    const size_t position = mw_position(line, mcs);
    if (position == 0) return table_column_read::no_column;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = split_table_fields(line);
        if (fields.size() <= position) continue;
        const int level = std::atoi(fields[0].c_str());
        double mw = 0.0;
        if (level < 1 || level > CALIBRATION_TABLE_LEVELS || !whole_number(fields[position], &mw) ||
            !(mw > 0.0))
            continue;
        column->present[level] = true;
        column->dbm[level] = 10.0 * std::log10(mw);
    }
    if (in.bad()) {
        std::perror("Failed to read calibration table");
        return table_column_read::unreadable;
    }
    return table_column_read::read;
}

void calibration_table_path(const sweep_band_t& band, char (&path)[256]) {
    std::snprintf(path, sizeof path, "%s%s%s%s", CALIBRATION_DATA_DIR, CALIBRATION_TABLE_PREFIX,
                  band.token, CALIBRATION_TABLE_SUFFIX);
}
