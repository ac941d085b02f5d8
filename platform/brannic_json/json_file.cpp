// Reading and writing JSON files. Reads tolerate the comment header the
// writer puts on top; writes never leave a half-written file behind.
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <orvi/brannic_json.h>

namespace {

// Blanks out "//" and "/* */" comments that stand outside strings. Newlines
// are kept so a parse error still points at the right line. Returns false
// for a block comment that never ends.
bool strip_comments(std::string& text) {
    enum { CODE, STRING, LINE_COMMENT, BLOCK_COMMENT } state = CODE;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        char& c = text[i];
        switch (state) {
            case CODE:
                if (c == '"') {
                    state = STRING;
                } else if (c == '/' && i + 1 < n && text[i + 1] == '/') {
                    state = LINE_COMMENT;
                    c = ' ';
                    text[++i] = ' ';
                } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
                    state = BLOCK_COMMENT;
                    c = ' ';
                    text[++i] = ' ';
                }
                break;
            case STRING:
                if (c == '\\' && i + 1 < n) {
                    ++i;  // the escaped character cannot end the string
                } else if (c == '"') {
                    state = CODE;
                }
                break;
            case LINE_COMMENT:
                if (c == '\n') {
                    state = CODE;
                } else {
                    c = ' ';
                }
                break;
            case BLOCK_COMMENT:
                if (c == '*' && i + 1 < n && text[i + 1] == '/') {
                    state = CODE;
                    c = ' ';
                    text[++i] = ' ';
                } else if (c != '\n') {
                    c = ' ';
                }
                break;
        }
    }
    return state != BLOCK_COMMENT;
}

void line_and_column(const std::string& text, size_t offset, int* line, int* column) {
    *line = 1;
    *column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++*line;
            *column = 1;
        } else {
            ++*column;
        }
    }
}

bool read_whole_file(FILE* f, std::string& out) {
    char buf[8192];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, f)) > 0) {
        out.append(buf, got);
    }
    return !ferror(f);
}

bool write_all(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t w = write(fd, data, len);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        len -= static_cast<size_t>(w);
    }
    return true;
}

// A link is followed so that replacing the file keeps the link in place.
std::string resolve_target(const char* path) {
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path, resolved) != nullptr) return resolved;
    }
    return path;
}

// Writes header and body to a temporary file beside `path`, makes it durable,
// then renames it over `path`. On failure the old file is untouched, the
// temporary file is removed and errno tells why.
int replace_file(const char* path, const char* header, const char* body) {
    const std::string target = resolve_target(path);
    std::string tmp = target + ".tmp.XXXXXX";
    int fd = mkstemp(&tmp[0]);
    if (fd < 0) return -1;

    // Keep the permissions of the file being replaced; new files get 0644.
    mode_t mode = 0644;
    struct stat st;
    if (stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

    bool ok = fchmod(fd, mode) == 0;
    if (ok && header != nullptr && header[0] != '\0') {
        size_t len = strlen(header);
        ok = write_all(fd, header, len);
        if (ok && header[len - 1] != '\n') ok = write_all(fd, "\n", 1);
    }
    if (ok) ok = write_all(fd, body, strlen(body)) && write_all(fd, "\n", 1);
    if (ok) ok = fsync(fd) == 0;
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(tmp.c_str(), target.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(tmp.c_str());
        errno = saved;
        return -1;
    }

    // Make the rename itself durable.
    std::string dir = target;
    int dfd = open(dirname(&dir[0]), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return 0;
}

int write_tree(const char* path, cJSON* root, const char* header) {
    if (path == nullptr || path[0] == '\0' || root == nullptr) {
        fprintf(stderr, "json_write_to_file: nothing to write to %s\n", path ? path : "(null)");
        return -1;
    }
    char* text = cJSON_Print(root);
    if (text == nullptr) {
        fprintf(stderr, "json_write_to_file: cannot format JSON for %s\n", path);
        return -1;
    }
    int rc = replace_file(path, header, text);
    if (rc != 0) {
        fprintf(stderr, "json_write_to_file: cannot write %s: %s\n", path, strerror(errno));
    }
    free(text);
    return rc;
}

}  // namespace

extern "C" int json_make_empty_file_if_missing(const char* path) {
    if (path == nullptr || path[0] == '\0') return -1;
    struct stat st;
    if (stat(path, &st) == 0) return 0;
    if (errno != ENOENT) return -1;
    if (replace_file(path, nullptr, "{\n}") != 0) return -1;
    return 1;
}

extern "C" cJSON* json_read_file(const char* path) {
    if (path == nullptr || path[0] == '\0') return nullptr;
    FILE* f = fopen(path, "re");
    if (f == nullptr) {
        // A missing file is an ordinary answer; callers decide whether to say so.
        if (errno != ENOENT) {
            fprintf(stderr, "json_read_file: cannot open %s: %s\n", path, strerror(errno));
        }
        return nullptr;
    }
    std::string text;
    bool ok = read_whole_file(f, text);
    int saved = errno;
    fclose(f);
    if (!ok) {
        fprintf(stderr, "json_read_file: cannot read %s: %s\n", path, strerror(saved));
        return nullptr;
    }
    if (text.find('\0') != std::string::npos) {
        fprintf(stderr, "json_read_file: %s holds a NUL byte, not JSON text\n", path);
        return nullptr;
    }
    std::string original = text;
    if (!strip_comments(text)) {
        fprintf(stderr, "json_read_file: %s: comment not closed\n", path);
        return nullptr;
    }
    const char* end = nullptr;
    cJSON* root = cJSON_ParseWithOpts(text.c_str(), &end, 1);
    if (root == nullptr) {
        size_t offset = end != nullptr ? static_cast<size_t>(end - text.c_str()) : 0;
        int line, column;
        line_and_column(original, offset, &line, &column);
        fprintf(stderr, "json_read_file: %s: invalid JSON at line %d, column %d\n", path, line,
                column);
        return nullptr;
    }
    return root;
}

extern "C" int json_write_to_file(const char* path, cJSON* root) {
    return write_tree(path, root, nullptr);
}

extern "C" int json_write_to_file_with_header(const char* path, cJSON* root, const char* header) {
    return write_tree(path, root, header);
}
