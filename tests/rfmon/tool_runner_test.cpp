// The transmitter's tools through the shell (tool_runner.*), with a
// stand-in orvi-configure-vtx: what a refusing tool makes of each step, and
// what was printed before a tool comes out before the tool's own output.
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct Case {
    const char* name;
    int status;  // the tool's exit status
    bool (*step)();
    bool result;
    std::string out;
    std::string err;
};

TEST(ToolRunner, EachStepSaysWhyTheToolFailed) {
    const Case cases[] = {
        {"a level set", 0,
         [] {
             tool_failure_t failure{};
             return configure_vtx("-p", 5, &failure);
         },
         true, "", ""},
        {"a refused level, reported", 3,
         [] {
             tool_failure_t failure{};
             const bool set = configure_vtx("-p", 5, &failure);
             if (!set) report_configure_failure("Failed to set power level", failure);
             return set;
         },
         false, "", "Failed to set power level: orvi-configure-vtx exited with status 3\n"},
        {"power 1", 0, [] { return set_minimum_power("calibration"); }, true,
         "Safety measure: Power level set to 1 (minimum) after calibration\n", ""},
        {"power 1 refused", 1, [] { return set_minimum_power("calibration"); }, false, "",
         "Failed to set power level to 1 after calibration: orvi-configure-vtx exited with status "
         "1; the power may still be high\n"},
        {"power 1 told on standard error", 0,
         [] { return set_minimum_power_reporting(stderr, "a failed write"); }, true, "",
         "Safety measure: Power level set to 1 (minimum) after a failed write\n"},
    };
    FakeTools tools({"orvi-configure-vtx"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tools.set_status("orvi-configure-vtx", c.status);
        tools.clear_calls();
        bool result = !c.result;
        const Captured said = capture_output([&] { result = c.step(); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(said.out, c.out);
        EXPECT_EQ(said.err, c.err);
        EXPECT_EQ(tools.calls().size(), 1u);
    }
    EXPECT_EQ(tools.calls(), std::vector<std::string>{"orvi-configure-vtx [-p] [1]"});
}

TEST(ToolRunner, WhatWasPrintedComesBeforeTheToolsOutput) {
    int status = -1;
    const Captured said = capture_output([&] {
        std::printf("before the tool, ");
        std::fprintf(stderr, "unbuffered, ");
        status = run_tool("echo the tool; echo its error >&2; exit 4");
        std::printf("after\n");
    });
    EXPECT_EQ(said.out, "before the tool, the tool\nafter\n");
    EXPECT_EQ(said.err, "unbuffered, its error\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << status;
}

}  // namespace
