// The sysfs and debugfs files of the Wi-Fi drivers, on a tmpfs laid over
// /sys in a mount namespace of this process alone.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include <orvi/radio_control.h>

namespace {

const std::string kParameters = "/sys/module/88XXau_vtx/parameters";
const std::string kOverride = kParameters + "/channel_override";

class DriverFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Our own mount namespace first, so nothing below can reach the
        // machine's /sys even when this runs outside the runner.
        if (unshare(CLONE_NEWNS) != 0) {
            skip_reason_ = std::string("no private mount namespace: ") + std::strerror(errno);
            return;
        }
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("orvi-test-sys", "/sys", "tmpfs", 0, "size=4m") != 0) {
            skip_reason_ = std::string("cannot lay a tmpfs over /sys: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }

    static void TearDownTestSuite() {
        if (mounted_) umount2("/sys", MNT_DETACH);
        mounted_ = false;
    }

    void SetUp() override {
        if (!mounted_) GTEST_SKIP() << skip_reason_;
    }

    static void make_file(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        write_file(path, text);
    }

    FakeTools tools{{"ls"}};
    static inline bool mounted_ = false;
    static inline std::string skip_reason_;
};

TEST_F(DriverFiles, OverrideParameterTakesChannelsOneTo177) {
    make_file(kOverride, "sentinel");
    struct Row {
        int channel;
        int result;
        std::string content;
    };
    const std::vector<Row> rows = {
        {0, -1, "sentinel"}, {178, -1, "sentinel"}, {-36, -1, "sentinel"}, {177, 0, "177"},
        {36, 0, "36"},       {1, 0, "1"},           {165, 0, "165"},
    };
    for (const auto& row : rows) {
        int result = -2;
        Captured c = capture_output([&] { result = set_override_parameters(row.channel, 99); });
        EXPECT_EQ(result, row.result) << row.channel;
        EXPECT_EQ(read_file(kOverride), row.content) << row.channel;
        EXPECT_EQ(c.out + c.err, "") << row.channel;
    }
}

TEST_F(DriverFiles, OverrideParameterMissingOrFull) {
    std::filesystem::remove_all("/sys/module");
    int result = 0;
    Captured c = capture_output([&] { result = set_override_parameters(36, 0); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(c.out, "Failed to open override parameter file: /sys/module/88XXau_vtx/parameters/channel_override");

    // A write the file system refuses is a failure, not a success.
    std::filesystem::create_directories(kParameters);
    ASSERT_EQ(mount("orvi-test-full", kParameters.c_str(), "tmpfs", 0, "size=4k"), 0) << std::strerror(errno);
    make_file(kOverride, "");
    {
        FILE* filler = std::fopen((kParameters + "/filler").c_str(), "w");
        ASSERT_NE(filler, nullptr);
        std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }
    c = capture_output([&] { result = set_override_parameters(36, 0); });
    umount2(kParameters.c_str(), MNT_DETACH);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err, std::string("Failed to write override parameter file: ") + std::strerror(ENOSPC) + "\n");
}

TEST_F(DriverFiles, NoiseFloorFromFirmwareStatistics) {
    tools.set_output("ls", "ath10k_pci\n");
    make_file("/sys/class/net/nfA/phy80211/name", "phy3 \n");
    const std::string stats = "/sys/kernel/debug/ieee80211/phy3/ath10k/fw_stats";
    struct Row {
        std::string content;
        int result;
        std::string err;
    };
    const std::vector<Row> rows = {
        {"             ath10k firmware stats\n             Channel noise floor        -95\n", -95, ""},
        {"Channel noise floor\t-90\n", -90, ""},
        {"Channel noise floor  +7 dBm?\n", 0, "Error parsing noise floor value: stoi\n"},
        {"Channel noise floor abc\nChannel noise floor -97\n", -97, "Error parsing noise floor value: stoi\n"},
        {"Channel noise floor -97x\n", -97, ""},
        {"Channel noise floor 99999999999\nChannel noise floor \n", 0,
         "Error parsing noise floor value: stoi\nError parsing noise floor value: stoi\n"},
        {"Channel noise floor -101\nChannel noise floor -50\n", -101, ""},
        {"Noise floor -95\n", 0, ""},
        {"", 0, ""},
    };
    for (const auto& row : rows) {
        make_file(stats, row.content);
        int result = 1;
        Captured c = capture_output([&] { result = get_ath10k_noise_floor("nfA"); });
        EXPECT_EQ(result, row.result) << row.content;
        EXPECT_EQ(c.err, row.err) << row.content;
        EXPECT_EQ(c.out, "") << row.content;
    }
    EXPECT_EQ(tools.calls(), std::vector<std::string>{"ls [/sys/class/net/nfA/device/driver/module/drivers]"});
}

TEST_F(DriverFiles, NoiseFloorNeedsAnAth10kWithAPhy) {
    // Not an ath10k: no file is looked at, so no warning even without any.
    tools.set_output("ls", "rtl88xxau_vtx\n");
    int result = 1;
    Captured c = capture_output([&] { result = get_ath10k_noise_floor("nfR"); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(c.out + c.err, "");

    tools.set_output("ls", "ath10k_pci\n");
    c = capture_output([&] { result = get_ath10k_noise_floor("nfB"); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(c.err, "Warning: Unable to determine PHY for interface nfB\n");

    make_file("/sys/class/net/nfC/phy80211/name", "\r\n");
    c = capture_output([&] { result = get_ath10k_noise_floor("nfC"); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(c.err, "Warning: Unable to determine PHY for interface nfC\n");
}

TEST_F(DriverFiles, MissingFirmwareStatisticsAreWarnedAboutOnce) {
    tools.set_output("ls", "ath10k_pci\n");
    make_file("/sys/class/net/nfD/phy80211/name", "phy9\n");
    make_file("/sys/class/net/nfE/phy80211/name", "phy8\n");
    const std::vector<std::pair<std::string, std::string>> calls = {
        {"nfD", "Warning: Unable to open /sys/kernel/debug/ieee80211/phy9/ath10k/fw_stats\n"},
        {"nfD", ""},
        {"nfE", "Warning: Unable to open /sys/kernel/debug/ieee80211/phy8/ath10k/fw_stats\n"},
        {"nfD", ""},
        {"nfE", ""},
    };
    for (const auto& call : calls) {
        const std::string& card = call.first;
        int result = 1;
        Captured c = capture_output([&] { result = get_ath10k_noise_floor(card); });
        EXPECT_EQ(result, 0) << card;
        EXPECT_EQ(c.err, call.second) << card;
    }
    // Once the file appears it is read.
    make_file("/sys/kernel/debug/ieee80211/phy9/ath10k/fw_stats", "Channel noise floor -92\n");
    EXPECT_EQ(get_ath10k_noise_floor("nfD"), -92);
}

}  // namespace
