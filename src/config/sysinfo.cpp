#include "config/sysinfo.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/file_primitives.h"
#include "util/bytes.h"

struct SYSINFO SYSINFO;

namespace {

enum class Kind { text, number };

struct Setting {
    const char* key;
    Kind kind;
    char* text;
    std::size_t width;
    long* number;
};

// In the order of the record; the reader matches keys in this order.
template <std::size_t N>
Setting text_setting(const char* key, char (&field)[N]) {
    return Setting{key, Kind::text, field, N, nullptr};
}
Setting number_setting(const char* key, long& field) {
    return Setting{key, Kind::number, nullptr, 0, &field};
}

constexpr int setting_count = 20;

void settings_table(Setting (&table)[setting_count]) {
    struct SYSINFO& s = SYSINFO;
    Setting all[setting_count] = {
        text_setting("SITE_ID", s.SITE_ID),
        text_setting("LANGUAGE", s.LANGUAGE),
        text_setting("CGI_FILE_NAME", s.CGI_FILE_NAME),
        text_setting("CG_FILE_PATH", s.CG_FILE_PATH),
        text_setting("CG_FILE_WEB_PATH", s.CG_FILE_WEB_PATH),
        text_setting("DATA_FILE_PATH", s.DATA_FILE_PATH),
        text_setting("BACK_GIF", s.BACK_GIF),
        text_setting("LOG_DATE", s.LOG_DATE),
        number_setting("DATETIME", s.DATETIME),
        number_setting("IECOLS", s.IECOLS),
        number_setting("NSCOLS", s.NSCOLS),
        number_setting("ROWS", s.ROWS),
        number_setting("MAX_CONTENTS", s.MAX_CONTENTS),
        text_setting("LOGOFF_URL", s.LOGOFF_URL),
        text_setting("LOGIN_ERR_URL", s.LOGIN_ERR_URL),
        text_setting("FRAME_DIVIDE", s.FRAME_DIVIDE),
        number_setting("INITIAL_GP", s.INITIAL_GP),
        number_setting("ATTACHED_FILE_LIMIT", s.ATTACHED_FILE_LIMIT),
        text_setting("TIME_CORRECT", s.TIME_CORRECT),
        text_setting("MAILER", s.MAILER),
    };
    for (int i = 0; i < setting_count; ++i) table[i] = all[i];
}

void set_defaults() {
    std::memset(&SYSINFO, 0, sizeof SYSINFO);
    SYSINFO.DATETIME = 1;
    SYSINFO.IECOLS = 80;
    SYSINFO.NSCOLS = 60;
    SYSINFO.ROWS = 8;
    SYSINFO.MAX_CONTENTS = 4000;
    copy_field(SYSINFO.FRAME_DIVIDE, "20%");
    SYSINFO.INITIAL_GP = 0;
    SYSINFO.ATTACHED_FILE_LIMIT = 10000000;
}

int set_value(const Setting (&table)[setting_count], const char* key, const char* value) {
    for (const Setting& setting : table) {
        if (std::strcmp(key, setting.key) != 0) continue;
        if (setting.kind == Kind::text) {
            copy_field(setting.text, setting.width, value);
        } else {
            *setting.number = std::strtol(value, nullptr, 10);
        }
        return 0;
    }
    return -1;
}

void apply_line(char* line, Setting (&table)[setting_count]) {
    char* save = nullptr;
    const char* key = strtok_r(line, ",\n", &save);
    if (key == nullptr) return;
    const char* value = strtok_r(nullptr, ",\n", &save);
    if (value == nullptr) return;
    set_value(table, key, value);
}

}  // namespace

void SysFileDefaults() { set_defaults(); }

const char* SysInfoKey(int n) {
    if (n < 0 || n >= setting_count) return nullptr;
    Setting table[setting_count];
    settings_table(table);
    return table[n].key;
}

int SysInfoGet(const char* key, char* out, std::size_t out_size) {
    Setting table[setting_count];
    settings_table(table);
    if (out_size > 0) out[0] = '\0';
    for (const Setting& setting : table) {
        if (std::strcmp(key, setting.key) != 0) continue;
        if (setting.kind == Kind::text) {
            copy_field(out, out_size, setting.text);
        } else {
            std::snprintf(out, out_size, "%ld", *setting.number);
        }
        return 0;
    }
    return -1;
}

int SysInfoSet(const char* key, const char* value) {
    Setting table[setting_count];
    settings_table(table);
    for (const Setting& setting : table) {
        if (std::strcmp(key, setting.key) != 0) continue;
        if (std::strpbrk(value, ",\r\n") != nullptr) return -2;
        if (setting.kind == Kind::text) {
            if (std::strlen(value) >= setting.width) return -2;
        } else {
            char* end = nullptr;
            errno = 0;
            const long number = std::strtol(value, &end, 10);
            if (value[0] == '\0' || *end != '\0' || errno != 0 || number < INT32_MIN || number > INT32_MAX) {
                return -2;
            }
        }
        return set_value(table, key, value);
    }
    return -1;
}

int SysFileOpen(const char* in_filename) {
    set_defaults();
    char path[1024];
    copy_field(path, in_filename);
    LineFile file(path);
    if (!file.is_open()) return -1;
    Setting table[setting_count];
    settings_table(table);
    char line[1000];
    while (file.read_line(line, sizeof line)) apply_line(line, table);
    return 0;
}

int SysFileWrite(const char* in_filename) {
    char path[1024];
    copy_field(path, in_filename);
    Cu_remove(path);
    copy_field(path, in_filename);
    FILE* file = Cu_fopen(path, "w");
    if (file == nullptr) return -2;
    const struct SYSINFO& s = SYSINFO;
    std::fprintf(file, "***** ORVA (Pure CGI System) Configuration file *****,,\n");
    std::fprintf(file, "SITE_ID,%s,\n", s.SITE_ID);
    std::fprintf(file, "CGI_FILE_NAME,%s,\n", s.CGI_FILE_NAME);
    std::fprintf(file, "LANGUAGE,%s,\n", s.LANGUAGE);
    std::fprintf(file, "CG_FILE_PATH,%s,\n", s.CG_FILE_PATH);
    std::fprintf(file, "CG_FILE_WEB_PATH,%s,\n", s.CG_FILE_WEB_PATH);
    std::fprintf(file, "DATA_FILE_PATH,%s,\n", s.DATA_FILE_PATH);
    std::fprintf(file, "BACK_GIF,%s,\n", s.BACK_GIF);
    std::fprintf(file, "LOG_DATE,%s,\n", s.LOG_DATE);
    std::fprintf(file, "DATETIME,%ld,\n", s.DATETIME);
    std::fprintf(file, "IECOLS,%ld,\n", s.IECOLS);
    std::fprintf(file, "NSCOLS,%ld,\n", s.NSCOLS);
    std::fprintf(file, "ROWS,%ld,\n", s.ROWS);
    std::fprintf(file, "MAX_CONTENTS,%ld,\n", s.MAX_CONTENTS);
    std::fprintf(file, "LOGOFF_URL,%s,\n", s.LOGOFF_URL);
    std::fprintf(file, "LOGIN_ERR_URL,%s,\n", s.LOGIN_ERR_URL);
    std::fprintf(file, "FRAME_DIVIDE,%s,\n", s.FRAME_DIVIDE);
    std::fprintf(file, "INITIAL_GP,%ld,\n", s.INITIAL_GP);
    std::fprintf(file, "ATTACHED_FILE_LIMIT,%ld,\n", s.ATTACHED_FILE_LIMIT);
    std::fprintf(file, "TIME_CORRECT,%s,\n", s.TIME_CORRECT);
    std::fprintf(file, "MAILER,%s,\n", s.MAILER);
    const bool failed = std::ferror(file) != 0;
    return (Cu_fclose(file) != 0 || failed) ? -2 : 0;
}
