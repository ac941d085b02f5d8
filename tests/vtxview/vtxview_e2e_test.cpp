// The real orvi-vtxview against the simulated board's telemetry publisher,
// each scenario in a private namespace of its own.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <orvi/pipe_records.h>
#include "test_support.h"

namespace {

const std::string WRAP_OFF = "\033[?7l";
const std::string WRAP_ON = "\033[?7h";
const std::string ROW = "\r\033[2K";
const std::string HEADER =
    "\033[1m|    id   | in (mbps) | out (mbps) | avg vtx(ms) | vtx(ms) | frame(ms) | fec(ms) |"
    " exp(ms) | temp(C) | pwr(dBm) | pwr(idx) | pkt/s | frags | fec | mcs | frame type |\n\033[0m";
const std::string CLOSING = "\nclosing and exiting\n";
const std::string CSV_HEADER =
    "Time (ns),Sample ID,Input MBPS,Output MBPS,Average Latency,VTX Latency,Frame Latency,"
    "FEC Latency,Exposure,VTX Temperature,VTX Power (dBm),Packets Per Second,Fragments,FEC,MCS,"
    "Frame Type\n";
const std::string USAGE =
    "\n"
    "typical usage\n"
    "/# orvi-vtxview\n"
    "\n"
    "This will print out vtx data from Brannic Pipe Architecture.\n"
    "By default this opens the pipe \"vtx\"/\n"
    "but this can be changed with the --pipe option.\n"
    "\n"
    "Range in meters will always print. Additional options are:\n"
    "-h, --help                  print this help message\n"
    "-n, --newline               print each sample on a new line\n"
    "-p, --pipe {pipe_name}      optionally specify the pipe name\n"
    "-t, --test                  test mode - print PASSED or FAILED and return 0 or 1\n"
    "-j, --json                  format test output as json\n"
    "-k, --json_human            format test output as human readable json\n";

// What a failed JSON test prints last.
const std::string NO_RECORD_JSON =
    "{\"result\":\"FAILED\",\"id\":-1,\"input_mbps\":0,\"output_mbps\":0,"
    "\"vtx_latency_ms\":0,\"frame_latency_ms\":0,\"fec_latency_ms\":0,"
    "\"exposure_ms\":0,\"temperature_c\":0,\"power_dbm\":0,\"power_idx\":0,"
    "\"packets_per_second\":0,\"fragments\":0,\"fec\":0,\"mcs\":0,"
    "\"frame_type\":\"H265 (?) 0\"}\n";

// Record k of a scenario: every field moves with k so a misplaced column shows.
vtx_data_t record(int32_t id, int32_t frame_type, float latency, int32_t fec, int k) {
    vtx_data_t r;
    std::memset(&r, 0, sizeof r);
    r.magic_number = PIPE_RECORD_MAGIC;
    r.id = id;
    r.input_mbps = 8.0f + 0.25f * k;
    r.output_mbps = r.input_mbps * 1.25f;
    r.vtx_latency_ms = latency;
    r.frame_latency_ms = 16.0f + k;
    r.fec_latency_ms = 1.2f;
    r.exposure_ns = 8000000 + 12345 * k;
    r.packets_per_second = 900 + k;
    r.fragments = 6 + k;
    r.frame_type = frame_type;
    r.temperature_c = 35.5 + k;
    r.power_dbm = 20.25 - k;
    r.power_idx = 20 + k;
    r.frequency = 5805;
    r.mcs = k % 8;
    r.fec = fec;
    return r;
}

// Rows of the records above, worked out by hand from the table format.
const std::string ROW1 =
    "|       1 |    8.2    |    10.3    |     1.000   |  1.000  | 17.000    |  1.200  |   8.01  |"
    "  36.50  |   19.25  |    21    |  901  |   7   | \033[1;31m  0\033[0m |  1  |  H265 (I)  |";
const std::string ROW2 =
    "|       2 |    8.5    |    10.6    |     1.500   |  2.000  | 18.000    |  1.200  |   8.02  |"
    "  37.50  |   18.25  |    22    |  902  |   8   | \033[1;33m 25\033[0m |  2  |  H265 (I)  |";
const std::string ROW3 =
    "|       3 |    8.8    |    10.9    |    50.000   | 50.000  | 19.000    |  1.200  |   8.04  |"
    "  38.50  |   17.25  |    23    |  903  |   9   | \033[1;33m -3\033[0m |  3  |H265 (?) 7  |";
const std::string ROW4 =
    "|       4 |    9.0    |    11.2    |     2.000   |  3.000  | 20.000    |  1.200  |   8.05  |"
    "  39.50  |   16.25  |    24    |  904  |  10   |  50\033[0m |  4  |  H265 (I)  |";
const std::string ROW5 =
    "|       5 |    9.2    |    11.6    |    10.000   | 10.000  | 21.000    |  1.200  |   8.06  |"
    "  40.50  |   15.25  |    25    |  905  |  11   | 100\033[0m |  5  |  H265 (P)  |";
const std::string ROW99999 =
    "|   99999 |    9.5    |    11.9    |    15.000   | 20.000  | 22.000    |  1.200  |   8.07  |"
    "  41.50  |   14.25  |    26    |  906  |  12   | \033[1;33m 25\033[0m |  6  |  H265 (P)  |";

// The rows scenario: a first id 0, a repeated id in its own delivery, a
// batch of two, a frame type outside both windows and a predicted frame.
std::vector<vtx_data_t> row_records() {
    return {record(0, 19, 7.0f, 25, 0),  record(1, 19, 1.0f, 0, 1),   record(1, 19, 99.0f, 0, 9),
            record(2, 19, 2.0f, 25, 2),  record(3, 7, 50.0f, -3, 3),  record(4, 19, 3.0f, 50, 4),
            record(5, 1, 10.0f, 100, 5), record(99999, 1, 20.0f, 25, 6)};
}
const char* const ROW_BATCHES = "1,1,1,2,2,1";

class Board : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(file_exists(program_command("vtxview/orvi-vtxview").back()));
        ASSERT_TRUE(file_exists(binary_path("sim/vtx-telemetry-publisher")))
            << "the simulated board's telemetry publisher is not built";
    }

    void write_records(const std::string& name, const std::vector<vtx_data_t>& records) {
        std::ofstream f(dir_ / name, std::ios::binary);
        for (const vtx_data_t& r : records)
            f.write(reinterpret_cast<const char*>(&r), sizeof r);
    }
    std::string file(const std::string& name) const { return read_file(dir_ / name); }
    int rc(const std::string& tag) const {
        const std::string text = file(tag + ".rc");
        return text.empty() ? -1000 : std::atoi(text.c_str());
    }

    // Runs body in a fresh namespace. Helpers: start_view TAG ARGS (in the
    // background), stop_view TAG (SIGTERM, then its status in TAG.rc),
    // run_view TAG ARGS (foreground), publish ARGS (waits for one client,
    // returns when the publisher is done), publish_bg ARGS and stop_publisher,
    // wait_for FILE TEXT [LINES], vtx_config JSON, pipe_info NAME JSON.
    // With virtual_time the board's clock runs on the programs' sleeps, so
    // a 5 s limit passes at once (the shell's own sleeps return at once too).
    ProcessResult board(const std::string& body, bool virtual_time = false) {
        // EMU: the emulator's words (split by the shell) when the program is
        // another architecture's.
        std::vector<std::string> view = program_command("vtxview/orvi-vtxview");
        std::string emulator;
        for (size_t i = 0; i + 1 < view.size(); ++i) emulator += (i ? " " : "") + view[i];
        std::string script =
            "set -u\n"
            "T=" + shell_quote(dir_.path()) + "\n"
            "EMU=" + shell_quote(emulator) + "\n"
            "VIEW=" + shell_quote(view.back()) + "\n"
            "PUB=" + shell_quote(binary_path("sim/vtx-telemetry-publisher")) + "\n"
            "wait_for() {\n"
            "  i=0\n"
            "  while [ $i -lt 600 ]; do\n"
            "    [ \"$(grep -cF -- \"$2\" \"$1\" 2>/dev/null)\" -ge \"${3:-1}\" ] 2>/dev/null && return 0\n"
            "    sleep 0.05; i=$((i+1))\n"
            "  done\n"
            "  echo \"gave up waiting for $2 in $1\" >&2; return 1\n"
            "}\n"
            "start_view() { tag=$1; shift; $EMU \"$VIEW\" \"$@\" >\"$T/$tag.out\" 2>\"$T/$tag.err\" &\n"
            "  echo $! >\"$T/$tag.pid\"; }\n"
            "stop_view() { p=$(cat \"$T/$1.pid\"); kill -TERM $p; wait $p; echo $? >\"$T/$1.rc\"; }\n"
            "run_view() { tag=$1; shift; $EMU \"$VIEW\" \"$@\" >\"$T/$tag.out\" 2>\"$T/$tag.err\";\n"
            "  echo $? >\"$T/$tag.rc\"; }\n"
            "publish() { \"$PUB\" --wait-clients 1 \"$@\" >>\"$T/publisher.log\" 2>&1; }\n"
            "publish_bg() { \"$PUB\" --wait-clients 1 --hold \"$@\" >>\"$T/publisher.log\" 2>&1 &\n"
            "  echo $! >\"$T/publisher.pid\"; }\n"
            "stop_publisher() { p=$(cat \"$T/publisher.pid\"); kill -TERM $p; wait $p; }\n"
            "vtx_config() { printf '%s' \"$1\" >/etc/quillon/orvi-vtx.conf; }\n"
            "pipe_info() { mkdir -p /run/zpx/$1; printf '%s' \"$2\" >/run/zpx/$1/info; }\n"
            "h265_board() { vtx_config '{\"profiles\":[{\"source\":\"cam\"}]}';\n"
            "  pipe_info cam '{\"string_format\":\"H265\"}'; }\n" +
            body + "\n";
        write_file(dir_ / "script.sh", script);
        RunOptions options;
        options.timeout_ms = 90000;
        if (virtual_time)
            return run_on_board({"--no-tables", "--virtual-time"}, {"sh", dir_ / "script.sh"}, options);
        return run_in_runner({"sh", dir_ / "script.sh"}, options);
    }

    const ScratchDir dir_{"inspector-e2e"};
};

TEST_F(Board, RowsByteForByte) {
    write_records("rows.rec", row_records());
    auto r = board(std::string("h265_board\n"
                               "start_view v\n"
                               "publish --records $T/rows.rec --batches ") +
                   ROW_BATCHES +
                   "\n"
                   "wait_for $T/v.out '|   99999 |'\n"
                   "wait_for $T/v.err 'server disconnected'\n"
                   "stop_view v\n");
    ASSERT_EQ(r.exit_code, 0) << r.err << file("publisher.log");
    EXPECT_EQ(file("v.out"), WRAP_OFF + HEADER + ROW + ROW1 + ROW + ROW2 + ROW + ROW3 + ROW + ROW4 +
                                 ROW + ROW5 + ROW + ROW99999 + CLOSING + WRAP_ON);
    EXPECT_EQ(file("v.err"), "\nserver disconnected\n");
    EXPECT_EQ(rc("v"), 0);
}

TEST_F(Board, NewlineModeStartsEveryRowOnItsOwnLine) {
    write_records("rows.rec", row_records());
    auto r = board(std::string("h265_board\n"
                               "start_view v --newline\n"
                               "publish --records $T/rows.rec --batches ") +
                   ROW_BATCHES +
                   "\n"
                   "wait_for $T/v.out '|   99999 |'\n"
                   "stop_view v\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(file("v.out"), WRAP_OFF + HEADER + "\n" + ROW1 + "\n" + ROW2 + "\n" + ROW3 + "\n" +
                                 ROW4 + "\n" + ROW5 + "\n" + ROW99999 + CLOSING + WRAP_ON);
    EXPECT_EQ(rc("v"), 0);
}

TEST_F(Board, BadBatchIsDroppedWithTheValidatorsMessages) {
    vtx_data_t bad = record(8, 1, 4.0f, 25, 8);
    bad.magic_number = 0x12345678;
    write_records("bad.rec", {record(1, 19, 1.0f, 0, 1), record(6, 1, 9.0f, 25, 6), bad,
                              record(99999, 1, 20.0f, 25, 6)});
    auto r = board("h265_board\n"
                   "start_view v -n\n"
                   "publish --records $T/bad.rec --batches 1,2,1\n"
                   "wait_for $T/v.out '|   99999 |'\n"
                   "wait_for $T/v.err 'server disconnected'\n"
                   "stop_view v\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Neither record of the bad batch is shown, not even the good one; the
    // predicted window therefore holds only the last record.
    const std::string last =
        "|   99999 |    9.5    |    11.9    |    20.000   | 20.000  | 22.000    |  1.200  |   8.07  |"
        "  41.50  |   14.25  |    26    |  906  |  12   | \033[1;33m 25\033[0m |  6  |  H265 (P)  |";
    EXPECT_EQ(file("v.out"), WRAP_OFF + HEADER + "\n" + ROW1 + "\n" + last + CLOSING + WRAP_ON);
    EXPECT_EQ(file("v.err"),
              "ERROR got magic number 305419896, expected 1330796105\n"
              "ERROR validating VTX data received through pipe: 1 of 2 packets failed\n"
              "\nserver disconnected\n");
}

TEST_F(Board, PublisherRestartPrintsTheHeaderAgainAndRowsCarryOn) {
    write_records("first.rec", {record(1, 19, 1.0f, 0, 1), record(2, 19, 2.0f, 25, 2)});
    write_records("second.rec", {record(3, 7, 50.0f, -3, 3), record(4, 19, 3.0f, 50, 4),
                                 record(99999, 1, 20.0f, 25, 6)});
    auto r = board("h265_board\n"
                   "start_view v\n"
                   "publish --records $T/first.rec\n"
                   "wait_for $T/v.out '|       2 |'\n"
                   "wait_for $T/v.err 'server disconnected'\n"
                   "publish --records $T/second.rec\n"
                   "wait_for $T/v.out '|   99999 |'\n"
                   "wait_for $T/v.err 'server disconnected' 2\n"
                   "stop_view v\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string last =
        "|   99999 |    9.5    |    11.9    |    20.000   | 20.000  | 22.000    |  1.200  |   8.07  |"
        "  41.50  |   14.25  |    26    |  906  |  12   | \033[1;33m 25\033[0m |  6  |  H265 (P)  |";
    // The windows carry on across the reconnection: record 4 averages 1, 2 and 3.
    EXPECT_EQ(file("v.out"), WRAP_OFF + HEADER + ROW + ROW1 + ROW + ROW2 + HEADER + ROW + ROW3 +
                                 ROW + ROW4 + ROW + last + CLOSING + WRAP_ON);
    EXPECT_EQ(file("v.err"), "\nserver disconnected\n\nserver disconnected\n");
}

TEST_F(Board, SaveAppendsOneHeaderPerRun) {
    vtx_data_t negative = record(-1, 101, 4.5f, 25, 2);
    write_records("one.rec", {record(1, 19, 1.0f, 0, 1), record(1, 19, 1.0f, 0, 1), negative,
                              record(99999, 1, 20.0f, 25, 6)});
    auto r = board("h265_board\n"
                   "start_view a -s\n"
                   "publish --records $T/one.rec\n"
                   "wait_for $T/a.out '|   99999 |'\n"
                   "stop_view a\n"
                   "start_view b --save -n\n"
                   "publish --records $T/one.rec\n"
                   "wait_for $T/b.out '|   99999 |'\n"
                   "stop_view b\n"
                   "cp /data/orvi-vtxview.csv $T/log.csv\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(rc("a"), 0);
    EXPECT_EQ(rc("b"), 0);

    const std::string run_lines[] = {
        "1,8.2,10.3,1.000,1.000,17.000,1.200,8.01,36.50,19.25,901,7,0,1,H265 (I)",
        "4294967295,8.5,10.6,2.750,4.500,18.000,1.200,8.02,37.50,18.25,902,8,25,2,H265 (?) 101",
        "99999,9.5,11.9,20.000,20.000,22.000,1.200,8.07,41.50,14.25,906,12,25,6,H265 (P)",
    };
    std::istringstream log(file("log.csv"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 8u) << file("log.csv");
    ASSERT_EQ(file("log.csv").back(), '\n');
    long long last_time = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i % 4 == 0) {
            EXPECT_EQ(lines[i] + "\n", CSV_HEADER) << i;
            continue;
        }
        const size_t comma = lines[i].find(',');
        ASSERT_NE(comma, std::string::npos);
        const std::string time = lines[i].substr(0, comma);
        ASSERT_FALSE(time.empty());
        EXPECT_EQ(time.find_first_not_of("0123456789"), std::string::npos) << lines[i];
        const long long t = std::stoll(time);
        EXPECT_GE(t, last_time) << "log times run backwards at line " << i;
        last_time = t;
        EXPECT_EQ(lines[i].substr(comma + 1), run_lines[i % 4 - 1]) << i;
    }
}

// /data is a tiny tmpfs, half taken by a filler: the first run fills it, the
// filler goes, the second run fills it again. Every line of the log must be
// the header or one whole row, each run's rows numbered on from 1.
TEST_F(Board, FullDiskLeavesOnlyWholeLinesInTheLog) {
    std::vector<vtx_data_t> many;
    for (int id = 1; id <= 120; ++id) many.push_back(record(id, 1, 2.0f, 25, 0));
    write_records("many.rec", many);
    auto r = board("mount -t tmpfs -o size=8k orvi-full-data /data || exit 3\n"
                   "head -c 4096 /dev/zero >/data/filler\n"
                   "h265_board\n"
                   "start_view a -s\n"
                   "publish --rate 1000 --records $T/many.rec --batches 1,3,2\n"
                   "wait_for $T/a.out '|     120 |'\n"
                   "stop_view a\n"
                   "rm /data/filler\n"
                   "start_view b -s\n"
                   "publish --rate 1000 --records $T/many.rec --batches 2,1,3\n"
                   "wait_for $T/b.out '|     120 |'\n"
                   "stop_view b\n"
                   "cp /data/orvi-vtxview.csv $T/log.csv\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(rc("a"), 0);
    EXPECT_EQ(rc("b"), 0);

    const std::string log_text = file("log.csv");
    ASSERT_FALSE(log_text.empty());
    EXPECT_EQ(log_text.back(), '\n');
    std::istringstream log(log_text);
    std::vector<int> rows_per_run;
    for (std::string line; std::getline(log, line);) {
        if (line + "\n" == CSV_HEADER) {
            rows_per_run.push_back(0);
            continue;
        }
        ASSERT_FALSE(rows_per_run.empty()) << "a row before the first header: " << line;
        const size_t comma = line.find(',');
        ASSERT_NE(comma, std::string::npos) << line;
        const std::string time = line.substr(0, comma);
        EXPECT_TRUE(!time.empty() && time.size() <= 19 &&
                    time.find_first_not_of("0123456789") == std::string::npos)
            << line;
        const int id = ++rows_per_run.back();
        EXPECT_EQ(line.substr(comma + 1),
                  std::to_string(id) +
                      ",8.0,10.0,2.000,2.000,16.000,1.200,8.00,35.50,20.25,900,6,25,0,H265 (P)");
    }
    ASSERT_EQ(rows_per_run.size(), 2u) << log_text;
    // Both runs met the full disk, and both logged rows before it.
    for (int rows : rows_per_run) {
        EXPECT_GT(rows, 0);
        EXPECT_LT(rows, 120);
    }
}

TEST_F(Board, JsonLinesAndIndentedJsonParseBack) {
    write_records("json.rec", {record(1, 19, 1.0f, 0, 1), record(2, 1, 2.5f, 25, 2),
                               record(99999, 1, 20.0f, 25, 6)});
    auto r = board("h265_board\n"
                   "start_view j -j\n"
                   "publish --records $T/json.rec\n"
                   "wait_for $T/j.out '99999'\n"
                   "stop_view j\n"
                   "start_view k -k\n"
                   "publish --records $T/json.rec\n"
                   "wait_for $T/k.out '99999'\n"
                   "stop_view k\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(rc("j"), 0);
    EXPECT_EQ(rc("k"), 0);
    EXPECT_EQ(file("j.err"), "");

    const std::string names[] = {"id", "input_mbps", "output_mbps", "vtx_latency_ms",
                                 "frame_latency_ms", "fec_latency_ms", "exposure_ms",
                                 "temperature_c", "power_dbm", "power_idx", "packets_per_second",
                                 "fragments", "fec", "mcs", "frame_type"};
    for (const char* tag : {"j", "k"}) {
        const std::string text = file(std::string(tag) + ".out");
        std::vector<cJSON*> objects;
        const char* p = text.c_str();
        const char* end = p + text.size();
        while (p < end) {
            const char* parse_end = nullptr;
            cJSON* obj = cJSON_ParseWithOpts(p, &parse_end, false);
            ASSERT_NE(obj, nullptr) << tag << " at " << (p - text.c_str()) << ":\n" << text;
            objects.push_back(obj);
            ASSERT_EQ(*parse_end, '\n') << tag;
            p = parse_end + 1;
        }
        ASSERT_EQ(objects.size(), 3u) << tag;
        const int ids[] = {1, 2, 99999};
        for (size_t i = 0; i < objects.size(); ++i) {
            cJSON* member = objects[i]->child;
            for (const std::string& name : names) {
                ASSERT_NE(member, nullptr) << tag;
                EXPECT_EQ(member->string, name) << tag;
                member = member->next;
            }
            EXPECT_EQ(member, nullptr) << tag << ": no result outside test mode";
            EXPECT_EQ(cJSON_GetObjectItem(objects[i], "id")->valuedouble, ids[i]);
        }
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "input_mbps")->valuedouble, 8.5);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "output_mbps")->valuedouble, 10.625);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "vtx_latency_ms")->valuedouble, 2.5);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "fec_latency_ms")->valuedouble, 1.2);
        EXPECT_DOUBLE_EQ(cJSON_GetObjectItem(objects[1], "exposure_ms")->valuedouble, 8.02469);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "temperature_c")->valuedouble, 37.5);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "power_dbm")->valuedouble, 18.25);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "power_idx")->valuedouble, 22);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "packets_per_second")->valuedouble, 902);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "fragments")->valuedouble, 8);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "fec")->valuedouble, 25);
        EXPECT_EQ(cJSON_GetObjectItem(objects[1], "mcs")->valuedouble, 2);
        EXPECT_STREQ(cJSON_GetObjectItem(objects[0], "frame_type")->valuestring, "H265 (I)");
        EXPECT_STREQ(cJSON_GetObjectItem(objects[1], "frame_type")->valuestring, "H265 (P)");
        for (cJSON* obj : objects) cJSON_Delete(obj);
    }
    EXPECT_EQ(file("j.out").find("\n  "), std::string::npos) << "-j prints one line per record";
    EXPECT_NE(file("k.out").find("\n\t\"input_mbps\""), std::string::npos) << "-k indents";
}

TEST_F(Board, TestModeVerdicts) {
    write_records("good.rec", {record(0, 19, 1.0f, 25, 0), record(5, 19, 1.0f, 25, 1)});
    vtx_data_t silent = record(6, 19, 1.0f, 25, 1);
    silent.output_mbps = 0.0f;
    write_records("silent.rec", {silent});
    auto r = board("h265_board\n"
                   "publish_bg --records $T/good.rec\n"
                   "run_view good -t\n"
                   "stop_publisher\n"
                   "publish_bg --records $T/silent.rec\n"
                   "run_view silent -t\n"
                   "stop_publisher\n"
                   "publish_bg --records $T/silent.rec\n"
                   "run_view silent_json -t -j\n"
                   "stop_publisher\n"
                   "publish_bg --records $T/good.rec\n"
                   "run_view good_json -t -k\n"
                   "stop_publisher\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(file("good.out"), WRAP_OFF + ROW + "PASSED" + WRAP_ON);
    EXPECT_EQ(rc("good"), 0);
    EXPECT_EQ(file("good.err"), "");
    // The zero-output record fails the test at once: its row start shows it
    // was the record, not the 5 s limit, that ended the run.
    EXPECT_EQ(file("silent.out"), WRAP_OFF + ROW + "FAILED" + WRAP_ON);
    EXPECT_EQ(rc("silent"), 1);
    // The failing record, then the closing FAILED object with id -1.
    EXPECT_EQ(file("silent_json.out"),
              "{\"result\":\"FAILED\",\"id\":6,\"input_mbps\":8.25,\"output_mbps\":0,"
              "\"vtx_latency_ms\":1,\"frame_latency_ms\":17,\"fec_latency_ms\":1.2,"
              "\"exposure_ms\":8.012345,\"temperature_c\":36.5,\"power_dbm\":19.25,"
              "\"power_idx\":21,\"packets_per_second\":901,\"fragments\":7,\"fec\":25,\"mcs\":1,"
              "\"frame_type\":\"H265 (I)\"}\n" + NO_RECORD_JSON);
    EXPECT_EQ(rc("silent_json"), 0);
    std::istringstream lines(file("silent_json.out"));
    const int ids[] = {6, -1};
    size_t n = 0;
    for (std::string line; std::getline(lines, line); ++n) {
        cJSON* obj = cJSON_Parse(line.c_str());
        ASSERT_NE(obj, nullptr) << line;
        ASSERT_LT(n, 2u);
        EXPECT_STREQ(cJSON_GetObjectItem(obj, "result")->valuestring, "FAILED");
        EXPECT_EQ(cJSON_GetObjectItem(obj, "id")->valueint, ids[n]);
        cJSON_Delete(obj);
    }
    EXPECT_EQ(n, 2u);
    cJSON* good = cJSON_Parse(file("good_json.out").c_str());
    ASSERT_NE(good, nullptr) << file("good_json.out");
    EXPECT_STREQ(good->child->string, "result");
    EXPECT_STREQ(cJSON_GetObjectItem(good, "result")->valuestring, "PASSED");
    EXPECT_EQ(cJSON_GetObjectItem(good, "id")->valueint, 5);
    cJSON_Delete(good);
    EXPECT_EQ(rc("good_json"), 0);
}

TEST_F(Board, TestModeWithoutPublisherFailsAfterItsLimit) {
    auto r = board("h265_board\n"
                   "run_view plain -t\n"
                   "run_view json --test --json\n",
                   true);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(file("plain.out"), WRAP_OFF + "FAILED" + WRAP_ON);
    EXPECT_EQ(rc("plain"), 1);
    EXPECT_EQ(file("json.out"), NO_RECORD_JSON);
    EXPECT_EQ(rc("json"), 0);
}

TEST_F(Board, UsageAndBadOptions) {
    const std::string long_name(80, 'x');
    auto r = board("run_view help -h\n"
                   "run_view long_help --help\n"
                   "run_view unknown -x\n"
                   "run_view missing -p\n"
                   "run_view bad_pipe -p " + long_name + "\n"
                   "ls /etc/quillon >$T/etc.txt\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char* tag : {"help", "long_help", "unknown", "missing"}) {
        EXPECT_EQ(file(std::string(tag) + ".out"), USAGE) << tag;
        EXPECT_EQ(rc(tag), 255) << tag;
    }
    EXPECT_EQ(file("help.err"), "");
    EXPECT_NE(file("unknown.err").find("'x'"), std::string::npos) << file("unknown.err");
    EXPECT_EQ(file("bad_pipe.out"), "");
    EXPECT_EQ(file("bad_pipe.err"), "Invalid pipe name: " + long_name + "\n");
    EXPECT_EQ(rc("bad_pipe"), 255);
    // Option errors end the run before anything is read or created.
    EXPECT_EQ(file("etc.txt"), "");
}

TEST_F(Board, OtherPipeByName) {
    write_records("one.rec", {record(99999, 1, 20.0f, 25, 6)});
    auto r = board("h265_board\n"
                   "start_view v -n -p side_latency\n"
                   "publish --pipe side_latency --records $T/one.rec\n"
                   "wait_for $T/v.out '|   99999 |'\n"
                   "stop_view v\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string only =
        "|   99999 |    9.5    |    11.9    |    20.000   | 20.000  | 22.000    |  1.200  |   8.07  |"
        "  41.50  |   14.25  |    26    |  906  |  12   | \033[1;33m 25\033[0m |  6  |  H265 (P)  |";
    EXPECT_EQ(file("v.out"), WRAP_OFF + HEADER + "\n" + only + CLOSING + WRAP_ON);
}

// The codec comes from the active profile's source pipe info; every way of
// not learning it keeps (or sets) H.265, with its message.
TEST_F(Board, CodecFromConfigurationAndPipeInfo) {
    // Eleven intra frames with latencies 1 to 11, then a frame type outside both windows.
    std::vector<vtx_data_t> intra;
    for (int i = 1; i <= 11; ++i) intra.push_back(record(i, 101, static_cast<float>(i), 25, 0));
    intra.push_back(record(12, 7, 40.0f, 25, 0));
    intra.push_back(record(13, 101, 12.0f, 25, 0));
    write_records("intra.rec", intra);

    struct Case {
        std::string tag;
        std::string setup;
        std::string message;
        bool h264;
    };
    const Case cases[] = {
        {"h264", "vtx_config '{\"active_profile_idx\":1,\"profiles\":[{\"source\":\"a\"},"
                 "{\"source\":\"cam264\"}]}'; pipe_info cam264 '{\"string_format\":\"H264\"}'",
         "", true},
        {"default_source", "vtx_config '{\"profiles\":[{}]}';"
                           " pipe_info hires_small_encoded '{\"string_format\":\"H264\"}'",
         "", true},
        {"h265_text", "vtx_config '{\"profiles\":[{\"source\":\"c\"}]}';"
                      " pipe_info c '{\"string_format\":\"h264\"}'",
         "", false},
        {"no_format", "vtx_config '{\"profiles\":[{\"source\":\"c\"}]}'; pipe_info c '{}'", "",
         false},
        {"no_info", "vtx_config '{\"profiles\":[{\"source\":\"gone\"}]}'",
         "Failed to read pipe info for gone. Defaulting to H265.\n", false},
        {"no_profiles", "vtx_config '{\"profiles\":[]}'",
         "No profiles found in VTX config. Defaulting to H265.\n", false},
        {"bad_index", "vtx_config '{\"active_profile_idx\":2,\"profiles\":[{\"source\":\"c\"},"
                      "{\"source\":\"c\"}]}'; pipe_info c '{\"string_format\":\"H264\"}'",
         "Invalid active_profile_idx 2 (have 2 profiles). Defaulting to H264.\n", false},
        {"negative_index", "vtx_config '{\"active_profile_idx\":-1,\"profiles\":[{\"source\":"
                           "\"c\"}]}'; pipe_info c '{\"string_format\":\"H264\"}'",
         "Invalid active_profile_idx -1 (have 1 profiles). Defaulting to H264.\n", false},
        {"bad_config", "vtx_config '{not json'",
         "Failed to open VTX config. Defaulting to H265.\n", false},
        {"no_config", "",
         "No configuration file found, created a new empty configuration file using defaults: "
         "/etc/quillon/orvi-vtx.conf\nNo profiles found in VTX config. Defaulting to H265.\n",
         false},
    };
    for (const Case& c : cases) {
        write_records("intra.rec", intra);
        auto r = board(c.setup + "\n"
                       "start_view v -n\n"
                       "publish --records $T/intra.rec\n"
                       "wait_for $T/v.out '|      13 |'\n"
                       "stop_view v\n");
        ASSERT_EQ(r.exit_code, 0) << c.tag << ": " << r.err;
        const std::string out = file("v.out");
        const std::string expected_start = WRAP_OFF + c.message + HEADER + "\n|       1 |";
        EXPECT_EQ(out.substr(0, expected_start.size()), expected_start) << c.tag;
        const std::string intra_name = c.h264 ? "  H264 (I)  |" : "H265 (?) 101  |";
        const std::string other_name = c.h264 ? "H264 (SPS)  |" : "H265 (?) 7  |";
        // Row 11 averages 2..11; row 12 shows its own latency; row 13 carries on from row 11.
        EXPECT_NE(out.find("|      11 |    8.0    |    10.0    |     6.500   | 11.000  |"),
                  std::string::npos) << c.tag << out;
        EXPECT_NE(out.find("|      12 |    8.0    |    10.0    |    40.000   | 40.000  |"),
                  std::string::npos) << c.tag;
        EXPECT_NE(out.find("|      13 |    8.0    |    10.0    |     7.500   | 12.000  |"),
                  std::string::npos) << c.tag;
        size_t names = 0;
        for (size_t at = out.find(intra_name); at != std::string::npos;
             at = out.find(intra_name, at + 1))
            ++names;
        EXPECT_EQ(names, 12u) << c.tag;
        EXPECT_NE(out.find(other_name), std::string::npos) << c.tag;
        EXPECT_EQ(out.substr(out.size() - CLOSING.size() - WRAP_ON.size()), CLOSING + WRAP_ON)
            << c.tag;
    }
}

}  // namespace
