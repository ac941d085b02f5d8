#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <orvi/brannic_pipe.h>
#include "test_support.h"
#include <orvi/radio_control.h>

namespace {

using Calls = std::vector<std::string>;

class RadioControl : public ::testing::Test {
protected:
    FakeTools tools{{"iw", "ifconfig", "systemctl", "ls", "bash"}};

    // Teaches get_chip what driver `card` has; the chip cache keeps it for
    // the rest of the process, so every test uses its own interface names.
    void prime_chip(const std::string& card, const std::string& listing) {
        tools.set_output("ls", listing);
        capture_output([&] { get_chip(card); });
        tools.reset("ls");
        tools.clear_calls();
    }
};

TEST_F(RadioControl, SetPowerChoosesTheIndexAndReturnsTheStatus) {
    struct Row {
        bool flag;
        bool pit_mode;
        std::string call;
    };
    const std::vector<Row> rows = {
        {false, true, "iw [dev] [wlan0] [set] [txpower] [fixed] [5]"},
        {true, true, "iw [dev] [wlan0] [set] [txpower] [fixed] [40]"},
        {false, false, "iw [dev] [wlan0] [set] [txpower] [fixed] [40]"},
        {true, false, "iw [dev] [wlan0] [set] [txpower] [fixed] [40]"},
    };
    for (const auto& row : rows) {
        tools.clear_calls();
        EXPECT_EQ(set_power("wlan0", 40, 5, row.flag, row.pit_mode), 0);
        EXPECT_EQ(tools.calls(), Calls{row.call}) << row.flag << row.pit_mode;
    }

    tools.clear_calls();
    tools.set_status("iw", 3);
    int status = set_power("wlan1", 12, 5, false, false);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(tools.calls(), Calls{"iw [dev] [wlan1] [set] [txpower] [fixed] [12]"});
}

TEST_F(RadioControl, MonitorModeRunsTheSevenCommandsInOrder) {
    const Calls expected = {
        "systemctl [stop] [wpa_supplicant]", "systemctl [disable] [wpa_supplicant]",
        "systemctl [stop] [orvi-softap]",    "systemctl [disable] [orvi-softap]",
        "ifconfig [wlan0] [down]",           "iw [dev] [wlan0] [set] [monitor] [otherbss]",
        "ifconfig [wlan0] [up]",
    };
    EXPECT_EQ(set_monitor_mode("wlan0"), 0);
    EXPECT_EQ(tools.calls(), expected);

    // Commands that run and fail do not stop the sequence.
    tools.clear_calls();
    tools.set_status("systemctl", 5);
    tools.set_status("ifconfig", 1);
    EXPECT_EQ(set_monitor_mode("wlan0"), 0);
    EXPECT_EQ(tools.calls(), expected);
}

TEST_F(RadioControl, Ath0MonitorModeRunsThePlatformScript) {
    struct Row {
        int channel;
        std::string call;
    };
    const std::vector<Row> rows = {
        {14, "bash [/usr/bin/enable_vrx.sh] [-b] [2G] [-c] [14]"},
        {1, "bash [/usr/bin/enable_vrx.sh] [-b] [2G] [-c] [1]"},
        {15, "bash [/usr/bin/enable_vrx.sh] [-b] [5G] [-c] [15]"},
        {36, "bash [/usr/bin/enable_vrx.sh] [-b] [5G] [-c] [36]"},
    };
    // The script's output is swallowed and its exit status not looked at.
    tools.set_output("bash", std::string(5000, 'x') + "\n");
    tools.set_status("bash", 2);
    for (const auto& row : rows) {
        tools.clear_calls();
        int result = -2;
        Captured c = capture_output([&] { result = set_ath0_monitor_mode(row.channel); });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(c.out, "Setting monitor mode ath0\n");
        EXPECT_EQ(tools.calls(), Calls{row.call});
    }
}

TEST_F(RadioControl, ServiceQueriesReadSystemctlsAnswer) {
    struct Row {
        std::string out;
        std::string err;
        bool running;
    };
    const std::vector<Row> running_rows = {
        {"active\n", "", true},     {"active", "", true},   {"active \r\n\t", "", true}, {"activating\n", "", false},
        {"inactive\n", "", false},  {"", "", false},        {" active\n", "", false},    {"", "active\n", true},
        {"active\nx\n", "", false},
    };
    for (const auto& row : running_rows) {
        tools.clear_calls();
        tools.reset("systemctl");
        tools.set_output("systemctl", row.out);
        tools.set_error("systemctl", row.err);  // 2>&1: error output counts too
        EXPECT_EQ(is_service_running("orvi-vtx"), row.running) << "[" << row.out << "][" << row.err << "]";
        EXPECT_EQ(tools.calls(), Calls{"systemctl [is-active] [orvi-vtx]"});
    }

    const std::vector<Row> enabled_rows = {
        {"enabled\n", "", true}, {"disabled\n", "", false}, {"enabled-runtime\n", "", false}, {"", "enabled", true},
    };
    for (const auto& row : enabled_rows) {
        tools.clear_calls();
        tools.reset("systemctl");
        tools.set_output("systemctl", row.out);
        tools.set_error("systemctl", row.err);
        EXPECT_EQ(is_service_enabled("getty@tty1.service"), row.running) << row.out;
        EXPECT_EQ(tools.calls(), Calls{"systemctl [is-enabled] [getty@tty1.service]"});
    }
}

TEST_F(RadioControl, ChipIsIdentifiedOnceAndCached) {
    struct Row {
        std::string card;
        std::string listing;
        std::string chip;
    };
    const std::vector<Row> rows = {
        {"rtlA", "rtl88xxau_vtx\n", "rtl8812au"},
        {"rtlB", "rtl8812au\n", "rtl8812au"},
        {"rtlC", "usb:rtl88xxau_vtx\n", "rtl8812au"},
        {"athA", "ath10k_pci\n", "ath10k_pci"},
        {"athB", "pci:ath10k_pci\nsdio:ath10k_sdio\n", "pci:ath10k_pci\nsdio:ath10k_sdio"},
        {"oneC", "x", "x"},
        {"none", "", ""},
    };
    for (const auto& row : rows) {
        tools.clear_calls();
        tools.set_output("ls", row.listing);
        EXPECT_EQ(get_chip(row.card), row.chip) << row.card;
        EXPECT_EQ(tools.calls(), Calls{"ls [/sys/class/net/" + row.card + "/device/driver/module/drivers]"});

        // The second call answers from the cache and runs nothing.
        tools.clear_calls();
        tools.set_output("ls", "something_else\n");
        EXPECT_EQ(get_chip(row.card), row.chip) << row.card;
        EXPECT_EQ(tools.calls(), Calls{}) << row.card;
    }
}

TEST_F(RadioControl, TuningCommands) {
    prime_chip("rtlT", "rtl88xxau_vtx\n");
    prime_chip("athT", "ath10k_pci\n");
    struct Row {
        std::string card;
        int frequency;
        int bandwidth;
        RegulatoryDomain domain;
        int result;
        std::string call;  // empty: nothing run
    };
    const std::vector<Row> rows = {
        {"rtlT", 5745, 40, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [rtlT] [set] [freq] [5180] [HT40+]"},
        {"rtlT", 5745, 20, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [rtlT] [set] [freq] [5180] [HT20]"},
        {"rtlT", 5320, 40, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [rtlT] [set] [freq] [5200] [HT40-]"},
        {"rtlT", 2462, 40, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [rtlT] [set] [freq] [5200] [HT40-]"},
        {"rtlT", 2484, 40, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [rtlT] [set] [freq] [5200] [HT40-]"},
        {"athT", 2484, 40, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [athT] [set] [freq] [2484]"},
        {"athT", 2484, 20, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [athT] [set] [freq] [2484]"},
        {"athT", 2462, 40, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [athT] [set] [freq] [2462] [HT40-]"},
        {"athT", 2412, 40, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [athT] [set] [freq] [2412] [HT40+]"},
        {"athT", 5745, 20, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [athT] [set] [freq] [5745] [HT20]"},
        {"athT", 5260, 40, REGULATORY_DOMAIN_NONE, 0, "iw [dev] [athT] [set] [freq] [5260] [HT40+]"},
        {"athT", 5260, 40, REGULATORY_DOMAIN_FCC, -1, ""},
        {"athT", 5720, 20, REGULATORY_DOMAIN_FCC, -1, ""},
        {"rtlT", 5500, 20, REGULATORY_DOMAIN_FCC, -1, ""},
        {"athT", 5240, 40, REGULATORY_DOMAIN_FCC, 0, "iw [dev] [athT] [set] [freq] [5240] [HT40+]"},
        {"athT", 5745, 40, REGULATORY_DOMAIN_FCC, 0, "iw [dev] [athT] [set] [freq] [5745] [HT40+]"},
    };
    for (const auto& row : rows) {
        tools.clear_calls();
        int result = -2;
        Captured c = capture_output(
            [&] { result = set_frequency_and_bw(row.card, row.frequency, row.bandwidth, row.domain); });
        const std::string what = row.card + " " + std::to_string(row.frequency) + "/" + std::to_string(row.bandwidth);
        EXPECT_EQ(result, row.result) << what;
        EXPECT_EQ(tools.calls(), row.call.empty() ? Calls{} : Calls{row.call}) << what;
        if (row.result == -1) {
            // One notice line on stdout naming the refused frequency.
            EXPECT_NE(c.out.find(std::to_string(row.frequency)), std::string::npos) << c.out;
            EXPECT_EQ(c.out.find('\n'), c.out.size() - 1) << c.out;
        } else {
            EXPECT_EQ(c.out, "") << what;
        }
    }

    tools.clear_calls();
    tools.set_status("iw", 4);
    int status = set_frequency_and_bw("athT", 5180, 20, REGULATORY_DOMAIN_NONE);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4);
}

TEST_F(RadioControl, UnsafeInterfaceNamesRunNothing) {
    const std::vector<std::string> bad = {
        "wlan0; iw injected", "", "wlan0 ", " wlan0", "a/b", ".", "..", "-a", "abcdefghijklmnop", "w$(id)",
        "w`id`", "w|x", "w&", "w>/dev/null", "w</dev/null", "w\nx", "w\tx", "wlan0'", "w\"x", "w\\x", "w*", "w?", "w~", "w#x",
        "w(x)", "w{x}", "w!x", "w=x", std::string("w\0x", 3), "w\xc3\xa9",
    };
    for (const auto& card : bad) {
        tools.clear_calls();
        int power = 0, monitor = 0, tune = 0, noise = 1;
        std::string chip = "unset";
        Captured c = capture_output([&] {
            power = set_power(card, 10, 5, false, false);
            monitor = set_monitor_mode(card);
            chip = get_chip(card);
            tune = set_frequency_and_bw(card, 5745, 20, REGULATORY_DOMAIN_NONE);
            noise = get_ath10k_noise_floor(card);
        });
        EXPECT_FALSE(is_valid_interface_name(card)) << card;
        EXPECT_EQ(power, -1) << card;
        EXPECT_EQ(monitor, -1) << card;
        EXPECT_EQ(chip, "") << card;
        EXPECT_EQ(tune, -1) << card;
        EXPECT_EQ(noise, 0) << card;
        EXPECT_EQ(tools.calls(), Calls{}) << card;
        EXPECT_EQ(c.out, "");
        // One error line per refused operation, nothing else.
        const std::vector<std::string> operations = {"set_power", "set_monitor_mode", "get_chip",
                                                     "set_frequency_and_bw", "get_chip"};
        bool plain = true;
        for (unsigned char ch : card) plain = plain && ch >= 0x20 && ch < 0x7f;
        if (plain) {
            std::string expected;
            for (const auto& op : operations) {
                expected += op + ": refusing interface name \"" + card + "\" (not a valid network interface name)\n";
            }
            EXPECT_EQ(c.err, expected);
        } else {
            size_t lines = 0;
            for (char ch : c.err) lines += ch == '\n';
            EXPECT_EQ(lines, operations.size()) << c.err;
        }
    }

    // Control bytes in the name are shown escaped, keeping the message on one line.
    Captured c = capture_output([] { set_power("w\nx", 1, 1, false, false); });
    EXPECT_EQ(c.err, "set_power: refusing interface name \"w\\x0ax\" (not a valid network interface name)\n");

    for (const char* card : {"wlan0", "abcdefghijklmno", "wlan0.100", "eth0:1", "br-lan_1", "wlx00c0ca"}) {
        EXPECT_TRUE(is_valid_interface_name(card)) << card;
    }
}

TEST_F(RadioControl, UnsafeServiceNamesRunNothing) {
    const std::vector<std::string> bad = {
        "orvi-vtx; systemctl injected", "", "a b", "$(id)", "-h", "--all", "a\\x2db", "a/b", "a|b", "a'b", "a\nb",
        std::string(256, 'a'),
    };
    tools.set_output("systemctl", "active\n");
    for (const auto& service : bad) {
        tools.clear_calls();
        bool running = true, enabled = true;
        Captured c = capture_output([&] {
            running = is_service_running(service);
            enabled = is_service_enabled(service);
        });
        EXPECT_FALSE(running) << service;
        EXPECT_FALSE(enabled) << service;
        EXPECT_EQ(tools.calls(), Calls{}) << service;
        EXPECT_EQ(c.err.rfind("is_service_running: refusing service name \"", 0), 0u) << c.err;
        EXPECT_NE(c.err.find("\nis_service_enabled: refusing service name \""), std::string::npos) << c.err;
        size_t lines = 0;
        for (char ch : c.err) lines += ch == '\n';
        EXPECT_EQ(lines, 2u) << c.err;
    }
    for (const std::string& service :
         std::vector<std::string>{"orvi-vtx", "orvi-vtx.service", "getty@tty1.service", "a:b_c.d", std::string(255, 'a')}) {
        EXPECT_TRUE(is_valid_service_name(service)) << service;
    }
}

TEST(SystemHelpers, RunCommandReturnsAllOutput) {
    EXPECT_EQ(run_command("printf 'a\\nb\\n'"), "a\nb\n");
    EXPECT_EQ(run_command("true"), "");
    // Longer than one read piece, with a byte that is not text.
    EXPECT_EQ(run_command("head -c 1000 /dev/zero | tr '\\0' x; printf '\\001'"), std::string(1000, 'x') + "\x01");
}

TEST(SystemHelpers, SaltIsEightHexDigits) {
    std::set<std::string> seen;
    for (int i = 0; i < 64; ++i) {
        std::string salt = generate_salt();
        ASSERT_EQ(salt.size(), 8u);
        EXPECT_EQ(salt.find_first_not_of("0123456789abcdef"), std::string::npos) << salt;
        seen.insert(salt);
    }
    // 64 draws of 32 random bits: a repeat would mean the seed is not random.
    EXPECT_EQ(seen.size(), 64u);
}

struct ControlLog {
    std::mutex mutex;
    std::vector<std::string> commands;
};

void record_control(int, char* text, int bytes, void* context) {
    auto* log = static_cast<ControlLog*>(context);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->commands.emplace_back(text, static_cast<size_t>(bytes));
}

TEST(SystemHelpers, PerfModeAsksTheCpuMonitor) {
    // Pipes live under /run/zpx: only on the runner's private, fresh one.
    if (!inside_hermetic_runner()) GTEST_SKIP() << "needs sim/orvi-sim-run";

    int result = 0;
    capture_output([&] { result = set_perf_mode(); });
    EXPECT_LT(result, 0) << "no cpu_stats2 server runs yet";

    ControlLog log;
    const int ch = 3;
    ASSERT_EQ(pipe_server_set_control_cb(ch, record_control, &log), 0);
    ASSERT_EQ(pipe_server_create(ch, "cpu_stats2", "text", "test"), 0);
    result = set_perf_mode();
    pipe_server_close(ch);
    EXPECT_EQ(result, 0);
    std::lock_guard<std::mutex> lock(log.mutex);
    EXPECT_EQ(log.commands, std::vector<std::string>{"set_cpu_mode_perf_with_pitmode"});
}

}  // namespace
