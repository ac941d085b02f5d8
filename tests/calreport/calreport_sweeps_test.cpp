// orvi-calreport on tables written by real orvi-rfmon sweeps on the
// simulated board (virtual time): a clean sweep, a power stop, a
// temperature stop and a merge over an older table cut by the power stop. The board's RF model
// may change, so only what does not depend on exact millivolts is checked
// here; exact numbers are in the hand-made table tests.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "default_power_calibration.h"
#include <orvi/power_map.h>
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class CalreportOnSweeps : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/calreport-sweeps-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        sweep("clean", {}, {"-calibrate", "-f", "5180", "-f", "5805", "-m", "0"});
        sweep("power", {"--over-power", "40:800"}, {"-calibrate", "-f", "2412", "-m", "1"});
        // Four temperature reads a level: read 80 is level 20's last.
        sweep("temperature", {"--temp-spike", "80@80"}, {"-temp_test", "-calibrate", "-f", "5805", "-m", "3"});
        // An update merge cut by the power stop clears the older cells above
        // the stop: the built-in 2.4 GHz table (MCS 0, 1 and 3) as the older one.
        fs::create_directories(root_ + "/older");
        std::ofstream(root_ + "/older/calibrated_2_4.csv") << default_cal::kCalibrated_2_4 << "\n";
        sweep("merged", {"--data", root_ + "/older", "--over-power", "40:800"},
              {"-calibrate", "-f", "2412", "-m", "1"});
        // What ./dev demo writes for 5180 MHz MCS 3.
        sweep("demo", {}, {"-fast-calibrate", "-f", "5180", "-m", "3"});
    }
    static void TearDownTestSuite() {
        if (!testing::Test::HasFailure()) fs::remove_all(root_);
    }

    // orvi-rfmon on the board; its tables land in root_/name.
    static void sweep(const std::string& name, std::vector<std::string> board, const std::vector<std::string>& args) {
        const std::string out = root_ + "/" + name;
        fs::create_directories(out);
        std::vector<std::string> argv = {source_path("sim/orvi-sim-board"), "--build", binary_path(""),
                                         "--virtual-time", "--log", root_ + "/" + name + ".tools.log"};
        argv.insert(argv.end(), board.begin(), board.end());
        argv.insert(argv.end(), {"--", "/bin/sh", "-c",
                                 "\"$0\" \"$@\" >/dev/null; s=$?; cp /data/quillon/vtx/calibrated_*.csv '" + out +
                                     "/'; exit $s",
                                 binary_path("rfmon/orvi-rfmon"), "-d", "1"});
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessResult r = run_process(argv);
        ASSERT_EQ(r.exit_code, 0) << name << ": " << r.err;
    }

    static ProcessResult calreport(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {binary_path("calreport/orvi-calreport")};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_process(argv);
    }

    // The report of one folder, as JSON, checked for its exit status.
    static cJSON* report(const std::string& name, int exit_code, const char* status) {
        ProcessResult r = calreport({"--dir", root_ + "/" + name, "--json"});
        EXPECT_EQ(r.exit_code, exit_code) << name << "\n" << r.out << r.err;
        cJSON* json = cJSON_Parse(r.out.c_str());
        EXPECT_NE(json, nullptr) << r.out;
        if (json) {
            EXPECT_STREQ(cJSON_GetObjectItem(json, "status")->valuestring, status) << name;
        }
        return json;
    }

    static std::string root_;
};

std::string CalreportOnSweeps::root_;

cJSON* at(cJSON* array, int i) { return cJSON_GetArrayItem(array, i); }
cJSON* get(cJSON* object, const char* key) { return cJSON_GetObjectItem(object, key); }

struct ColumnFacts {
    int mcs;
    int levels_in_table;
    int stop_level;           // 0: null
    const char* stop_reason;  // nullptr: null
};

void expect_columns(cJSON* table, const std::vector<ColumnFacts>& facts) {
    cJSON* columns = get(table, "mcs");
    ASSERT_EQ(cJSON_GetArraySize(columns), static_cast<int>(facts.size()));
    for (size_t i = 0; i < facts.size(); ++i) {
        cJSON* c = at(columns, static_cast<int>(i));
        EXPECT_EQ(get(c, "mcs")->valueint, facts[i].mcs);
        ASSERT_NE(get(c, "levels_in_table"), nullptr);
        EXPECT_EQ(get(c, "levels_in_table")->valueint, facts[i].levels_in_table);
        if (facts[i].stop_level) {
            EXPECT_EQ(get(c, "stop_level")->valueint, facts[i].stop_level);
            EXPECT_STREQ(get(c, "stop_reason")->valuestring, facts[i].stop_reason);
        } else {
            EXPECT_TRUE(cJSON_IsNull(get(c, "stop_level")));
            EXPECT_TRUE(cJSON_IsNull(get(c, "stop_reason")));
        }
        EXPECT_TRUE(cJSON_IsNumber(get(c, "min_dbm")) && cJSON_IsNumber(get(c, "max_dbm")));
        EXPECT_LT(get(c, "min_dbm")->valuedouble, get(c, "max_dbm")->valuedouble);
        cJSON* requests = get(c, "requests");
        ASSERT_EQ(cJSON_GetArraySize(requests), 5);
        const int asked[] = {25, 100, 200, 400, 800};
        for (int k = 0; k < 5; ++k) EXPECT_EQ(get(at(requests, k), "mw")->valueint, asked[k]);
    }
}

TEST_F(CalreportOnSweeps, ReportsStopsAndStatus) {
    struct Case {
        const char* dir;
        int exit_code;
        const char* status;
        const char* band;
        std::vector<ColumnFacts> columns;
    };
    // The power stop at 40 leaves 800 mW out of reach below it, and the
    // temperature stop at 20 everything from about 100 mW up: defects.
    const Case cases[] = {
        {"clean", 0, "ok", "5_8", {{0, 60, 0, nullptr}}},
        {"power", 1, "defects", "2_4", {{1, 40, 40, "power"}}},
        {"temperature", 1, "defects", "5_8", {{3, 19, 20, "temperature"}}},
        // The built-in MCS 0 curve reaches 31.0 dBm: within the uncertainty.
        {"merged", 1, "defects", "2_4", {{0, 60, 54, "uncertainty"}, {1, 40, 40, "power"}, {3, 60, 0, nullptr}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        cJSON* json = report(c.dir, c.exit_code, c.status);
        ASSERT_NE(json, nullptr);
        cJSON* tables = get(json, "tables");
        cJSON* table = at(tables, cJSON_GetArraySize(tables) - 1);
        EXPECT_EQ(std::string(get(table, "file")->valuestring),
                  root_ + "/" + c.dir + "/calibrated_" + c.band + ".csv");
        EXPECT_STREQ(get(table, "band")->valuestring, c.band);
        expect_columns(table, c.columns);
        if (std::string(c.dir) == "merged") {
            // Nothing of the older MCS 1 cells is left above the fresh stop;
            // the older MCS 0 curve holds values above its own.
            EXPECT_EQ(cJSON_GetArraySize(get(at(get(table, "mcs"), 1), "above_stop_levels")), 0);
            cJSON* above = get(at(get(table, "mcs"), 0), "above_stop_levels");
            ASSERT_EQ(cJSON_GetArraySize(above), 6);
            EXPECT_EQ(at(above, 0)->valueint, 55);
        }
        cJSON_Delete(json);
    }
}

TEST_F(CalreportOnSweeps, QueriesAgreeWithTheTransmittersMap) {
    struct Table {
        const char* dir;
        const char* band;
        std::vector<int> frequencies;
    };
    const Table tables[] = {
        {"clean", "5_1", {5180, 5320, 5500}},
        {"clean", "5_8", {5805}},
        {"power", "2_4", {2412, 2484}},
        {"merged", "2_4", {2437}},
    };
    int capped_requests = 0;
    for (const Table& t : tables) {
        const std::string dir = root_ + "/" + t.dir;
        PowerMap map = loadPowerCalibrationData(dir + "/calibrated_" + t.band + ".csv");
        normalizeMcsCoverage(map);
        ASSERT_FALSE(map.empty()) << dir;
        for (int frequency : t.frequencies) {
            for (int mcs : {0, 3, 6}) {
                for (int mw : {25, 150, 200, 201, 800}) {
                    for (bool fcc : {false, true}) {
                        int expected_mw = mw;
                        const int expected = findClosestPowerIndex(
                            map, mcs, &expected_mw, frequency,
                            fcc ? REGULATORY_DOMAIN_FCC : REGULATORY_DOMAIN_NONE, true);
                        std::vector<std::string> args = {"--dir",   dir, "--mw", std::to_string(mw), "--mcs",
                                                         std::to_string(mcs), "--frequency", std::to_string(frequency),
                                                         "--json"};
                        if (fcc) args.push_back("--fcc");
                        ProcessResult r = calreport(args);
                        const std::string what = dir + " " + std::to_string(frequency) + " MHz MCS " +
                                                 std::to_string(mcs) + " " + std::to_string(mw) + " mW" +
                                                 (fcc ? " FCC" : "");
                        EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << what << r.err;
                        cJSON* json = cJSON_Parse(r.out.c_str());
                        ASSERT_NE(json, nullptr) << what << r.out;
                        EXPECT_EQ(get(json, "index")->valueint, expected) << what;
                        EXPECT_EQ(get(json, "request_mw")->valueint, expected_mw) << what;
                        if (expected_mw != mw) ++capped_requests;
                        cJSON_Delete(json);
                    }
                }
            }
        }
    }
    EXPECT_EQ(capped_requests, 2 * 3 * 2);  // 201 and 800 mW at 5180 and 5320 MHz, three MCS
}

// Under the FCC cap the pick never measures above 200 mW: it is the level
// with the highest output at or below the cap (a map key is a rounded mW).
TEST_F(CalreportOnSweeps, CappedPickOnTheDemosTableStaysUnderTheCap) {
    std::map<int, double> mw_of_level;
    std::istringstream table(read_file(root_ + "/demo/calibrated_5_1.csv"));
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        int level = 0;
        double mv = 0, mw = 0;
        if (std::sscanf(line.c_str(), "%d,%lf,%lf", &level, &mv, &mw) == 3 && mw > 0) mw_of_level[level] = mw;
    }
    int best = 0;
    for (const auto& [level, mw] : mw_of_level)
        if (mw < 200.5 && (!best || mw > mw_of_level[best])) best = level;
    ASSERT_NE(best, 0);
    for (int mw : {201, 400, 800}) {
        ProcessResult r = calreport({"--dir", root_ + "/demo", "--mw", std::to_string(mw), "--mcs", "3",
                                     "--frequency", "5180", "--fcc", "--json"});
        cJSON* json = cJSON_Parse(r.out.c_str());
        ASSERT_NE(json, nullptr) << r.out << r.err;
        EXPECT_EQ(get(json, "index")->valueint, best) << mw;
        EXPECT_LT(get(json, "measured_mw")->valuedouble, 200.5) << mw;
        cJSON_Delete(json);
    }
}

TEST_F(CalreportOnSweeps, ChartIsValidXmlAndRenders) {
    // One folder holding a power stop, the 5.1 GHz FCC line and a temperature stop.
    const std::string dir = root_ + "/mixed", svg = root_ + "/chart.svg", png = root_ + "/chart.png";
    fs::create_directories(dir);
    fs::copy_file(root_ + "/power/calibrated_2_4.csv", dir + "/calibrated_2_4.csv");
    fs::copy_file(root_ + "/clean/calibrated_5_1.csv", dir + "/calibrated_5_1.csv");
    fs::copy_file(root_ + "/temperature/calibrated_5_8.csv", dir + "/calibrated_5_8.csv");
    ProcessResult r = calreport({"--dir", dir, "--svg", svg});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.out.find("\nchart: " + svg + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);

    const std::string text = read_file(svg);
    for (const char* mark : {"MCS 1 stop at 40: power", "MCS 3 stop at 20: temperature", "FCC 200 mW cap",
                             "calibrated_2_4.csv: 2.4 GHz band", "calibrated_5_1.csv: 5.1 GHz band",
                             "calibrated_5_8.csv: 5.8 GHz band", "output (mW)", "output (dBm)", "power index"}) {
        EXPECT_NE(text.find(mark), std::string::npos) << mark;
    }
    ProcessResult xml = run_process({"xmllint", "--noout", svg});
    EXPECT_EQ(xml.exit_code, 0) << xml.err;
    EXPECT_EQ(xml.err, "");
    ProcessResult render = run_process({"rsvg-convert", "--format", "png", "--output", png, svg});
    EXPECT_EQ(render.exit_code, 0) << render.err;
    EXPECT_EQ(render.err, "");
    EXPECT_EQ(read_file(png).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

}  // namespace
