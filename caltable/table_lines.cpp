#include "table_lines.h"

table_line_faults_t find_table_line_faults(std::string_view text) {
    table_line_faults_t faults = {0, 0};
    size_t start = 0;
    for (long line = 1; start < text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view content = text.substr(start, end - start);
        if (faults.first_nul_line == 0 && content.find('\0') != std::string_view::npos)
            faults.first_nul_line = line;
        if (faults.first_long_line == 0 && content.size() > TABLE_LINE_LONGEST)
            faults.first_long_line = line;
        start = end + 1;
    }
    return faults;
}
