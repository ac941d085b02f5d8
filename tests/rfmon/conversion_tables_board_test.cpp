// The shipped conversion tables as the board's /data holds them: loading
// and looking up allocate nothing.
#include <gtest/gtest.h>

#include <cmath>

#include "conversion_tables.h"
#ifdef ORVI_COUNT_ALLOCATIONS
#include "allocation_counter.h"
#endif

namespace {

#ifdef ORVI_COUNT_ALLOCATIONS
TEST(BoardTables, LoadingAndLookingUpDoNotAllocate) {
    init_csv_cache_manager();
    double mv = 0, dbm = 0, uncached = 0;
    allocation_counter_arm(true);
    const int loaded = read_csv_data_cached(&mv, &dbm, 3, "5.8", 639.035);
    const int again = read_csv_data_cached(&mv, &dbm, 3, "5.8", 639.035);
    const int read = read_csv_data(&mv, &uncached, 3, "5.8", 639.035);
    allocation_counter_arm(false);
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(again, 0);
    EXPECT_EQ(read, 0);
    EXPECT_GT(g_csv_cache_manager.band_5_8.row_count, 100);
    EXPECT_EQ(uncached, dbm);
    EXPECT_NEAR(dbm, 10 * std::log10(53.09), 0.5);
    EXPECT_EQ(allocation_counter_value(), 0u);
}
#endif

}  // namespace
