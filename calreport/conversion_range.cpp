#include "conversion_range.h"

#include <cstdio>
#include <memory>

#include "conversion_tables.h"
#include "table_files.h"

conversion_table_t read_conversion_table(const std::string& dir, const char* band) {
    conversion_table_t result = {};
    result.path = conversion_table_file_in(dir, band);
    // The loader reports a file it cannot open; a folder without this
    // table is no fault of the calibration tables.
    std::FILE* probe = std::fopen(result.path.c_str(), "r");
    if (!probe) return result;
    std::fclose(probe);
    auto table = std::make_unique<csv_cache_t>();
    result.read = true;
    if (load_csv_cache(table.get(), result.path.c_str()) != 0) {
        result.fault = "line 1: no header";
        return result;
    }
    table_top_mv(*table, &result.top_mv);
    result.fault = conversion_table_fault(*table);
    if (result.fault.empty()) result.deviation = reference_deviation(*table, band);
    return result;
}

bool conversion_table_defective(const conversion_table_t& table) {
    return table.read && (!table.fault.empty() || table.deviation.columns_off > 0);
}
