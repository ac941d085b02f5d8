// Small helpers of the measurement tests: files under the (hermetic)
// /data/quillon/vtx/ and output captured from the code under test.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "conversion_tables.h"

inline const char* kTableDir = "/data/quillon/vtx";

inline std::string table_path(const std::string& token) {
    return std::string(kTableDir) + "/" + token + "_mv_to_dbm.csv";
}

inline void write_text(const std::string& path, const std::string& text) {
    mkdir("/data", 0755);
    mkdir("/data/quillon", 0755);
    mkdir(kTableDir, 0755);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A table whose rows all hold `dbm` in every MCS column.
inline std::string flat_table(double key_mv, double dbm) {
    char row[256];
    std::snprintf(row, sizeof row, "%.17g,%g,%g,%g,%g,%g,%g,%g,%g\n", key_mv, dbm, dbm, dbm, dbm,
                  dbm, dbm, dbm, dbm);
    return std::string(
               "mV,MCS0_dBm,MCS1_dBm,MCS2_dBm,MCS3_dBm,MCS4_dBm,MCS5_dBm,MCS6_dBm,"
               "MCS7_dBm\n") +
           row;
}

// Every test starts with no table on disk and nothing cached.
class TableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* token : {"2_4", "5_1", "5_8", "5_2"})
            std::remove(table_path(token).c_str());
        init_csv_cache_manager();
    }
    void TearDown() override { init_csv_cache_manager(); }
};

struct Captured {
    std::string out;
    std::string err;
};

template <typename F>
Captured capture(F&& body) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    body();
    Captured c;
    c.out = ::testing::internal::GetCapturedStdout();
    c.err = ::testing::internal::GetCapturedStderr();
    return c;
}
