// The process's view of wall-clock time. Everything that compares ages
// (stale locks, stale uploads) or waits (lock retries) goes through here, so
// tests can replace time instead of sleeping for minutes.
#pragma once

#include <ctime>

time_t clock_now();
void clock_sleep(unsigned seconds);

struct ClockSource {
    time_t (*now)();
    void (*sleep)(unsigned seconds);
};

// Installs another source; passing {nullptr, nullptr} restores the real clock.
void clock_replace(ClockSource source);
