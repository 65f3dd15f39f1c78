// The process's view of time. Everything that compares ages (stale locks,
// stale uploads) or waits (lock polling, retries) goes through here, so tests
// can replace time instead of sleeping for minutes.
#pragma once

#include <ctime>

time_t clock_now();                   // wall clock, seconds
void clock_sleep(unsigned seconds);
long long clock_now_ns();             // wall clock, nanoseconds: file ages at the file system's resolution
long long clock_monotonic_ms();       // for bounding waits: never jumps with the wall clock
void clock_sleep_ms(unsigned milliseconds);

struct ClockSource {
    time_t (*now)();
    void (*sleep)(unsigned seconds);
    // Left out (nullptr): now_ns follows now (whole seconds) when now is
    // replaced and is real otherwise; the millisecond pair is real.
    long long (*now_ns)() = nullptr;
    long long (*monotonic_ms)() = nullptr;
    void (*sleep_ms)(unsigned milliseconds) = nullptr;
};

// Installs another source; passing {nullptr, nullptr} restores the real clock.
void clock_replace(ClockSource source);
