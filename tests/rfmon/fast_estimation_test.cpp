// Fast calibration: anchor check, anchor offsets and the estimated levels.
#include <gtest/gtest.h>

#include <string>

#include "conversion_tables.h"
#include "fast_estimation.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

constexpr double kUncertaintyDb = 0.72;

struct FakeConversion {
    double dbm = 20.0;
    int failing_level_mv_below = 0;  // estimates below this many mV fail to convert
    int calls = 0;
};

int fake_convert(double mv, double* dbm, void* context) {
    FakeConversion* c = static_cast<FakeConversion*>(context);
    ++c->calls;
    if (mv < c->failing_level_mv_below) return -1;
    *dbm = c->dbm;
    return 0;
}

TEST(FastEstimation, OffsetsOfTheWorkedExample) {
    // Band 5_8, MCS 0: 510.00 mV measured at level 10 (reference 499.66) and
    // 810.00 mV at level 35 (reference 816.8).
    sweep_results_t results = {};
    results.level[10] = {true, 510.0, 50.0};
    results.level[35] = {true, 810.0, 200.0};
    anchor_offset_t offsets[FAST_CALIBRATION_LEVEL_COUNT];
    ASSERT_EQ(collect_anchor_offsets(results, "5_8", 0, offsets), 2);
    EXPECT_EQ(offsets[0].level, 10);
    EXPECT_NEAR(offsets[0].offset, 10.34, 1e-9);
    EXPECT_EQ(offsets[1].level, 35);
    EXPECT_NEAR(offsets[1].offset, -6.8, 1e-9);

    const struct {
        int level;
        double offset;
    } cases[] = {{20, 3.484}, {5, 10.34}, {1, 10.34}, {10, 10.34}, {35, -6.8}, {60, -6.8}, {11, 9.6544}};
    for (const auto& c : cases) {
        EXPECT_NEAR(offset_at_level(offsets, 2, c.level), c.offset, 1e-9) << c.level;
    }
    EXPECT_EQ(offset_at_level(offsets, 0, 20), 0.0);

    FakeConversion conversion;
    CaptureStdout();
    estimate_fast_levels(&results, "5_8", 0, 0, kUncertaintyDb, fake_convert, &conversion);
    EXPECT_EQ(GetCapturedStdout(),
              "Generating estimated fast calibration rows from measured anchors...\n");
    EXPECT_EQ(results.level[20].mw, 100.0);
    // The anchors keep what they measured; unmeasured anchors are not
    // estimated; nothing above 60 is.
    EXPECT_EQ(results.level[10].mv, 510.0);
    EXPECT_EQ(results.level[35].mw, 200.0);
    for (int level : {45, 50, 56, 60, 61, 62, 63}) EXPECT_FALSE(results.level[level].valid) << level;
    EXPECT_EQ(conversion.calls, 60 - 6);
    for (int level = 1; level <= 60; ++level) {
        const bool anchor = level == 10 || level == 35 || level == 45 || level == 50 ||
                            level == 56 || level == 60;
        EXPECT_EQ(results.level[level].valid, !anchor || level <= 35) << level;
    }
    // The reference curve's mV plus the offset: 10.34 up to level 10, -6.8
    // from 35, linear between.
    const struct {
        int level;
        double mv;
    } estimates[] = {{1, 386.43 + 10.34},  {5, 435.08 + 10.34},  {9, 486.22 + 10.34},
                     {11, 512.94 + 9.6544}, {20, 632.67 + 3.484}, {34, 806.34 - 6.1144},
                     {36, 827.6 - 6.8},     {44, 903.85 - 6.8},   {59, 1000.54 - 6.8}};
    for (const auto& e : estimates) EXPECT_NEAR(results.level[e.level].mv, e.mv, 1e-9) << e.level;
}

TEST(FastEstimation, TemperatureStopLimitsTheAnchorsAndTheEstimate) {
    // A temperature stop at 76.37 °C at level 45 of a fast sweep.
    sweep_results_t results = {};
    results.level[10] = {true, 470.0, 30.0};
    results.level[35] = {true, 740.0, 500.0};
    results.level[45] = {true, TEMPERATURE_STOP_MV, 76.37};
    CaptureStderr();
    EXPECT_EQ(report_failed_anchors(results, 45), 0);
    EXPECT_EQ(GetCapturedStderr(), "");

    FakeConversion conversion;
    CaptureStdout();
    estimate_fast_levels(&results, "2_4", 3, 45, kUncertaintyDb, fake_convert, &conversion);
    EXPECT_EQ(GetCapturedStdout(),
              "Generating estimated fast calibration rows from measured anchors...\n"
              "Safety stop occurred at power level 45; rows above that level will remain "
              "uncalibrated\n");
    // Level 45 gives no offset: the offset of 35 (740 - 738.28 mV) holds from
    // 35 up, on the reference's 842.13 mV at 44.
    EXPECT_NEAR(results.level[44].mv, 842.13 + 1.72, 1e-9);
    EXPECT_EQ(results.level[45].mv, TEMPERATURE_STOP_MV);
    EXPECT_EQ(results.level[45].mw, 76.37);
    for (int level = 46; level <= 63; ++level) EXPECT_FALSE(results.level[level].valid) << level;
    EXPECT_EQ(conversion.calls, 45 - 3);
}

TEST(FastEstimation, FailedAnchorsAreReportedInOrder) {
    sweep_results_t results = {};
    for (int level : {10, 35, 50, 56}) results.level[level] = {true, 500.0, 10.0};
    CaptureStderr();
    EXPECT_EQ(report_failed_anchors(results, 0), 2);
    EXPECT_EQ(GetCapturedStderr(),
              "Error: fast calibration anchor power level 45 did not produce a valid measured "
              "reading. Aborting without writing CSV.\n"
              "Error: fast calibration anchor power level 60 did not produce a valid measured "
              "reading. Aborting without writing CSV.\n");
    // After a stop at 40 only 10 and 35 are tested.
    sweep_results_t stopped = {};
    stopped.level[10] = {true, 500.0, 10.0};
    CaptureStderr();
    EXPECT_EQ(report_failed_anchors(stopped, 40), 1);
    EXPECT_EQ(GetCapturedStderr(),
              "Error: fast calibration anchor power level 35 did not produce a valid measured "
              "reading. Aborting without writing CSV.\n");
}

TEST(FastEstimation, EstimateHasAFloorAndConversionFailuresLeaveGaps) {
    sweep_results_t results = {};
    for (int level : {10, 35, 45, 50, 56, 60}) results.level[level] = {true, 1.0, 1.0};
    FakeConversion conversion;
    conversion.failing_level_mv_below = 0;
    CaptureStdout();
    estimate_fast_levels(&results, "5_1", 1, 0, kUncertaintyDb, fake_convert, &conversion);
    GetCapturedStdout();
    // Below the first anchor the offset (1 - 537.16 mV) pushes every estimate to the floor.
    for (int level : {1, 5, 9}) EXPECT_EQ(results.level[level].mv, 1.0) << level;
    EXPECT_NEAR(results.level[20].mv, 662.70 + (1 - 537.16) + 0.4 * (537.16 - 814.60), 1e-9);

    sweep_results_t second = {};
    for (int level : {10, 35, 45, 50, 56, 60}) second.level[level] = {true, 500.0, 1.0};
    FakeConversion failing;
    failing.failing_level_mv_below = 100000;  // every conversion fails
    CaptureStdout();
    estimate_fast_levels(&second, "5_1", 1, 0, kUncertaintyDb, fake_convert, &failing);
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Warning: Failed to convert estimated mV to dBm for power level 1, leaving "
                       "row uncalibrated\n"),
              std::string::npos);
    EXPECT_NE(out.find("Warning: Failed to convert estimated mV to dBm for power level 59, "
                       "leaving row uncalibrated\n"),
              std::string::npos);
    EXPECT_FALSE(second.level[1].valid);
    EXPECT_FALSE(second.level[59].valid);

    // No reference column (MCS 9): every level is reported and left empty.
    sweep_results_t third = {};
    for (int level : {10, 35, 45, 50, 56, 60}) third.level[level] = {true, 500.0, 1.0};
    CaptureStdout();
    estimate_fast_levels(&third, "5_1", 9, 0, kUncertaintyDb, fake_convert, &conversion);
    out = GetCapturedStdout();
    EXPECT_NE(out.find("Warning: No embedded default mV lookup for power level 2, leaving row "
                       "uncalibrated\n"),
              std::string::npos);
    EXPECT_FALSE(third.level[2].valid);
}

// An estimate whose dBm plus the uncertainty lies above 31.5 dBm is left
// out and withheld, so that a merge clears what a stored table held there.
TEST(FastEstimation, EstimatesWithinTheUncertaintyOfTheLimitAreWithheld) {
    const struct {
        double dbm;
        bool written;
    } cases[] = {{30.78, true}, {30.79, false}, {31.6, false}};
    for (const auto& c : cases) {
        sweep_results_t results = {};
        for (int level : {10, 35, 45, 50, 56, 60}) results.level[level] = {true, 900.0, 1000.0};
        FakeConversion conversion;
        conversion.dbm = c.dbm;
        CaptureStdout();
        estimate_fast_levels(&results, "5_8", 0, 0, kUncertaintyDb, fake_convert, &conversion);
        const std::string out = GetCapturedStdout();
        for (int level : {1, 36, 59}) {
            EXPECT_EQ(results.level[level].valid, c.written) << c.dbm << " " << level;
            EXPECT_EQ(results.withheld[level], !c.written) << c.dbm << " " << level;
        }
        char line[200];
        std::snprintf(line, sizeof line,
                      "Warning: Estimated dBm (%.2f) plus the detector's uncertainty (0.72 dB) "
                      "exceeds the safety threshold of 31.5 dBm at power level 59, leaving row "
                      "uncalibrated\n",
                      c.dbm);
        EXPECT_EQ(out.find(line) != std::string::npos, !c.written) << out;
        EXPECT_FALSE(results.withheld[10]);
    }
}

}  // namespace
