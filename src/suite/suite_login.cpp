// Logging in and off.

#include <cstring>

#include "request/page_frame.h"
#include "request/request_state.h"
#include "request/session.h"
#include "screens/page_output.h"
#include "store/line_file_engine.h"
#include "store/session_keys.h"
#include "store/users.h"
#include "suite/suite.h"
#include "suite/suite_texts.h"
#include "util/bytes.h"

void o_login_page(const char* note, const char* uid) {
    using namespace suite_text;
    G_header_printf("");
    emit("<CENTER>\n");
    emit("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", lit(kSuiteName));
    emit("<P><BR><HR><P>\n");
    if (note != nullptr) suite_result_line(note, note == kLoggedOff);
    // The login replaces the whole window, also when a frame shows this page.
    emit("<FORM NAME=\"LOGIN\" ID=\"LOGIN\" ACTION=\"%s\" METHOD=POST TARGET=\"_top\">\n", exe());
    emit("<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"LOGIN\">\n");
    emit("<TABLE>\n");
    emit("<TR><TD>%s</TD><TD><INPUT TYPE=\"text\" NAME=\"uid\" ID=\"uid\" VALUE=\"%s\" SIZE=\"20\" "
         "MAXLENGTH=\"21\"></TD></TR>\n",
         lit(kUserId), attr(uid));
    emit("<TR><TD>%s</TD><TD><INPUT TYPE=\"password\" NAME=\"upw\" ID=\"upw\" SIZE=\"20\" "
         "MAXLENGTH=\"20\"></TD></TR>\n",
         lit(kPassword));
    emit("</TABLE>\n");
    emit("<INPUT TYPE=\"submit\" ID=\"login_submit\" VALUE=\"%s\">\n", lit(kLoginButton));
    emit("</FORM>\n");
    emit("</CENTER>\n");
    suite_close_page();
}

void o_LOGIN() {
    // The same login as the board's: an unknown user and a wrong password
    // are refused alike, and a new pair replaces the user's stored keys.
    const int login = cgi_uid[0] == '\0' ? -1 : G_LoginChk(cgi_uid, cgi_upw);
    if (login == -1 || cgi_SKEY1[0] == '\0') {
        o_login_page(suite_text::kLoginRefused, cgi_uid);
        return;
    }
    // A pair that could not be stored fails the very next request: the user
    // is told so here instead of landing on an ended session.
    if (login != STORE_OK) {
        o_login_page(suite_text::kLoginNotStored, cgi_uid);
        return;
    }
    // Links carry the id in the spelling that names the user's directory.
    copy_field(cgi_uid, sUSER_MST.USER_ID);
    load_request_user();
    record_login();
    const Safe main_window = compose("%s?JOB=MAIN&uid=%s&SKEY1=%s&SKEY2=%s", exe(), url(cgi_uid),
                                     url(cgi_SKEY1), url(cgi_SKEY2));
    G_URL_Jump(main_window.html.c_str());
}

void o_LOGOFF() {
    // Everyone on a shared account shares its one pair: forgetting it would
    // end the others' sessions too, so theirs is kept.
    if (G_USER_MST.MODE != kSharedAccountMode) {
        // A pair still stored keeps the session open to the next person at
        // this browser: the user must not be told that they are out.
        const int forgotten = Fio_MST_SKEY(G_USER_MST.USER_ID, 3);
        if (forgotten != STORE_OK && forgotten != STORE_NOT_FOUND) {
            G_ErrMessage(suite_text::kLogOff, suite_text::kStillLoggedOn);
            return;
        }
    }
    o_login_page(suite_text::kLoggedOff, "");
}
