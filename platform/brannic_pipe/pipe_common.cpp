// Pipe names and locations, error texts, format names, and reaching a
// server's endpoint.
#include "pipe_common.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <orvi/brannic_pipe.h>

namespace brannic_pipe_internal {

std::string name_of_location(const std::string& location) {
    const size_t dir_len = strlen(PIPE_DIR);
    if (location.size() <= dir_len + 1) return std::string();
    return location.substr(dir_len, location.size() - dir_len - 1);
}

int connect_to_pipe(const std::string& location, bool nonblocking) {
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::string path = location + kSocketFile;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int type = SOCK_SEQPACKET | SOCK_CLOEXEC;
    if (nonblocking) type |= SOCK_NONBLOCK;
    const int fd = socket(AF_UNIX, type, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

}  // namespace brannic_pipe_internal

using namespace brannic_pipe_internal;

static bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.';
}

extern "C" int pipe_expand_location_string(const char* name, char* path) {
    if (path == nullptr) return PIPE_ERROR_INVALID_ARG;
    path[0] = '\0';
    if (name == nullptr) return PIPE_ERROR_INVALID_ARG;

    // Strip the folder prefix of a full path; any other absolute path is
    // outside the pipe folder and refused.
    const char* bare = name;
    const size_t dir_len = strlen(PIPE_DIR);
    if (name[0] == '/') {
        if (strncmp(name, PIPE_DIR, dir_len) != 0) return PIPE_ERROR_INVALID_PATH;
        bare = name + dir_len;
    }
    size_t len = strnlen(bare, PIPE_MAX_PATH_LEN);
    if (len > 0 && bare[len - 1] == '/') --len;  // one trailing '/' is allowed
    if (len == 0 || len > static_cast<size_t>(kMaxPipeNameLen)) return PIPE_ERROR_INVALID_PATH;
    // A leading '.' would allow "." and ".." and hidden folders.
    if (bare[0] == '.') return PIPE_ERROR_INVALID_PATH;
    for (size_t i = 0; i < len; ++i) {
        if (!is_name_char(bare[i])) return PIPE_ERROR_INVALID_PATH;
    }
    if (bare[len] != '\0' && !(bare[len] == '/' && bare[len + 1] == '\0')) {
        return PIPE_ERROR_INVALID_PATH;
    }
    memcpy(path, PIPE_DIR, dir_len);
    memcpy(path + dir_len, bare, len);
    path[dir_len + len] = '/';
    path[dir_len + len + 1] = '\0';
    return 0;
}

extern "C" int pipe_exists(const char* name) {
    char location[PIPE_MAX_PATH_LEN];
    if (pipe_expand_location_string(name, location) != 0) return 0;
    const int fd = connect_to_pipe(location, true);
    if (fd >= 0) {
        close(fd);
        return 1;
    }
    // A full backlog still means somebody is listening.
    return errno == EAGAIN ? 1 : 0;
}

extern "C" void pipe_print_error(int code) {
    const char* text;
    switch (code) {
        case PIPE_ERROR_OTHER: text = "unspecified failure"; break;
        case PIPE_ERROR_INVALID_ARG: text = "invalid argument (channel out of range, null or bad value)"; break;
        case PIPE_ERROR_INVALID_PATH: text = "invalid pipe name or path"; break;
        case PIPE_ERROR_CHANNEL_IN_USE: text = "channel already in use"; break;
        case PIPE_ERROR_SERVER_RUNNING: text = "a server is already running on this pipe"; break;
        case PIPE_ERROR_SYSTEM: text = "system call failed"; break;
        case PIPE_ERROR_NOT_CONNECTED: text = "no server is running on this pipe"; break;
        default:
            if (code >= 0) {
                fprintf(stderr, "Pipe: no error (%d)\n", code);
            } else {
                fprintf(stderr, "Pipe error %d: unknown error code\n", code);
            }
            return;
    }
    fprintf(stderr, "Pipe error %d: %s\n", code, text);
}

extern "C" const char* pipe_image_format_to_string(int format) {
    switch (format) {
        case IMAGE_FORMAT_RAW8: return "RAW8";
        case IMAGE_FORMAT_NV12: return "NV12";
        case IMAGE_FORMAT_YUV420: return "YUV420";
        case IMAGE_FORMAT_RGB: return "RGB";
        case IMAGE_FORMAT_H264: return "H264";
        case IMAGE_FORMAT_H265: return "H265";
        case IMAGE_FORMAT_JPG: return "JPG";
        default: return "UNKNOWN";
    }
}
