// Many threads at once on the process-wide caches: every caller sees the
// same answer, and a warm cache runs nothing.
#include <orvi/radio_control.h>
#include <orvi/wifibroadcast_spdlog.h>

#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// An `ls` that answers for the driver folder of any interface with a driver
// named after it, logs each call, and takes a moment so that concurrent
// lookups of a cold card really overlap.
class ChipCacheThreads : public ::testing::Test {
protected:
    void SetUp() override {
        write_file(dir_ + "/ls",
                   "#!/bin/sh\n"
                   "echo \"$1\" >> '" + dir_ + "/calls.log'\n"
                   "sleep 0.05\n"
                   "card=${1#/sys/class/net/}; card=${card%%/*}\n"
                   "case \"$card\" in\n"
                   "  *rtl*) echo 'rtl88xxau_vtx' ;;\n"
                   "  *) echo \"drv_$card\" ;;\n"
                   "esac\n");
        ASSERT_EQ(chmod((dir_ + "/ls").c_str(), 0755), 0);
        const char* path = std::getenv("PATH");
        saved_path_ = path ? path : "/usr/bin:/bin";
        setenv("PATH", (dir_ + ":" + saved_path_).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
    }
    std::map<std::string, int> calls_per_card() const {
        std::map<std::string, int> calls;
        for (const std::string& line : lines_of(read_file(dir_ + "/calls.log"))) {
            const std::string prefix = "/sys/class/net/";
            const std::string suffix = "/device/driver/module/drivers";
            EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
            EXPECT_GT(line.size(), prefix.size() + suffix.size()) << line;
            if (line.size() <= prefix.size() + suffix.size()) continue;
            ++calls[line.substr(prefix.size(), line.size() - prefix.size() - suffix.size())];
        }
        return calls;
    }

    const ScratchDir scratch_{"orvi-threads"};
    const std::string& dir_ = scratch_.path();
    std::string saved_path_;
};

TEST_F(ChipCacheThreads, ConcurrentLookupsAgreeAndAWarmCacheRunsNothing) {
    // Card names unique to this test: the cache lives as long as the process.
    const std::vector<std::pair<std::string, std::string>> cards = {
        {"thr0", "drv_thr0"}, {"thr1", "drv_thr1"}, {"thr2", "drv_thr2"},
        {"thr3", "drv_thr3"}, {"thrrtl0", "rtl8812au"},
    };
    constexpr int kThreads = 12;
    constexpr int kRounds = 2;

    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::vector<std::string>> got(kThreads);
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) std::this_thread::yield();
                // Each thread walks the cards from a different start, so the
                // same card is looked up cold by several threads at once.
                for (size_t i = 0; i < cards.size(); ++i) {
                    got[t].push_back(get_chip(cards[(i + t) % cards.size()].first));
                }
            });
        }
        go = true;
        for (auto& thread : threads) thread.join();

        for (int t = 0; t < kThreads; ++t) {
            ASSERT_EQ(got[t].size(), cards.size());
            for (size_t i = 0; i < cards.size(); ++i) {
                EXPECT_EQ(got[t][i], cards[(i + t) % cards.size()].second) << "thread " << t << " round " << round;
            }
        }

        auto calls = calls_per_card();
        std::set<std::string> looked_up;
        for (const auto& [card, count] : calls) {
            looked_up.insert(card);
            // A cold card may be looked up by each racing thread, never more.
            EXPECT_GE(count, 1) << card;
            EXPECT_LE(count, kThreads) << card;
        }
        if (round == 0) {
            std::set<std::string> expected;
            for (const auto& card : cards) expected.insert(card.first);
            EXPECT_EQ(looked_up, expected);
            std::remove((dir_ + "/calls.log").c_str());
        } else {
            // The second round is all cache hits: nothing ran.
            EXPECT_TRUE(calls.empty()) << calls.size() << " cards looked up again";
        }
    }
}

TEST(LoggerThreads, AccessorsAndLoggingFromManyThreads) {
    const std::vector<std::string> names = {"threads-a", "threads-b", "threads-c"};
    constexpr int kThreads = 12;
    constexpr int kLines = 20;
    std::vector<std::vector<std::shared_ptr<spdlog::logger>>> got(kThreads);
    std::vector<std::shared_ptr<spdlog::logger>> defaults(kThreads);

    Captured captured = capture_output([&] {
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) std::this_thread::yield();
                defaults[t] = wifibroadcast::log::get_default();
                for (size_t i = 0; i < names.size(); ++i) {
                    auto logger = wifibroadcast::log::create_or_get(names[(i + t) % names.size()]);
                    got[t].push_back(logger);
                    if (!logger) continue;
                    for (int line = 0; line < kLines; ++line) {
                        logger->info("thread {} line {}", t, line);
                    }
                }
            });
        }
        go = true;
        for (auto& thread : threads) thread.join();
        for (const auto& name : names) {
            if (auto logger = spdlog::get(name)) logger->flush();
        }
    });

    // One logger per name, the same for every thread, registered under it.
    for (size_t i = 0; i < names.size(); ++i) {
        auto registered = spdlog::get(names[i]);
        ASSERT_NE(registered, nullptr) << names[i];
        EXPECT_EQ(registered->level(), spdlog::level::debug);
        for (int t = 0; t < kThreads; ++t) {
            EXPECT_EQ(got[t][(names.size() - t % names.size() + i) % names.size()], registered)
                << names[i] << " thread " << t;
        }
    }
    auto kzr = spdlog::get("KZR");
    ASSERT_NE(kzr, nullptr);
    for (const auto& d : defaults) EXPECT_EQ(d, kzr);

    // Every line arrives whole, exactly once: the sinks are the thread-safe kind.
    std::map<std::string, int> seen;
    std::istringstream out(captured.out);
    for (std::string line; std::getline(out, line);) {
        auto at = line.find("thread ");
        ASSERT_NE(at, std::string::npos) << line;
        ++seen[line.substr(at)];
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
    for (const auto& [text, count] : seen) {
        // Each thread prints each of its lines once per name.
        EXPECT_EQ(count, static_cast<int>(names.size())) << text;
    }
}

}  // namespace
