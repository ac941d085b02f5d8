#include "chart_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int refuse(const std::string& path, const std::string& what) {
    std::fprintf(stderr, "%s: %s; no chart written\n", path.c_str(), what.c_str());
    return -1;
}

std::string because(const char* what, int error) { return std::string(what) + " (" + std::strerror(error) + ")"; }

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (wrote == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// What keeps the chart from replacing `path` ("" when nothing does), with
// the file it replaces (a link's target for a link) and the new file's mode.
std::string chart_target(const std::string& path, std::string* target, mode_t* mode) {
    *target = path;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) return because("cannot be looked at", errno);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        *mode = 0666 & ~mask;
        return "";
    }
    if (S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved) || ::stat(resolved, &info) != 0) {
            return because("a link that leads to no file", errno);
        }
        *target = resolved;
    }
    if (!S_ISREG(info.st_mode)) return "not a regular file, and the chart replaces only a regular file";
    // Replacing the file that standard output writes to would leave the
    // report in a file that no longer has a name.
    struct stat out;
    if (::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == info.st_dev && out.st_ino == info.st_ino) {
        return "the file standard output goes to, which the report needs";
    }
    *mode = info.st_mode & 07777;
    return "";
}

void sync_folder_of(const std::string& file) {
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash ? slash : 1);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace

int write_chart_file(const std::string& path, const std::string& text) {
    std::string target;
    mode_t mode = 0644;
    const std::string problem = chart_target(path, &target, &mode);
    if (!problem.empty()) return refuse(path, problem);
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return refuse(path, because("no file can be made beside it", errno));
    bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, text) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) == 0) {
        sync_folder_of(target);
        return 0;
    }
    if (ok) error = errno;
    ::unlink(temporary.c_str());
    return refuse(path, because("the chart could not be written", error));
}
