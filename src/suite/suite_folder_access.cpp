// JOB "FOLDER_ACCESS" (the header frame's access-rights button) and
// "FOLDER_ACCESSWR": a folder's access list, changed by its administrators.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cgi/request_parser.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "request/session.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/access_lists.h"
#include "store/line_file_engine.h"
#include "store/users.h"
#include "suite/suite.h"
#include "suite/suite_texts.h"
#include "util/bytes.h"

namespace {

using namespace suite_text;

constexpr long kAdministrationLevel = 8;
constexpr long kHighestGrant = 8;  // 9 is the system administrators' own level
constexpr const char* kHeading = "#E0FFFF";
// No folder's list is longer: a damaged file must not make the walk endless.
constexpr long kMaxGrants = 100000;

struct Grant {
    bool user = false;
    std::string id;  // user id, or the group number as text
    int32_t permit = 0;
    std::string name;
};

// The folder's entries; complete is false when the list could not be read
// to its end (locked, unreadable).
std::vector<Grant> read_grants(long folder_no, bool& complete) {
    std::vector<Grant> grants;
    complete = true;
    for (long n = 1; n <= kMaxGrants; ++n) {
        std::memset(&sACL_MST, 0, sizeof sACL_MST);
        sACL_MST.FOLDER_NO = static_cast<int32_t>(folder_no);
        const int result = Fio_ACL_MST(n, 1, 2);
        if (result != STORE_OK) {
            complete = result == STORE_NOT_FOUND;
            break;
        }
        Grant grant;
        grant.user = sACL_MST.U_OR_G[0] == 'U';
        grant.id = grant.user ? std::string(field_view(sACL_MST.USER_ID)) : std::to_string(sACL_MST.GROUP_ID);
        grant.permit = sACL_MST.PERMIT;
        grants.push_back(grant);
    }
    // Names are looked up once the list is read: the lookups reuse other buffers.
    for (Grant& grant : grants) {
        if (grant.user) {
            if (Fio_USER_MST(grant.id.c_str(), 1) == 0) grant.name = field_view(sUSER_MST.USER_NAME);
        } else {
            std::memset(&sGROUP_MST, 0, sizeof sGROUP_MST);
            const long group = std::strtol(grant.id.c_str(), nullptr, 10);
            if (Fio_GROUP_MST(group, 1, 1) == 0) grant.name = field_view(sGROUP_MST.GROUP_NAME);
        }
    }
    return grants;
}

const char* level_words(long level) {
    if (level >= kAdministrationLevel) return kLevelAdministration;
    if (level > 1) return kLevelWrite;
    return kLevelRead;
}

void level_options(long selected) {
    emit("<SELECT NAME=\"ACL_PERMIT\">\n");
    // A level set by other means stays chosen until an administrator picks another.
    if (selected < 1 || selected > kHighestGrant) emit("<OPTION VALUE=\"%d\" SELECTED>%d\n", selected, selected);
    for (long level = 1; level <= kHighestGrant; ++level) {
        if (level == selected) {
            emit("<OPTION VALUE=\"%d\" SELECTED>%d %s\n", level, level, lit(level_words(level)));
        } else {
            emit("<OPTION VALUE=\"%d\">%d %s\n", level, level, lit(level_words(level)));
        }
    }
    emit("</SELECT>\n");
}

void grant_form(const Grant& grant, int row) {
    emit("<TD NOWRAP><FORM NAME=\"grant%d\" ID=\"grant%d\" ACTION=\"%s\" METHOD=POST>\n", row, row, exe());
    session_fields("FOLDER_ACCESSWR");
    emit("<INPUT TYPE=\"hidden\" NAME=\"ACL_KIND\" VALUE=\"%s\">\n", lit(grant.user ? "U" : "G"));
    emit("<INPUT TYPE=\"hidden\" NAME=\"ACL_ID\" VALUE=\"%s\">\n", attr(grant.id.c_str()));
    level_options(grant.permit);
    emit("<INPUT TYPE=\"submit\" NAME=\"ACL_ACTION\" VALUE=\"%s\">\n", lit(kChange));
    emit("<INPUT TYPE=\"submit\" NAME=\"ACL_ACTION\" VALUE=\"%s\">\n", lit(kRemove));
    emit("</FORM></TD>\n");
}

void add_form() {
    emit("<FORM NAME=\"grant_add\" ID=\"grant_add\" ACTION=\"%s\" METHOD=POST>\n", exe());
    session_fields("FOLDER_ACCESSWR");
    emit("<SELECT NAME=\"ACL_KIND\"><OPTION VALUE=\"U\">%s<OPTION VALUE=\"G\">%s</SELECT>\n", lit(kKindUser),
         lit(kKindGroup));
    emit("<INPUT TYPE=\"text\" NAME=\"ACL_ID\" SIZE=\"20\" MAXLENGTH=\"21\">\n");
    level_options(1);
    emit("<INPUT TYPE=\"submit\" NAME=\"ACL_ACTION\" VALUE=\"%s\">\n", lit(kAdd));
    emit("</FORM>\n");
}

void access_page(const TREE_DATA& folder, long level, const char* result, bool success) {
    const bool administrator = level >= kAdministrationLevel;
    G_header_printf("");
    emit("<FONT SIZE=\"5\"><B>%s: %s</B></FONT>\n", lit(kAccessTitle), field_text(folder.NAME));
    emit("<HR>\n");
    if (result != nullptr) suite_result_line(result, success);
    emit("<P>");
    emit(kThresholds, folder.ACCESS_LEVEL, folder.WRITE_LEVEL);
    emit("</P>\n");

    bool complete = true;
    const std::vector<Grant> grants = read_grants(folder.FOLDER_NO, complete);
    // A list that could not be read is not an empty one.
    if (!complete) emit("<P><FONT COLOR=\"RED\"><B>%s</B></FONT></P>\n", lit(kGrantsUnread));
    if (grants.empty()) {
        if (complete) emit("<P>%s</P>\n", lit(kNoGrants));
    } else {
        emit("<TABLE BORDER ID=\"grants\">\n");
        emit("<TR>");
        for (const char* heading : {kKind, kId, kName, kLevel}) {
            emit("<TD BGCOLOR=\"%s\">%s</TD>", lit(kHeading), lit(heading));
        }
        if (administrator) emit("<TD BGCOLOR=\"%s\"><BR></TD>", lit(kHeading));
        emit("</TR>\n");
        int row = 0;
        for (const Grant& grant : grants) {
            ++row;
            emit("<TR><TD>%s</TD><TD>%s</TD><TD>%s</TD><TD>%d %s</TD>\n", lit(grant.user ? kKindUser : kKindGroup),
                 text(grant.id.c_str()), text(grant.name.c_str()), grant.permit, lit(level_words(grant.permit)));
            if (administrator) grant_form(grant, row);
            emit("</TR>\n");
        }
        emit("</TABLE>\n");
    }
    if (administrator) add_form();
    if (folder.MODE == 3) {
        emit("<P><A ID=\"back\" HREF=\"%s\">%s</A></P>\n", board_link(folder, "ROOM"), lit(kBackToFolder));
    }
    suite_close_page();
}

// A whole group number a record can hold, else 0.
long group_number(const char* text) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < 1 || number > INT32_MAX) return 0;
    return number;
}

// Carries out the form's change; nullptr when it was stored, else why not.
const char* change_grant(long folder_no) {
    char kind[4] = "";
    char id[64] = "";
    char action[32] = "";
    cgi_getvalue("ACL_KIND", 0, kind, sizeof kind);
    cgi_getvalue("ACL_ID", 0, id, sizeof id);
    cgi_getvalue("ACL_ACTION", 0, action, sizeof action);
    const bool remove = std::strcmp(action, kRemove) == 0;
    const bool user = std::strcmp(kind, "U") == 0;
    if (!user && std::strcmp(kind, "G") != 0) return kBadSetting;

    ACL_MST entry{};
    entry.FOLDER_NO = static_cast<int32_t>(folder_no);
    copy_field(entry.U_OR_G, kind);
    if (user) {
        if (std::strlen(id) >= sizeof entry.USER_ID) return remove ? kNoSuchGrant : kNoSuchUser;
        // A grant is removed by the id it lists, also of a user no longer known;
        // a new one names a user in the spelling of the user list.
        if (!remove) {
            if (id[0] == '\0' || Fio_USER_MST(id, 1) != 0) return kNoSuchUser;
            copy_field(id, sUSER_MST.USER_ID);
        }
        copy_field(entry.USER_ID, id);
    } else {
        const long group = group_number(id);
        if (group == 0) return remove ? kNoSuchGrant : kNoSuchGroup;
        std::memset(&sGROUP_MST, 0, sizeof sGROUP_MST);
        if (!remove && Fio_GROUP_MST(group, 1, 1) != 0) return kNoSuchGroup;
        entry.GROUP_ID = static_cast<int32_t>(group);
    }

    if (remove) {
        sACL_MST = entry;
        const int removed = Fio_ACL_MST(0, 3, 1);
        return removed == STORE_NOTHING_TO_CHANGE ? kNoSuchGrant : suite_store_refusal(removed);
    }
    const long permit = request_number("ACL_PERMIT", 100);
    if (permit < 1 || permit > kHighestGrant) return kBadLevel;
    entry.PERMIT = static_cast<int32_t>(permit);
    sACL_MST = entry;
    int stored = Fio_ACL_MST(0, 4, 1);
    if (stored == STORE_NOTHING_TO_CHANGE) {
        sACL_MST = entry;
        stored = Fio_ACL_MST(0, 2, 1);
    }
    return suite_store_refusal(stored);
}

// The requested folder into folder and the user's level in it; false (after
// a refusal page) when there is no such folder or no access.
bool open_folder(TREE_DATA& folder, long& level) {
    if (cgi_FOLDER_NO < INT32_MIN || cgi_FOLDER_NO > INT32_MAX || Fio_TREE_DATA(cgi_FOLDER_NO, 1, 1) != 0) {
        G_ErrMessage(kAccessTitle, kNoSuchFolder);
        return false;
    }
    folder = sTREE_DATA;
    level = G_chk_ACL(cgi_FOLDER_NO);
    if (level <= 0) {
        G_ErrMessage(kAccessTitle, kNoAccess);
        return false;
    }
    return true;
}

}  // namespace

void o_FOLDER_ACCESS() {
    TREE_DATA folder{};
    long level = 0;
    if (!open_folder(folder, level)) return;
    access_page(folder, level, nullptr, false);
}

void o_FOLDER_ACCESSWR() {
    TREE_DATA folder{};
    long level = 0;
    if (!open_folder(folder, level)) return;
    if (level < kAdministrationLevel) {
        access_page(folder, level, kNotAdministrator, false);
        return;
    }
    const char* refusal = change_grant(folder.FOLDER_NO);
    // An administrator may have just changed their own level.
    level = G_chk_ACL(folder.FOLDER_NO);
    if (level <= 0) {
        G_ErrMessage(kAccessTitle, kNoAccess);
        return;
    }
    access_page(folder, level, refusal != nullptr ? refusal : kSaved, refusal == nullptr);
}
