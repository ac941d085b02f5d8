// What monitoring makes of the telemetry before it relies on it: records
// that stopped coming, an MCS the conversion tables have no column for, and
// the first record that a power search needs.
#pragma once

#include <cstdint>

// A record older than this makes the power index and MCS shown stale.
constexpr int64_t TELEMETRY_STALE_NS = 3000000000LL;
// How long a power search waits for the first record.
constexpr long long FIRST_TELEMETRY_WAIT_US = 5000000;

typedef struct telemetry_watch_t {
    bool started;
    int64_t started_ns;  // the first look; until a record comes the age counts from here
    bool stale;
    bool mcs_reported;  // the MCS outside the tables below has been reported
    int reported_mcs;
} telemetry_watch_t;

// True while the newest record is younger than TELEMETRY_STALE_NS. One line
// on standard error when no record has come for that long (before the first
// record too), and one when records come again. Before the first record
// the values are the starting ones: false, without a line for 3 s.
bool telemetry_current(telemetry_watch_t* watch);

// The conversion-table column that a reading uses for the telemetry's MCS:
// the MCS itself within 0..7, else the nearest column. Outside 0..7 the
// conversion's own message and a line naming the column, on standard
// error, once for as long as the telemetry keeps that MCS.
int reading_mcs(telemetry_watch_t* watch, int mcs);

// Until the first record has come, at most `timeout_us`: one line on
// standard output that it waits (none when a record is there already).
// False when none came.
bool wait_for_first_telemetry(long long timeout_us);
