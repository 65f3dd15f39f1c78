#include "store/personal_settings.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "store/data_paths.h"
#include "store/line_file_engine.h"
#include "store/users.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

namespace {

using PersonalPaths = GuardedFile;

// false for an id that cannot name the user's directory: nothing is touched then.
bool personal_paths(const char* user_id, PersonalPaths& paths) {
    return user_file_path(paths.lock, sizeof paths.lock, user_id, "personal.chk") &&
           user_file_path(paths.data, sizeof paths.data, user_id, "personal.mst");
}

// One line of personal.mst cut into its key and its value.
class SettingLine {
public:
    SettingLine()
        : key_(text_buffer(PERSONAL_LINE_SIZE)),
          value_(text_buffer(PERSONAL_LINE_SIZE)) {}

    // false for a line without a comma, which is skipped (and dropped by a writer).
    bool parse(const char* line) {
        LineFields fields(line);
        if (!fields.text(key_.get(), PERSONAL_LINE_SIZE)) return false;
        fields.rest(value_.get(), PERSONAL_LINE_SIZE);
        G_CutCrLf(value_.get());
        return true;
    }
    bool has_key(const char* key) const { return std::strcmp(key_.get(), key) == 0; }
    char* value() { return value_.get(); }  // the parser's own copy: callers may cut it

private:
    std::unique_ptr<char[]> key_;
    std::unique_ptr<char[]> value_;
};

// "key,value\n", the value cut (never inside a character) so that the whole
// line fits the line buffer it is read back with.
std::string setting_line(const char* key, const char* value) {
    const std::string key_text = csv_field_text(key);
    const std::size_t fixed = key_text.size() + 2;  // comma and line feed
    const std::size_t limit = PERSONAL_LINE_SIZE - 1;
    std::string cut = value != nullptr ? value : "";
    if (fixed >= limit) {
        cut.clear();
    } else {
        G_setStrlength(cut.data(), limit - fixed + 1);
        cut.resize(std::strlen(cut.c_str()));
    }
    LineBuilder builder;
    builder.text(key).rest(cut.c_str());
    return builder.line();
}

// The settings that complete the user record, in the order they are appended.
struct UserSetting {
    const char* key;
    char* text;          // a text field of width bytes, or
    std::size_t width;
    long* number;        // a decimal one
};

constexpr std::size_t USER_SETTING_COUNT = 11;

std::array<UserSetting, USER_SETTING_COUNT> user_settings(USER_MST& user) {
    return {{
        {"USER_NAME", user.USER_NAME, sizeof user.USER_NAME, nullptr},
        {"USER_LEVEL", nullptr, 0, &user.USER_LEVEL},
        {"E_MAIL_ADDR", user.E_MAIL_ADDR, sizeof user.E_MAIL_ADDR, nullptr},
        {"P_GROUP", nullptr, 0, &user.P_GROUP},
        {"USER_DISP_DEF", nullptr, 0, &user.USER_DISP_DEF},
        {"MODE", nullptr, 0, &user.MODE},
        {"WRITE_MODE", nullptr, 0, &user.WRITE_MODE},
        {"BBS_FRAME_MODE", nullptr, 0, &user.BBS_FRAME_MODE},
        {"TREE_MODE", nullptr, 0, &user.TREE_MODE},
        {"LANGUAGE", user.LANGUAGE, sizeof user.LANGUAGE, nullptr},
        {"PICFILE", user.PICFILE, sizeof user.PICFILE, nullptr},
    }};
}

// Value text into a field without splitting a two-byte character.
void set_text(char* field, std::size_t width, char* value) {
    G_setStrlength(value, width);
    copy_field(field, width, value);
}

int select_setting(const PersonalPaths& paths, const char* key, char* out_buff, std::size_t out_size) {
    SettingLine setting;
    bool found = false;
    const int result = scan_lines(paths.lock, paths.data, PERSONAL_LINE_SIZE, [&](const char* line) {
        if (!setting.parse(line) || !setting.has_key(key)) return true;
        set_text(out_buff, out_size, setting.value());
        found = true;
        return false;
    });
    if (result != STORE_OK) return result;
    return found ? STORE_OK : STORE_NOT_FOUND;
}

// Insert (2), delete (3) or update (4) of one key.
int write_setting(const PersonalPaths& paths, int sql_mode, const char* key, const char* value) {
    SettingLine setting;
    const std::string new_line = setting_line(key, value);
    bool matched = false;
    return rewrite_lines(
        paths.lock, paths.data, PERSONAL_LINE_SIZE,
        [&](const char* line, LineOutput& out) {
            if (!setting.parse(line)) return LineVerdict::drop;
            if (setting.has_key(key)) {
                matched = true;
                if (sql_mode == 4) out.write(new_line.c_str());
                if (sql_mode != 2) return LineVerdict::drop;
            }
            return LineVerdict::keep;
        },
        [&](LineOutput& out) {
            if (sql_mode == 2) {
                if (matched) return STORE_NOTHING_TO_CHANGE;
                out.write(new_line.c_str());
                return STORE_OK;
            }
            return matched ? STORE_OK : STORE_NOT_FOUND;
        });
}

int select_user_settings(const PersonalPaths& paths) {
    auto settings = user_settings(sUSER_MST);
    SettingLine setting;
    return scan_lines(paths.lock, paths.data, PERSONAL_LINE_SIZE, [&](const char* line) {
        if (!setting.parse(line)) return true;
        for (const UserSetting& field : settings) {
            if (!setting.has_key(field.key)) continue;
            if (field.number != nullptr) {
                *field.number = std::strtol(setting.value(), nullptr, 10);
            } else {
                set_text(field.text, field.width, setting.value());
            }
            break;
        }
        return true;
    });
}

struct NewSetting {
    const char* key;
    std::string line;
};

// One rewrite leaves the same file as an update-then-insert per key, in the
// order given, but takes the lock once and changes all or nothing.
int store_settings(const PersonalPaths& paths, const std::vector<NewSetting>& settings) {
    std::vector<bool> stored(settings.size(), false);
    SettingLine setting;
    return rewrite_lines(
        paths.lock, paths.data, PERSONAL_LINE_SIZE,
        [&](const char* line, LineOutput& out) {
            if (!setting.parse(line)) return LineVerdict::drop;
            for (std::size_t i = 0; i < settings.size(); ++i) {
                if (!setting.has_key(settings[i].key)) continue;
                out.write(settings[i].line.c_str());
                stored[i] = true;
                return LineVerdict::drop;
            }
            return LineVerdict::keep;
        },
        [&](LineOutput& out) {
            for (std::size_t i = 0; i < settings.size(); ++i) {
                if (!stored[i]) out.write(settings[i].line.c_str());
            }
            return STORE_OK;
        });
}

int store_user_settings(const PersonalPaths& paths) {
    auto settings = user_settings(sUSER_MST);
    std::vector<NewSetting> lines;
    for (const UserSetting& field : settings) {
        if (field.number != nullptr) {
            char digits[32];
            std::snprintf(digits, sizeof digits, "%ld", *field.number);
            lines.push_back({field.key, setting_line(field.key, digits)});
        } else {
            // Never read past the field, even if its terminator was overwritten.
            const std::string text(field.text, strnlen(field.text, field.width));
            lines.push_back({field.key, setting_line(field.key, text.c_str())});
        }
    }
    return store_settings(paths, lines);
}

}  // namespace

int Fio_PERSONAL_MST(const char* in_user_id, int sql_mode, const char* in_buff, char* out_buff,
                     std::size_t out_size) {
    if (sql_mode == 1 && out_buff != nullptr && out_size > 0) out_buff[0] = '\0';
    if (in_user_id == nullptr || in_user_id[0] == '\0') return STORE_NOT_FOUND;
    if (in_buff == nullptr || out_buff == nullptr || out_size == 0) return STORE_NOT_FOUND;
    if (sql_mode < 1 || sql_mode > 4) return STORE_NOT_FOUND;
    PersonalPaths paths;
    if (!personal_paths(in_user_id, paths)) return STORE_NOT_FOUND;

    if (sql_mode == 1) return select_setting(paths, in_buff, out_buff, out_size);
    // The value of a write is what the caller's buffer holds, up to its size.
    std::string value(out_buff, strnlen(out_buff, out_size));
    return write_setting(paths, sql_mode, in_buff, value.c_str());
}

int store_personal_setting(const char* in_user_id, const char* key, const char* value) {
    // A write only reads the value from the buffer.
    std::string text(value != nullptr ? value : "");
    if (Fio_PERSONAL_MST(in_user_id, 4, key, text.data(), text.size() + 1) == 0) return 0;
    return Fio_PERSONAL_MST(in_user_id, 2, key, text.data(), text.size() + 1);
}

int store_personal_settings(const char* in_user_id, const PersonalSetting* settings, std::size_t count) {
    if (in_user_id == nullptr || in_user_id[0] == '\0' || settings == nullptr) return STORE_NOT_FOUND;
    PersonalPaths paths;
    if (!personal_paths(in_user_id, paths)) return STORE_NOT_FOUND;
    std::vector<NewSetting> lines;
    for (std::size_t i = 0; i < count; ++i) {
        lines.push_back({settings[i].key, setting_line(settings[i].key, settings[i].value)});
    }
    return store_settings(paths, lines);
}

int raise_personal_counter(const char* in_user_id, const char* key) {
    if (in_user_id == nullptr || in_user_id[0] == '\0') return STORE_NOT_FOUND;
    PersonalPaths paths;
    if (!personal_paths(in_user_id, paths)) return STORE_NOT_FOUND;
    SettingLine setting;
    std::string raised;  // the line every line of the key becomes, set by the first
    return rewrite_lines(
        paths.lock, paths.data, PERSONAL_LINE_SIZE,
        [&](const char* line, LineOutput& out) {
            if (!setting.parse(line)) return LineVerdict::drop;
            if (!setting.has_key(key)) return LineVerdict::keep;
            if (raised.empty()) {
                long n = std::strtol(setting.value(), nullptr, 10);
                if (n < LONG_MAX) ++n;
                raised = setting_line(key, std::to_string(n).c_str());
            }
            out.write(raised.c_str());
            return LineVerdict::drop;
        },
        [&](LineOutput& out) {
            if (raised.empty()) out.write(setting_line(key, "1").c_str());
            return STORE_OK;
        });
}

int Fio_PERSONAL_MST_ALL(const char* in_user_id, int sql_mode) {
    if (in_user_id == nullptr || in_user_id[0] == '\0') return STORE_NOT_FOUND;
    if (sql_mode != 1 && sql_mode != 2 && sql_mode != 4) return STORE_NOT_FOUND;
    PersonalPaths paths;
    if (!personal_paths(in_user_id, paths)) return STORE_NOT_FOUND;

    if (sql_mode == 1) {
        sUSER_MST.USER_DISP_DEF = 5;
        sUSER_MST.MODE = 1;
        sUSER_MST.WRITE_MODE = 1;
        return select_user_settings(paths);
    }
    return store_user_settings(paths);
}
