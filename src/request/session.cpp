#include "request/session.h"

#include <sys/random.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/message_table.h"
#include "config/sysinfo.h"
#include "request/request_state.h"
#include "store/access_lists.h"
#include "store/folder_files.h"
#include "store/folder_tree.h"
#include "store/line_file_engine.h"
#include "store/personal_settings.h"
#include "store/session_keys.h"
#include "store/system_log.h"
#include "store/users.h"
#include "util/bytes.h"
#include "util/dates.h"

namespace {

constexpr long kSystemAdministratorLevel = 100;
constexpr long kAdministrationLevel = 8;

// Equal texts, compared over the whole stored password whatever the input, so
// the time taken does not tell how many leading characters were right.
bool same_password(const char* stored, const char* given) {
    const std::size_t stored_len = std::strlen(stored);
    const std::size_t given_len = std::strlen(given);
    unsigned difference = stored_len != given_len ? 1u : 0u;
    for (std::size_t i = 0; i < stored_len; ++i) {
        const unsigned char g = i < given_len ? static_cast<unsigned char>(given[i]) : 0;
        difference |= static_cast<unsigned>(static_cast<unsigned char>(stored[i]) ^ g);
    }
    return difference == 0;
}

void env_field(char* field, std::size_t width, const char* name) {
    const char* value = std::getenv(name);
    copy_field(field, width, value != nullptr ? value : "");
}

long raise_to(long level, long permit) { return permit > level ? permit : level; }

}  // namespace

long draw_session_key() {
    for (;;) {
        uint32_t bits = 0;
        const ssize_t got = getrandom(&bits, sizeof bits, 0);
        if (got != static_cast<ssize_t>(sizeof bits)) {
            if (got < 0 && errno == EINTR) continue;
            // The kernel's source is always there on the systems we run on; a
            // failure here must not silently produce a guessable key.
            std::abort();
        }
        const long key = static_cast<long>(bits & 0x7FFFFFFFu);
        if (key != 0) return key;
    }
}

int G_SkeyChk(const char* uid) {
    std::memset(&sMST_SKEY, 0, sizeof sMST_SKEY);
    const long key1 = std::strtol(cgi_SKEY1, nullptr, 10);
    const long key2 = std::strtol(cgi_SKEY2, nullptr, 10);
    const int found = Fio_MST_SKEY(uid, 1);
    if (found != 0) return found;
    return (key1 == sMST_SKEY.SKEY1 && key2 == sMST_SKEY.SKEY2) ? 0 : -1;
}

namespace {

// 0 when upw is the user's password; -1 when it is not; -9 when the password
// file stays locked (being rewritten). A password that could not be read is
// not the empty password: nobody gets in with an empty "upw" meanwhile.
int check_password(const char* user_id, const char* upw) {
    const int read = Fio_MST_PASSWORD(user_id, 1);
    if (read == STORE_LOCK_BUSY) return STORE_LOCK_BUSY;
    if (read != 0) return -1;
    return same_password(sUSER_MST.USER_PASS, upw) ? 0 : -1;
}

}  // namespace

bool password_matches(const char* user_id, const char* upw) { return check_password(user_id, upw) == 0; }

int G_LoginChk(const char* uid, const char* upw) {
    std::memset(&sUSER_MST, 0, sizeof sUSER_MST);
    cgi_SKEY1[0] = '\0';
    cgi_SKEY2[0] = '\0';
    // A user whose files are being rewritten is not told the password is wrong.
    const int found = Fio_USER_MST(uid, 1);
    if (found == STORE_LOCK_BUSY) return STORE_LOCK_BUSY;
    if (found != 0) return -1;
    const int checked = check_password(sUSER_MST.USER_ID, upw);
    if (checked != 0) return checked;

    if (sUSER_MST.MODE == kSharedAccountMode) {
        // Everyone on a shared account joins the one stored session.
        std::memset(&sMST_SKEY, 0, sizeof sMST_SKEY);
        if (Fio_MST_SKEY(sUSER_MST.USER_ID, 1) == 0) {
            std::snprintf(cgi_SKEY1, sizeof cgi_SKEY1, "%d", sMST_SKEY.SKEY1);
            std::snprintf(cgi_SKEY2, sizeof cgi_SKEY2, "%d", sMST_SKEY.SKEY2);
            return 0;
        }
    }

    const long key1 = draw_session_key();
    const long key2 = draw_session_key();
    std::snprintf(cgi_SKEY1, sizeof cgi_SKEY1, "%ld", key1);
    std::snprintf(cgi_SKEY2, sizeof cgi_SKEY2, "%ld", key2);

    std::memset(&sMST_SKEY, 0, sizeof sMST_SKEY);
    sMST_SKEY.SKEY1 = static_cast<int32_t>(key1);
    sMST_SKEY.SKEY2 = static_cast<int32_t>(key2);
    copy_field(sMST_SKEY.USER_ID, sUSER_MST.USER_ID);
    env_field(sMST_SKEY.REMOTE_ADDR, sizeof sMST_SKEY.REMOTE_ADDR, "REMOTE_ADDR");
    env_field(sMST_SKEY.USER_AGENT, sizeof sMST_SKEY.USER_AGENT, "HTTP_USER_AGENT");
    if (Fio_MST_SKEY(sUSER_MST.USER_ID, 4) != 0) return Fio_MST_SKEY(sUSER_MST.USER_ID, 2);
    return 0;
}

long G_chk_ACL(long in_folder_no, const TREE_DATA* folder_record) {
    const USER_MST& user = G_USER_MST;
    // A user record that could not be loaded grants nothing (the folder's
    // thresholds would otherwise let an unknown user read a level-0 folder).
    if (user.USER_ID[0] == '\0') return 0;
    if (user.USER_LEVEL >= kSystemAdministratorLevel) return 9;

    if (user.MODE == kSharedAccountMode) {
        char permit[100] = "";
        Fio_DIR_CONFIG(in_folder_no, 1, "SHARE_USER_PERMIT", permit);
        if (std::strtol(permit, nullptr, 10) == 1) return 0;
    }

    // The user's own entry, then the group entries in order: one read of the
    // list gives both, as one consistent version of it.
    long level = 0;
    FolderAccessEntries entries;
    if (Fio_ACL_MST_access(in_folder_no, user.USER_ID, entries) != 0) entries = FolderAccessEntries{};
    if (entries.user_found) level = entries.user_permit;
    if (level >= kAdministrationLevel) return level;

    for (const FolderAccessEntries::Group& entry : entries.groups) {
        const long group = entry.group_id;
        const long permit = entry.permit;
        if (group == user.P_GROUP) {
            level = raise_to(level, permit);
            if (level >= kAdministrationLevel) return level;
        }
        std::memset(&sUSER_GROUP_MST, 0, sizeof sUSER_GROUP_MST);
        copy_field(sUSER_GROUP_MST.USER_ID, user.USER_ID);
        sUSER_GROUP_MST.GROUP_ID = static_cast<int32_t>(group);
        if (Fio_USER_GROUP_MST(group, 1, 1) == 0) {
            level = raise_to(level, permit);
            if (level >= kAdministrationLevel) return level;
        }
    }

    if (folder_record != nullptr) {
        sTREE_DATA = *folder_record;
    } else if (Fio_TREE_DATA(in_folder_no, 1, 1) != 0) {
        return level;
    }
    if (user.USER_LEVEL >= sTREE_DATA.ACCESS_LEVEL && level <= 0) level = 1;
    if (user.USER_LEVEL >= sTREE_DATA.WRITE_LEVEL && level <= 1) level = 2;
    return level;
}

void load_request_user() {
    Fio_USER_MST(cgi_uid, 1);
    G_USER_MST = sUSER_MST;
    if (G_USER_MST.LANGUAGE[0] != '\0' && std::strcmp(G_USER_MST.LANGUAGE, SYSINFO.LANGUAGE) != 0) {
        StrdefFileOpen("wbbs.lng", G_USER_MST.LANGUAGE);
    }
}

void record_login() {
    if (std::strtol(SYSINFO.LOG_DATE, nullptr, 10) < 1) return;
    system_log_event(G_USER_MST.USER_ID, G_USER_MST.USER_NAME, "login", std::getenv("REMOTE_ADDR"),
                     std::getenv("HTTP_USER_AGENT"));

    char text[40] = "";
    Tm_set_date(text);
    store_personal_setting(G_USER_MST.USER_ID, "LAST_LOGIN_DATE", text);

    char count[40] = "";
    Fio_PERSONAL_MST(G_USER_MST.USER_ID, 1, "TOTAL_LOGIN_COUNT", count);
    long logins = std::strtol(count, nullptr, 10);
    // A counter the file already holds at the limit stays there, never wraps.
    if (logins < LONG_MAX) ++logins;
    std::snprintf(count, sizeof count, "%ld", logins);
    store_personal_setting(G_USER_MST.USER_ID, "TOTAL_LOGIN_COUNT", count);
}
