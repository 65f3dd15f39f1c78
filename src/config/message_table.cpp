#include "config/message_table.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "store/file_primitives.h"
#include "util/bytes.h"

struct STRDEF STRDEF;

namespace {

// The table lives in static storage and starts zeroed; only entries a load
// filled need clearing again, so a request does not touch 200 KB it never uses.
bool g_filled[STRDEF_COUNT];

void empty_table() {
    for (int n = 0; n < STRDEF_COUNT; ++n) {
        if (!g_filled[n]) continue;
        std::memset(STRDEF.Message[n], 0, STRDEF_WIDTH);
        g_filled[n] = false;
    }
}

void cut_line_end(char* line) {
    std::size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
    if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
}

void store_message(const char* line) {
    char digits[4] = {};
    std::memcpy(digits, line, std::min<std::size_t>(3, std::strlen(line)));
    const long number = std::strtol(digits, nullptr, 10);
    if (number <= 0 || number >= STRDEF_COUNT) return;
    char* entry = STRDEF.Message[number];
    std::memset(entry, 0, STRDEF_WIDTH);
    if (std::strlen(line) >= 5) copy_field(entry, STRDEF_WIDTH, line + 4);
    g_filled[number] = true;
}

}  // namespace

int StrdefFileOpen(const char* filename, const char* language) {
    empty_table();
    char header[104];
    std::snprintf(header, sizeof header, "[%.99s]", language);
    const std::size_t header_len = std::strlen(header);

    char path[1024];
    copy_field(path, filename);
    FILE* file = Cu_fopen(path, "r");
    if (file == nullptr) return -1;

    char line[1002];
    bool inside = false;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        cut_line_end(line);
        if (!inside) {
            inside = std::strncmp(line, header, header_len) == 0;
            continue;
        }
        if (line[0] == '[') break;
        store_message(line);
    }
    Cu_fclose(file);
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
