// Faults as the board injects them (fault_vocabulary, i2c_bus_model): kinds,
// addresses, actions and when they strike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_runs.h"

namespace {

TEST(SimBoard, FaultsStrikeWhereAsked) {
    const std::vector<FaultCase> cases = {
        {"short buffer read at 2", {"--fault", "buffer-read:short:at=2"},
         "select 0x1d w 3b ; r 32 w 3b ; r 32 w 3b ; r 32",
         "select 0x1d ok\nwrite 1\n" + zeros(32) + "write 1\n" + zeros(31) + "write 1\n" + zeros(32)},
        {"nak on first sequence start", {"--fault", "seq-start:nak:at=1"},
         "select 0x1d w 08 1e 01 ; w 08 1e 01 ; w 08 24 00 ;",
         "select 0x1d ok\nwrite error EREMOTEIO\nwrite 3\nwrite 3\n"},
        {"every second register write", {"--fault", "reg-write:nak:every=2"},
         "select 0x1d w 08 24 00 ; w 08 24 00 ; w 3b ; w 08 24 00 ; w 08 24 00 ;",
         "select 0x1d ok\nwrite 3\nwrite error EREMOTEIO\nwrite 1\nwrite 3\nwrite error EREMOTEIO\n"},
        {"short write", {"--fault", "write@0x1d:short:at=1"},
         "select 0x1d w 08 24 33 ; w 10 24 ; r 1",
         "select 0x1d ok\nwrite 2\nwrite 2\nread 1 00\n"},
        {"temperature reads short from 2", {"--fault", "temp-read:short:from=2", "--temp-rise", "0"},
         "select 0x48 w 00 ; r 2 r 2 r 2",
         "select 0x48 ok\nwrite 1\nread 2 23 00\nread 1 23\nread 1 23\n"},
        {"sensor vanishes", {"--fault", "any@0x48:enxio"}, "select 0x48 select 0x1d w 3b ;",
         "select error ENXIO\nselect 0x1d ok\nwrite 1\n"},
        {"transfer counts plain reads and writes, not selects",
         {"--fault", "transfer:nak:at=2", "--temp-start", "25", "--temp-rise", "0"},
         "select 0x1d w 3b ; select 0x48 w 00 ; r 2",
         "select 0x1d ok\nwrite 1\nselect 0x48 ok\nwrite error EREMOTEIO\nread 2 19 00\n"},
        {"count limits a certain fault", {"--fault", "write:nak:rate=1,count=2"},
         "select 0x1d w 3b ; w 3b ; w 3b ; w 3b ;",
         "select 0x1d ok\nwrite error EREMOTEIO\nwrite error EREMOTEIO\nwrite 1\nwrite 1\n"},
        {"absent sensor: select succeeds, transfers fail", {"--no-temp-sensor"},
         "select 0x48 w 00 ; r 2", "select 0x48 ok\nwrite error ENXIO\nread error ENXIO\n"},
        {"absent sensor with failing select", {"--no-temp-sensor", "--select-absent-fails"},
         "select 0x48 select 0x1d select 0x50", "select error ENXIO\nselect 0x1d ok\nselect 0x50 ok\n"},
        {"temperature spike on reads 2 and 3",
         {"--temp-spike", "80@2x2", "--temp-start", "25", "--temp-rise", "0"},
         "select 0x48 w 00 ; r 2 r 2 r 2 r 2",
         "select 0x48 ok\nwrite 1\nread 2 19 00\nread 2 50 00\nread 2 50 00\nread 2 19 00\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult r = on_board(c.options, client_steps("/dev/i2c-1", c.steps));
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, c.expected);
    }
}

// Only reads and writes can be short: a short fault of kind any leaves the
// selects and the SMBus probes of i2cdetect alone, and does not count them.
TEST(SimBoard, ShortFaultsStrikeOnlyReadsAndWrites) {
    const std::string script = "'" + client() + "' /dev/i2c-1 select 0x48 w 00 ';' r 2 r 2;"
                               " i2cdetect -r -y 1 2>&1; echo status $?";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"any:short", "select 0x48 ok\nwrite 0\nread 1 23\nread 1 23\n"},
        {"any:short:at=2", "select 0x48 ok\nwrite 1\nread 1 23\nread 2 23 00\n"},
    };
    for (const auto& [fault, transfers] : cases) {
        SCOPED_TRACE(fault);
        ProcessResult r = shell_on_board({"--fault", fault, "--temp-rise", "0"}, script);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, transfers + i2cdetect_table({0x1d, 0x48}) + "status 0\n");
    }
}

TEST(SimBoard, RateFaultsAreReproducibleFromTheSeed) {
    std::string steps = "select 0x1d";
    for (int i = 0; i < 40; ++i) steps += " w 3b ;";
    auto run = [&](const char* seed) {
        return on_board({"--fault", "buffer-cmd:nak:rate=0.3", "--seed", seed},
                        client_steps("/dev/i2c-1", steps));
    };
    ProcessResult a = run("3"), b = run("3"), c = run("4");
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, c.out);
    size_t failures = 0;
    for (size_t pos = 0; (pos = a.out.find("error EREMOTEIO", pos)) != std::string::npos; ++pos)
        ++failures;
    EXPECT_GT(failures, 2u);
    EXPECT_LT(failures, 25u);
}

TEST(SimBoard, AHangingBusIsCutOffByTheScansTimeLimit) {
    // The scan's time limit is the only way out of a stuck bus.
    ProcessResult r = shell_on_board({"--fault", "smbus@0x30:hang"},
                                     "timeout 1.5 i2cdetect -r -y 1 >/dev/null; echo status $?;"
                                     " timeout 1.5 i2cdetect -r -y 0 >/dev/null; echo status $?",
                                     20000);
    EXPECT_EQ(r.out, "status 124\nstatus 124\n") << r.err;
}

}  // namespace
