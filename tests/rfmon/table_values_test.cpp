// A stored table's dBm per level for one MCS (read_table_column), as the
// field check and the drift watch compare the transmitter with it.
#include "table_values.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "test_support.h"

namespace {

struct Case {
    const char* name;
    const char* text;  // nullptr: no file
    int mcs;
    table_column_read result;
    std::map<int, double> dbm;  // the levels present
};

TEST(TableValues, ReadsTheMwColumnOfOneMcsByLevel) {
    const char* table =
        "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\r\n"
        "1,100.00,10.00,101.00,100.00\r\n"
        "2,-1,-1,NA,NA\n"
        "3,TEMP_ERROR_80_5,TEMP_ERROR_80_5,200.00,1000.00\n"
        "4,1.00,0.00,1.00,0.00\n"
        "64,1.00,10.00,1.00,10.00\n"
        "5,1.00\n";
    const Case cases[] = {
        {"MCS 0: -1, NA, a marker, zero mW and level 64 hold nothing", table, 0,
         table_column_read::read, {{1, 10.0}}},
        {"MCS 3 after a line ended in \\r\\n", table, 3, table_column_read::read,
         {{1, 20.0}, {3, 30.0}}},
        {"a column the table lacks", table, 1, table_column_read::no_column, {}},
        {"an empty file", "", 0, table_column_read::no_column, {}},
        {"no file", nullptr, 0, table_column_read::no_table, {}},
    };
    const ScratchDir scratch("orvi-table-values-test");
    const std::string path = scratch / "calibrated_5_8.csv";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(path.c_str());
        if (c.text) write_file(path, c.text);
        table_dbm_t column;
        table_column_read result = table_column_read::unreadable;
        const Captured said = capture_output([&] { result = read_table_column(path.c_str(), c.mcs, &column); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(said.out + said.err, "");
        for (int level = 1; level <= CALIBRATION_TABLE_LEVELS; ++level) {
            const auto expected = c.dbm.find(level);
            ASSERT_EQ(column.present[level], expected != c.dbm.end()) << level;
            if (column.present[level]) {
                EXPECT_NEAR(column.dbm[level], expected->second, 1e-9) << level;
            }
        }
    }
    // A folder (or FIFO) there is refused before it is opened.
    make_dirs(scratch / "folder");
    table_dbm_t column;
    const Captured said = capture_output([&] {
        EXPECT_EQ(read_table_column((scratch / "folder").c_str(), 0, &column), table_column_read::unreadable);
    });
    EXPECT_EQ(said.err, "Error: " + (scratch / "folder") + " is not a regular file\n");
}

TEST(TableValues, TheBandsTableOnTheBoard) {
    const std::map<const char*, const char*> paths = {
        {"2_4", "/data/quillon/vtx/calibrated_2_4.csv"},
        {"5_1", "/data/quillon/vtx/calibrated_5_1.csv"},
        {"5_8", "/data/quillon/vtx/calibrated_5_8.csv"},
    };
    for (const auto& [token, expected] : paths) {
        char path[256];
        calibration_table_path(*sweep_band_of_token(token), path);
        EXPECT_STREQ(path, expected);
    }
}

}  // namespace
