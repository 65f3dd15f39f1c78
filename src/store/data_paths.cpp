#include "store/data_paths.h"

#include <cstdio>
#include <cstring>

#include "config/sysinfo.h"
#include "util/bytes.h"

namespace {

bool fits(int written, std::size_t size) { return written >= 0 && static_cast<std::size_t>(written) < size; }

}  // namespace

PathBuffer make_path(const char* path, const char* suffix) {
    PathBuffer buffer;
    std::snprintf(buffer.text, sizeof buffer.text, "%s%s", path, suffix);
    return buffer;
}

bool is_safe_path_component(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    while (*p != '\0') {
        if (*p == '/' || *p < 0x20 || *p == 0x7F) return false;
        if (is_lead_byte(*p)) {
            // The path conversion leaves a backslash that is a second byte alone
            // (as in many kanji), but a lead byte without its second byte would
            // swallow the separator that follows the name in a composed path.
            if (p[1] == '\0' || p[1] == '/' || p[1] < 0x20) return false;
            p += 2;
            continue;
        }
        if (*p == '\\') return false;
        ++p;
    }
    return true;
}

bool user_file_path(char* out, std::size_t out_size, const char* user_id, const char* file) {
    if (out_size > 0) out[0] = '\0';
    if (!is_safe_path_component(user_id)) return false;
    const int n = std::snprintf(out, out_size, "%suser\\%s\\%s", SYSINFO.DATA_FILE_PATH, user_id, file);
    if (!fits(n, out_size)) {
        if (out_size > 0) out[0] = '\0';
        return false;
    }
    return true;
}

bool folder_file_path(char* out, std::size_t out_size, long folder_no, const char* file) {
    const int n = std::snprintf(out, out_size, "%s%ld\\%s", SYSINFO.DATA_FILE_PATH, folder_no, file);
    return fits(n, out_size);
}

bool data_file_path(char* out, std::size_t out_size, const char* file) {
    const int n = std::snprintf(out, out_size, "%s%s", SYSINFO.DATA_FILE_PATH, file);
    return fits(n, out_size);
}
