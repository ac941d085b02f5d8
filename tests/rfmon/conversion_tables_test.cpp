// Detector millivolts to dBm: the table loader, the lookup rule, the cache
// and the header search. Runs inside the hermetic runner (fresh /data).
#include "conversion_tables.h"

#include <cmath>
#include <string>
#include <vector>

#include "conversion_table_check.h"
#include "table_files.h"

namespace {

const std::string kHeader = "mV,MCS0,MCS1,MCS2,MCS3,MCS4,MCS5,MCS6,MCS7\n";

struct Lookup {
    const char* name;
    std::string rows;  // after the header
    int mcs;
    double mv;
    double dbm;
};

class CachedLookup : public TableTest {};

TEST_F(CachedLookup, FollowsTheNearestKeyAndMidpointRule) {
    const std::string pair = "400,10.0,1,2,3,4,5,6,7\n500,12.3,1,2,3,4,5,6,7\n";
    const std::vector<Lookup> cases = {
        {"nearer the lower key", pair, 0, 420, 10.0},
        {"middle half gives the rounded mean", pair, 0, 440, 11.0},
        {"exactly on the midpoint", pair, 0, 450, 11.0},
        {"as near the midpoint as the upper key", pair, 0, 475, 12.3},
        {"just inside the middle half", pair, 0, 474.9, 11.0},
        {"below the first key", pair, 0, 380, 10.0},
        {"above the last key", pair, 0, 900, 12.3},
        {"on a key", pair, 0, 500, 12.3},
        {"other MCS column", "400,0,0,0,0,0,0,0,8.0\n500,0,0,0,0,0,0,0,9.0\n", 7, 410, 8.0},
        {"duplicate keys keep the first", "400,5,0,0,0,0,0,0,0\n400,6,0,0,0,0,0,0,0\n", 0, 400,
         5.0},
        {"between two bracketing keys", "400,5,0,0,0,0,0,0,0\n420,6,0,0,0,0,0,0,0\n", 0, 410, 5.5},
        {"tie between two keys keeps the earlier row",
         "400,5,0,0,0,0,0,0,0\n300,6,0,0,0,0,0,0,0\n420,7,0,0,0,0,0,0,0\n", 0, 410, 5.0},
        {"rounded mean of negative values rounds away from zero",
         "400,-1.0,0,0,0,0,0,0,0\n500,-1.5,0,0,0,0,0,0,0\n", 0, 450, -1.5},
        {"midpoint overrides an exact earlier key",
         "450,3,0,0,0,0,0,0,0\n400,10,0,0,0,0,0,0,0\n500,12,0,0,0,0,0,0,0\n", 0, 450, 11.0},
        {"blank line becomes a zero row", "400,10,0,0,0,0,0,0,0\n\n", 0, 10, 0.0},
        {"empty field shifts the rest left", "450,,12.5\n", 0, 450, 12.5},
        {"missing fields are zero", "450,,12.5\n", 1, 450, 0.0},
        {"fields after the ninth are ignored", "450,1,2,3,4,5,6,7,8,99\n", 7, 450, 8.0},
        {"numbers with trailing text", "  450abc,  7.25xyz,0,0,0,0,0,0,0\n", 0, 450, 7.25},
        {"header only: 0 dBm", "", 3, 600, 0.0},
        {"no trailing newline", "400,10,0,0,0,0,0,0,0\n500,12,0,0,0,0,0,0,0", 0, 499, 12.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        init_csv_cache_manager();
        write_table(table_path("5_8"), kHeader + c.rows);
        double mv = -1, dbm = -1;
        ASSERT_EQ(read_csv_data_cached(&mv, &dbm, c.mcs, "5.8", c.mv), 0);
        EXPECT_DOUBLE_EQ(dbm, c.dbm);
        EXPECT_DOUBLE_EQ(mv, c.mv);
    }
}

TEST_F(CachedLookup, RejectsBadMcsAndBandKeysWithoutTouchingTheOutputs) {
    write_table(table_path("2_4"), kHeader + "400,10,10,10,10,10,10,10,10\n");
    struct Bad {
        int mcs;
        const char* band;
        const char* message;
    };
    const std::vector<Bad> cases = {
        {8, "2.4", "Invalid MCS value: 8. Must be 0-7\n"},
        {-1, "2.4", "Invalid MCS value: -1. Must be 0-7\n"},
        {-9999, "2.4", "Invalid MCS value: -9999. Must be 0-7\n"},
        {0, "5.2", "Invalid frequency: 5.2\n"},
        {0, "2_4", "Invalid frequency: 2_4\n"},
        {0, "2.4 ", "Invalid frequency: 2.4 \n"},
        {0, "", "Invalid frequency: \n"},
        {0, nullptr, "Invalid frequency: (null)\n"},
        {9, "5.2", "Invalid MCS value: 9. Must be 0-7\n"},  // MCS is checked first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        double mv = 123, dbm = 456;
        int result = 0;
        const Captured got =
            capture_output([&] { result = read_csv_data_cached(&mv, &dbm, c.mcs, c.band, 400); });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(got.err, c.message);
        EXPECT_EQ(got.out, "");
        EXPECT_EQ(mv, 123);
        EXPECT_EQ(dbm, 456);
    }
}

TEST_F(CachedLookup, MissingTableFailsEveryTimeWhileOthersWork) {
    write_table(table_path("2_4"), kHeader + "400,10,10,10,10,10,10,10,10\n");
    for (int attempt = 0; attempt < 3; ++attempt) {
        double mv = 7, dbm = 7;
        int result = 0;
        const Captured got =
            capture_output([&] { result = read_csv_data_cached(&mv, &dbm, 0, "5.8", 400); });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(got.err, "Error opening csv dbm conversion file: No such file or directory\n");
        EXPECT_EQ(dbm, 7);
        EXPECT_FALSE(g_csv_cache_manager.band_5_8.is_loaded);
        ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 0, "2.4", 400), 0);
        EXPECT_EQ(dbm, 10);
    }
    // Each failure was a fresh attempt: once the file exists, it is used.
    write_table(table_path("5_8"), kHeader + "400,21,21,21,21,21,21,21,21\n");
    double mv = 0, dbm = 0;
    ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 0, "5.8", 400), 0);
    EXPECT_EQ(dbm, 21);
}

TEST_F(CachedLookup, EmptyFileHasNoHeader) {
    write_table(table_path("5_1"), "");
    double mv = 1, dbm = 1;
    int result = 0;
    const Captured got = capture_output([&] { result = read_csv_data_cached(&mv, &dbm, 0, "5.1", 400); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(got.err, "Error reading CSV header\n");
    EXPECT_FALSE(g_csv_cache_manager.band_5_1.is_loaded);
    EXPECT_EQ(dbm, 1);
}

TEST_F(CachedLookup, TableReplacedAfterFirstUseIsNotSeen) {
    write_table(table_path("5_1"), kHeader + "400,10,10,10,10,10,10,10,10\n");
    double mv = 0, dbm = 0;
    ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 2, "5.1", 400), 0);
    EXPECT_EQ(dbm, 10);
    write_table(table_path("5_1"), kHeader + "400,20,20,20,20,20,20,20,20\n");
    ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 2, "5.1", 400), 0);
    EXPECT_EQ(dbm, 10);
    std::remove(table_path("5_1").c_str());
    ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 2, "5.1", 400), 0);
    EXPECT_EQ(dbm, 10);
    // Only a reset of the caches reads it again.
    write_table(table_path("5_1"), kHeader + "400,20,20,20,20,20,20,20,20\n");
    init_csv_cache_manager();
    ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 2, "5.1", 400), 0);
    EXPECT_EQ(dbm, 20);
}

TEST_F(CachedLookup, ATableFoundSoundIsCheckedAgainOnlyAfterAReload) {
    const std::string row = ",10,10,10,10,10,10,10,10\n";
    write_table(table_path("5_8"), kHeader + "400" + row + "500" + row);
    EXPECT_TRUE(conversion_table_fit_to_raise_power("5.8"));
    write_table(table_path("5_8"), kHeader + "400" + row);
    EXPECT_TRUE(conversion_table_fit_to_raise_power("5.8"));
    init_csv_cache_manager();
    EXPECT_FALSE(conversion_table_fit_to_raise_power("5.8"));
}

TEST_F(CachedLookup, ReadsAtMostAThousandRows) {
    std::string rows;
    for (int i = 1; i <= 1200; ++i) {
        rows += std::to_string(i) + "," + std::to_string(i) + ",0,0,0,0,0,0,0\n";
    }
    write_table(table_path("2_4"), kHeader + rows);
    double mv = 0, dbm = 0;
    ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 0, "2.4", 1100), 0);
    EXPECT_EQ(g_csv_cache_manager.band_2_4.row_count, 1000);
    EXPECT_EQ(dbm, 1000);  // row 1000 is the last one read
}

TEST_F(CachedLookup, LongLinesAreReadInPieces) {
    // A 1029-character line: its first 1023 characters form a row, the rest another.
    std::string line = "300,9";
    line += std::string(1023 - line.size(), ' ');
    line += "777,5\n";
    write_table(table_path("2_4"), kHeader + line);
    double mv = 0, dbm = 0;
    ASSERT_EQ(read_csv_data_cached(&mv, &dbm, 0, "2.4", 300), 0);
    EXPECT_EQ(g_csv_cache_manager.band_2_4.row_count, 2);
    EXPECT_EQ(dbm, 9);
    EXPECT_EQ(g_csv_cache_manager.band_2_4.data[1][0], 777);
}

TEST_F(CachedLookup, LoaderHelpers) {
    EXPECT_EQ(get_csv_cache_for_freq("2.4"), &g_csv_cache_manager.band_2_4);
    EXPECT_EQ(get_csv_cache_for_freq("5.1"), &g_csv_cache_manager.band_5_1);
    EXPECT_EQ(get_csv_cache_for_freq("5.8"), &g_csv_cache_manager.band_5_8);
    EXPECT_EQ(get_csv_cache_for_freq("5.80"), nullptr);
    EXPECT_EQ(get_csv_cache_for_freq(nullptr), nullptr);

    // An already loaded cache is returned as it is, whatever the path.
    csv_cache_t cache{};
    cache.is_loaded = true;
    cache.row_count = 3;
    EXPECT_EQ(load_csv_cache(&cache, "/nonexistent/table.csv"), 0);
    EXPECT_EQ(cache.row_count, 3);
    cache.is_loaded = false;
    const Captured got =
        capture_output([&] { EXPECT_EQ(load_csv_cache(&cache, "/nonexistent/table.csv"), -1); });
    EXPECT_EQ(got.err, "Error opening csv dbm conversion file: No such file or directory\n");
    EXPECT_FALSE(cache.is_loaded);
}

class UncachedLookup : public TableTest {};

TEST_F(UncachedLookup, ReadsTheFileEveryTimeWithItsOwnRules) {
    struct Case {
        const char* name;
        std::string rows;
        int mcs;
        const char* band;
        double mv;
        double dbm;
    };
    const std::vector<Case> cases = {
        {"same rule as the cache", "400,10.0\n500,12.3\n", 0, "5.8", 440, 11.0},
        {"row without the MCS field is no neighbour", "400,0,10\n450,0\n500,0,12\n", 1, "5.8", 450,
         11.0},
        {"row without the MCS field is no candidate", "400,10,3\n420,30\n", 1, "5.8", 421, 3.0},
        {"negative MCS takes the key", "400,10\n500,12\n", -1, "5.8", 410, 400.0},
        {"any band key names a file", "400,4\n", 0, "5.2", 400, 4.0},
        {"only nine characters of the key", "400,6\n", 0, "5.8xxxxxxxxx", 400, 6.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_table(table_path("5_8"), kHeader + c.rows);
        write_table(table_path("5_2"), kHeader + c.rows);
        write_table(std::string(kTableDir) + "/5_8xxxxxx_mv_to_dbm.csv", kHeader + c.rows);
        double mv = -1, dbm = -1;
        ASSERT_EQ(read_csv_data(&mv, &dbm, c.mcs, c.band, c.mv), 0);
        EXPECT_DOUBLE_EQ(dbm, c.dbm);
        EXPECT_DOUBLE_EQ(mv, c.mv);
    }
    std::remove((std::string(kTableDir) + "/5_8xxxxxx_mv_to_dbm.csv").c_str());

    // No cache: a replaced file is seen at once.
    write_table(table_path("5_8"), kHeader + "400,1\n");
    double mv = 0, dbm = 0;
    ASSERT_EQ(read_csv_data(&mv, &dbm, 0, "5.8", 400), 0);
    EXPECT_EQ(dbm, 1);
    write_table(table_path("5_8"), kHeader + "400,2\n");
    ASSERT_EQ(read_csv_data(&mv, &dbm, 0, "5.8", 400), 0);
    EXPECT_EQ(dbm, 2);
    EXPECT_FALSE(g_csv_cache_manager.band_5_8.is_loaded);
}

TEST_F(UncachedLookup, HasNoRowLimitAndTheSameFileErrors) {
    std::string rows;
    for (int i = 1; i <= 1500; ++i) rows += std::to_string(i) + "," + std::to_string(i) + "\n";
    write_table(table_path("2_4"), kHeader + rows);
    double mv = 0, dbm = 0;
    ASSERT_EQ(read_csv_data(&mv, &dbm, 0, "2.4", 1400), 0);
    EXPECT_EQ(dbm, 1400);

    write_table(table_path("2_4"), "");
    dbm = 5;
    Captured got = capture_output([&] { EXPECT_EQ(read_csv_data(&mv, &dbm, 0, "2.4", 1), -1); });
    EXPECT_EQ(got.err, "Error reading CSV header\n");
    std::remove(table_path("2_4").c_str());
    got = capture_output([&] { EXPECT_EQ(read_csv_data(&mv, &dbm, 0, "2.4", 1), -1); });
    EXPECT_EQ(got.err, "Error opening csv dbm conversion file: No such file or directory\n");
    EXPECT_EQ(dbm, 5);
}

TEST(NumericHelpers, CaseInsensitiveSearch) {
    const char* header = "Power_Level,MCS0_mV,MCS0_mW,MCS1_mV,MCS1_mW,MCS3_mV,MCS3_mW";
    EXPECT_EQ(custom_strcasestr(header, "mcs0_mv"), header + 12);
    EXPECT_EQ(custom_strcasestr(header, "MCS3_MW"), header + 52);
    EXPECT_EQ(custom_strcasestr(header, ""), header);
    EXPECT_EQ(custom_strcasestr(header, "mcs2"), nullptr);
    EXPECT_EQ(custom_strcasestr("", "a"), nullptr);
    EXPECT_EQ(custom_strcasestr(nullptr, "a"), nullptr);
    EXPECT_EQ(custom_strcasestr(header, nullptr), nullptr);
    EXPECT_EQ(custom_strcasestr("abc", "abcd"), nullptr);
}

}  // namespace

namespace {

// What makes a table unfit to raise the power by, named by its file line
// (blank lines and lines read in pieces counted as the file has them).
TEST(ConversionTableCheck, FaultsNameTheirLineAndColumn) {
    const std::string row = ",10,10,10,10,10,10,10,10\n";
    const struct {
        const char* name;
        std::string rows;  // after the header
        std::string fault;
    } cases[] = {
        {"two rows", "400" + row + "500" + row, ""},
        {"equal values do not fall", "400" + row + "500" + row + "600" + row, ""},
        {"only a header", "", "line 1: only a header; at least two rows are needed"},
        {"one row", "400" + row, "line 2: the only row; at least two rows are needed"},
        {"a blank line is a row of zeros", "400" + row + "\n500" + row,
         "line 3, column 1 (mV): 0.00 does not ascend from 400.00 on line 2"},
        {"not a number", "400" + row + "500,10,nan,10,10,10,10,10,10\n",
         "line 3, column 3 (MCS1): not a finite number"},
        {"an infinite key", "400" + row + "inf" + row, "line 3, column 1 (mV): not a finite number"},
        {"keys out of order", "500" + row + "400" + row,
         "line 3, column 1 (mV): 400.00 does not ascend from 500.00 on line 2"},
        {"a repeated key", "400" + row + "400" + row,
         "line 3, column 1 (mV): 400.00 does not ascend from 400.00 on line 2"},
        {"a falling column", "400" + row + "500,10,10,10,10,10,10,10,9.5\n",
         "line 3, column 9 (MCS7): 9.50 dBm falls from 10.00 dBm on line 2"},
        {"a missing field reads 0", "400" + row + "500,10,10\n",
         "line 3, column 4 (MCS2): 0.00 dBm falls from 10.00 dBm on line 2"},
        {"the pieces of a long line keep its number", "400" + row + "450,10,10,10,10,10,10,10,10" +
                                                          std::string(1100, ',') + "\n",
         "line 3, column 1 (mV): 0.00 does not ascend from 450.00 on line 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_table(table_path("5_8"), kHeader + c.rows);
        csv_cache_t table = {};
        ASSERT_EQ(load_csv_cache(&table, table_path("5_8").c_str()), 0);
        EXPECT_EQ(conversion_table_fault(table), c.fault);
    }
}

}  // namespace
