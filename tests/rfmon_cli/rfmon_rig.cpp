#include "rfmon_rig.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// Stands in for i2c-tools' i2cdetect: the table of a bus with or without
// the two devices, or the tool's error for a bus that does not exist.
const char* FAKE_I2CDETECT = R"SH(#!/bin/sh
echo "i2cdetect $*" >> "$RFMON_RIG_LOG"
bus=$3
case ",$RFMON_RIG_VTX_BUSES," in *",$bus,"*) vtx=1 ;; *) vtx=0 ;; esac
case ",$RFMON_RIG_BUSES," in *",$bus,"*) exists=1 ;; *) exists=$vtx ;; esac
if [ $exists = 0 ]; then
    echo "Error: Could not open file \`/dev/i2c-$bus' or \`/dev/i2c/$bus': No such file or directory" >&2
    exit 1
fi
echo "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f"
echo "00:                         -- -- -- -- -- -- -- -- "
if [ $vtx = 1 ]; then
    echo "10: -- -- -- -- -- -- -- -- -- -- -- -- -- 1d -- -- "
else
    echo "10: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- "
fi
for row in 20 30; do
    echo "$row: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- "
done
if [ $vtx = 1 ]; then
    echo "40: -- -- -- -- -- -- -- -- 48 -- -- -- -- -- -- -- "
else
    echo "40: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- "
fi
for row in 50 60; do
    echo "$row: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- "
done
echo "70: -- -- -- -- -- -- -- --                         "
)SH";

void write_executable(const std::string& path, const char* text) {
    std::ofstream(path) << text;
    chmod(path.c_str(), 0755);
}

}  // namespace

RfmonRig::RfmonRig() {
    char templ[] = "/tmp/rfmon-rig-XXXXXX";
    if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
    mkdir((dir_ + "/bin").c_str(), 0755);
    write_executable(dir_ + "/bin/i2cdetect", FAKE_I2CDETECT);
    std::ofstream(dir_ + "/tools.log").flush();
}

RfmonRig::~RfmonRig() {
    std::string command = "rm -rf '" + dir_ + "'";
    if (std::system(command.c_str()) != 0) {
        // Leftovers under /tmp are harmless.
    }
}

std::string RfmonRig::program() const { return binary_path("rfmon/orvi-rfmon"); }

ProcessResult RfmonRig::run(const std::vector<std::string>& args, const Board& board,
                            RunOptions options) const {
    std::vector<std::string> argv{program()};
    argv.insert(argv.end(), args.begin(), args.end());
    const char* path = std::getenv("PATH");
    options.env.push_back("PATH=" + dir_ + "/bin:" + (path ? path : "/usr/bin:/bin"));
    options.env.push_back("RFMON_RIG_LOG=" + dir_ + "/tools.log");
    options.env.push_back("RFMON_RIG_BUSES=" + board.buses);
    options.env.push_back("RFMON_RIG_VTX_BUSES=" + board.vtx_buses);
    return run_process(argv, options);
}

std::string RfmonRig::tool_log() const {
    std::ifstream in(dir_ + "/tools.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void RfmonRig::use_in_this_process(const Board& board) const {
    static const std::string original_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir_ + "/bin:" + original_path).c_str(), 1);
    setenv("RFMON_RIG_LOG", (dir_ + "/tools.log").c_str(), 1);
    setenv("RFMON_RIG_BUSES", board.buses.c_str(), 1);
    setenv("RFMON_RIG_VTX_BUSES", board.vtx_buses.c_str(), 1);
}
