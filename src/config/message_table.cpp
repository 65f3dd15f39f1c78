#include "config/message_table.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "store/file_primitives.h"
#include "util/bytes.h"

struct STRDEF STRDEF;

void MessageTexts::set(long n, const char* text) {
    if (n <= 0 || n >= STRDEF_COUNT) return;
    std::size_t len = 0;
    while (len + 1 < STRDEF_WIDTH && text[len] != '\0') ++len;
    offset_[n] = 0;
    if (len == 0) return;
    // A redefinition leaves its old text unused; should a file redefine so
    // much that the room runs out, the live texts are packed again first.
    if (1 + used_ + len + 1 > sizeof text_) compact();
    char* at = text_ + 1 + used_;
    std::memcpy(at, text, len);
    at[len] = '\0';
    offset_[n] = static_cast<uint32_t>(1 + used_);
    used_ += len + 1;
}

void MessageTexts::compact() {
    const std::string old(text_, 1 + used_);
    used_ = 0;
    for (uint32_t& offset : offset_) {
        if (offset == 0) continue;
        const char* live = old.data() + offset;
        const std::size_t len = std::strlen(live);
        std::memcpy(text_ + 1 + used_, live, len + 1);
        offset = static_cast<uint32_t>(1 + used_);
        used_ += len + 1;
    }
}

void MessageTexts::clear() {
    // A fresh process starts zeroed: only a reload has offsets to clear.
    if (used_ == 0) return;
    std::memset(offset_, 0, sizeof offset_);
    used_ = 0;
}

namespace {

void cut_line_end(char* line) {
    std::size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
    if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
}

// The number the line's first three bytes start with, read as strtol reads
// them (leading blanks, a sign, digits), without strtol's general machinery:
// every request reads every line of its language.
long leading_number(const char* line) {
    const char* p = line;
    const char* const end = line + strnlen(line, 3);
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    long number = 0;
    while (p < end && *p >= '0' && *p <= '9') number = number * 10 + (*p++ - '0');
    return negative ? -number : number;
}

void store_message(const char* line) {
    const long number = leading_number(line);
    if (number <= 0 || number >= STRDEF_COUNT) return;
    STRDEF.Message.set(number, strnlen(line, 5) >= 5 ? line + 4 : "");
}

}  // namespace

int StrdefFileOpen(const char* filename, const char* language) {
    STRDEF.Message.clear();
    char header[104];
    std::snprintf(header, sizeof header, "[%.99s]", language);
    const std::size_t header_len = std::strlen(header);

    char path[1024];
    copy_field(path, filename);
    LineFile file(path);
    if (!file.is_open()) return -1;

    char line[1002];
    bool inside = false;
    while (file.read_line(line, sizeof line)) {
        cut_line_end(line);
        if (!inside) {
            inside = std::strncmp(line, header, header_len) == 0;
            continue;
        }
        if (line[0] == '[') break;
        store_message(line);
    }
    return 0;
}

int StrdefLanguageRes(const char* filename, char* language, std::size_t language_size) {
    char path[1024];
    copy_field(path, filename);
    FILE* file = Cu_fopen(path, "r");
    if (file == nullptr) return -1;
    std::string names;
    char line[1002];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (line[0] != '[') continue;
        cut_line_end(line);
        const std::size_t len = std::strlen(line);
        if (!names.empty()) names += ',';
        // The text after "[" without its last character (the "]").
        if (len >= 2) names.append(line + 1, len - 2);
    }
    Cu_fclose(file);
    copy_field(language, language_size, names.c_str());
    return 0;
}
