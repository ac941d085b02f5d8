/*
 * brannic_pipe: named publish/subscribe pipes between processes.
 *
 * A pipe called NAME lives in the folder "/run/zpx/NAME/". The folder holds
 * the pipe's "info" file (a JSON object written by the server) and the
 * transport endpoints. A server writes messages; every connected client gets
 * each message whole, on a thread of the library, through its simple-helper
 * callback. Clients may open before their server exists: they connect when it
 * appears and reconnect by themselves after it restarts.
 */
#ifndef BRANNIC_PIPE_H
#define BRANNIC_PIPE_H

#include <cjson/cJSON.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PIPE_DIR "/run/zpx/"
#define PIPE_MAX_PATH_LEN 64
#define PIPE_MAX_NAME_LEN 32
#define PIPE_CLIENT_MAX_CHANNELS 16
#define PIPE_SERVER_MAX_CHANNELS 16
/* Largest message one pipe_server_write may carry; a client's read buffer is
 * never smaller, so a delivery is always one whole write. */
#define PIPE_MAX_MESSAGE_BYTES 65536

/* Client open flags. */
#define CLIENT_FLAG_EN_SIMPLE_HELPER 1 /* raw bytes go to the simple-helper callback */

/* Results of the open and create calls (negative = failure). */
#define PIPE_ERROR_OTHER -1
#define PIPE_ERROR_INVALID_ARG -2
#define PIPE_ERROR_INVALID_PATH -3
#define PIPE_ERROR_CHANNEL_IN_USE -4
#define PIPE_ERROR_SERVER_RUNNING -5
#define PIPE_ERROR_SYSTEM -6
#define PIPE_ERROR_NOT_CONNECTED -7

/* Image formats published in a pipe's info ("string_format" is the name). */
#define IMAGE_FORMAT_RAW8 0
#define IMAGE_FORMAT_NV12 1
#define IMAGE_FORMAT_YUV420 2
#define IMAGE_FORMAT_RGB 3
#define IMAGE_FORMAT_H264 4
#define IMAGE_FORMAT_H265 5
#define IMAGE_FORMAT_JPG 6

typedef void (*pipe_client_connect_cb)(int ch, void* context);
typedef void (*pipe_client_disconnect_cb)(int ch, void* context);
typedef void (*pipe_client_simple_cb)(int ch, char* data, int bytes, void* context);

/* ---- client side ---- */
int pipe_client_set_connect_cb(int ch, pipe_client_connect_cb cb, void* context);
int pipe_client_set_disconnect_cb(int ch, pipe_client_disconnect_cb cb, void* context);
int pipe_client_set_simple_helper_cb(int ch, pipe_client_simple_cb cb, void* context);
/* path: a full pipe path such as "/run/zpx/vtx_latency" (trailing '/' optional). */
int pipe_client_open(int ch, const char* path, const char* client_name, int flags,
                     int buffer_bytes);
void pipe_client_close(int ch);
/* Stops and joins every client thread: no callback runs after it returns. */
void pipe_client_close_all(void);
int pipe_client_is_connected(int ch);

void pipe_print_error(int code);
/* Bare name or full path under PIPE_DIR into the caller's 64-byte buffer. */
int pipe_expand_location_string(const char* name, char* path);
/* Nonzero when the named pipe (name or path) has a running server. */
int pipe_exists(const char* name);
/* Text command to the control channel of a pipe's server; negative when no server runs. */
int pipe_send_control_cmd(const char* pipe, const char* command);

/* ---- process control ---- */
/* Cleared by SIGINT, SIGTERM and SIGHUP once enable_signal_handler() ran. */
#ifdef __cplusplus
} /* extern "C" */
#include <atomic>
extern "C" std::atomic<int> main_running;
extern "C" {
#else
extern _Atomic int main_running;
#endif
int enable_signal_handler(void);

/* ---- server side ---- */
typedef void (*pipe_server_control_cb)(int ch, char* string, int bytes, void* context);
typedef void (*pipe_server_connect_cb)(int ch, int client_id, char* client_name, void* context);
typedef void (*pipe_server_disconnect_cb)(int ch, int client_id, char* client_name, void* context);

/* Creates "/run/zpx/<name>/" with its info file (name, type, server_name). */
int pipe_server_create(int ch, const char* name, const char* type, const char* server_name);
int pipe_server_set_control_cb(int ch, pipe_server_control_cb cb, void* context);
int pipe_server_set_connect_cb(int ch, pipe_server_connect_cb cb, void* context);
int pipe_server_set_disconnect_cb(int ch, pipe_server_disconnect_cb cb, void* context);
/* One message to every connected client; a client that cannot take it loses it alone. */
int pipe_server_write(int ch, const void* data, int bytes);
int pipe_server_get_num_clients(int ch);
/* Messages dropped on this channel because a client could not keep up. */
uint64_t pipe_server_get_dropped(int ch);
cJSON* pipe_server_get_info_json_ptr(int ch);
int pipe_server_update_info(int ch);
void pipe_server_close(int ch);
void pipe_server_close_all(void);

const char* pipe_image_format_to_string(int format);

#ifdef __cplusplus
}
#endif

#endif /* BRANNIC_PIPE_H */
