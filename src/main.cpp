// wbbs.cgi: one process per HTTP request. Loads the configuration and the
// messages, parses the request, and runs the screen or action named by JOB.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi/request_parser.h"
#include "config/message_table.h"
#include "config/sysinfo.h"
#include "request/dispatch.h"
#include "request/page_frame.h"
#include "request/request_state.h"

namespace {

constexpr const char* kVersion = "Ver3.19";
constexpr const char* kOperatingSystem = "WWW ServerOS Linux(x86)";

// Rows are added with the handlers they run.
constexpr std::array<DispatchRow, 0> kJobTable{};

void clear_request_state() {
    // Static storage starts zeroed; this states the start of a request explicitly.
    JOB_EXE[0] = '\0';
    cgi_uid[0] = '\0';
    cgi_upw[0] = '\0';
    cgi_JOB[0] = '\0';
    cgi_SUB[0] = '\0';
    cgi_SKEY1[0] = '\0';
    cgi_SKEY2[0] = '\0';
    cgi_help[0] = '\0';
    cgi_FOLDER_NO = 0;
}

void read_frame_parameters() {
    cgi_getvalue("uid", 0, cgi_uid, sizeof cgi_uid);
    cgi_getvalue("upw", 0, cgi_upw, sizeof cgi_upw);
    cgi_getvalue("JOB", 0, cgi_JOB, sizeof cgi_JOB);
    cgi_getvalue("SUB", 0, cgi_SUB, sizeof cgi_SUB);
    cgi_getvalue("SKEY1", 0, cgi_SKEY1, sizeof cgi_SKEY1);
    cgi_getvalue("SKEY2", 0, cgi_SKEY2, sizeof cgi_SKEY2);
    cgi_getvalue("help", 0, cgi_help, sizeof cgi_help);
    char folder_no[40];
    cgi_getvalue("FOLDER_NO", 0, folder_no, sizeof folder_no);
    cgi_FOLDER_NO = std::strtol(folder_no, nullptr, 10);
}

void print_version_page() {
    G_header_printf("");
    std::printf("ORVA BBS-PlugIn version:[%s], OS:[%s]\n", kVersion, kOperatingSystem);
    std::fputs("</BODY>\n", stdout);
    std::fputs("</HTML>\n", stdout);
}

void serve_request() {
    clear_request_state();
    if (SysFileOpen("orva.ini") == -1) {
        G_ErrMessage("orva.ini", "read failure(file not open)");
        return;
    }
    if (StrdefFileOpen("wbbs.lng", SYSINFO.LANGUAGE) == -1) {
        G_ErrMessage(".lng", "read failure(file not open)");
        return;
    }
    g_cgi_get_res = cgi_get(SYSINFO.ATTACHED_FILE_LIMIT);
    read_frame_parameters();

    if (std::strcmp(cgi_help, "ver") == 0) {
        print_version_page();
        cgi_free();
        return;
    }

    run_dispatch(cgi_JOB, kJobTable);
    cgi_free();
}

}  // namespace

int main() {
    serve_request();
    std::fflush(stdout);
    return 0;
}
