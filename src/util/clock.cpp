#include "util/clock.h"

#include <cerrno>

namespace {

time_t real_now() { return time(nullptr); }

void real_sleep(unsigned seconds) {
    timespec left{static_cast<time_t>(seconds), 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

ClockSource g_source{real_now, real_sleep};

}  // namespace

time_t clock_now() { return g_source.now(); }
void clock_sleep(unsigned seconds) { g_source.sleep(seconds); }

void clock_replace(ClockSource source) {
    g_source.now = source.now != nullptr ? source.now : real_now;
    g_source.sleep = source.sleep != nullptr ? source.sleep : real_sleep;
}
