#include "request/page_frame.h"

#include <cstdio>

#include "config/message_table.h"
#include "config/sysinfo.h"

namespace {

void print(const char* text) { std::fputs(text, stdout); }

void error_page_head(const char* title) {
    G_header_printf("");
    print("<CENTER>\n");
    print("<BR>");
    std::printf("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", title);
    print("<P><BR><HR><P><BR>\n");
}

void close_page() {
    print("</BODY>\n");
    print("</HTML>\n");
}

}  // namespace

void G_header_printf(const char* bg) {
    print("Content-type: text/html\n");
    print("Pragma: no-cache\n");
    print("\n");
    print("<HTML>\n");
    print("<HEAD>\n");
    print(STRDEF.Message[1]);
    print("</HEAD>\n");
    std::printf("<!--%s-->\n", STRDEF.Message[2]);
    if (bg[0] == '\0') {
        std::printf("<BODY BACKGROUND=\"%s%s\" >\n", SYSINFO.CG_FILE_WEB_PATH, SYSINFO.BACK_GIF);
    } else {
        std::printf("%s\n", bg);
    }
}

void G_ErrMessage(const char* syori, const char* buff) {
    error_page_head(syori);
    std::printf("<FONT COLOR=\"RED\"><B>%s</B></FONT>\n", buff);
    print("<FORM METHOD=POST >\n");
    print("<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n");
    print("</FORM>\n");
    print("</CENTER>\n");
    close_page();
}

void G_IDerr() {
    error_page_head(STRDEF.Message[7]);
    print("</CENTER>\n");
    close_page();
}

void G_URL_Jump(const char* in_buff) {
    G_header_printf(" ");
    std::printf("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=%s\" >", in_buff);
    close_page();
}
