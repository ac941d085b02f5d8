// The trim file's text and the fit of a trim, in-process.
#include <gtest/gtest.h>

#include <string>

#include "detector_trim.h"
#include "power_meter.h"
#include "trim_fit.h"

namespace {

const std::string kHeader =
    "Band,Frequency_MHz,MCS,Gain,Offset_mV,Residual_dB,Meter_dB,Levels,Trimmed_At\n";

TEST(DetectorTrimFile, ReadsOnlyWholePlausibleFiles) {
    const struct {
        const char* name;
        std::string text;
        const char* error;  // nullptr: accepted
    } cases[] = {
        {"two bands", kHeader + "2_4,2412,0,1.021300,-8.410,0.053,0.200,5,2026-12-08T19:40:00Z\n"
                                "5_8,5805,0,0.975000,12.000,0.100,0.200,5,2026-12-01T08:00:00Z\n",
         nullptr},
        {"header only", kHeader, nullptr},
        {"empty", "", "line 1: the file is empty"},
        {"another file", "Power_Level,MCS0_mV,MCS0_mW\n", "line 1: not a detector trim header"},
        {"short line", kHeader + "2_4,2412,0,1.02,-8.4,0.05,0.2,5\n", "line 2: expected 9 fields"},
        {"unknown band", kHeader + "6_0,6000,0,1.0,0,0.05,0.2,5,2026-12-08T19:40:00Z\n",
         "line 2: unknown band"},
        {"band twice", kHeader + "5_1,5180,0,1.0,0,0.05,0.2,5,2026-12-08T19:40:00Z\n"
                                 "5_1,5200,3,1.0,0,0.05,0.2,5,2026-12-08T19:40:00Z\n",
         "line 3: band given twice"},
        {"not a number", kHeader + "5_1,5180,0,1.0x,0,0.05,0.2,5,2026-12-08T19:40:00Z\n",
         "line 2: a field is not a number or a time"},
        {"nan", kHeader + "5_1,5180,0,nan,0,0.05,0.2,5,2026-12-08T19:40:00Z\n",
         "line 2: a field is not a number or a time"},
        {"other band's frequency", kHeader + "5_1,5805,0,1.0,0,0.05,0.2,5,2026-12-08T19:40:00Z\n",
         "line 2: frequency outside the band"},
        {"slope beyond 20 %", kHeader + "5_1,5180,0,1.25,0,0.05,0.2,5,2026-12-08T19:40:00Z\n",
         "line 2: gain beyond plausible bounds"},
        {"one level", kHeader + "5_1,5180,0,1.0,0,0.05,0.2,1,2026-12-08T19:40:00Z\n",
         "line 2: MCS or level count out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        detector_trims_t trims;
        std::string error;
        const bool ok = parse_detector_trims(c.text, &trims, &error);
        EXPECT_EQ(ok, c.error == nullptr) << error;
        if (!ok) {
            EXPECT_EQ(error, c.error);
            for (const auto& band : trims.band) EXPECT_FALSE(band.trimmed);
        } else {
            // What is read is written back byte for byte.
            EXPECT_EQ(detector_trims_text(trims), c.text);
        }
    }
    detector_trims_t trims;
    std::string error;
    ASSERT_TRUE(parse_detector_trims(cases[0].text, &trims, &error));
    EXPECT_TRUE(trims.band[0].trimmed);
    EXPECT_FALSE(trims.band[1].trimmed);
    EXPECT_DOUBLE_EQ(trims.band[2].offset_mv, 12.0);
    EXPECT_EQ(trims.band[0].trimmed_at, 1796758800);  // date -u -d 2026-12-08T19:40:00Z +%s
    EXPECT_NEAR(trim_uncertainty_db(trims.band[0]), 0.353, 1e-12);  // 0.053 + 0.2 + 0.1
}

// A log detector of 25 mV/dB through 20 dBm at 500 mV stands in for the
// conversion table.
int linear_detector(double mv, double* dbm, void* context) {
    if (context) return -1;
    *dbm = 20.0 + (mv - 500.0) / 25.0;
    return 0;
}

TEST(DetectorTrimFit, FitsTheLineAndJudgesIt) {
    const struct {
        const char* name;
        std::vector<trim_point_t> points;  // level, measured, meter dBm, table mV
        trim_fit_result_t result;
        double gain, offset_mv, largest_residual_db;
    } cases[] = {
        // table mV = 0.98 measured + 10, meters exact: no residual.
        {"exact", {{10, 400, 16.08, 402}, {30, 600, 23.92, 598}, {50, 800, 31.76, 794}}, TRIM_FIT_OK,
         0.98, 10, 0},
        // Two points fit exactly whatever they hold.
        {"two", {{10, 400, 16.0, 400}, {50, 800, 32.0, 800}}, TRIM_FIT_OK, 1, 0, 0},
        // The middle meter 0.3 dB high moves the line by a third of it at
        // each end: residuals +0.1, -0.2 (middle), +0.1 dB.
        {"one meter off", {{10, 400, 16.0, 400}, {30, 600, 24.3, 607.5}, {50, 800, 32.0, 800}},
         TRIM_FIT_OK, 1, 2.5, 0.2},
        {"one point", {{10, 400, 16.0, 400}}, TRIM_FIT_TOO_FEW, 0, 0, 0},
        {"one voltage", {{10, 400, 16.0, 400}, {11, 400, 16.1, 402.5}}, TRIM_FIT_TOO_FEW, 0, 0, 0},
        {"slope 30 % off", {{10, 400, 16.0, 400}, {50, 800, 36.8, 920}}, TRIM_FIT_IMPLAUSIBLE, 1.3,
         -120, 0},
        // 100 mV is 4 dB at 25 mV/dB.
        {"4 dB off", {{10, 400, 20.0, 500}, {50, 800, 36.0, 900}}, TRIM_FIT_IMPLAUSIBLE, 1, 100, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        trim_fit_t fit;
        const trim_fit_result_t result = fit_detector_trim(
            c.points.data(), static_cast<int>(c.points.size()), linear_detector, nullptr, &fit);
        EXPECT_EQ(result, c.result);
        if (result == TRIM_FIT_TOO_FEW) continue;
        EXPECT_NEAR(fit.gain, c.gain, 1e-9);
        EXPECT_NEAR(fit.offset_mv, c.offset_mv, 1e-6);
        EXPECT_NEAR(fit.largest_residual_db, c.largest_residual_db, 1e-9);
    }
    trim_fit_t fit;
    const trim_point_t two[] = {{10, 400, 16.0, 400}, {50, 800, 32.0, 800}};
    int failing = 1;
    EXPECT_EQ(fit_detector_trim(two, 2, linear_detector, &failing, &fit), TRIM_FIT_CONVERSION);
}

TEST(DetectorTrimMeter, TakesOneNumberOnly) {
    const struct {
        const char* text;
        bool ok;
        double dbm;
    } cases[] = {{"17.38\n", true, 17.38}, {"  -3.5 \r\n", true, -3.5}, {"17.38 dBm\n", false, 0},
                 {"", false, 0},           {"nan\n", false, 0},         {"17,38\n", false, 0},
                 {"1e400\n", false, 0},    {"17.38\n18.0\n", false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double dbm = 0;
        EXPECT_EQ(parse_meter_dbm(c.text, &dbm), c.ok);
        if (c.ok) {
            EXPECT_DOUBLE_EQ(dbm, c.dbm);
        }
    }
}

}  // namespace
