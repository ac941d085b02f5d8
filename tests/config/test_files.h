// File and output helpers for the configuration tests. They run inside the
// hermetic runner, where /etc/quillon and /run/zpx are private tmpfs.
#pragma once

#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Empties a folder (it may be a mount point, so the folder itself stays).
inline void clear_dir(const std::string& path) {
    std::string cmd = "find '" + path + "' -mindepth 1 -delete";
    ASSERT_EQ(system(cmd.c_str()), 0);
}

// Writes "/run/zpx/<pipe>/info" the way a camera server would publish it.
inline void write_pipe_info(const std::string& pipe, const std::string& json) {
    const std::string dir = "/run/zpx/" + pipe;
    mkdir(dir.c_str(), 0755);
    write_text(dir + "/info", json);
}

inline std::string compact(const cJSON* root) {
    char* text = cJSON_PrintUnformatted(root);
    std::string s = text != nullptr ? text : "";
    free(text);
    return s;
}

// Output of one call, both streams.
struct Output {
    std::string out;
    std::string err;
};

template <typename F>
Output capture(F&& f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    Output o;
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    return o;
}

// The tests own /etc/quillon and /run/zpx only inside the runner.
inline void require_private_namespace() {
    ASSERT_NE(getenv("ORVI_SIM_INSIDE"), nullptr)
        << "run through sim/orvi-sim-run: these tests write /etc/quillon and /run/zpx";
}

class ConfigFiles : public testing::Test {
protected:
    void SetUp() override {
        require_private_namespace();
        clear_dir("/etc/quillon");
        clear_dir("/run/zpx");
    }
};
