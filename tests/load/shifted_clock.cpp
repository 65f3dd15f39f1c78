// Linked only into the crash test's copy of wbbs.cgi: moves the process's
// wall clock forward by WBBS_TEST_CLOCK_SHIFT seconds, so the test sees locks
// and upload files of a killed request grow stale without waiting for them.
// The product's wbbs.cgi has no such hook.

#include <cstdlib>
#include <ctime>

#include "util/clock.h"

namespace {

time_t g_shift = 0;

time_t shifted_now() { return time(nullptr) + g_shift; }

struct InstallShift {
    InstallShift() {
        const char* shift = std::getenv("WBBS_TEST_CLOCK_SHIFT");
        if (shift == nullptr || *shift == '\0') return;
        g_shift = static_cast<time_t>(std::strtol(shift, nullptr, 10));
        ClockSource source{};
        source.now = shifted_now;  // the nanosecond clock follows it; sleeping stays real
        clock_replace(source);
    }
};

const InstallShift g_install_shift;

}  // namespace
