#include "request/request_state.h"

#include <cstdlib>
#include <cstring>

#include "cgi/request_parser.h"
#include "config/message_table.h"
#include "config/sysinfo.h"
#include "request/page_frame.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

char cgi_uid[22];
char cgi_upw[22];
char cgi_JOB[128];
char cgi_SUB[256];
char cgi_SKEY1[22];
char cgi_SKEY2[22];
char cgi_help[22];
long cgi_FOLDER_NO;
int g_cgi_get_res;
char JOB_EXE[128];
long ACL_LEVEL;
TREE_DATA G_TREE_DATA;
USER_MST G_USER_MST;
DIR_CONFIG G_DIR_CONFIG;
char G_WRITE_DATA[WRITE_DATA_SIZE];

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

bool open_request() {
    clear_request_state();
    if (SysFileOpen("orva.ini") == -1) {
        G_ErrMessage("orva.ini", "read failure(file not open)");
        return false;
    }
    if (StrdefFileOpen("wbbs.lng", SYSINFO.LANGUAGE) == -1) {
        G_ErrMessage(".lng", "read failure(file not open)");
        return false;
    }
    g_cgi_get_res = cgi_get(SYSINFO.ATTACHED_FILE_LIMIT);
    read_frame_parameters();
    return true;
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

namespace {

// True when a browser would read the address as having a scheme other than
// http or https (javascript:, data:, ...). Browsers skip leading blanks and
// control bytes and drop tabs and line breaks anywhere, so the test does too.
bool has_foreign_scheme(const char* address) {
    const char* p = address;
    while (*p != '\0' && static_cast<unsigned char>(*p) <= 0x20) ++p;
    char scheme[8];
    std::size_t length = 0;
    for (; *p != '\0'; ++p) {
        const char c = *p;
        if (c == '\t' || c == '\n' || c == '\r') continue;
        if (c == '/' || c == '?' || c == '#') return false;
        if (c == ':') {
            scheme[length < sizeof scheme ? length : sizeof scheme - 1] = '\0';
            return length > sizeof scheme - 1 ||
                   (std::strcmp(scheme, "http") != 0 && std::strcmp(scheme, "https") != 0);
        }
        if (length < sizeof scheme) {
            scheme[length] = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        ++length;
    }
    return false;
}

}  // namespace

void folder_program(const TREE_DATA& folder, char* out, std::size_t out_size) {
    char name[sizeof folder.CGI_NAME];
    std::memcpy(name, folder.CGI_NAME, sizeof name);
    name[sizeof name - 1] = '\0';
    const int question = G_StrFind(name, "?");
    if (question > 0) name[question] = '\0';
    // Every link and form of the folder's pages starts with this address: one
    // that would run script (a damaged or hostile tree line) falls back to the
    // board's own name.
    if (has_foreign_scheme(name)) copy_field(name, sizeof name, "wbbs.cgi");
    copy_field(out, out_size, name);
}
