#include "store/data_paths.h"

#include <cstdio>
#include <cstring>

#include "config/sysinfo.h"

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
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != '\0'; ++p) {
        // Checked byte by byte: a path separator is one even after a lead byte,
        // since the file system knows nothing of two-byte characters.
        if (*p == '/' || *p == '\\' || *p < 0x20 || *p == 0x7F) return false;
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
