// The publisher's options (telemetry_stream): bad ones are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_runs.h"

namespace {

TEST(SimBoard, PublisherRefusesBadOptions) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--rate", "0"}, "bad value for --rate (0 < HZ <= 10000)"},
        {{"--bad-every", "2:garbled"}, "bad value for --bad-every (N:partial or N:magic)"},
        {{"--batches", "1,,2"}, "bad value for --batches (a list of 1..400)"},
        {{"--count"}, "option --count needs a value"},
        {{"--louder", "1"}, "unknown option --louder"},
    };
    for (const auto& [args, message] : cases) {
        std::vector<std::string> argv{binary_path("sim/vtx-telemetry-publisher")};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessResult r = run_process(argv);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "vtx-telemetry-publisher: " + message);
    }
}

}  // namespace
