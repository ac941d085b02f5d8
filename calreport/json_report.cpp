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

cJSON* column_json(const column_report_t& column) {
    cJSON* object = cJSON_CreateObject();
    cJSON_AddNumberToObject(object, "mcs", column.mcs);
    cJSON_AddNumberToObject(object, "levels_measured", column.levels_measured);
    const bool any = column.levels_measured > 0;
    cJSON_AddItemToObject(object, "min_dbm", any ? number(mW_to_dBm(column.min_mw)) : cJSON_CreateNull());
    cJSON_AddItemToObject(object, "max_dbm", any ? number(mW_to_dBm(column.max_mw)) : cJSON_CreateNull());
    cJSON_AddItemToObject(object, "knee_level", level_or_null(column.knee_level));
    cJSON_AddItemToObject(object, "stop_level", level_or_null(column.stop_level));
    const char* reason = stop_reason_name(column.stop_reason);
    cJSON_AddItemToObject(object, "stop_reason", reason ? cJSON_CreateString(reason) : cJSON_CreateNull());
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

std::string json_report(const calibration_report_t& report) {
    cJSON* root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "status", status_name(report.status));
    cJSON* tables = cJSON_AddArrayToObject(root, "tables");
    for (const table_report_t& table : report.tables) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddStringToObject(item, "file", table.path.c_str());
        cJSON_AddStringToObject(item, "band", table.band.c_str());
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
    return print_and_free(root);
}
