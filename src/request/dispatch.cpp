#include "request/dispatch.h"

#include <cstring>

int run_dispatch(const char* job, std::span<const DispatchRow> table) {
    int ran = 0;
    for (const DispatchRow& row : table) {
        if (std::strcmp(job, row.job) != 0) continue;
        row.run();
        ++ran;
    }
    return ran;
}
