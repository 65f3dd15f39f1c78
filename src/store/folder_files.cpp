#include "store/folder_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/store_modes.h"
#include "util/bytes.h"

namespace {


using FolderPaths = GuardedFile;

bool folder_paths(FolderPaths& paths, long folder_no, const char* data_name, const char* lock_name) {
    return folder_file_path(paths.data, sizeof paths.data, folder_no, data_name) &&
           folder_file_path(paths.lock, sizeof paths.lock, folder_no, lock_name);
}

// After a cut: a lead byte left without its second byte is no character.
void drop_split_character(char* text) {
    std::size_t i = 0;
    while (text[i] != '\0') {
        if (is_lead_byte(text[i])) {
            if (text[i + 1] == '\0') {
                text[i] = '\0';
                return;
            }
            ++i;
        }
        ++i;
    }
}

// ---- dir.cnf ----------------------------------------------------------------

// Key and value of one setting line. A line without both commas is no setting:
// a select passes it over, a writer leaves it out.
struct Setting {
    // As wide as a line, so a long key is never cut into a false match.
    std::unique_ptr<char[]> key = text_buffer(LINE_SIZE_LARGE);
    std::unique_ptr<char[]> value = text_buffer(LINE_SIZE_LARGE);

    bool parse(const char* line) {
        LineFields fields(line);
        return fields.text(key.get(), LINE_SIZE_LARGE) && fields.text(value.get(), LINE_SIZE_LARGE);
    }
};

int select_setting(const FolderPaths& paths, const char* key, char* value, std::size_t value_size) {
    if (value == nullptr || value_size == 0) return STORE_NOT_FOUND;
    value[0] = '\0';
    bool found = false;
    Setting setting;
    const int result = scan_lines(paths.lock, paths.data, LINE_SIZE_LARGE, [&](const char* line) {
        if (!setting.parse(line) || std::strcmp(setting.key.get(), key) != 0) return true;
        copy_field(value, value_size, setting.value.get());
        if (std::strlen(setting.value.get()) >= value_size) drop_split_character(value);
        found = true;
        return false;
    });
    if (result != STORE_OK) return result;
    return found ? STORE_OK : STORE_NOT_FOUND;
}

int write_setting(const FolderPaths& paths, int sql_mode, const char* key, const char* value) {
    const std::string new_line = LineBuilder().text(key).text(value != nullptr ? value : "").line();
    Setting setting;
    return rewrite_keyed(paths.lock, paths.data, LINE_SIZE_LARGE, sql_mode, new_line.c_str(),
                         {false, STORE_NOT_FOUND}, [&](const char* line) {
                             if (!setting.parse(line)) return LineMatch::malformed;
                             return std::strcmp(setting.key.get(), key) == 0 ? LineMatch::match
                                                                             : LineMatch::other;
                         });
}

// ---- info.txt and defo.txt ----------------------------------------------------

int select_text(const FolderPaths& paths, char* buffer, std::size_t size) {
    std::size_t used = 0;
    bool cut = false;
    // The text has no lines to speak of: no piece of it is too long to read,
    // only the field bounds what is kept.
    const std::size_t any_length = std::numeric_limits<std::size_t>::max();
    const int result = scan_lines(paths.lock, paths.data, any_length, [&](const char* piece) {
        const std::size_t length = std::strlen(piece);
        const std::size_t room = size - 1 - used;
        const std::size_t n = length < room ? length : room;
        std::memcpy(buffer + used, piece, n);
        used += n;
        if (n < length) {
            cut = true;
            return false;
        }
        return true;
    });
    buffer[used] = '\0';
    if (cut) drop_split_character(buffer);
    return result;
}

// The file's content is replaced as a whole, through the engine's temporary
// copy: a crash in between leaves either the old or the new text, never none.
int store_text(const FolderPaths& paths, const char* text) {
    return rewrite_lines(
        paths.lock, paths.data, LINE_SIZE_SMALL, [](const char*, LineOutput&) { return LineVerdict::drop; },
        [text](LineOutput& out) {
            out.write(text);
            return STORE_OK;
        });
}

int remove_text(FolderPaths& paths) {
    FileLock lock(paths.lock);
    if (!lock.held()) return STORE_LOCK_BUSY;
    Cu_remove(paths.data);
    return STORE_OK;
}

int folder_text(long folder_no, int sql_mode, char* buffer, std::size_t size, const char* data_name,
                const char* lock_name) {
    if (sql_mode < MODE_SELECT || sql_mode > MODE_UPDATE) return STORE_NOT_FOUND;
    if (sql_mode != MODE_DELETE && (buffer == nullptr || (sql_mode == MODE_SELECT && size == 0))) {
        return STORE_NOT_FOUND;
    }
    FolderPaths paths;
    if (!folder_paths(paths, folder_no, data_name, lock_name)) return STORE_CANNOT_OPEN;
    switch (sql_mode) {
        case MODE_SELECT:
            return select_text(paths, buffer, size);
        case MODE_DELETE:
            return remove_text(paths);
        default:
            // An insert only follows a failed update; it truncates too, so no
            // tail of a longer old text survives behind the new one.
            return store_text(paths, buffer);
    }
}

}  // namespace

int Fio_DIR_CONFIG(long in_folder_no, int sql_mode, const char* in_buff, char* out_buff,
                   std::size_t out_size) {
    if (sql_mode < MODE_SELECT || sql_mode > MODE_UPDATE) return STORE_NOT_FOUND;
    // Keys are matched as they are written: a comma or line break in a key
    // would otherwise make a line that no later call finds.
    const std::string key = csv_field_text(in_buff);
    FolderPaths paths;
    if (!folder_paths(paths, in_folder_no, "dir.cnf", "dir_cnf.chk")) return STORE_CANNOT_OPEN;
    if (sql_mode == MODE_SELECT) return select_setting(paths, key.c_str(), out_buff, out_size);
    return write_setting(paths, sql_mode, key.c_str(), out_buff);
}

int Fio_DIR_CONFIG_EACH(long in_folder_no,
                        const std::function<void(const char* key, const char* value)>& each) {
    FolderPaths paths;
    if (!folder_paths(paths, in_folder_no, "dir.cnf", "dir_cnf.chk")) return STORE_CANNOT_OPEN;
    Setting setting;
    return scan_lines(paths.lock, paths.data, LINE_SIZE_LARGE, [&](const char* line) {
        if (setting.parse(line)) each(setting.key.get(), setting.value.get());
        return true;
    });
}

int Fio_INFO_TXT(long in_folder_no, int sql_mode, char* in_buff, std::size_t in_size) {
    return folder_text(in_folder_no, sql_mode, in_buff, in_size, "info.txt", "info.chk");
}

int Fio_DEFO_TXT(long in_folder_no, int sql_mode, char* in_buff, std::size_t in_size) {
    return folder_text(in_folder_no, sql_mode, in_buff, in_size, "defo.txt", "defo.chk");
}

// ---- the folder's directory -------------------------------------------------

namespace {

bool folder_directory(long folder_no, char (&path)[DATA_PATH_SIZE]) {
    return folder_file_path(path, sizeof path, folder_no, "");
}

bool is_directory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int make_folder_directory(long in_folder_no) {
    char path[DATA_PATH_SIZE];
    if (!folder_directory(in_folder_no, path)) return STORE_CANNOT_OPEN;
    Cu_mkdir(path);
    return is_directory(path) ? STORE_OK : STORE_CANNOT_OPEN;
}

int remove_folder_directory(long in_folder_no) {
    char path[DATA_PATH_SIZE];
    if (!folder_directory(in_folder_no, path)) return STORE_CANNOT_OPEN;
    Cu_DelDIR(path);
    return is_directory(path) ? STORE_CANNOT_OPEN : STORE_OK;
}

// ---- checking a setting -----------------------------------------------------

int DIR_CONFIG_check(const char* key, const char* value) {
    static const char* const kNumbers[] = {"ATTACH_MAX", "REWRITE_FLG", "RES_PERMIT_FLG", "TIME_LIMIT_FLG",
                                           "DATETIME",   "WRITER_ID",   "HTML_MODE",      "CONFIRM",
                                           "LINE_RES",   "NICK_NAME",   "SHARE_USER_PERMIT"};
    struct Text {
        const char* key;
        std::size_t width;
    };
    static const Text kTexts[] = {
        {"RES_HEADER", sizeof(DIR_CONFIG::RES_HEADER)}, {"TITLEPIC", sizeof(DIR_CONFIG::TITLEPIC)},
        {"BACKPIC1", sizeof(DIR_CONFIG::BACKPIC1)},     {"BACKPIC2", sizeof(DIR_CONFIG::BACKPIC2)},
        {"BACKPIC3", sizeof(DIR_CONFIG::BACKPIC3)},     {"FONTCOLOR1", sizeof(DIR_CONFIG::FONTCOLOR1)},
        {"FONTCOLOR2", sizeof(DIR_CONFIG::FONTCOLOR2)}, {"RESFONTCOLOR2", sizeof(DIR_CONFIG::RESFONTCOLOR2)},
        {"FONTCOLOR3", sizeof(DIR_CONFIG::FONTCOLOR3)}, {"RESFONTCOLOR3", sizeof(DIR_CONFIG::RESFONTCOLOR3)},
        {"FRAMESET1", sizeof(DIR_CONFIG::FRAMESET1)},   {"FRAMESET2", sizeof(DIR_CONFIG::FRAMESET2)},
        {"FRAMESET3", sizeof(DIR_CONFIG::FRAMESET3)},
        {"LINK_TARGET", sizeof(DIR_CONFIG::RES_HEADER)},  // as much as the settings form keeps
    };
    if (key == nullptr || value == nullptr) return -1;
    for (const char* number : kNumbers) {
        if (std::strcmp(key, number) != 0) continue;
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(value, &end, 10);
        const bool whole = value[0] != '\0' && *end == '\0' && errno == 0;
        return whole && n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max() ? 0 : -2;
    }
    for (const Text& text : kTexts) {
        if (std::strcmp(key, text.key) != 0) continue;
        if (std::strlen(value) >= text.width) return -2;
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p != '\0'; ++p) {
            if (*p < 0x20 || *p == 0x7F || *p == ',') return -2;
        }
        return 0;
    }
    return -1;
}
