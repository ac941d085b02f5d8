// Fragmenting a 100 MB Annex-B stream (NAL walk plus fragment building)
// against a plain memcpy of the same bytes, and heap allocations per packet.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include <orvi/rtp_packetizer.h>

namespace {

std::atomic<long> g_allocations{0};

constexpr size_t kStreamBytes = 100u * 1000u * 1000u;
constexpr int kMtu = 1341;

// NAL units of random size with four-byte start codes; payload bytes are
// never zero, so no start code appears inside a NAL unit.
const std::vector<uint8_t>& stream() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> out;
        out.reserve(kStreamBytes);
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> size(200, 60000), byte(1, 255);
        while (out.size() < kStreamBytes) {
            const size_t nal = std::min<size_t>(size(rng), kStreamBytes - out.size());
            if (nal < 6) break;
            out.insert(out.end(), {0, 0, 0, 1, static_cast<uint8_t>(out.empty() ? 0x65 : 0x41)});
            for (size_t i = 5; i < nal; ++i) out.push_back(static_cast<uint8_t>(byte(rng)));
        }
        return out;
    }();
    return data;
}

void BM_Memcpy(benchmark::State& state) {
    const auto& in = stream();
    std::vector<uint8_t> out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Fragment(benchmark::State& state) {
    const auto& in = stream();
    long packets = 0;
    const long allocations_before = g_allocations.load();
    for (auto _ : state) {
        uint16_t seq = 0;
        std::shared_ptr<std::vector<uint8_t>> packet;
        int start = get_header_size(in, 0);
        while (start + 5 <= static_cast<int>(in.size())) {
            int next = get_header_size(in, start + 4);
            if (next == 0) next = static_cast<int>(in.size());
            const int type = in[start + 4] & 0x1F;
            const uint8_t* at = in.data() + start;
            size_t remaining = static_cast<size_t>(next - start - 5);
            bool first = true;
            for (;;) {
                const size_t len = remaining < kMtu ? remaining : kMtu;
                at += create_rtp_packet_fragment(at, len, 0, first, kMtu, &seq, type, packet,
                                                 VENC_H264);
                benchmark::DoNotOptimize(packet->data());
                remaining -= len;
                first = false;
                ++packets;
                if (len < kMtu) break;
            }
            start = next;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
    state.counters["packets"] = static_cast<double>(packets) / state.iterations();
    state.counters["allocs_per_packet"] =
        static_cast<double>(g_allocations.load() - allocations_before) / packets;
}

}  // namespace

// Counting replacement of the global allocator (GCC cannot see that the
// matching delete below is the replacement too).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Fragment)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_MAIN();
