#include "conversion_range.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// As orvi-rfmon loads a table: 1024-byte line buffer, at most 1000 rows,
// a row being any line with a field once runs of commas are skipped.
constexpr int LINE_BYTES = 1024;
constexpr int MAX_ROWS = 1000;

bool first_field(const char* line, double* key) {
    const char* start = line + std::strspn(line, ",");
    if (*start == '\0') return false;
    *key = std::strtod(start, nullptr);
    return true;
}

}  // namespace

double conversion_table_top_mv(const std::string& dir, const char* band) {
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    path += std::string(band) + "_mv_to_dbm.csv";
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return 0.0;
    char line[LINE_BYTES];
    double top = 0.0;
    int rows = 0;
    if (std::fgets(line, sizeof line, file)) {
        double key = 0.0;
        while (rows < MAX_ROWS && std::fgets(line, sizeof line, file)) {
            if (!first_field(line, &key)) continue;
            top = key;
            ++rows;
        }
    }
    std::fclose(file);
    return rows > 0 ? top : 0.0;
}
