#include "telemetry_watch.h"

#include <cstdio>

#include <orvi/diagnostics.h>
#include "conversion_tables.h"
#include "monitor_state.h"
#include "sleeping.h"
#include "telemetry_subscription.h"

namespace {

constexpr long long FIRST_TELEMETRY_POLL_US = 50000;
constexpr int64_t NS_PER_S = 1000000000LL;

}  // namespace

bool telemetry_current(telemetry_watch_t* watch) {
    const int64_t now = time_monotonic_ns();
    if (!watch->started) {
        watch->started = true;
        watch->started_ns = now;
    }
    int64_t since = watch->started_ns;
    const bool received = telemetry_received(&since);
    const int64_t age = now - since;
    if (age >= TELEMETRY_STALE_NS) {
        if (!watch->stale) {
            std::fprintf(stderr,
                         "Warning: no telemetry from vtx_latency for %lld s; power index and MCS "
                         "may be stale\n",
                         static_cast<long long>(age / NS_PER_S));
            watch->stale = true;
        }
        return false;
    }
    if (watch->stale && received) {
        std::fputs("Telemetry from vtx_latency is back; power index and MCS are current again\n",
                   stderr);
        watch->stale = false;
    }
    return received;
}

int reading_mcs(telemetry_watch_t* watch, int mcs) {
    if (mcs >= 0 && mcs <= CSV_MAX_MCS) {
        watch->mcs_reported = false;
        return mcs;
    }
    const int column = mcs < 0 ? 0 : CSV_MAX_MCS;
    if (!watch->mcs_reported || watch->reported_mcs != mcs) {
        std::fprintf(stderr, "Invalid MCS value: %d. Must be 0-%d\n", mcs, CSV_MAX_MCS);
        std::fprintf(stderr,
                     "Readings at MCS %d use the conversion tables' MCS %d column, the nearest "
                     "they hold\n",
                     mcs, column);
        watch->mcs_reported = true;
        watch->reported_mcs = mcs;
    }
    return column;
}

bool wait_for_first_telemetry(long long timeout_us) {
    if (telemetry_received()) return true;
    std::printf("Waiting up to %lld s for the first telemetry record from vtx_latency before the "
                "power search...\n",
                timeout_us / 1000000);
    // The monotonic clock, not a count of sleeps: a sleep cut short by a
    // signal must not stretch the wait.
    const int64_t deadline = time_monotonic_ns() + timeout_us * 1000;
    while (!telemetry_received()) {
        if (time_monotonic_ns() >= deadline) return false;
        sleep_us(FIRST_TELEMETRY_POLL_US);
    }
    return true;
}
