#include "store/session_keys.h"

#include <cstring>

#include "store/data_paths.h"
#include "store/record_file_engine.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

MST_SKEY sMST_SKEY;

namespace {

using SkeyPaths = GuardedFile;

bool skey_paths(const char* user_id, SkeyPaths& paths) {
    return user_file_path(paths.lock, sizeof paths.lock, user_id, "skey.chk") &&
           user_file_path(paths.data, sizeof paths.data, user_id, "skey.mst");
}

// A record read from the file, made safe to handle: texts terminated, the id
// in upper case (as it is compared and as a writer keeps it).
void normalise(MST_SKEY& record) {
    record.USER_ID[sizeof record.USER_ID - 1] = '\0';
    record.REMOTE_ADDR[sizeof record.REMOTE_ADDR - 1] = '\0';
    record.USER_AGENT[sizeof record.USER_AGENT - 1] = '\0';
    G_ToUppers(record.USER_ID);
}

// The record a writer stores: the caller's fields, NUL-padded, padding zero,
// id in upper case. Whatever else the module record held never reaches the file.
MST_SKEY record_to_store(const MST_SKEY& from) {
    MST_SKEY record;
    std::memset(&record, 0, sizeof record);
    record.SKEY1 = from.SKEY1;
    record.SKEY2 = from.SKEY2;
    copy_field(record.USER_ID, sizeof record.USER_ID, from.USER_ID);
    copy_field(record.REMOTE_ADDR, sizeof record.REMOTE_ADDR, from.REMOTE_ADDR);
    copy_field(record.USER_AGENT, sizeof record.USER_AGENT, from.USER_AGENT);
    G_ToUppers(record.USER_ID);
    return record;
}

void upper_key(char (&key)[sizeof(MST_SKEY::USER_ID)], const char* id, std::size_t id_width) {
    std::memset(key, 0, sizeof key);
    // The module record's id may lack a terminator; never read past its field.
    const std::size_t n = strnlen(id, id_width);
    std::memcpy(key, id, n < sizeof key - 1 ? n : sizeof key - 1);
    G_ToUppers(key);
}

int select_key(const SkeyPaths& paths, const char* key) {
    bool found = false;
    const int result = scan_records(paths.lock, paths.data, sizeof(MST_SKEY), [&](long, void* data) {
        MST_SKEY& record = *static_cast<MST_SKEY*>(data);
        normalise(record);
        if (std::strcmp(record.USER_ID, key) != 0) return true;
        sMST_SKEY = record;
        found = true;
        return false;
    });
    if (result != STORE_OK) return result;
    return found ? STORE_OK : STORE_NOT_FOUND;
}

int write_key(const SkeyPaths& paths, int sql_mode, const char* key) {
    const MST_SKEY replacement = record_to_store(sMST_SKEY);
    bool matched = false;
    return rewrite_records(
        paths.lock, paths.data, sizeof(MST_SKEY),
        [&](long, void* data, RecordOutput& out) {
            MST_SKEY& record = *static_cast<MST_SKEY*>(data);
            normalise(record);
            if (std::strcmp(record.USER_ID, key) != 0) return RecordVerdict::keep;
            matched = true;
            if (sql_mode == 3) return RecordVerdict::drop;
            if (sql_mode == 4) {
                out.write(&replacement);
                return RecordVerdict::drop;
            }
            return RecordVerdict::keep;
        },
        [&](RecordOutput& out) {
            if (sql_mode == 2) {
                if (matched) return STORE_NOTHING_TO_CHANGE;
                out.write(&replacement);
                return STORE_OK;
            }
            return matched ? STORE_OK : STORE_NOT_FOUND;
        });
}

}  // namespace

int Fio_MST_SKEY(const char* UserID, int sql_mode) {
    if (sql_mode < 1 || sql_mode > 4) return STORE_NOT_FOUND;
    SkeyPaths paths;
    if (!skey_paths(UserID, paths)) return STORE_NOT_FOUND;
    // No stored id is longer than its field: a longer one could only match a cut copy.
    if (std::strlen(UserID) >= sizeof(MST_SKEY::USER_ID)) return STORE_NOT_FOUND;
    char key[sizeof(MST_SKEY::USER_ID)];
    if (sql_mode == 2 || sql_mode == 4) {
        upper_key(key, sMST_SKEY.USER_ID, sizeof sMST_SKEY.USER_ID);
    } else {
        upper_key(key, UserID, std::strlen(UserID));
    }
    if (sql_mode == 1) return select_key(paths, key);
    return write_key(paths, sql_mode, key);
}
