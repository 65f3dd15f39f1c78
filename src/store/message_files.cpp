#include "store/message_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/sysinfo.h"
#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/store_modes.h"
#include "util/bytes.h"

ADD_FILE sADD_FILE;

namespace {


constexpr std::size_t PATH_SIZE = 1200;
constexpr std::size_t PIECE_SIZE = 1000;  // the unit bodies are written and uploads copied in

bool fits(int written, char* out, std::size_t out_size) {
    if (written >= 0 && static_cast<std::size_t>(written) < out_size) return true;
    if (out_size > 0) out[0] = '\0';
    return false;
}

// Replaces the whole content of path by length bytes through "<path>.tmp",
// which takes the file's name with one rename(): a reader sees the old text or
// the new one, never a half-written file, and a power loss leaves one of them. The caller holds the file's lock.
int replace_whole_file(const char* path, const char* data, std::size_t length) {
    char temp[PATH_SIZE];
    if (!fits(std::snprintf(temp, sizeof temp, "%s.tmp", path), temp, sizeof temp)) {
        return STORE_CANNOT_OPEN;
    }
    Cu_remove(temp);
    const int fh = Cu_b_open(temp, 1);
    if (fh < 0) return STORE_CANNOT_OPEN;
    bool failed = false;
    for (std::size_t done = 0; done < length && !failed;) {
        const std::size_t piece = length - done < PIECE_SIZE ? length - done : PIECE_SIZE;
        failed = Cu_b_write(fh, data + done, piece) != static_cast<long>(piece);
        done += piece;
    }
    if (Cu_b_close(fh) != 0) failed = true;
    char target[PATH_SIZE];
    copy_field(target, path);
    if (failed || Cu_replace_durably(temp, target) != 0) {
        Cu_remove(temp);
        return STORE_CANNOT_OPEN;
    }
    return STORE_OK;
}

// One open and one read: the search reads every body of a folder this way.
// A read of a regular file that returns less than was asked for has reached
// the end (the program catches no signal that could cut a read short), so no
// second read and no fstat are needed to find it.
int read_whole_file(char* path, char* in_buff, std::size_t in_size) {
    if (in_size > 0) in_buff[0] = '\0';
    const int fh = Cu_b_open(path, 1);
    if (fh < 0) return STORE_CANNOT_OPEN;
    // A body longer than the buffer is cut: the reader never writes past it.
    const std::size_t room = in_size > 0 ? in_size - 1 : 0;
    std::size_t used = 0;
    while (used < room) {
        const long got = Cu_b_read(fh, in_buff + used, room - used);
        if (got <= 0) break;
        const bool short_read = static_cast<std::size_t>(got) < room - used;
        used += static_cast<std::size_t>(got);
        if (short_read) break;
    }
    if (in_size > 0) in_buff[used] = '\0';
    Cu_b_close(fh);
    return STORE_OK;
}

bool parse_add_file(const char* line, ADD_FILE& record) {
    record = ADD_FILE{};
    LineFields fields(line);
    return fields.number(record.SEL_NO) && fields.number(record.SUB_NO) &&
           fields.text(record.FILE_NAME);
}

bool same_key(const ADD_FILE& a, const ADD_FILE& b) {
    return a.SEL_NO == b.SEL_NO && a.SUB_NO == b.SUB_NO;
}

}  // namespace

// ---- paths -------------------------------------------------------------------

bool message_dir_path(char* out, std::size_t out_size, long folder_no, long sel_no) {
    return fits(std::snprintf(out, out_size, "%s%ld\\x%ld", SYSINFO.DATA_FILE_PATH, folder_no,
                              sel_no),
                out, out_size);
}

void remove_message_dir(long folder_no, long sel_no) {
    char path[DATA_PATH_SIZE];
    if (message_dir_path(path, sizeof path, folder_no, sel_no)) Cu_DelDIR(path);
}

void fresh_message_dir(long folder_no, long sel_no) {
    char path[DATA_PATH_SIZE];
    if (!message_dir_path(path, sizeof path, folder_no, sel_no)) return;
    Cu_DelDIR(path);
    Cu_mkdir(path);
}

bool message_dir_missing(long folder_no, long sel_no) {
    char path[DATA_PATH_SIZE];
    if (!message_dir_path(path, sizeof path, folder_no, sel_no)) return false;
    yen_to_sura(path);
    struct stat st;
    return ::stat(path, &st) != 0 && errno == ENOENT;
}

bool message_file_path(char* out, std::size_t out_size, long folder_no, long sel_no,
                       const char* file) {
    return fits(std::snprintf(out, out_size, "%s%ld\\x%ld\\%s", SYSINFO.DATA_FILE_PATH,
                              folder_no, sel_no, file),
                out, out_size);
}

bool attachment_dir_path(char* out, std::size_t out_size, long folder_no, long sel_no,
                         long sub_no) {
    return fits(std::snprintf(out, out_size, "%s%ld\\x%ld\\atfile%02ld", SYSINFO.DATA_FILE_PATH,
                              folder_no, sel_no, sub_no),
                out, out_size);
}

bool attachment_file_path(char* out, std::size_t out_size, long folder_no, long sel_no,
                          long sub_no, const char* file_name) {
    if (!is_safe_path_component(file_name)) return fits(-1, out, out_size);
    return fits(std::snprintf(out, out_size, "%s%ld\\x%ld\\atfile%02ld\\%s",
                              SYSINFO.DATA_FILE_PATH, folder_no, sel_no, sub_no, file_name),
                out, out_size);
}

bool folder_picture_dir_path(char* out, std::size_t out_size, long folder_no) {
    return fits(std::snprintf(out, out_size, "%s%ld\\fcg", SYSINFO.DATA_FILE_PATH, folder_no),
                out, out_size);
}

bool folder_picture_path(char* out, std::size_t out_size, long folder_no, const char* file_name) {
    if (!is_safe_path_component(file_name)) return fits(-1, out, out_size);
    return fits(std::snprintf(out, out_size, "%s%ld\\fcg\\%s", SYSINFO.DATA_FILE_PATH, folder_no,
                              file_name),
                out, out_size);
}

// ---- body.txt ------------------------------------------------------------------

int Fio_BODY_TXT(long in_folder_no, long in_sel_no, int sql_mode, char* in_buff,
                 std::size_t in_size) {
    char lock_path[PATH_SIZE];
    char data_path[PATH_SIZE];
    if (!message_file_path(lock_path, sizeof lock_path, in_folder_no, in_sel_no, "body.chk") ||
        !message_file_path(data_path, sizeof data_path, in_folder_no, in_sel_no, "body.txt")) {
        return STORE_CANNOT_OPEN;
    }
    if (sql_mode == MODE_SELECT) {
        if (lock_is_busy(lock_path)) return STORE_LOCK_BUSY;
        return read_whole_file(data_path, in_buff, in_size);
    }
    FileLock lock(lock_path);
    if (!lock.held()) return STORE_LOCK_BUSY;
    switch (sql_mode) {
        case MODE_DELETE:
            Cu_remove(data_path);
            return STORE_OK;
        case MODE_INSERT:  // truncates as well: a shorter new text leaves no old tail
        case MODE_UPDATE:
            return replace_whole_file(data_path, in_buff, std::strlen(in_buff));
        default:
            return STORE_NOT_FOUND;
    }
}

// ---- add_file.txt --------------------------------------------------------------

namespace {
int change_add_file(long in_folder_no, int sql_mode, bool append_on_miss);
}

int Fio_ADD_FILE_TXT(long in_folder_no, int sql_mode) { return change_add_file(in_folder_no, sql_mode, false); }

int store_add_file(long in_folder_no) { return change_add_file(in_folder_no, MODE_UPDATE, true); }

namespace {

int change_add_file(long in_folder_no, int sql_mode, bool append_on_miss) {
    char lock_path[PATH_SIZE];
    char data_path[PATH_SIZE];
    if (!message_file_path(lock_path, sizeof lock_path, in_folder_no, sADD_FILE.SEL_NO,
                           "add_file.chk") ||
        !message_file_path(data_path, sizeof data_path, in_folder_no, sADD_FILE.SEL_NO,
                           "add_file.txt")) {
        return STORE_CANNOT_OPEN;
    }
    const ADD_FILE key = sADD_FILE;

    if (sql_mode == MODE_SELECT) {
        sADD_FILE.FILE_NAME[0] = '\0';
        bool found = false;
        const int result = scan_lines(lock_path, data_path, LINE_SIZE_LARGE, [&](const char* line) {
            ADD_FILE record;
            if (!parse_add_file(line, record)) return true;
            if (!same_key(record, key)) return true;
            copy_field(sADD_FILE.FILE_NAME, record.FILE_NAME);
            found = true;
            return false;
        });
        if (result != STORE_OK) return result;
        return found ? STORE_OK : STORE_NOT_FOUND;
    }
    if (sql_mode != MODE_INSERT && sql_mode != MODE_DELETE && sql_mode != MODE_UPDATE) {
        return STORE_NOT_FOUND;
    }
    // The name is later joined to the slot directory; one that could climb out
    // of it is never stored.
    if (sql_mode != MODE_DELETE && !is_safe_path_component(key.FILE_NAME)) return STORE_CANNOT_OPEN;

    LineBuilder builder;
    const char* new_line =
        builder.number(key.SEL_NO).number(key.SUB_NO).text(key.FILE_NAME).line();
    return rewrite_keyed(lock_path, data_path, LINE_SIZE_LARGE, sql_mode, new_line,
                         {false, STORE_NOT_FOUND, append_on_miss}, [&](const char* line) {
                             ADD_FILE record;
                             if (!parse_add_file(line, record)) return LineMatch::malformed;
                             return same_key(record, key) ? LineMatch::match : LineMatch::other;
                         });
}

}  // namespace

// ---- moving an upload into place ---------------------------------------------

int Fio_filemove(const char* FileSRC, const char* FileDSC) {
    char source[PATH_SIZE];
    char target[PATH_SIZE];
    if (FileSRC == nullptr || FileDSC == nullptr || std::strlen(FileSRC) >= sizeof source ||
        std::strlen(FileDSC) >= sizeof target) {
        return -1;
    }
    copy_field(source, FileSRC);
    copy_field(target, FileDSC);

    // Only an existing source: creating a missing one would store an empty
    // attachment and report success.
    const int in = Cu_b_open(source, 0);
    if (in < 0) return -1;
    Cu_remove(target);
    // Uploads wait in the data directory, so a rename moves them: no copy of
    // the bytes and no new file to allocate. A copy remains for a target on
    // another file system.
    if (Cu_rename(source, target) == 0) {
        Cu_b_close(in);
        Cu_chmod(target, "777");
        return 0;
    }
    const int out = Cu_b_open(target, 1);
    if (out < 0) {
        Cu_b_close(in);
        return -1;
    }
    char piece[PIECE_SIZE];
    bool failed = false;
    for (;;) {
        const long got = Cu_b_read(in, piece, sizeof piece);
        if (got < 0) failed = true;
        if (got <= 0) break;
        if (Cu_b_write(out, piece, static_cast<std::size_t>(got)) != got) {
            failed = true;
            break;
        }
    }
    Cu_b_close(in);
    if (Cu_b_close(out) != 0) failed = true;
    if (failed) {
        // The upload stays where it was; a half copy is not left as the attachment.
        Cu_remove(target);
        return -1;
    }
    Cu_remove(source);
    Cu_chmod(target, "777");
    return 0;
}
