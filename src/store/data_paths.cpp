#include "store/data_paths.h"

#include <charconv>
#include <cstring>

#include "config/sysinfo.h"
#include "util/bytes.h"

namespace {

// Pieces appended into a fixed buffer. Paths are composed many times per
// request, so this is plain copying rather than a formatted print; a path that
// does not fit leaves the buffer empty, never cut short (a cut path could name
// another file).
class PathJoin {
public:
    PathJoin(char* out, std::size_t size) : out_(out), size_(size) {
        if (size_ > 0) out_[0] = '\0';
    }
    PathJoin& add(const char* text) { return add(text, std::strlen(text)); }
    PathJoin& add(const char* text, std::size_t len) {
        if (!ok_) return *this;
        if (len >= size_ - used_) {
            fail();
            return *this;
        }
        std::memcpy(out_ + used_, text, len);
        used_ += len;
        out_[used_] = '\0';
        return *this;
    }
    PathJoin& add(long number) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        return add(digits, static_cast<std::size_t>(end - digits));
    }
    bool ok() const { return ok_; }

private:
    void fail() {
        ok_ = false;
        if (size_ > 0) out_[0] = '\0';
    }
    char* out_;
    std::size_t size_;
    std::size_t used_ = 0;
    bool ok_ = size_ > 0;
};

}  // namespace

PathBuffer make_path(const char* path, const char* suffix) {
    PathBuffer buffer;
    PathJoin(buffer.text, sizeof buffer.text).add(path).add(suffix);
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
    PathJoin path(out, out_size);
    if (!is_safe_path_component(user_id)) return false;
    return path.add(SYSINFO.DATA_FILE_PATH).add("user\\").add(user_id).add("\\").add(file).ok();
}

bool folder_file_path(char* out, std::size_t out_size, long folder_no, const char* file) {
    return PathJoin(out, out_size).add(SYSINFO.DATA_FILE_PATH).add(folder_no).add("\\").add(file).ok();
}

bool data_file_path(char* out, std::size_t out_size, const char* file) {
    return PathJoin(out, out_size).add(SYSINFO.DATA_FILE_PATH).add(file).ok();
}
