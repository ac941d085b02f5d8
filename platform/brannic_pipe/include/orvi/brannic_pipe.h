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

/* What the library exports: exactly the declarations marked
 * BRANNIC_PIPE_EXPORT; it is built with hidden visibility. */
#define BRANNIC_PIPE_EXPORT __attribute__((visibility("default")))

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

/* ---- client side ----
 * Each open channel has its own thread; all of the channel's callbacks run on
 * it, one at a time. Callbacks may be registered (or changed) before or after
 * the open, and stay registered across a close and a new open of the channel
 * (register null to remove one). 0 on success, PIPE_ERROR_INVALID_ARG for a
 * channel out of range. */
BRANNIC_PIPE_EXPORT int pipe_client_set_connect_cb(int ch, pipe_client_connect_cb cb,
                                                   void* context);
BRANNIC_PIPE_EXPORT int pipe_client_set_disconnect_cb(int ch, pipe_client_disconnect_cb cb,
                                                      void* context);
/* data points to one whole server write (never part of one, never two), valid
 * only during the call. */
BRANNIC_PIPE_EXPORT int pipe_client_set_simple_helper_cb(int ch, pipe_client_simple_cb cb,
                                                         void* context);
/* path: a full pipe path such as "/run/zpx/vtx_latency" (trailing '/' optional)
 * or a bare pipe name. Succeeds whether or not the server runs: the client
 * connects when it appears (connect callback) and after each loss (disconnect
 * callback) waits for it to come back. Once the connect callback has run, every
 * later write of the server reaches this client. client_name (shorter than
 * PIPE_MAX_NAME_LEN; null or "" gives "unnamed") is passed to the server.
 * flags: 0 or CLIENT_FLAG_EN_SIMPLE_HELPER. buffer_bytes: read buffer (0 = 32768);
 * it never holds less than PIPE_MAX_MESSAGE_BYTES.
 * Negative only for bad arguments: PIPE_ERROR_INVALID_ARG, PIPE_ERROR_INVALID_PATH,
 * PIPE_ERROR_CHANNEL_IN_USE (or PIPE_ERROR_SYSTEM when no thread can be made). */
BRANNIC_PIPE_EXPORT int pipe_client_open(int ch, const char* path, const char* client_name,
                                         int flags, int buffer_bytes);
/* Stops the channel's thread and waits for it: no callback of the channel runs
 * after it returns, and no disconnect callback is made for the close itself.
 * From inside a callback of the same channel it cannot wait for itself: the
 * thread ends when that callback returns, without calling another. From a
 * callback of another channel it waits for that channel's running callback
 * unless that callback is itself closing (it may be waiting for this one). */
BRANNIC_PIPE_EXPORT void pipe_client_close(int ch);
/* Stops and joins every client thread: no callback runs after it returns.
 * Safe from inside a callback, with the limits described at pipe_client_close. */
BRANNIC_PIPE_EXPORT void pipe_client_close_all(void);
/* 1 while the channel is connected to its server, else 0. */
BRANNIC_PIPE_EXPORT int pipe_client_is_connected(int ch);

/* One line on standard error describing a result of this library. */
BRANNIC_PIPE_EXPORT void pipe_print_error(int code);
/* Bare name or full path under PIPE_DIR into the caller's 64-byte buffer,
 * always ending in '/': "vtx_latency" -> "/run/zpx/vtx_latency/". A name is
 * 1 to 53 of the characters A-Z a-z 0-9 _ - . and does not begin with '.'.
 * 0 on success; PIPE_ERROR_INVALID_PATH for anything else (path then holds
 * ""), PIPE_ERROR_INVALID_ARG for a null pointer. */
BRANNIC_PIPE_EXPORT int pipe_expand_location_string(const char* name, char* path);
/* Nonzero when the named pipe (name or path) has a running server. */
BRANNIC_PIPE_EXPORT int pipe_exists(const char* name);
/* Text command to the control channel of a pipe's server; negative when no server runs.
 * 0 once the server has taken the command for its control callback;
 * PIPE_ERROR_NOT_CONNECTED when no server answers (within 2 s);
 * PIPE_ERROR_OTHER when the server has no control callback. */
BRANNIC_PIPE_EXPORT int pipe_send_control_cmd(const char* pipe, const char* command);

/* ---- process control ---- */
/* Cleared by SIGINT, SIGTERM and SIGHUP once enable_signal_handler() ran. */
#ifdef __cplusplus
} /* extern "C" */
#include <atomic>
typedef std::atomic<int> brannic_atomic_int;
extern "C" {
#else
typedef _Atomic int brannic_atomic_int;
#endif
extern BRANNIC_PIPE_EXPORT brannic_atomic_int main_running;
/* 0 on success, -1 (with a perror line) if a handler cannot be installed. */
BRANNIC_PIPE_EXPORT int enable_signal_handler(void);

/* ---- server side ----
 * Each created channel has an I/O thread that admits clients and takes
 * control commands; the server callbacks run on it. Writes may come from any
 * thread, several at once. */
typedef void (*pipe_server_control_cb)(int ch, char* string, int bytes, void* context);
typedef void (*pipe_server_connect_cb)(int ch, int client_id, char* client_name, void* context);
typedef void (*pipe_server_disconnect_cb)(int ch, int client_id, char* client_name, void* context);

/* Creates "/run/zpx/<name>/" with its info file (name, type, server_name).
 * name: bare name or full path. The info also holds "location", "server_pid"
 * and "max_message_bytes". What a crashed server left behind is taken over;
 * a live server on the name gives PIPE_ERROR_SERVER_RUNNING. Callback
 * registrations stay across a close and a new create. */
BRANNIC_PIPE_EXPORT int pipe_server_create(int ch, const char* name, const char* type,
                                           const char* server_name);
BRANNIC_PIPE_EXPORT int pipe_server_set_control_cb(int ch, pipe_server_control_cb cb,
                                                   void* context);
BRANNIC_PIPE_EXPORT int pipe_server_set_connect_cb(int ch, pipe_server_connect_cb cb,
                                                   void* context);
BRANNIC_PIPE_EXPORT int pipe_server_set_disconnect_cb(int ch, pipe_server_disconnect_cb cb,
                                                      void* context);
/* One message to every connected client; a client that cannot take it loses it alone.
 * Never waits for a client. 1 to PIPE_MAX_MESSAGE_BYTES bytes. 0 on success
 * (also with no client), PIPE_ERROR_INVALID_ARG, or PIPE_ERROR_NOT_CONNECTED
 * when the channel is not created. */
BRANNIC_PIPE_EXPORT int pipe_server_write(int ch, const void* data, int bytes);
/* Clients currently connected, or a negative result as for pipe_server_write. */
BRANNIC_PIPE_EXPORT int pipe_server_get_num_clients(int ch);
/* Messages dropped on this channel because a client could not keep up
 * (one count per client and message; reset by pipe_server_create). */
BRANNIC_PIPE_EXPORT uint64_t pipe_server_get_dropped(int ch);
/* The channel's info object, owned by the library until the channel closes; edit
 * it, then publish it with pipe_server_update_info (atomic replace of the file). */
BRANNIC_PIPE_EXPORT cJSON* pipe_server_get_info_json_ptr(int ch);
BRANNIC_PIPE_EXPORT int pipe_server_update_info(int ch);
/* Disconnects the clients and removes the pipe's files. From one of the
 * channel's own callbacks the thread ends when that callback returns. */
BRANNIC_PIPE_EXPORT void pipe_server_close(int ch);
BRANNIC_PIPE_EXPORT void pipe_server_close_all(void);

/* "RAW8", "NV12", "YUV420", "RGB", "H264", "H265", "JPG"; "UNKNOWN" otherwise. */
BRANNIC_PIPE_EXPORT const char* pipe_image_format_to_string(int format);

#ifdef __cplusplus
}
#endif

#endif /* BRANNIC_PIPE_H */
