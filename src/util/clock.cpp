#include "util/clock.h"

#include <cerrno>

namespace {

constexpr long long kNanosPerSecond = 1000000000LL;

time_t real_now() { return time(nullptr); }

void real_nanosleep(timespec left) {
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void real_sleep(unsigned seconds) { real_nanosleep({static_cast<time_t>(seconds), 0}); }

long long read_clock(clockid_t id, long long unit_ns) {
    timespec ts{};
    clock_gettime(id, &ts);
    return (static_cast<long long>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec) / unit_ns;
}

long long real_now_ns() { return read_clock(CLOCK_REALTIME, 1); }
long long real_monotonic_ms() { return read_clock(CLOCK_MONOTONIC, 1000000); }

void real_sleep_ms(unsigned milliseconds) {
    real_nanosleep({static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L});
}

ClockSource g_source{real_now, real_sleep, real_now_ns, real_monotonic_ms, real_sleep_ms};

// A source that replaces only the seconds keeps file ages judged by it.
long long now_ns_from_seconds() { return static_cast<long long>(g_source.now()) * kNanosPerSecond; }

}  // namespace

time_t clock_now() { return g_source.now(); }
void clock_sleep(unsigned seconds) { g_source.sleep(seconds); }
long long clock_now_ns() { return g_source.now_ns(); }
long long clock_monotonic_ms() { return g_source.monotonic_ms(); }
void clock_sleep_ms(unsigned milliseconds) { g_source.sleep_ms(milliseconds); }

void clock_replace(ClockSource source) {
    g_source.now = source.now != nullptr ? source.now : real_now;
    g_source.sleep = source.sleep != nullptr ? source.sleep : real_sleep;
    g_source.now_ns = source.now_ns != nullptr ? source.now_ns
                      : source.now != nullptr  ? now_ns_from_seconds
                                               : real_now_ns;
    g_source.monotonic_ms = source.monotonic_ms != nullptr ? source.monotonic_ms : real_monotonic_ms;
    g_source.sleep_ms = source.sleep_ms != nullptr ? source.sleep_ms : real_sleep_ms;
}
