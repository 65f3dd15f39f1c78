// JOB "PREFS" and "PREFSWR": the personal settings the board reads, and the
// password. Only personal accounts change them.

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "cgi/request_parser.h"
#include "config/message_table.h"
#include "config/sysinfo.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "request/session.h"
#include "screens/page_output.h"
#include "store/line_file_engine.h"
#include "store/personal_settings.h"
#include "store/users.h"
#include "suite/suite.h"
#include "suite/suite_texts.h"
#include "util/bytes.h"

namespace {

using namespace suite_text;

constexpr std::size_t kLongestPassword = 20;  // what the password file keeps

struct Choice {
    long value;
    const char* words;
};

// The languages are the sections of the message file.
std::vector<std::string> languages() {
    std::vector<std::string> names;
    char list[4096] = "";
    if (StrdefLanguageRes("wbbs.lng", list, sizeof list) != 0) return names;
    std::string rest = list;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string name = rest.substr(0, comma);
        if (!name.empty()) names.push_back(name);
        if (comma == std::string::npos) break;
        rest.erase(0, comma + 1);
    }
    return names;
}

bool is_language(const char* name) {
    if (name[0] == '\0') return true;  // the installation's language
    for (const std::string& known : languages()) {
        if (known == name) return true;
    }
    return false;
}

void radio_row(const char* label, const char* name, long current, const Choice (&choices)[2]) {
    emit("<TR><TD>%s</TD><TD>", lit(label));
    for (const Choice& choice : choices) {
        if (choice.value == current) {
            emit("<LABEL><INPUT TYPE=\"radio\" NAME=\"%s\" VALUE=\"%d\" CHECKED>%s</LABEL> ", lit(name), choice.value,
                 lit(choice.words));
        } else {
            emit("<LABEL><INPUT TYPE=\"radio\" NAME=\"%s\" VALUE=\"%d\">%s</LABEL> ", lit(name), choice.value,
                 lit(choice.words));
        }
    }
    emit("</TD></TR>\n");
}

void language_row(const char* current) {
    emit("<TR><TD>%s</TD><TD><SELECT NAME=\"LANGUAGE\">\n", lit(kLanguage));
    emit("<OPTION VALUE=\"\"%s>%s (%s)\n", lit(current[0] == '\0' ? " SELECTED" : ""), lit(kLanguageDefault),
         text(SYSINFO.LANGUAGE));
    for (const std::string& name : languages()) {
        emit("<OPTION VALUE=\"%s\"%s>%s\n", attr(name.c_str()), lit(name == current ? " SELECTED" : ""),
             text(name.c_str()));
    }
    emit("</SELECT></TD></TR>\n");
}

void display_row(long current) {
    emit("<TR><TD>%s</TD><TD><SELECT NAME=\"USER_DISP_DEF\">\n", lit(kDisplay));
    // The board's own names of its list orders (messages 301 to 305).
    for (int mode = 1; mode <= 5; ++mode) {
        emit("<OPTION VALUE=\"%d\"%s>%s\n", mode, lit(mode == current ? " SELECTED" : ""), msg(300 + mode));
    }
    emit("</SELECT></TD></TR>\n");
}

void password_row(const char* label, const char* name) {
    emit("<TR><TD>%s</TD><TD><INPUT TYPE=\"password\" NAME=\"%s\" ID=\"%s\" SIZE=\"20\" MAXLENGTH=\"20\"></TD></TR>\n",
         lit(label), lit(name), lit(name));
}

long unread_list_mode() {
    char value[1000] = "";
    Fio_PERSONAL_MST(G_USER_MST.USER_ID, 1, "UNREAD_LISTMODE", value);
    return std::strtol(value, nullptr, 10) != 0 ? 1 : 0;
}

void preferences_page(const char* result, bool success) {
    const USER_MST& user = G_USER_MST;
    G_header_printf("");
    emit("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", lit(kPreferences));
    emit("<HR>\n");
    if (result != nullptr) suite_result_line(result, success);
    if (user.MODE != kPersonalAccountMode) {
        emit("<P>%s</P>\n", lit(kSharedAccount));
        suite_close_page();
        return;
    }
    emit("<FORM NAME=\"PREFS\" ID=\"PREFS\" ACTION=\"%s\" METHOD=POST>\n", exe());
    session_fields("PREFSWR");
    emit("<TABLE>\n");
    language_row(user.LANGUAGE);
    radio_row(kLayout, "BBS_FRAME_MODE", user.BBS_FRAME_MODE == 1 ? 1 : 0, {{0, kThreeFrames}, {1, kTwoFrames}});
    radio_row(kCompose, "WRITE_MODE", user.WRITE_MODE == 2 ? 2 : 1, {{1, kComposeInFrame}, {2, kComposeInWindow}});
    display_row(user.USER_DISP_DEF);
    radio_row(kUnreadList, "UNREAD_LISTMODE", unread_list_mode(), {{0, kUnreadFull}, {1, kUnreadTable}});
    password_row(kOldPassword, "OLD_PW");
    password_row(kNewPassword, "NEW_PW1");
    password_row(kNewPasswordAgain, "NEW_PW2");
    emit("</TABLE>\n");
    emit("<P>%s</P>\n", lit(kPasswordHint));
    emit("<INPUT TYPE=\"submit\" ID=\"prefs_submit\" VALUE=\"%s\">\n", lit(kSave));
    emit("</FORM>\n");
    suite_close_page();
}

// A whole number among the offered ones, else -1.
long offered_number(const char* name, long lowest, long highest) {
    char value[16] = "";
    cgi_getvalue(name, 0, value, sizeof value);
    char* end = nullptr;
    const long number = std::strtol(value, &end, 10);
    if (end == value || *end != '\0' || number < lowest || number > highest) return -1;
    return number;
}

bool fit_password(const char* password) {
    const std::size_t length = std::strlen(password);
    if (length < 1 || length > kLongestPassword) return false;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(password[i]);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

// Reads and checks the whole form first, then stores it; nullptr when it
// was stored, else why nothing (or not all) was.
const char* store_preferences() {
    char language[sizeof USER_MST::LANGUAGE] = "";
    cgi_getvalue("LANGUAGE", 0, language, sizeof language);
    const long frames = offered_number("BBS_FRAME_MODE", 0, 1);
    const long compose = offered_number("WRITE_MODE", 1, 2);
    const long display = offered_number("USER_DISP_DEF", 1, 5);
    const long unread = offered_number("UNREAD_LISTMODE", 0, 1);
    if (!is_language(language) || frames < 0 || compose < 0 || display < 0 || unread < 0) return kBadSetting;

    // Longer than any password, so that one cut short is refused, not stored.
    char old_password[64] = "";
    char new_password[64] = "";
    char repeated[64] = "";
    cgi_getvalue("OLD_PW", 0, old_password, sizeof old_password);
    cgi_getvalue("NEW_PW1", 0, new_password, sizeof new_password);
    cgi_getvalue("NEW_PW2", 0, repeated, sizeof repeated);
    const bool new_pass = old_password[0] != '\0' || new_password[0] != '\0' || repeated[0] != '\0';
    const char* user_id = G_USER_MST.USER_ID;
    if (new_pass) {
        if (!password_matches(user_id, old_password)) return kWrongPassword;
        if (std::strcmp(new_password, repeated) != 0) return kPasswordsDiffer;
        if (!fit_password(new_password)) return kBadPassword;
    }

    // Only the settings of this page, in one rewrite of the user's own file:
    // storing the whole user record would rewrite the user list, which every
    // other request then finds locked, and would put back a level or account
    // kind read before an administrator changed it.
    const std::string frames_text = std::to_string(frames);
    const std::string compose_text = std::to_string(compose);
    const std::string display_text = std::to_string(display);
    const PersonalSetting settings[] = {
        {"USER_DISP_DEF", display_text.c_str()},   {"WRITE_MODE", compose_text.c_str()},
        {"BBS_FRAME_MODE", frames_text.c_str()},   {"LANGUAGE", language},
        {"UNREAD_LISTMODE", unread == 1 ? "1" : "0"},
    };
    int result = store_personal_settings(user_id, settings, std::size(settings));
    if (result == STORE_OK && new_pass) {
        copy_field(sUSER_MST.USER_PASS, new_password);
        result = Fio_MST_PASSWORD(user_id, 4);
    }
    std::memset(sUSER_MST.USER_PASS, 0, sizeof sUSER_MST.USER_PASS);
    return suite_store_refusal(result);
}

}  // namespace

void o_PREFS() { preferences_page(nullptr, false); }

void o_PREFSWR() {
    if (G_USER_MST.MODE != kPersonalAccountMode) {
        preferences_page(nullptr, false);
        return;
    }
    const char* refusal = store_preferences();
    // The page shows what is stored now, in the language chosen.
    StrdefFileOpen("wbbs.lng", SYSINFO.LANGUAGE);
    load_request_user();
    preferences_page(refusal != nullptr ? refusal : kSaved, refusal == nullptr);
}
