#include <orvi/wifibroadcast_spdlog.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include <spdlog/sinks/ansicolor_sink.h>

namespace {

TEST(NamedLoggers, OneLoggerPerNameAtDebugOnStdout) {
    auto a = wifibroadcast::log::create_or_get("inspector-test-a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->name(), "inspector-test-a");
    EXPECT_EQ(a->level(), spdlog::level::debug);
    EXPECT_EQ(wifibroadcast::log::create_or_get("inspector-test-a"), a);
    EXPECT_EQ(spdlog::get("inspector-test-a"), a);

    auto b = wifibroadcast::log::create_or_get("inspector-test-b");
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);

    ASSERT_EQ(a->sinks().size(), 1u);
    EXPECT_NE(dynamic_cast<spdlog::sinks::ansicolor_stdout_sink_mt*>(a->sinks()[0].get()),
              nullptr);

    auto kzr = wifibroadcast::log::get_default();
    ASSERT_NE(kzr, nullptr);
    EXPECT_EQ(kzr->name(), "KZR");
    EXPECT_EQ(kzr->level(), spdlog::level::debug);
    EXPECT_EQ(wifibroadcast::log::create_or_get("KZR"), kzr);
}

TEST(NamedLoggers, ConcurrentCallersGetOneInstance) {
    constexpr int kThreads = 16;
    std::vector<std::shared_ptr<spdlog::logger>> got(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&got, i] {
            got[i] = wifibroadcast::log::create_or_get("inspector-test-concurrent");
        });
    }
    for (auto& t : threads) t.join();
    std::set<spdlog::logger*> distinct;
    for (auto& logger : got) distinct.insert(logger.get());
    EXPECT_EQ(distinct.size(), 1u);
    EXPECT_NE(*distinct.begin(), nullptr);
}

}  // namespace
