// orvi-calreport on hand-made tables: a drop, a missing level, a line that
// cannot be read and a table that cannot be read, with exact output; the
// command line's errors; the folder of the tables is never written; tables
// replaced while read, charts onto what is not a regular file, and a report
// that cannot be written.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utime.h>

#include <cjson/cJSON.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "run_process.h"

namespace {

namespace fs = std::filesystem;

// Levels 1..40 rise 0.5 dB a level from 10 dBm, 41..60 rise 0.05 dB a
// level; level 50 is 1.45 dB below level 49 (1.5 dB below its line), level 15 reads "-1" and level
// 25's mW cell is garbage.
std::string hand_made_table() {
    std::string text = "Power_Level,MCS0_mV,MCS0_mW\n";
    char line[96];
    for (int level = 1; level <= 63; ++level) {
        double dbm = level <= 40 ? 10 + 0.5 * (level - 1) : 29.5 + 0.05 * (level - 40);
        if (level == 50) dbm -= 1.5;
        if (level == 15 || level > 60) {
            std::snprintf(line, sizeof line, "%d,-1,-1\n", level);
        } else if (level == 25) {
            std::snprintf(line, sizeof line, "%d,600.00,abc\n", level);
        } else {
            std::snprintf(line, sizeof line, "%d,%.2f,%.2f\n", level, 300.0 + 10 * level, std::pow(10, dbm / 10));
        }
        text += line;
    }
    return text;
}

// Levels 1..60 rise 0.35 dB a level from 10 dBm (30.65 dBm at 60), the same
// in the column of each MCS given: nothing the report counts as a defect.
std::string sound_table(const std::vector<int>& mcs) {
    std::string text = "Power_Level";
    for (int m : mcs) text += ",MCS" + std::to_string(m) + "_mV,MCS" + std::to_string(m) + "_mW";
    char cells[64];
    for (int level = 1; level <= 63; ++level) {
        if (level > 60) {
            std::snprintf(cells, sizeof cells, ",-1,-1");
        } else {
            std::snprintf(cells, sizeof cells, ",%.2f,%.2f", 300.0 + 10 * level, std::pow(10, (10 + 0.35 * (level - 1)) / 10));
        }
        text += "\n" + std::to_string(level);
        for (size_t i = 0; i < mcs.size(); ++i) text += cells;
    }
    return text + "\n";
}

class CalreportTables : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/calreport-tables-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
        struct utimbuf times = {1709294400, 1709294400};  // 2024-03-01 12:00:00 UTC
        ASSERT_EQ(utime((dir_ + "/" + name).c_str(), &times), 0);
    }
    ProcessResult calreport(std::vector<std::string> args) {
        args.insert(args.begin(), binary_path("calreport/orvi-calreport"));
        RunOptions options;
        options.env = {"TZ=UTC"};
        return run_process(args, options);
    }
    // Names, sizes and modification times of everything in the folder.
    std::string listing() {
        std::string text;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            struct stat info;
            stat(entry.path().c_str(), &info);
            text += entry.path().filename().string() + " " + std::to_string(info.st_size) + " " +
                    std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + "\n";
        }
        return text;
    }
    std::string dir_;
};

TEST_F(CalreportTables, DropMissingLevelAndBadLineReportedExactly) {
    write("calibrated_5_8.csv", hand_made_table());
    write("calibrated_2_4.csv", "Level,MCS0_mW\n1,10.00\n");
    const std::string before = listing();
    ProcessResult r = calreport({"--dir", dir_});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, dir_ + "/calibrated_2_4.csv:1: header does not begin with Power_Level; table skipped\n" +
                         dir_ +
                         "/calibrated_5_8.csv:26: cell \"abc\" of MCS0_mW is not a number, -1, NA or "
                         "TEMP_ERROR_<C>_<tenth>; line left out\n");
    EXPECT_EQ(r.out, "Calibration tables in " + dir_ +
                         "\n"
                         "\n"
                         "calibrated_5_8.csv: 5.8 GHz band, modified 2024-03-01 12:00:00 +0000\n"
                         "  detector: untrimmed, readings within 0.72 dB\n"
                         "  1 line left out (messages on standard error)  << defect\n"
                         "  MCS 0: 58 levels in the table, 10.00 to 30.50 dBm (10.00 to 1122.02 mW)\n"
                         "    stop:     none\n"
                         "    missing:  15, 25 (no value)  << defect\n"
                         "    knee:     level 40 (29.50 dBm)\n"
                         "    drop:     level 50 reads 1.45 dB below the level before it  << defect\n"
                         "    requests at 5805 MHz:\n"
                         "        25 mW -> power index 9, measured 25.12 mW (14.00 dBm)\n"
                         "       100 mW -> power index 21, measured 100.00 mW (20.00 dBm)\n"
                         "       200 mW -> power index 27, measured 199.53 mW (23.00 dBm)\n"
                         "       400 mW -> power index 33, measured 398.11 mW (26.00 dBm)\n"
                         "       800 mW -> power index 39, measured 794.33 mW (29.00 dBm)\n"
                         "\n"
                         "1 table could not be read  << defect\n"
                         "status: defects (5 defects the transmitter would act on, unreadable tables included)\n");

    ProcessResult json = calreport({"--dir", dir_, "--json"});
    EXPECT_EQ(json.exit_code, 1);
    cJSON* root = cJSON_Parse(json.out.c_str());
    ASSERT_NE(root, nullptr) << json.out;
    char* compact = cJSON_PrintUnformatted(root);
    EXPECT_EQ(std::string(compact),
              "{\"status\":\"defects\",\"tables\":[{\"file\":\"" + dir_ +
                  "/calibrated_5_8.csv\",\"band\":\"5_8\",\"conversion_table\":null,\"detector\":{\"trimmed\":"
                  "false,\"trimmed_at\":null,\"mcs\":null,\"uncertainty_db\":0.72},\"mcs\":[{\"mcs\":0,"
                  "\"levels_in_table\":58,\"min_dbm\":10,\"max_dbm\":30.5,\"knee_level\":40,\"stop_level\":null,"
                  "\"stop_reason\":null,\"held_back_levels\":[],\"above_stop_levels\":[],\"impossible_levels\":[],"
                  "\"drops\":[{\"level\":50,\"db\":1.45}],\"requests\":[{\"mw\":25,\"index\":9,\"measured_mw\":25.12,"
                  "\"most_mw\":null},{\"mw\":100,\"index\":21,\"measured_mw\":100,\"most_mw\":null},{\"mw\":200,"
                  "\"index\":27,\"measured_mw\":199.53,\"most_mw\":null},{\"mw\":400,\"index\":33,\"measured_mw\":398.11,"
                  "\"most_mw\":null},{\"mw\":800,\"index\":39,\"measured_mw\":794.33,\"most_mw\":null}]}]}]}");
    cJSON_free(compact);
    cJSON_Delete(root);

    EXPECT_EQ(listing(), before);

    // One request, with and without the cap (5.1 GHz under FCC rules).
    write("calibrated_5_1.csv", hand_made_table());
    const std::string with_5_1 = listing();
    ProcessResult query = calreport({"--dir", dir_, "--mw", "500", "--mcs", "0", "--frequency", "5200", "--fcc"});
    EXPECT_EQ(query.exit_code, 0);
    EXPECT_EQ(query.out,
              "power index 27, measured 199.53 mW (23.00 dBm), at most 236.05 mW within the detector's uncertainty "
              "for a request of 200 mW (capped from 500 mW under FCC rules)\n");
    query = calreport({"--dir", dir_, "--mw", "500", "--mcs", "0", "--frequency", "5200", "--json"});
    EXPECT_EQ(query.exit_code, 0);
    EXPECT_EQ(query.out,
              "{\n\t\"index\":\t35,\n\t\"request_mw\":\t500,\n\t\"measured_mw\":\t501.19,\n\t\"most_mw\":\tnull\n}\n");
    // 5 mW maps to level 1, 3.01 dB above the request: a defect.
    query = calreport({"--dir", dir_, "--mw", "5", "--mcs", "0", "--frequency", "5805"});
    EXPECT_EQ(query.exit_code, 1);
    EXPECT_EQ(query.out, "power index 1, measured 10.00 mW (10.00 dBm) for a request of 5 mW, more than 3 dB off\n");

    // The chart may go anywhere but into the folder of the tables.
    ProcessResult refused = calreport({"--dir", dir_, "--svg", dir_ + "/chart.svg"});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_EQ(refused.err, dir_ + "/chart.svg: in the folder of the tables, which is never written to; no chart written\n");
    EXPECT_EQ(listing(), with_5_1);
}

// What merges and temperature stops leave: "NA" cells, a line a merge
// appended with empty cells in the other columns, a TEMP_ERROR cell.
TEST_F(CalreportTables, TemperatureStopAndMergeCells) {
    std::string text = "Power_Level,MCS0_mV,MCS0_mW,MCS3_mV,MCS3_mW\n";
    for (int level = 1; level <= 63; ++level) {
        if (level == 62) continue;
        std::string mcs0 = level <= 60 ? std::to_string(300 + level) + ".00," + std::to_string(level * 10) + ".00"
                                       : "-1,-1";
        std::string mcs3 = level < 30 ? std::to_string(300 + level) + ".00," + std::to_string(level * 10) + ".00"
                                      : "-1,-1";
        if (level == 12) mcs3 = "NA,NA";
        if (level == 30) mcs3 = "TEMP_ERROR_76_3,TEMP_ERROR_76_3";
        text += std::to_string(level) + "," + mcs0 + "," + mcs3 + "\n";
    }
    write("calibrated_5_1.csv", text + "62,,,NA,NA\n");
    ProcessResult r = calreport({"--dir", dir_});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "");
    const std::string mcs3 = r.out.substr(r.out.find("  MCS 3: "));
    EXPECT_EQ(mcs3.substr(0, mcs3.find("    knee:")),
              "  MCS 3: 28 levels in the table, 10.00 to 24.62 dBm (10.00 to 290.00 mW)\n"
              "    stop:     level 30, temperature (76.3 °C above the 75.0 °C limit)\n"
              "    NA:       12  << defect\n");
    EXPECT_NE(r.out.find("  MCS 0: 60 levels in the table, 10.00 to 27.78 dBm (10.00 to 600.00 mW)\n"
                         "    stop:     none\n"
                         "    missing:  none in 1-60\n"),
              std::string::npos)
        << r.out;
}

TEST_F(CalreportTables, UsageErrorsAndHelp) {
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string err;
    };
    const std::string hint = " (try 'orvi-calreport --help')\n";
    const Case cases[] = {
        {{"--bogus"}, 2, "orvi-calreport: unknown argument '--bogus'" + hint},
        {{"--mw", "100", "--mcs", "0"}, 2, "orvi-calreport: a query needs all of --mw, --mcs and --frequency" + hint},
        {{"--mw", "100", "--mcs", "9", "--frequency", "5805"}, 2, "orvi-calreport: --mcs needs an MCS, 0 to 7" + hint},
        {{"--mw", "1x", "--mcs", "0", "--frequency", "5805"}, 2,
         "orvi-calreport: --mw needs a whole number of milliwatts, 1 to 100000" + hint},
        {{"--mw", "100", "--mcs", "0", "--frequency", "4900"}, 2,
         "orvi-calreport: 4900 MHz is in no band with a table (2300-2599, 5000-5999 MHz)\n"},
        {{"--dir"}, 2, "orvi-calreport: option --dir needs a value" + hint},
        {{"--json=yes"}, 2, "orvi-calreport: option --json takes no value" + hint},
        {{"--dir", "/nonexistent/calreport"}, 2,
         "orvi-calreport: no calibration table could be read in /nonexistent/calreport\n"},
    };
    for (const Case& c : cases) {
        ProcessResult r = calreport(c.args);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
    }
    ProcessResult none = calreport({"--dir", dir_, "--json"});
    EXPECT_EQ(none.exit_code, 2);
    EXPECT_EQ(none.out, "{\n\t\"status\":\t\"error\",\n\t\"tables\":\t[]\n}\n");

    // A chart that cannot be written: the report still comes, the status is 2.
    write("calibrated_5_8.csv", hand_made_table());
    ProcessResult unwritable = calreport({"--dir", dir_, "--svg", "/nonexistent/calreport/chart.svg"});
    EXPECT_EQ(unwritable.exit_code, 2);
    EXPECT_NE(unwritable.out.find("\nstatus: defects"), std::string::npos);
    EXPECT_EQ(unwritable.err.substr(unwritable.err.find('\n', unwritable.err.find(" left out\n")) + 1),
              "/nonexistent/calreport/chart.svg: no file can be made beside it (No such file or directory); "
              "no chart written\n");

    ProcessResult help = calreport({"-h"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("orvi-calreport - ", 0), 0u);
    for (const char* part : {"\nUsage: orvi-calreport ", "\nOptions:\n", "\nExit status:\n", "\nFiles:\n",
                             "rises by less than\n           0.5 dB over the next five measured levels"}) {
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
}

// Files that cannot be tables: one message each, naming the file (and the
// line where there is one), and the table is skipped.
TEST_F(CalreportTables, UnusableTableFiles) {
    const std::string path = dir_ + "/calibrated_2_4.csv";
    const std::string header = "Power_Level,MCS0_mV,MCS0_mW\n";
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string err;
    };
    const Case cases[] = {
        {"NUL byte", [&] { write("calibrated_2_4.csv", header + "1,300.00,10.00\n2,310.00,1" + std::string(1, '\0') + ".00\n"); },
         path + ":3: holds a NUL byte; table skipped\n"},
        {"long line", [&] { write("calibrated_2_4.csv", header + "1,300.00," + std::string(1100, '1') + "\n"); },
         path + ":2: longer than 1022 characters; table skipped\n"},
        {"FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); }, path + ": not a regular file; table skipped\n"},
        {"folder", [&] { fs::create_directory(path); }, path + ": not a regular file; table skipped\n"},
        {"too large", [&] { write("calibrated_2_4.csv", header + std::string(1 << 20, '\n')); },
         path + ": larger than 1048576 bytes, not a calibration table; table skipped\n"},
    };
    for (const Case& c : cases) {
        fs::remove_all(path);
        c.make();
        ProcessResult r = calreport({"--dir", dir_});
        EXPECT_EQ(r.exit_code, 2) << c.name;
        EXPECT_EQ(r.err, c.err + "orvi-calreport: no calibration table could be read in " + dir_ + "\n") << c.name;
    }
}

// Two sound tables of different lengths renamed over each band's path in
// turn, as a calibration replaces a table: every run reads them whole.
TEST_F(CalreportTables, TableReplacedWhileReadIsReadWhole) {
    write("short", sound_table({0}));
    write("long", sound_table({0, 1}));
    const char* const bands[] = {"2_4", "5_1", "5_8"};
    for (const char* band : bands) fs::copy_file(dir_ + "/short", dir_ + "/calibrated_" + band + ".csv");
    const std::string next = dir_ + "/next.tmp";
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i <= 3000000 && !done; ++i) {
            const std::string path = dir_ + "/calibrated_" + bands[i % 3] + ".csv";
            unlink(next.c_str());  // left over when a rename found the same file in place
            if (link((dir_ + ((i / 3) % 2 ? "/long" : "/short")).c_str(), next.c_str()) == 0) {
                std::rename(next.c_str(), path.c_str());
            }
        }
    });
    int failed = 0;
    std::string first_failure;
    for (int run = 0; run < 300; ++run) {
        ProcessResult r = calreport({"--dir", dir_, "--json"});
        if ((r.exit_code != 0 || !r.err.empty()) && failed++ == 0) first_failure = r.err;
    }
    done = true;
    writer.join();
    EXPECT_EQ(failed, 0) << first_failure;
}

// The chart replaces only a regular file: devices (in a tmpfs of a private
// mount namespace, never the machine's /dev), a FIFO and links to neither
// are refused and stay as they were; nothing is left beside them.
TEST_F(CalreportTables, ChartOnlyReplacesRegularFiles) {
    if (unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "no private mount namespace: " << std::strerror(errno);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
    const std::string dev = dir_ + "/dev";
    fs::create_directory(dev);
    ASSERT_EQ(mount("orvi-test-dev", dev.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    const std::string tables = dir_ + "/tables";
    fs::create_directory(tables);
    std::ofstream(tables + "/calibrated_5_8.csv") << sound_table({0});
    umask(022);
    ASSERT_EQ(mknod((dev + "/full").c_str(), S_IFCHR | 0644, makedev(1, 7)), 0) << std::strerror(errno);
    ASSERT_EQ(mknod((dev + "/null").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
    ASSERT_EQ(mkfifo((dev + "/fifo").c_str(), 0644), 0);
    fs::create_symlink("full", dev + "/stdout");
    fs::create_symlink("gone.svg", dev + "/dangling");
    std::ofstream(dev + "/chart.svg") << "old";
    ASSERT_EQ(chmod((dev + "/chart.svg").c_str(), 0640), 0);
    fs::create_symlink("chart.svg", dev + "/latest.svg");

    const std::string not_regular = ": not a regular file, and the chart replaces only a regular file; no chart written\n";
    struct Case {
        std::string name;
        int exit_code;
        std::string err;
    };
    const Case cases[] = {
        {"full", 2, not_regular},
        {"null", 2, not_regular},
        {"fifo", 2, not_regular},
        {"stdout", 2, not_regular},
        {"dangling", 2, ": a link that leads to no file (No such file or directory); no chart written\n"},
        {"chart.svg", 0, ""},
        {"latest.svg", 0, ""},
        {"new.svg", 0, ""},
    };
    for (const Case& c : cases) {
        ProcessResult r = calreport({"--dir", tables, "--svg", dev + "/" + c.name});
        EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
        EXPECT_EQ(r.err, c.err.empty() ? "" : dev + "/" + c.name + c.err) << c.name;
    }
    std::string kinds;
    for (const char* name : {"full", "null", "fifo", "stdout", "dangling", "latest.svg", "chart.svg", "new.svg"}) {
        struct stat info = {};
        lstat((dev + "/" + name).c_str(), &info);
        char line[96];
        std::snprintf(line, sizeof line, "%s %o %u,%u\n", name, info.st_mode, major(info.st_rdev), minor(info.st_rdev));
        kinds += line;
    }
    EXPECT_EQ(kinds,
              "full 20644 1,7\nnull 20644 1,3\nfifo 10644 0,0\nstdout 120777 0,0\ndangling 120777 0,0\n"
              "latest.svg 120777 0,0\nchart.svg 100640 0,0\nnew.svg 100644 0,0\n");
    EXPECT_EQ(read_file(dev + "/chart.svg").rfind("<?xml", 0), 0u);
    // No temporary file left beside any of them.
    EXPECT_EQ(std::distance(fs::directory_iterator(dev), fs::directory_iterator()), 8);
    umount2(dev.c_str(), MNT_DETACH);
}

// A report that does not reach standard output whole fails, whatever the
// tables say, with one message.
TEST_F(CalreportTables, ReportThatCannotBeWrittenFails) {
    write("calibrated_5_8.csv", sound_table({0}));
    const std::string full = "standard output: No space left on device; the report is incomplete\n";
    struct Case {
        std::string redirect;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {"", {}, ""},  // the same report written: sound
        {">/dev/full", {}, full},
        {">/dev/full", {"--json"}, full},
        {">/dev/full", {"--mw", "100", "--mcs", "0", "--frequency", "5805"}, full},
        {">&-", {"--json"}, "standard output: Bad file descriptor; the report is incomplete\n"},
        {">" + dir_ + ".out", {"--svg", "/dev/stdout"},
         "/dev/stdout: the file standard output goes to, which the report needs; no chart written\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" " + c.redirect,
                                         binary_path("calreport/orvi-calreport"), "--dir", dir_};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ProcessResult r = run_process(argv);
        EXPECT_EQ(r.exit_code, c.err.empty() ? 0 : 2) << c.redirect;
        EXPECT_EQ(r.err, c.err) << c.redirect;
    }
    // The refused chart left the report where standard output went.
    const std::string out = dir_ + ".out";
    EXPECT_EQ(read_file(out).rfind("Calibration tables in ", 0), 0u);
    fs::remove(out);
}

}  // namespace

// A stop as the sweep decided it: exactly 31.5 dBm (stored as 1412.54 mW)
// is not above the limit; a voltage beyond the band's conversion table is a
// power stop whatever output the level shows.
// A sweep writes a stop's mW through the same series as the limit's stored
// form: 31.49 to 31.52 dBm are stored as 1404.55, 1407.77, 1411.00 and
// 1414.24 mW, so 31.50 dBm is no stop of the limit itself (only of its
// guard: 5.8 GHz readings are good to 0.72 dB, so anything above 30.78 dBm,
// 1193.50 mW, stops), and 31.51 is.
TEST_F(CalreportTables, StopsAreDecidedAsTheSweepDecidesThem) {
    const std::string within = "power (output within the detector's uncertainty (0.72 dB) of 31.5 dBm)";
    const struct {
        const char* level_40;  // the mV and mW cells of level 40
        const char* level_41;
        std::string stop;
    } rows[] = {
        {"800.00,1193.50", "805.00,1196.24", "level 41, " + within},
        {"800.00,1404.55", "-1,-1", "level 40, " + within},
        {"800.00,1407.77", "-1,-1", "level 40, " + within},
        {"800.00,1122.02", "805.00,1411.00", "level 41, power (output above 31.5 dBm)"},
        {"800.00,1122.02", "805.00,1414.24", "level 41, power (output above 31.5 dBm)"},
        {"900.00,1000.00", "900.15,1000.00",
         "level 41, power (detector voltage above the conversion table's range)"},
        {"900.15,1000.00", "-1,-1", "level 40, power (detector voltage above the conversion table's range)"},
        {"800.00,1000.00", "-1,-1",
         "level 40, temperature (no fresh temperature reading; nothing measured above it)"},
    };
    write("5_8_mv_to_dbm.csv", "mV,MCS0_dBm,MCS1_dBm,MCS2_dBm,MCS3_dBm,MCS4_dBm,MCS5_dBm,MCS6_dBm,MCS7_dBm\n"
                               "0,0,0,0,0,0,0,0,0\n900.001,30,30,30,30,30,30,30,30\n");
    for (const auto& row : rows) {
        std::string text = "Power_Level,MCS0_mV,MCS0_mW\n";
        for (int level = 1; level <= 39; ++level) text += std::to_string(level) + ",500.00,100.00\n";
        text += std::string("40,") + row.level_40 + "\n41," + row.level_41 + "\n";
        for (int level = 42; level <= 63; ++level) text += std::to_string(level) + ",-1,-1\n";
        write("calibrated_5_8.csv", text);
        ProcessResult r = calreport({"--dir", dir_});
        const size_t stop = r.out.find("    stop:     ");
        ASSERT_NE(stop, std::string::npos) << r.out << r.err;
        EXPECT_EQ(r.out.substr(stop + 14, r.out.find('\n', stop) - stop - 14), row.stop) << row.level_41;
        EXPECT_NE(r.out.find("missing:  none in 1-4"), std::string::npos) << r.out;
    }
}

namespace {

// A 5.8 GHz MCS 0 table whose level L holds `dbm(L)` (NaN: "-1").
std::string table_of(const std::function<double(int)>& dbm) {
    std::string text = "Power_Level,MCS0_mV,MCS0_mW\n";
    char line[64];
    for (int level = 1; level <= 63; ++level) {
        const double value = level <= 60 ? dbm(level) : NAN;
        if (std::isnan(value)) {
            std::snprintf(line, sizeof line, "%d,-1,-1\n", level);
        } else {
            std::snprintf(line, sizeof line, "%d,%.2f,%.2f\n", level, 300.0 + 10 * level, std::pow(10, value / 10));
        }
        text += line;
    }
    return text;
}

double rising(int level) { return 10 + 0.35 * (level - 1); }

// The shipped 5.8 GHz conversion table with every dBm lowered by `db`.
std::string shipped_5_8_lowered(double db) {
    std::istringstream in(read_file(source_path("data/5_8_mv_to_dbm.csv")));
    std::string text, line;
    std::getline(in, line);
    text = line + "\n";
    while (std::getline(in, line)) {
        std::istringstream cells(line);
        std::string cell;
        std::getline(cells, cell, ',');
        text += cell;
        char value[32];
        while (std::getline(cells, cell, ',')) {
            std::snprintf(value, sizeof value, ",%.2f", std::strtod(cell.c_str(), nullptr) - db);
            text += value;
        }
        text += "\n";
    }
    return text;
}

}  // namespace

// What a deploy must not pass: values above a power stop that still answer
// requests, an output no reading of this transmitter gives, a zigzag that
// moves the picks, and a fast table's estimated levels taken for measured.
TEST_F(CalreportTables, GateSeesWhatTheTransmitterWouldActOn) {
    const std::string header = "mV,MCS0_dBm,MCS1_dBm,MCS2_dBm,MCS3_dBm,MCS4_dBm,MCS5_dBm,MCS6_dBm,MCS7_dBm\n";
    const struct {
        const char* name;
        std::function<double(int)> dbm;
        int exit_code;
        std::vector<std::string> lines;  // in the report, in this order
        std::string conversion;          // the band's conversion table beside it; empty: none
    } cases[] = {
        {"the shipped conversion table", rising, 0, {"status: ok\n"}, read_file(source_path("data/5_8_mv_to_dbm.csv"))},
        {"a conversion table 4 dB low", rising, 1,
         {"  conversion table 5_8_mv_to_dbm.csv: column MCS",
          "; 8 of 8 columns more than 3.0 dB off  << defect\n", "status: defects (1 defect"},
         shipped_5_8_lowered(4)},
        {"a conversion table a sweep refuses", rising, 1,
         {"  conversion table 5_8_mv_to_dbm.csv: line 1: only a header; at least two rows are needed; a sweep "
          "refuses it  << defect\n"},
         header},
        {"values above a power stop",
         [](int level) { return level < 30 ? 10 + 0.7 * (level - 1) : level == 30 ? 31.6 : 20 + 0.3 * (level - 30); },
         1,
         {"    stop:     level 30, power (output above 31.5 dBm)\n",
          "    above:    31-60 (values above the stop, which a sweep clears)  << defect\n",
          "       200 mW -> power index 40, measured 199.53 mW (23.00 dBm)\n"},
         ""},
        {"an output no reading of this transmitter gives",
         [](int level) { return level == 45 ? 36.99 : rising(level); }, 1,
         {"    stop:     level 45, power (output above 31.5 dBm)\n",
          "    above:    46-60 (values above the stop, which a sweep clears)  << defect\n",
          "    too high: 45 (above 34.5 dBm: no reading of this transmitter)  << defect\n"},
         ""},
        {"a 0.9 dB zigzag",
         [](int level) { return level >= 20 && level % 2 ? rising(level) - 0.9 : rising(level); }, 1,
         {"    drop:     level 21 reads 0.55 dB below the level before it  << defect\n",
          "    drop:     level 59 reads 0.55 dB below the level before it  << defect\n",
          "status: defects (20 defects the transmitter would act on)\n"},
         ""},
        {"a fast table",
         [](int level) { return level >= 46 ? NAN : 10 + 0.45 * (level - 1); }, 0,
         {"  MCS 0: 45 levels in the table, 10.00 to 29.80 dBm (10.00 to 954.99 mW)\n",
          "    stop:     level 45, temperature (no fresh temperature reading; nothing measured above it)\n",
          "    missing:  none in 1-45\n", "status: ok"},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write("calibrated_5_8.csv", table_of(c.dbm));
        std::remove((dir_ + "/5_8_mv_to_dbm.csv").c_str());
        if (!c.conversion.empty()) write("5_8_mv_to_dbm.csv", c.conversion);
        const ProcessResult r = calreport({"--dir", dir_});
        EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
        size_t from = 0;
        for (const std::string& line : c.lines) {
            const size_t at = r.out.find(line, from);
            EXPECT_NE(at, std::string::npos) << "missing in order: " << line << "\n" << r.out;
            if (at != std::string::npos) from = at + line.size();
        }
    }
}
