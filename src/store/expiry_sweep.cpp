#include "store/expiry_sweep.h"

#include <cstdio>
#include <cstring>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "store/read_marks.h"
#include "util/bytes.h"
#include "util/dates.h"

namespace {

constexpr std::size_t PATH_SIZE = 1200;
constexpr std::size_t DATE_PART = 10;  // "YYYY/MM/DD"

bool same_day(const char* a, const char* b) { return std::strncmp(a, b, DATE_PART) == 0; }

// False when the file does not exist (or cannot be read).
bool read_last_sweep(const char* path, char* text, std::size_t text_size) {
    char buffer[PATH_SIZE];
    copy_field(buffer, path);
    text[0] = '\0';
    FILE* file = Cu_fopen(buffer, "r");
    if (file == nullptr) return false;
    if (std::fgets(text, static_cast<int>(text_size), file) == nullptr) text[0] = '\0';
    std::fclose(file);
    return true;
}

bool write_last_sweep(const char* path, const char* now) {
    char buffer[PATH_SIZE];
    copy_field(buffer, path);
    FILE* file = Cu_fopen(buffer, "w+");
    if (file == nullptr) return false;
    const std::size_t length = std::strlen(now);
    const bool written = std::fwrite(now, 1, length, file) == length;
    return std::fclose(file) == 0 && written;
}

// The message as the sweep read it: one changed or deleted since stays.
int delete_expired(long folder_no, long sel_no, const BBS_IDX& message) {
    sBBS_IDX = message;
    sBBS_IDX.FOLDER_NO = static_cast<int32_t>(folder_no);
    sBBS_IDX.SEL_NO = static_cast<int32_t>(sel_no);
    // A message the index still holds keeps its body and marks. A number
    // given out again must not inherit the old body, attachments,
    // confirmations and one-line replies.
    const int deleted =
        Fio_BBS_IDX_DELETE([folder_no, sel_no] { remove_message_dir(folder_no, sel_no); }, &message);
    if (deleted != STORE_OK) return deleted;

    read_marks_for_all_users(folder_no, sel_no, 1, MarkResize::shrink_only,
                             Fio_BBS_IDX_MAXCOUNT(folder_no, 1));
    return STORE_OK;
}

// 0, or the failure of the first read or delete that did not go through.
int sweep_folder(long folder_no, const char* now) {
    int result = STORE_OK;
    const long count = Fio_BBS_IDX_MAXCOUNT(folder_no, 1);
    if (count < 0) return static_cast<int>(count);
    for (long sel_no = 1; sel_no <= count; ++sel_no) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = static_cast<int32_t>(folder_no);
        sBBS_IDX.SEL_NO = static_cast<int32_t>(sel_no);
        const int selected = Fio_BBS_IDX(1);
        // A busy index ends the sweep: each read waits for the lock, and a
        // writer's lock left by a crash would make every one of thousands of
        // reads wait its full second. The next visit sweeps again.
        if (selected == STORE_LOCK_BUSY) return selected;
        if (selected != STORE_OK) {
            // Gone since the count (the last one removed) is fine.
            if (selected != STORE_NOT_FOUND && result == STORE_OK) result = selected;
            continue;
        }
        if (sBBS_IDX.DEL_FLG != 0 || sBBS_IDX.TIME_LIMIT_DATE[0] == '\0') continue;
        // Byte by byte on the date part: expired once the limit day is over.
        if (std::strncmp(now, sBBS_IDX.TIME_LIMIT_DATE, DATE_PART) <= 0) continue;
        const BBS_IDX expired = sBBS_IDX;
        const int deleted = delete_expired(folder_no, sel_no, expired);
        if (deleted == STORE_LOCK_BUSY) return deleted;
        // Changed or deleted since the read: left to the next day's sweep.
        if (deleted == STORE_NOT_FOUND) continue;
        if (result == STORE_OK) result = deleted;
    }
    return result;
}

}  // namespace

namespace {

// force: sweep even when chkdate.txt says today, or is missing.
int sweep(long folder_no, bool force) {
    char now[TM_TEXT_SIZE];
    Tm_set_date(now);
    char date_path[PATH_SIZE];
    char lock_path[PATH_SIZE];
    if (!folder_file_path(date_path, sizeof date_path, folder_no, "chkdate.txt") ||
        !folder_file_path(lock_path, sizeof lock_path, folder_no, "chkdate.chk")) {
        return STORE_CANNOT_OPEN;
    }

    char last[64];
    if (!force) {
        if (!read_last_sweep(date_path, last, sizeof last)) {
            // The first visit only records the day.
            return write_last_sweep(date_path, now) ? STORE_OK : STORE_CANNOT_OPEN;
        }
        if (same_day(last, now)) return STORE_OK;
    }

    FileLock lock(lock_path);
    if (!lock.held()) return STORE_LOCK_BUSY;
    // Another process may have swept while this one waited for the lock.
    if (!force && read_last_sweep(date_path, last, sizeof last) && same_day(last, now)) return STORE_OK;

    // A message that could not be deleted (the index busy or not writable) is
    // tried again on the next visit: the day is recorded only when all went.
    const int swept = sweep_folder(folder_no, now);
    if (swept != STORE_OK) return swept;
    return write_last_sweep(date_path, now) ? STORE_OK : STORE_CANNOT_OPEN;
}

}  // namespace

int Fio_CHK_DATE_TXT(long in_folder_no) { return sweep(in_folder_no, false); }

int sweep_expired_messages(long in_folder_no) { return sweep(in_folder_no, true); }
