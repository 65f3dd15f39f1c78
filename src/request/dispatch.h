// Selects the screens and actions of a request by its JOB text.
#pragma once

#include <cstddef>
#include <span>

struct DispatchRow {
    const char* job;  // compared byte-wise with the whole JOB, case-sensitive
    void (*run)();    // runs the row's handler or handlers, in order
};

// Tests every row independently, in table order, and runs each whose selector
// equals job. Returns how many rows ran (an unknown or empty JOB runs none).
int run_dispatch(const char* job, std::span<const DispatchRow> table);
