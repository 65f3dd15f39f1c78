#include "util/bytes.h"

#include <cstring>

void copy_field(char* dst, std::size_t width, const char* src) {
    if (width == 0) return;
    std::size_t n = 0;
    if (src != nullptr) {
        while (n + 1 < width && src[n] != '\0') ++n;
        std::memmove(dst, src, n);
    }
    dst[n] = '\0';
}
