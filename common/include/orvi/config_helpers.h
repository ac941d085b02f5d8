// Reaching the JSON configuration files (open, create, rewrite one key with
// the file's own header), describing a pipe's image stream in its info
// record, and the small string utilities configuration handling needs.
#pragma once

#include <cjson/cJSON.h>

#include <string>
#include <vector>

#include <orvi/common_export.h>

// The parsed file, or null. With `create` a missing file is first created
// holding an empty object (and that is announced). The caller owns the tree.
ORVI_COMMON_EXPORT cJSON* open_json(const char* path, bool create);

// Rewrite one existing top-level member; a member the file lacks is not added.
ORVI_COMMON_EXPORT void config_update_number(const char* path, const char* key, int value,
                                             bool as_bool);
ORVI_COMMON_EXPORT void config_update_string(const char* path, const char* key, std::string value);

// Fill the image description of pipe server channel `ch`'s info record;
// 0 on success, -1 when the channel has no info record.
ORVI_COMMON_EXPORT int UpdatePipeJson(int ch, int format, int width, int height, int framerate,
                                      bool replace);

ORVI_COMMON_EXPORT bool str_ends_with(const std::string& s, const std::string& suffix);
// Split "host:port" at the last ':'; false (outputs untouched) when either side is empty.
ORVI_COMMON_EXPORT bool parse_endpoint(const std::string& endpoint, std::string& host,
                                       std::string& port);
ORVI_COMMON_EXPORT std::vector<std::string> split_string(const std::string& s);
ORVI_COMMON_EXPORT bool is_integer(const std::string& s);
// The text after the first tab of a package-list line, or "???".
ORVI_COMMON_EXPORT std::string get_sdk_version(const std::string& line);

// Header comment to write in front of the file at `path`: the transmitter's
// or receiver's header when the path begins with that file's path, else null.
ORVI_COMMON_EXPORT const char* config_header_for_path(const char* path);
