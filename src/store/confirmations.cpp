#include "store/confirmations.h"

#include <cstring>

#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/message_files.h"
#include "store/file_primitives.h"
#include "store/store_modes.h"
#include "store/data_paths.h"
#include "util/bytes.h"

CONFIRM_TXT sCONFIRM_TXT;
CONFIRM_TXT100 sCONFIRM_TXT100[CONFIRM_BATCH];

namespace {

using ConfirmPaths = GuardedFile;

bool confirm_paths(long folder_no, long sel_no, ConfirmPaths& paths) {
    return message_file_path(paths.lock, sizeof paths.lock, folder_no, sel_no, "confirm.chk") &&
           message_file_path(paths.data, sizeof paths.data, folder_no, sel_no, "confirm.txt");
}

bool parse_confirm(const char* line, CONFIRM_TXT100& record) {
    record = CONFIRM_TXT100{};
    LineFields fields(line);
    return fields.text(record.USER_ID) && fields.number(record.CONFIRM_LEVEL) &&
           fields.text(record.USER_NAME);
}

int select_confirmation(const ConfirmPaths& paths) {
    sCONFIRM_TXT.CONFIRM_LEVEL = 0;
    sCONFIRM_TXT.USER_NAME[0] = '\0';
    bool found = false;
    const int result = scan_lines(paths.lock, paths.data, LINE_SIZE_LARGE, [&](const char* line) {
        CONFIRM_TXT100 record;
        if (!parse_confirm(line, record)) return true;
        if (std::strcmp(record.USER_ID, sCONFIRM_TXT.USER_ID) != 0) return true;
        if (record.USER_NAME[0] == '\0') return false;  // ends the search without a result
        sCONFIRM_TXT.CONFIRM_LEVEL = record.CONFIRM_LEVEL;
        copy_field(sCONFIRM_TXT.USER_NAME, record.USER_NAME);
        found = true;
        return false;
    });
    if (result != STORE_OK) return result;
    return found ? STORE_OK : STORE_NOT_FOUND;
}

int write_confirmation(const ConfirmPaths& paths, int sql_mode) {
    const CONFIRM_TXT key = sCONFIRM_TXT;
    LineBuilder builder;
    const char* new_line =
        builder.text(key.USER_ID).number(key.CONFIRM_LEVEL).text(key.USER_NAME).line();
    return rewrite_keyed(paths.lock, paths.data, LINE_SIZE_LARGE, sql_mode, new_line,
                         {false, STORE_NOT_FOUND}, [&](const char* line) {
                             CONFIRM_TXT100 record;
                             if (!parse_confirm(line, record)) return LineMatch::malformed;
                             return std::strcmp(record.USER_ID, key.USER_ID) == 0 ? LineMatch::match
                                                                                 : LineMatch::other;
                         });
}

}  // namespace

int Fio_CONFIRM_TXT(int sql_mode) {
    ConfirmPaths paths;
    if (!confirm_paths(sCONFIRM_TXT.FOLDER_NO, sCONFIRM_TXT.SEL_NO, paths)) return STORE_CANNOT_OPEN;
    switch (sql_mode) {
        case MODE_SELECT: return select_confirmation(paths);
        case MODE_INSERT:
        case MODE_DELETE:
        case MODE_UPDATE: return write_confirmation(paths, sql_mode);
        default: return STORE_NOT_FOUND;
    }
}

int Fio_CONFIRM_TXT100(long in_folder_no, long in_sel_no, long in_stpos) {
    std::memset(sCONFIRM_TXT100, 0, sizeof sCONFIRM_TXT100);
    ConfirmPaths paths;
    if (!confirm_paths(in_folder_no, in_sel_no, paths)) return STORE_CANNOT_OPEN;
    long line_no = 0;
    int filled = 0;
    return scan_lines(paths.lock, paths.data, LINE_SIZE_LARGE, [&](const char* line) {
        ++line_no;
        if (line_no <= in_stpos) return true;
        CONFIRM_TXT100 record;
        if (!parse_confirm(line, record)) return true;
        sCONFIRM_TXT100[filled++] = record;
        return filled < CONFIRM_BATCH;
    });
}

int Fio_CONFIRM_TXT_COUNT(long in_folder_no, long in_sel_no) {
    ConfirmPaths paths;
    if (!confirm_paths(in_folder_no, in_sel_no, paths)) return STORE_CANNOT_OPEN;
    int lines = 0;
    const int result = scan_lines(paths.lock, paths.data, LINE_SIZE_LARGE, [&](const char*) {
        ++lines;
        return true;
    });
    return result == STORE_OK ? lines : result;
}

int Fio_CONFIRM_TXT_DELETE(long in_folder, long in_sel_no) {
    ConfirmPaths paths;
    if (!confirm_paths(in_folder, in_sel_no, paths)) return STORE_CANNOT_OPEN;
    if (lock_is_busy(paths.lock)) return STORE_LOCK_BUSY;
    Cu_remove(paths.data);
    return STORE_OK;
}
