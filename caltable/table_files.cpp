#include "table_files.h"

namespace {

std::string in_folder(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + name;
}

}  // namespace

std::string calibration_table_file(const std::string& folder, const char* token) {
    return in_folder(folder, std::string("calibrated_") + token + ".csv");
}

std::string conversion_table_file_in(const std::string& folder, const char* token) {
    return in_folder(folder, std::string(token) + "_mv_to_dbm.csv");
}
