// Storing what the compose form sends (JOB "BWRITE_NEWWR", "BWRITE_RESWR",
// "BWRITE_REWWR") and deleting a message (JOB "BWRITE_DELWR").
#include "screens/posting.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cgi/request_parser.h"
#include "config/sysinfo.h"
#include "request/request_state.h"
#include "screens/screen_common.h"
#include "store/confirmations.h"
#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "store/personal_settings.h"
#include "store/read_marks.h"
#include "store/store_modes.h"
#include "store/system_log.h"
#include "util/bytes.h"
#include "util/dates.h"
#include "util/text_helpers.h"

namespace {

constexpr int kNewMessage = 1;
constexpr int kReply = 2;
constexpr int kEdit = 3;
constexpr int kDelete = 4;

constexpr int kNoRight = 1;
constexpr int kTitleEmpty = 2;
constexpr int kWriterEmpty = 3;
constexpr int kBadLimitDate = 5;
constexpr int kRequestRefused = -8;

constexpr std::size_t kNumberSize = 4002;
constexpr std::size_t kLineSize = 82;
constexpr std::size_t kLimitDateSize = 20;
constexpr std::size_t kCheckBoxSize = 1000;
// An upload's value is the client's file name (up to 999 bytes from the
// parser), a comma and the temporary path: read whole, so the path is never cut.
constexpr std::size_t kUploadValueSize = 1000 + DATA_PATH_SIZE;

// Slot directories are named "atfile%02d".
constexpr int kMaxSlots = 99;

int32_t clamp32(long n) {
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(n);
}

// The number at characters [pos, pos + len) of a date text; 0 when it holds none.
long date_part(const char* date, std::size_t pos, std::size_t len) {
    char piece[8] = "";
    const std::size_t have = std::strlen(date);
    if (pos >= have) return 0;
    copy_field(piece, std::min(len, have - pos) + 1, date + pos);
    return std::strtol(piece, nullptr, 10);
}

// Checked by position only: year from 1999, month 1-12, day 1-31.
bool valid_limit_date(const char* date) {
    return date_part(date, 0, 4) >= 1999 && date_part(date, 5, 2) >= 1 &&
           date_part(date, 5, 2) <= 12 && date_part(date, 8, 2) >= 1 && date_part(date, 8, 2) <= 31;
}

void remove_file(const char* path) {
    PathBuffer buffer = make_path(path);
    Cu_remove(buffer.text);
}

struct Upload {
    int slot = 0;
    char name[sizeof ADD_FILE::FILE_NAME] = "";
    char temporary[DATA_PATH_SIZE] = "";
    bool moved = false;
};

// The uploads of this request, one per slot that got a file. Temporary files
// not moved into place by the end of the request are removed, so a refused
// post leaves none behind.
class Uploads {
public:
    Uploads() = default;
    Uploads(const Uploads&) = delete;
    Uploads& operator=(const Uploads&) = delete;
    ~Uploads() {
        for (Upload& upload : list_) {
            if (!upload.moved && upload.temporary[0] != '\0') remove_file(upload.temporary);
        }
    }
    std::vector<Upload>& list() { return list_; }
    const Upload* slot(int n) const {
        if (n < 1) return nullptr;
        for (const Upload& upload : list_) {
            if (upload.slot == n) return &upload;
        }
        return nullptr;
    }

private:
    std::vector<Upload> list_;
};

// The upload of a file field, its client's name made a bare, safe file name
// (control characters made '_') short enough for the attachment record. False
// when the value names no upload file or no safe name is left.
bool read_upload(const char* value, Upload& upload) {
    std::string name;
    std::string temporary;
    if (!split_upload_value(value, name, temporary)) return false;
    copy_field(upload.temporary, temporary.c_str());
    std::vector<char> bare(name.begin(), name.end());
    for (char& c : bare) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    }
    bare.push_back('\0');
    G_setStrlength(bare.data(), sizeof upload.name);
    copy_field(upload.name, bare.data());
    return is_safe_path_component(upload.name);
}

// Every "ATFILE" field of the request; the n-th names slot n + 1. Uploads
// past the folder's slots get slot 0: they are not stored, only removed.
// False when an upload of a slot cannot be stored under a safe name.
bool read_uploads(int slots, Uploads& uploads) {
    bool all_safe = true;
    char value[kUploadValueSize];
    for (int n = 1; cgi_getvalue("ATFILE", n - 1, value, sizeof value) == 0; ++n) {
        if (value[0] == '\0') continue;
        Upload upload;
        upload.slot = n <= slots ? n : 0;
        if (!read_upload(value, upload) && upload.slot != 0) all_safe = false;
        // Even a refused upload's temporary file is known, to be removed.
        uploads.list().push_back(upload);
    }
    return all_safe;
}

bool keep_box_ticked(int slot) {
    char name[24];  // "ATFILE" and any int
    std::snprintf(name, sizeof name, "ATFILE%d", slot);
    char value[kCheckBoxSize] = "";
    cgi_getvalue(name, 0, value, sizeof value);
    return value[0] != '\0';
}

int attachment_slots() {
    const int32_t n = G_DIR_CONFIG.ATTACH_MAX;
    if (n < 0) return 0;
    return n > kMaxSlots ? kMaxSlots : n;
}

bool is_writer(const BBS_IDX& message) {
    return std::strcmp(message.WRITER_ID, G_USER_MST.USER_ID) == 0 && G_USER_MST.MODE == 1;
}

void remove_slot_dir(long sel_no, int slot) {
    char path[DATA_PATH_SIZE];
    if (attachment_dir_path(path, sizeof path, cgi_FOLDER_NO, sel_no, slot)) Cu_DelDIR(path);
}

void drop_attachment(long sel_no, int slot) {
    sADD_FILE = ADD_FILE{};
    sADD_FILE.SEL_NO = clamp32(sel_no);
    sADD_FILE.SUB_NO = slot;
    Fio_ADD_FILE_TXT(cgi_FOLDER_NO, MODE_DELETE);
    remove_slot_dir(sel_no, slot);
}

// Moves an upload into its fresh slot directory and records it. When the
// file cannot be put there, the slot (emptied already) loses its record too,
// so no record names a file that is not there.
void store_attachment(long sel_no, Upload& upload) {
    remove_slot_dir(sel_no, upload.slot);
    char directory[DATA_PATH_SIZE];
    char target[DATA_PATH_SIZE];
    if (attachment_dir_path(directory, sizeof directory, cgi_FOLDER_NO, sel_no, upload.slot) &&
        attachment_file_path(target, sizeof target, cgi_FOLDER_NO, sel_no, upload.slot,
                             upload.name)) {
        Cu_mkdir(directory);
        upload.moved = Fio_filemove(upload.temporary, target) == 0;
    }
    if (!upload.moved) {
        drop_attachment(sel_no, upload.slot);
        return;
    }
    sADD_FILE = ADD_FILE{};
    sADD_FILE.SEL_NO = clamp32(sel_no);
    sADD_FILE.SUB_NO = upload.slot;
    copy_field(sADD_FILE.FILE_NAME, upload.name);
    store_add_file(cgi_FOLDER_NO);
}

void log_post(int type, long sel_no) {
    static const char* const kActions[] = {"new", "res", "edit"};
    char action[sizeof SYSTEM_LOG::ACTION];
    std::snprintf(action, sizeof action, "%s write folder_no[%ld] sel_no[%ld]", kActions[type - 1],
                  cgi_FOLDER_NO, sel_no);
    system_log_event(G_USER_MST.USER_ID, G_USER_MST.USER_NAME, action, std::getenv("REMOTE_ADDR"),
                     std::getenv("HTTP_USER_AGENT"));
}

// Read, raised and stored under one lock: two posts of one user at the same
// moment both count (a select, then an update, would lose one of them).
void count_write() { raise_personal_counter(G_USER_MST.USER_ID, "TOTAL_WRITE_COUNT"); }

// A message the request names: it must be one of the folder's, and not
// already deleted (a place holder kept for its replies is no message to
// answer, edit or delete). The record is copied out of the module buffer.
int select_message(long sel_no, BBS_IDX& message) {
    if (sel_no < 1 || sel_no > INT32_MAX) return STORE_NOT_FOUND;
    sBBS_IDX = BBS_IDX{};
    sBBS_IDX.FOLDER_NO = clamp32(cgi_FOLDER_NO);
    sBBS_IDX.SEL_NO = clamp32(sel_no);
    // The write that follows waits for the index as long as a writer does;
    // the read before it must not give up sooner, or a busy folder refuses
    // replies while it still takes new posts.
    int result = STORE_LOCK_BUSY;
    for (int waits = 0; result == STORE_LOCK_BUSY && waits < LOCK_WRITER_WAIT_MS / LOCK_READER_WAIT_MS;
         ++waits) {
        result = Fio_BBS_IDX(MODE_SELECT);
    }
    if (result != STORE_OK) return result;
    if (sBBS_IDX.SEL_NO != sel_no || sBBS_IDX.DEL_FLG == 1) return STORE_NOT_FOUND;
    message = sBBS_IDX;
    return STORE_OK;
}

int delete_message(long sel_no) {
    BBS_IDX message;
    const int found = select_message(sel_no, message);
    if (found != STORE_OK) return found;
    // Up to folder administrators, only the writer may delete.
    if (ACL_LEVEL <= 7 && !is_writer(message)) return kNoRight;
    sBBS_IDX = message;
    // Only the message checked above: a second click after the first freed
    // the number must not delete a new post under it.
    const int result = Fio_BBS_IDX_DELETE([sel_no] { remove_message_dir(cgi_FOLDER_NO, sel_no); }, &message);
    if (result != STORE_OK) return result;
    // Nobody is left with an unread mark for a message that is gone.
    read_marks_for_all_users(cgi_FOLDER_NO, sel_no, 1, MarkResize::to_count,
                             Fio_BBS_IDX_MAXCOUNT(cgi_FOLDER_NO, 1));
    return STORE_OK;
}

}  // namespace

int b_BWRITEWR(int type) {
    // Uploads not stored by the end are removed on every way out. A request
    // the parser refused (oversize, or more files or pairs than it keeps)
    // holds no upload file: the parser created none or removed its own, so
    // the paths its pairs name are nobody's to take or remove.
    const int slots = attachment_slots();
    Uploads uploads;
    const bool safe_uploads = g_cgi_get_res != 0 || read_uploads(slots, uploads);

    if (type < kNewMessage || type > kDelete) return kNoRight;
    if (ACL_LEVEL <= 1) return kNoRight;
    if (type == kReply && G_DIR_CONFIG.RES_PERMIT_FLG == 1) return kNoRight;

    // A new message answers nothing, whatever a hand-made request says: else
    // it would be a reply that the folder's ban on replies does not see.
    const long sel_no = type == kNewMessage ? 0 : request_number("SEL_NO", kNumberSize);
    const int32_t html_mode = clamp32(request_number("HTML_MODE", kNumberSize));
    const int32_t priority = clamp32(request_number("WRITE_PRIORITY", kNumberSize));
    int32_t confirm = clamp32(request_number("CONFIRM", kNumberSize));
    char title[kLineSize] = "";
    char writer_name[kLineSize] = "";
    char limit_date[kLimitDateSize] = "";
    cgi_getvalue("WRITE_TITLE", 0, title, sizeof title);
    cgi_getvalue("WRITER_NAME", 0, writer_name, sizeof writer_name);
    cgi_getvalue("WRITE_DATA", 0, G_WRITE_DATA, sizeof G_WRITE_DATA);
    cgi_getvalue("TIME_LIMIT_DATE", 0, limit_date, sizeof limit_date);
    if (G_DIR_CONFIG.NICK_NAME == 0) copy_field(writer_name, G_USER_MST.USER_NAME);

    if (type != kDelete) {
        if (title[0] == '\0') return kTitleEmpty;
        if (writer_name[0] == '\0') return kWriterEmpty;
    }
    if (G_DIR_CONFIG.TIME_LIMIT_FLG == 0) limit_date[0] = '\0';
    // The form's choice counts only where the folder offers it.
    if (G_DIR_CONFIG.CONFIRM != 1) confirm = G_DIR_CONFIG.CONFIRM;
    if (limit_date[0] != '\0' && !valid_limit_date(limit_date)) return kBadLimitDate;

    if (type == kDelete) return delete_message(sel_no);
    if (g_cgi_get_res != 0) return kRequestRefused;
    // An upload that cannot be stored under a safe name refuses the post.
    if (!safe_uploads) return STORE_CANNOT_OPEN;

    BBS_IDX stored{};
    if (type == kEdit) {
        const int found = select_message(sel_no, stored);
        if (found != STORE_OK) return found;
        if (G_DIR_CONFIG.REWRITE_FLG != 2 || !is_writer(stored)) return kNoRight;
        Fio_CONFIRM_TXT_DELETE(cgi_FOLDER_NO, sel_no);
        // The new text is unread for everybody (the writer's mark follows below).
        read_marks_for_all_users(cgi_FOLDER_NO, sel_no, 0, MarkResize::none, -1);
    } else if (type == kReply) {
        // The message answered must be one of the folder's, and not deleted.
        BBS_IDX parent;
        const int found = select_message(sel_no, parent);
        if (found != STORE_OK) return found;
    }

    int32_t attachments = 0;
    for (int n = 1; n <= slots; ++n) {
        if (uploads.slot(n) != nullptr || keep_box_ticked(n)) ++attachments;
    }

    BBS_IDX record = type == kEdit ? stored : BBS_IDX{};
    if (type != kEdit) {
        record.UP_NO = 0;
        record.BBS_G_NO = 0;
        record.CLASS = 0;
        record.RES_COUNT = 0;
    }
    record.FOLDER_NO = clamp32(cgi_FOLDER_NO);
    record.SEL_NO = clamp32(sel_no);
    record.HTML_MODE = html_mode;
    record.WRITE_PRIORITY = priority;
    char now[20] = "";
    Tm_set_date(now);
    copy_field(record.WRITE_DATE, now);
    copy_field(record.WRITER_ID, G_USER_MST.USER_ID);
    copy_field(record.WRITER_NAME, writer_name);
    copy_field(record.WRITE_TITLE, title);
    record.CONFIRM = confirm;
    record.DEL_FLG = 0;
    copy_field(record.TIME_LIMIT_DATE, limit_date);
    record.ADD_FILE = attachments;

    // The body and the attachments. A new message's go in under the folder's
    // lock before its insert stands, so it is never listed without them.
    const auto place_files = [&](long message_no) {
        if (type != kEdit) fresh_message_dir(cgi_FOLDER_NO, message_no);
        const int body = Fio_BODY_TXT(cgi_FOLDER_NO, message_no, type == kEdit ? MODE_UPDATE : MODE_INSERT,
                                      G_WRITE_DATA);
        if (body != STORE_OK) return body;
        for (int n = 1; n <= slots; ++n) {
            for (Upload& upload : uploads.list()) {
                if (upload.slot == n) store_attachment(message_no, upload);
            }
            if (type == kEdit && uploads.slot(n) == nullptr && !keep_box_ticked(n)) {
                drop_attachment(message_no, n);
            }
        }
        return STORE_OK;
    };
    sBBS_IDX = record;
    // An edit changes the message read above only: not one deleted since, nor
    // a new post that took its number after a delete.
    const int written = type == kEdit ? Fio_BBS_IDX_UPDATE(stored) : Fio_BBS_IDX_INSERT(place_files);
    if (written != STORE_OK) return written;
    const long message_no = sBBS_IDX.SEL_NO;
    if (type == kEdit) {
        const int placed = place_files(message_no);
        if (placed != STORE_OK) return placed;
    }

    sREAD_INDEX.READ_CHK = 1;
    if (Fio_READ_INDEX(G_USER_MST.USER_ID, cgi_FOLDER_NO, message_no, MODE_INSERT) != STORE_OK) {
        sREAD_INDEX.READ_CHK = 1;
        Fio_READ_INDEX(G_USER_MST.USER_ID, cgi_FOLDER_NO, message_no, MODE_UPDATE);
    }
    log_post(type, message_no);
    if (type != kEdit) count_write();
    return 0;
}
