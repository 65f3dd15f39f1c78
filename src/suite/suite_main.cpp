// orva.cgi: one process per HTTP request, started like wbbs.cgi from the
// same web root (orva.ini, wbbs.lng). No JOB gives the login page.

#include <cstdio>
#include <cstring>

#include "cgi/request_parser.h"
#include "config/sysinfo.h"
#include "request/dispatch.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "request/session.h"
#include "screens/page_output.h"
#include "store/line_file_engine.h"
#include "suite/suite.h"
#include "suite/suite_texts.h"
#include "util/bytes.h"

namespace {

constexpr DispatchRow kSessionJobs[] = {
    {"LOGOFF", o_LOGOFF},
    {"MAIN", o_MAIN},
    {"HOME", o_HOME},
    {"TREE", o_TREE},
    {"FOLDER_ACCESS", o_FOLDER_ACCESS},
    {"FOLDER_ACCESSWR", o_FOLDER_ACCESSWR},
    {"PREFS", o_PREFS},
    {"PREFSWR", o_PREFSWR},
};

bool is_job(const char* job) { return std::strcmp(cgi_JOB, job) == 0; }

void serve_request() {
    // The board's start: its page head (character set, title) is used here too.
    if (!open_request()) return;
    // Every link and form of these pages comes back here; an installation
    // that names no address gets the program's own name, relative.
    copy_field(JOB_EXE, SYSINFO.CGI_FILE_NAME[0] != '\0' ? SYSINFO.CGI_FILE_NAME : "orva.cgi");

    if (cgi_JOB[0] == '\0') {
        o_login_page(nullptr, "");
    } else if (is_job("LOGIN")) {
        o_LOGIN();
    } else if (is_job("USER_PIC_DOWNLOAD")) {
        o_USER_PIC_DOWNLOAD();
    } else if (is_job("ICON_DL")) {
        o_ICON_DL();
    } else if (!suite_session_valid()) {
        o_login_page(suite_text::kSessionEnded, "");
    } else if (run_dispatch(cgi_JOB, kSessionJobs) == 0) {
        G_ErrMessage(suite_text::kSuiteName, suite_text::kUnknownRequest);
    }
    cgi_free();
}

}  // namespace

bool suite_session_valid() {
    if (cgi_uid[0] == '\0' || cgi_SKEY1[0] == '\0' || cgi_SKEY2[0] == '\0') return false;
    if (G_SkeyChk(cgi_uid) != 0) return false;
    load_request_user();
    return G_USER_MST.USER_ID[0] != '\0';
}

Safe suite_link(const char* job) {
    return compose("%s?uid=%s&SKEY1=%s&SKEY2=%s&JOB=%s", exe(), url(cgi_uid), url(cgi_SKEY1),
                   url(cgi_SKEY2), lit(job));
}

Safe board_link(const TREE_DATA& folder, const char* job) {
    char program[sizeof JOB_EXE];
    folder_program(folder, program, sizeof program);
    return compose("%s?uid=%s&SKEY1=%s&SKEY2=%s&JOB=%s&FOLDER_NO=%d", attr(program), url(cgi_uid),
                   url(cgi_SKEY1), url(cgi_SKEY2), lit(job), folder.FOLDER_NO);
}

const char* suite_store_refusal(int result) {
    if (result == STORE_OK) return nullptr;
    return result == STORE_LOCK_BUSY ? suite_text::kBusy : suite_text::kNotSaved;
}

void suite_result_line(const char* text, bool success) {
    emit("<P ID=\"result\"><FONT COLOR=\"%s\"><B>%s</B></FONT></P>\n", lit(success ? "GREEN" : "RED"),
         lit(text));
}

void suite_close_page() {
    emit("</BODY>\n");
    emit("</HTML>\n");
}

int main() {
    static char output_buffer[64 * 1024];
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    serve_request();
    std::fflush(stdout);
    return 0;
}
