#include "detector_trim.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include "calibration_table.h"
#include "conversion_tables.h"
#include "safety_limits.h"
#include "table_files.h"

namespace {

constexpr const char* TRIM_HEADER =
    "Band,Frequency_MHz,MCS,Gain,Offset_mV,Residual_dB,Meter_dB,Levels,Trimmed_At";
constexpr int TRIM_FIELDS = 9;
constexpr double MAX_STATED_DB = 3.0;  // residual and meter accuracy

bool whole_number(const std::string& text, double* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(*value);
}

bool whole_integer(const std::string& text, long long* value) {
    double number = 0;
    if (!whole_number(text, &number) || number != std::floor(number)) return false;
    *value = static_cast<long long>(number);
    return true;
}

std::string utc_text(long long seconds) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm parts {};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool parse_utc(const std::string& text, long long* seconds) {
    struct tm parts {};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (!end || *end != '\0') return false;
    *seconds = static_cast<long long>(timegm(&parts));
    return true;
}

// One data line into its band's trim; the reason when it cannot be.
const char* parse_trim_line(const std::string& line, detector_trims_t* trims) {
    const std::vector<std::string> f = split_table_fields(line);
    if (static_cast<int>(f.size()) != TRIM_FIELDS) return "expected 9 fields";
    const int b = sweep_band_index_of_token(f[0].c_str());
    if (b < 0) return "unknown band";
    detector_trim_t& trim = trims->band[b];
    if (trim.trimmed) return "band given twice";
    long long frequency = 0, mcs = 0, levels = 0;
    if (!whole_integer(f[1], &frequency) || !whole_integer(f[2], &mcs) ||
        !whole_integer(f[7], &levels) || !whole_number(f[3], &trim.gain) ||
        !whole_number(f[4], &trim.offset_mv) || !whole_number(f[5], &trim.residual_db) ||
        !whole_number(f[6], &trim.meter_db) || !parse_utc(f[8], &trim.trimmed_at))
        return "a field is not a number or a time";
    if (frequency < 0 || frequency > INT_MAX ||
        sweep_band_index_of_frequency(static_cast<int>(frequency)) != b)
        return "frequency outside the band";
    if (mcs < 0 || mcs > 7 || levels < 2) return "MCS or level count out of range";
    if (std::fabs(trim.gain - 1.0) > TRIM_MAX_GAIN_CHANGE) return "gain beyond plausible bounds";
    if (trim.residual_db < 0 || trim.residual_db > MAX_STATED_DB || trim.meter_db < 0 ||
        trim.meter_db > MAX_STATED_DB)
        return "residual or meter accuracy out of range";
    trim.frequency = static_cast<int>(frequency);
    trim.mcs = static_cast<int>(mcs);
    trim.levels = static_cast<int>(levels);
    trim.trimmed = true;
    return nullptr;
}

}  // namespace

std::string detector_trim_path() {
    return detector_trim_file_in(CALIBRATION_DATA_DIR);
}

std::string detector_trims_text(const detector_trims_t& trims) {
    std::string text = std::string(TRIM_HEADER) + "\n";
    for (int b = 0; b < SWEEP_BAND_COUNT; ++b) {
        const detector_trim_t& t = trims.band[b];
        if (!t.trimmed) continue;
        char line[256];
        std::snprintf(line, sizeof line, "%s,%d,%d,%.6f,%.3f,%.3f,%.3f,%d,%s\n",
                      SWEEP_BANDS[b].token, t.frequency, t.mcs, t.gain, t.offset_mv,
                      t.residual_db, t.meter_db, t.levels, utc_text(t.trimmed_at).c_str());
        text += line;
    }
    return text;
}

bool parse_detector_trims(const std::string& text, detector_trims_t* trims, std::string* error) {
    *trims = {};
    std::stringstream stream(text);
    std::string line;
    int number = 0;
    while (std::getline(stream, line)) {
        ++number;
        const char* why = nullptr;
        if (number == 1) {
            if (line != TRIM_HEADER) why = "not a detector trim header";
        } else {
            why = parse_trim_line(line, trims);
        }
        if (why) {
            *error = "line " + std::to_string(number) + ": " + why;
            *trims = {};
            return false;
        }
    }
    if (number == 0) {
        *error = "line 1: the file is empty";
        return false;
    }
    return true;
}

trim_file_state_t read_detector_trims(const std::string& folder, detector_trims_t* trims,
                                      std::string* why) {
    *trims = {};
    const std::string path = detector_trim_file_in(folder);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT) return TRIM_FILE_MISSING;
        *why = path + ": " + std::strerror(errno);
        return TRIM_FILE_UNUSABLE;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::string error;
    if (!parse_detector_trims(text.str(), trims, &error)) {
        *why = path + ": " + error;
        return TRIM_FILE_UNUSABLE;
    }
    return TRIM_FILE_READ;
}

const detector_trim_t* trim_for_band_key(const char* band_key) {
    const int b = sweep_band_index_of_key(band_key);
    if (b < 0) return nullptr;
    const detector_trim_t& trim = installed_detector_trims().band[b];
    return trim.trimmed ? &trim : nullptr;
}

double trim_corrected_mv(const detector_trim_t& trim, double mv) {
    return trim.trimmed ? trim.gain * mv + trim.offset_mv : mv;
}

double trimmed_mv(const char* band_key, double mv) {
    const detector_trim_t* trim = trim_for_band_key(band_key);
    return trim ? trim_corrected_mv(*trim, mv) : mv;
}

bool detector_reading_over_range(const char* band_key, double mv, double* top_mv) {
    return conversion_table_top_mv(band_key, top_mv) == 0 &&
           detector_over_range(trimmed_mv(band_key, mv), *top_mv);
}

double trim_uncertainty_db(const detector_trim_t& trim) {
    return trim.residual_db + trim.meter_db + TRIM_REPEATABILITY_DB;
}

double trim_reading_uncertainty_db(const detector_trim_t& trim, const char* band_key, int mcs) {
    if (trim.trimmed && trim.mcs == mcs) return trim_uncertainty_db(trim);
    return untrimmed_reading_uncertainty_db(band_key);
}

double band_reading_uncertainty_db(const detector_trims_t& trims, const char* band_key, int mcs) {
    const int b = sweep_band_index_of_key(band_key);
    if (b < 0) return untrimmed_reading_uncertainty_db(band_key);
    return trim_reading_uncertainty_db(trims.band[b], band_key, mcs);
}

int convert_detector_reading(double* mv_out, double* dbm_out, int mcs, const char* band_key,
                             double mv) {
    double looked_up = trimmed_mv(band_key, mv);
    const int result = read_csv_data_cached(&looked_up, dbm_out, mcs, band_key, looked_up);
    *mv_out = mv;
    return result;
}
