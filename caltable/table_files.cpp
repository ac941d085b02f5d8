#include "table_files.h"

namespace {

std::string in_folder(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + name;
}

}  // namespace

std::string calibration_table_file(const std::string& folder, const char* token) {
    return in_folder(folder, CALIBRATION_TABLE_PREFIX + std::string(token) + CALIBRATION_TABLE_SUFFIX);
}

std::string conversion_table_file_in(const std::string& folder, const char* token) {
    return in_folder(folder, token + std::string(CONVERSION_TABLE_SUFFIX));
}

std::string detector_trim_file_in(const std::string& folder) {
    return in_folder(folder, "detector_trim.csv");
}
