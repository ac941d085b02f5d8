/*
 * brannic_json: JSON configuration files on top of cJSON.
 *
 * Files may start with a "/ ** ... * /" header comment (and contain "//"
 * comments); writes replace a file only with a complete new version.
 * Every tree handed out belongs to the caller (cJSON_Delete).
 */
#ifndef BRANNIC_JSON_H
#define BRANNIC_JSON_H

#include <cjson/cJSON.h>

/* What the library exports: exactly the declarations marked
 * BRANNIC_JSON_EXPORT; it is built with hidden visibility. */
#define BRANNIC_JSON_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* <0 failure, 0 the file exists, >0 it was created holding an empty object. */
BRANNIC_JSON_EXPORT int json_make_empty_file_if_missing(const char* path);
/* Parsed tree, or NULL (one line on stderr naming the file) when missing or invalid. */
BRANNIC_JSON_EXPORT cJSON* json_read_file(const char* path);
BRANNIC_JSON_EXPORT int json_write_to_file(const char* path, cJSON* root);
BRANNIC_JSON_EXPORT int json_write_to_file_with_header(const char* path, cJSON* root,
                                                       const char* header);

/* Fetches: 0 when the member was found and used, nonzero when the default was used. */
BRANNIC_JSON_EXPORT int json_fetch_int_with_default(cJSON* parent, const char* name, int* out,
                                                    int default_value);
BRANNIC_JSON_EXPORT int json_fetch_float_with_default(cJSON* parent, const char* name, float* out,
                                                      float default_value);
BRANNIC_JSON_EXPORT int json_fetch_bool_with_default(cJSON* parent, const char* name, int* out,
                                                     int default_value);
BRANNIC_JSON_EXPORT int json_fetch_string_with_default(cJSON* parent, const char* name, char* out,
                                                       int out_size, const char* default_value);
/* The array member and its length in *n (below 1 when missing or empty). */
BRANNIC_JSON_EXPORT cJSON* json_fetch_array_of_objects(cJSON* parent, const char* name, int* n);

#ifdef __cplusplus
}
#endif

#endif /* BRANNIC_JSON_H */
