// What a run's guardian costs: one started and dismissed (fork, the child's
// set-up, the run's "done", the wait), in a process as small as this one
// and with as much touched memory beside it as a run might hold, with a
// thread running as the pipe library's does. Nothing of it recurs per level:
// a run starts one guardian and dismisses it once.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "guardian.h"

namespace {

void BM_StartAndDismissGuardian(benchmark::State& state) {
    std::vector<char> memory(static_cast<size_t>(state.range(0)));
    std::memset(memory.data(), 1, memory.size());  // resident, as a run's own pages are
    // A thread that waits, as the pipe library's does between records.
    std::mutex m;
    std::condition_variable wake;
    bool stop = false;
    std::thread waiting([&] {
        std::unique_lock<std::mutex> lock(m);
        wake.wait(lock, [&] { return stop; });
    });
    for (auto _ : state) {
        if (!start_guardian(-1)) {
            state.SkipWithError("the guardian could not be started");
            break;
        }
        dismiss_guardian();
    }
    {
        std::lock_guard<std::mutex> lock(m);
        stop = true;
    }
    wake.notify_one();
    waiting.join();
    state.SetLabel(std::to_string(state.range(0) >> 20) + " MiB touched beside it");
}
BENCHMARK(BM_StartAndDismissGuardian)
    ->Arg(0)
    ->Arg(8 << 20)
    ->Arg(64 << 20)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
