// A stored calibration table of arbitrary contents merged with a sweep's
// results: whatever the stored text, an accepted merge must parse back, keep
// the stored header as its prefix, keep every stored line, and cover every
// level 1..63.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "calibration_table.h"
#include "fuzz_input.h"

namespace {

int level_of(const std::string& line) {
    const size_t start = line.find_first_not_of(',');
    if (start == std::string::npos) return 0;
    return static_cast<int>(std::strtol(line.c_str() + start, nullptr, 10));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int mcs = in.integer(0, 7);
    sweep_results_t results;
    std::memset(&results, 0, sizeof results);
    const int stop = in.integer(0, 63);
    for (int level = 1; level <= stop; ++level) {
        const uint8_t kind = in.byte() % 4;
        if (kind == 0) continue;
        results.level[level].valid = true;
        results.level[level].mv = kind == 3 ? TEMPERATURE_STOP_MV : in.integer(0, 1500) + 0.25;
        results.level[level].mw = in.integer(0, 2000) / 3.0;
    }
    const std::string text = in.rest();

    stored_table_t stored;
    if (parse_stored_table(text, "fuzz", &stored) != 0) return 0;
    std::string merged;
    if (merge_table_text(stored, results, mcs, "fuzz", &merged) != 0) return 0;

    stored_table_t back;
    if (parse_stored_table(merged, "merged", &back) != 0) std::abort();
    std::string stored_header = stored.header;
    while (!stored_header.empty() && (stored_header.back() == '\n' || stored_header.back() == '\r')) {
        stored_header.pop_back();  // the line end, "\r\n" included
    }
    if (back.header.compare(0, stored_header.size(), stored_header) != 0) std::abort();
    if (back.rows.size() < stored.rows.size()) std::abort();
    std::set<int> levels;
    for (const auto& row : back.rows) levels.insert(level_of(row));
    for (int level = 1; level <= CALIBRATION_TABLE_LEVELS; ++level) {
        if (!levels.count(level)) {
            std::fprintf(stderr, "merged table lacks level %d:\n%s", level, merged.c_str());
            std::abort();
        }
    }

    const std::string fresh = new_table_text(results, mcs);
    stored_table_t fresh_back;
    if (parse_stored_table(fresh, "new", &fresh_back) != 0) std::abort();
    if (fresh_back.rows.size() != CALIBRATION_TABLE_LEVELS) std::abort();
    return 0;
}
