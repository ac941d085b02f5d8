// Conversion tables under the (hermetic) /data/quillon/vtx/ for the
// in-process tests of orvi-rfmon.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "conversion_tables.h"
#include "test_support.h"

inline const char* kTableDir = "/data/quillon/vtx";

inline std::string table_path(const std::string& token) {
    return std::string(kTableDir) + "/" + token + "_mv_to_dbm.csv";
}

// Writes a file under the table folder, which it creates first.
inline void write_table(const std::string& path, const std::string& text) {
    make_dirs(kTableDir);
    write_file(path, text);
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
