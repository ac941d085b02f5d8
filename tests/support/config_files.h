// Fixtures of the configuration tests. They run inside the
// hermetic runner, where /etc/quillon and /run/zpx are private tmpfs.
#pragma once

#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "test_support.h"

// Empties a folder (it may be a mount point, so the folder itself stays).
inline void clear_dir(const std::string& path) {
    std::string cmd = "find '" + path + "' -mindepth 1 -delete";
    ASSERT_EQ(system(cmd.c_str()), 0);
}

// Writes "/run/zpx/<pipe>/info" the way a camera server would publish it.
inline void write_pipe_info(const std::string& pipe, const std::string& json) {
    const std::string dir = "/run/zpx/" + pipe;
    mkdir(dir.c_str(), 0755);
    write_file(dir + "/info", json);
}

inline std::string compact(const cJSON* root) {
    char* text = cJSON_PrintUnformatted(root);
    std::string s = text != nullptr ? text : "";
    free(text);
    return s;
}

// The tests own /etc/quillon and /run/zpx only inside the runner.
inline void require_private_namespace() {
    ASSERT_TRUE(inside_hermetic_runner())
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
