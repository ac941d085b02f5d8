#include "json_report.h"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstdlib>

#include "power_units.h"

namespace {

// Two decimals, as the tables hold them; JSON has no NaN or infinity.
cJSON* number(double value) {
    if (!std::isfinite(value)) return cJSON_CreateNull();
    const double rounded = std::round(value * 100.0) / 100.0;
    return cJSON_CreateNumber(std::isfinite(rounded) ? rounded : value);
}

cJSON* level_or_null(int level) { return level ? cJSON_CreateNumber(level) : cJSON_CreateNull(); }

void add_levels(cJSON* object, const char* name, const std::vector<int>& levels) {
    cJSON* array = cJSON_AddArrayToObject(object, name);
    for (int level : levels) cJSON_AddItemToArray(array, cJSON_CreateNumber(level));
}

// The most an FCC pick may put out within the uncertainty; null otherwise.
cJSON* most_or_null(const power_pick_t& pick) {
    return pick.fcc && pick.measured ? number(pick.most_mw) : cJSON_CreateNull();
}

cJSON* conversion_json(const conversion_table_t& conversion) {
    if (!conversion.read) return cJSON_CreateNull();
    cJSON* object = cJSON_CreateObject();
    cJSON_AddStringToObject(object, "file", conversion.path.c_str());
    const bool fault = !conversion.fault.empty();
    cJSON_AddItemToObject(object, "fault", fault ? cJSON_CreateString(conversion.fault.c_str()) : cJSON_CreateNull());
    const reference_deviation_t& d = conversion.deviation;
    const bool compared = !fault && d.mcs >= 0;
    cJSON_AddItemToObject(object, "reference_mcs", compared ? cJSON_CreateNumber(d.mcs) : cJSON_CreateNull());
    cJSON_AddItemToObject(object, "reference_db", compared ? number(d.db) : cJSON_CreateNull());
    cJSON_AddNumberToObject(object, "columns_off", compared ? d.columns_off : 0);
    return object;
}

cJSON* column_json(const column_report_t& column) {
    cJSON* object = cJSON_CreateObject();
    cJSON_AddNumberToObject(object, "mcs", column.mcs);
    cJSON_AddNumberToObject(object, "levels_in_table", column.levels_in_table);
    const bool any = column.levels_in_table > 0;
    cJSON_AddItemToObject(object, "min_dbm", any ? number(mW_to_dBm(column.min_mw)) : cJSON_CreateNull());
    cJSON_AddItemToObject(object, "max_dbm", any ? number(mW_to_dBm(column.max_mw)) : cJSON_CreateNull());
    cJSON_AddItemToObject(object, "knee_level", level_or_null(column.knee_level));
    cJSON_AddItemToObject(object, "stop_level", level_or_null(column.stop_level));
    const char* reason = stop_reason_name(column.stop_reason);
    cJSON_AddItemToObject(object, "stop_reason", reason ? cJSON_CreateString(reason) : cJSON_CreateNull());
    add_levels(object, "held_back_levels", column.held_back_levels);
    add_levels(object, "above_stop_levels", column.above_stop_levels);
    add_levels(object, "impossible_levels", column.impossible_levels);
    cJSON* drops = cJSON_AddArrayToObject(object, "drops");
    for (const drop_t& drop : column.drops) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddNumberToObject(item, "level", drop.level);
        cJSON_AddItemToObject(item, "db", number(drop.db));
        cJSON_AddItemToArray(drops, item);
    }
    cJSON* requests = cJSON_AddArrayToObject(object, "requests");
    for (const request_report_t& r : column.requests) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddNumberToObject(item, "mw", r.pick.request_mw);
        cJSON_AddNumberToObject(item, "index", r.pick.index);
        cJSON_AddItemToObject(item, "measured_mw", r.pick.measured ? number(r.pick.measured_mw) : cJSON_CreateNull());
        cJSON_AddItemToObject(item, "most_mw", most_or_null(r.pick));
        cJSON_AddItemToArray(requests, item);
    }
    return object;
}

std::string print_and_free(cJSON* root) {
    std::string text;
    if (char* printed = cJSON_Print(root)) {
        text = printed;
        cJSON_free(printed);
    }
    cJSON_Delete(root);
    return text + "\n";
}

}  // namespace

namespace {

cJSON* detector_json(const band_detector_t& detector) {
    cJSON* object = cJSON_CreateObject();
    const detector_trim_t& trim = detector.trim;
    cJSON_AddBoolToObject(object, "trimmed", trim.trimmed);
    cJSON_AddItemToObject(object, "trimmed_at",
                          trim.trimmed ? cJSON_CreateNumber(static_cast<double>(trim.trimmed_at)) : cJSON_CreateNull());
    cJSON_AddItemToObject(object, "mcs", trim.trimmed ? cJSON_CreateNumber(trim.mcs) : cJSON_CreateNull());
    cJSON_AddItemToObject(object, "uncertainty_db", number(detector.uncertainty_db));
    return object;
}

}  // namespace

std::string json_report(const calibration_report_t& report) {
    cJSON* root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "status", status_name(report.status));
    cJSON* tables = cJSON_AddArrayToObject(root, "tables");
    for (const table_report_t& table : report.tables) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddStringToObject(item, "file", table.path.c_str());
        cJSON_AddStringToObject(item, "band", table.band.c_str());
        cJSON_AddItemToObject(item, "conversion_table", conversion_json(table.conversion));
        cJSON_AddItemToObject(item, "detector", detector_json(table.detector));
        cJSON* columns = cJSON_AddArrayToObject(item, "mcs");
        for (const column_report_t& column : table.columns) cJSON_AddItemToArray(columns, column_json(column));
        cJSON_AddItemToArray(tables, item);
    }
    return print_and_free(root);
}

std::string json_query(const power_pick_t& pick) {
    cJSON* root = cJSON_CreateObject();
    cJSON_AddNumberToObject(root, "index", pick.index);
    cJSON_AddNumberToObject(root, "request_mw", pick.capped_mw);
    cJSON_AddItemToObject(root, "measured_mw", pick.measured ? number(pick.measured_mw) : cJSON_CreateNull());
    cJSON_AddItemToObject(root, "most_mw", most_or_null(pick));
    return print_and_free(root);
}
