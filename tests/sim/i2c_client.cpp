// Talks to an I2C character device the way orvi-rfmon does (open, ioctl
// I2C_SLAVE, write, read) and prints one line per step, so tests can drive
// the simulated board through the real system calls.
//
//   sim_i2c_client DEVICE STEP...
//   steps: select ADDR | w HEXBYTE... ; | r N | run "SHELL COMMAND"
//          | fclose (closes the bus through a stream) | closerange (through
//          close_range) | cat PATH (opens, reads and closes a plain file)
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void print_error(const char* step) { std::printf("%s error %s\n", step, strerrorname_np(errno)); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: sim_i2c_client DEVICE STEP...\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        print_error("open");
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        std::string step = argv[i];
        if (step == "select" && i + 1 < argc) {
            long addr = std::strtol(argv[++i], nullptr, 0);
            if (ioctl(fd, I2C_SLAVE, addr) < 0) print_error("select");
            else std::printf("select 0x%02lx ok\n", addr);
        } else if (step == "w") {
            std::vector<unsigned char> bytes;
            while (i + 1 < argc && std::strcmp(argv[i + 1], ";") != 0)
                bytes.push_back(static_cast<unsigned char>(std::strtoul(argv[++i], nullptr, 16)));
            if (i + 1 < argc) ++i;  // the ';'
            ssize_t n = write(fd, bytes.data(), bytes.size());
            if (n < 0) print_error("write");
            else std::printf("write %zd\n", n);
        } else if (step == "r" && i + 1 < argc) {
            size_t want = std::strtoul(argv[++i], nullptr, 10);
            std::vector<unsigned char> buf(want ? want : 1);
            ssize_t n = read(fd, buf.data(), want);
            if (n < 0) {
                print_error("read");
                continue;
            }
            std::printf("read %zd", n);
            for (ssize_t k = 0; k < n; ++k) std::printf(" %02x", buf[static_cast<size_t>(k)]);
            std::printf("\n");
        } else if (step == "run" && i + 1 < argc) {
            std::fflush(stdout);
            int status = std::system(argv[++i]);
            std::printf("run %d\n", status);
        } else if (step == "fclose") {
            FILE* stream = fdopen(fd, "r+");
            std::printf("fclose %d\n", stream ? std::fclose(stream) : -1);
        } else if (step == "closerange") {
            std::printf("closerange %d\n", close_range(static_cast<unsigned>(fd),
                                                        static_cast<unsigned>(fd), 0));
        } else if (step == "cat" && i + 1 < argc) {
            int file = open(argv[++i], O_RDONLY);
            char text[64] = {};
            ssize_t n = file >= 0 ? read(file, text, sizeof text - 1) : -1;
            std::printf("cat %s%s\n", n >= 0 ? text : "error ", n >= 0 ? "" : strerrorname_np(errno));
            if (file >= 0) close(file);
        } else {
            std::fprintf(stderr, "sim_i2c_client: bad step %s\n", argv[i]);
            return 2;
        }
        std::fflush(stdout);
    }
    close(fd);
    return 0;
}
