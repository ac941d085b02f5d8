#include "own_board.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "test_support.h"

namespace {

constexpr const char* kSetupEnv = "ORVI_BOARD_SETUP";
constexpr const char* kDirEnv = "ORVI_BOARD_DIR";  // the child's board files

std::string board_file(const char* name) {
    const char* dir = std::getenv(kDirEnv);
    return std::string(dir != nullptr ? dir : "/nonexistent") + "/" + name;
}

std::string setup_key(const BoardSetup& setup, const std::string& row) {
    std::string key = row + (setup.script_by_power ? "\x1epower" : "\x1eorder");
    for (const auto& o : setup.options) key += "\x1f" + o;
    key += "\x1e";
    for (const auto& l : setup.adc_script) key += l + "\x1f";
    return std::to_string(std::hash<std::string>{}(key));
}

std::string current_test() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

std::string self_path() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
}

// The lines of a log since the last take, which empties it.
std::vector<std::string> take_lines(const std::string& path) {
    std::vector<std::string> lines = lines_of(read_file(path));
    if (truncate(path.c_str(), 0) != 0 && errno != ENOENT)
        ADD_FAILURE() << "cannot empty " << path;
    return lines;
}

}  // namespace

bool on_board(const BoardSetup& setup, const std::string& row) {
    const std::string key = setup_key(setup, row);
    if (const char* mine = std::getenv(kSetupEnv)) {
        if (key != mine)
            return false;
        std::fprintf(stderr, "board setup %s ran\n", mine);
        return true;
    }
    static std::set<std::string> started;
    if (!started.insert(current_test() + "/" + key).second)
        return false;
    // A board of its own inside this program's runner: the board's files in a
    // scratch folder, its library preloaded, its tools first on PATH.
    const ScratchDir scratch("orvi-own-board");
    // clang-format off
    std::vector<std::string> board{
        "--virtual-time", "--noise-mv", "0", "--temp-start", "25", "--temp-rise", "0",
        "--state", scratch / "board.shm", "--log", scratch / "tools.log",
        "--i2c-log", scratch / "i2c.log", "--sleep-log", scratch / "sleep.log"};
    // clang-format on
    board.insert(board.end(), setup.options.begin(), setup.options.end());
    if (!setup.adc_script.empty()) {
        std::string text;
        for (const auto& line : setup.adc_script) text += line + "\n";
        write_file(scratch / "adc", text);
        board.push_back(setup.script_by_power ? "--adc-script-power" : "--adc-script");
        board.push_back(scratch / "adc");
    }
    // Under an emulator (a foreign build) the board is put together as
    // orvi-sim-board does it: the native tools and board library of the
    // native build ORVI_TEST_NATIVE_BUILD, and this build's board library
    // for the emulated processes, each found through the loader's $LIB.
    std::vector<std::string> self = program_command("");
    self.back() = self_path();
    std::string board_build = binary_path("");
    std::string preload = binary_path("sim/$LIB/libi2c-sim.so");
    if (self.size() > 1) {
        const char* native = std::getenv("ORVI_TEST_NATIVE_BUILD");
        board_build = native != nullptr ? native : "/nonexistent";
        preload = scratch / "$LIB/libi2c-sim.so";
        for (const std::string& tree : {board_build, binary_path("")}) {
            std::error_code error;
            for (const auto& dir : std::filesystem::directory_iterator(tree + "/sim/lib", error)) {
                make_dirs(scratch / "lib/" + dir.path().filename().string());
                std::filesystem::create_symlink(dir.path() / "libi2c-sim.so",
                                                scratch / "lib/" + dir.path().filename().string() +
                                                    "/libi2c-sim.so",
                                                error);
            }
        }
    }
    std::vector<std::string> init{board_build + "/sim/bin/orvi-sim-ctl", "init", scratch / "board.conf"};
    init.insert(init.end(), board.begin(), board.end());
    const ProcessResult made = run_process(init);
    if (made.exit_code != 0) {
        ADD_FAILURE() << "orvi-sim-ctl init failed: " << made.err;
        return false;
    }
    const char* path = std::getenv("PATH");
    const char* asan = std::getenv("ASAN_OPTIONS");
    RunOptions run;
    run.env = {
        std::string(kSetupEnv) + "=" + key, std::string(kDirEnv) + "=" + scratch.path(),
        "ORVI_SIM_BOARD=" + scratch / "board.conf",
        // The loader expands $LIB to the lib/<triplet> folder of each process.
        "LD_PRELOAD=" + preload,
        "PATH=" + board_build + "/sim/bin:" + (path != nullptr ? path : "/usr/bin:/bin"),
        // The board library comes ahead of a sanitizer's runtime.
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":verify_asan_link_order=0"};
    self.push_back("--gtest_filter=" + current_test());
    const ProcessResult r = run_process(self, run);
    std::ostringstream context;
    for (const auto& o : board) context << " " << o;
    context << "\n" << r.out << r.err;
    EXPECT_EQ(r.exit_code, 0) << "on the board:" << context.str();
    // A child that ran none of its rows would pass without testing anything.
    EXPECT_NE(r.err.find("board setup " + key + " ran"), std::string::npos) << context.str();
    return false;
}

BoardBus::BoardBus(int address) : fd(open("/dev/i2c-1", O_RDWR)) {
    EXPECT_GE(fd, 0) << "not on the simulated board";
    if (address >= 0) {
        EXPECT_EQ(ioctl(fd, I2C_SLAVE, address), 0);
    }
    take_i2c_trace();
    take_sleeps_us();
    take_configure_calls();
}

BoardBus::~BoardBus() {
    if (fd >= 0)
        close(fd);
}

std::vector<std::string> take_i2c_trace() {
    std::vector<std::string> trace;
    for (const auto& line : take_lines(board_file("i2c.log"))) {
        const size_t bus = line.find(" i2c-1 ");
        trace.push_back(bus == std::string::npos ? line : line.substr(bus + 7));
    }
    return trace;
}

std::vector<long long> take_sleeps_us() {
    std::vector<long long> sleeps;
    for (const auto& line : take_lines(board_file("sleep.log"))) {
        sleeps.push_back(std::atoll(line.substr(line.rfind(' ') + 1).c_str()) / 1000);
    }
    return sleeps;
}

std::string take_configure_calls() {
    const std::string tool = "orvi-configure-vtx ";
    std::string calls;
    for (const auto& line : take_lines(board_file("tools.log"))) {
        if (line.compare(0, tool.size(), tool) == 0)
            calls += line.substr(tool.size()) + "\n";
    }
    return calls;
}
