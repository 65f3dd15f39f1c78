// The main window: the folder tree beside the content frame "FRM22" +
// SITE_ID, in which the board opens a folder's frameset.

#include <algorithm>
#include <cstdint>

#include "config/sysinfo.h"
#include "request/folder_walk.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "screens/page_output.h"
#include "store/users.h"
#include "suite/suite.h"
#include "suite/suite_texts.h"

namespace {

// Deeper folders are indented no further: the frame is narrow.
constexpr int32_t kDeepestIndent = 12;

void tree_line(const TREE_DATA& folder, const Safe& content_frame) {
    const int32_t depth = std::clamp(folder.CLASS, int32_t{0}, kDeepestIndent);
    for (int32_t i = 0; i < depth; ++i) emit("&nbsp;&nbsp;");
    if (folder.ICON_MODE == 0 && folder.PIC_FILENAME[0] != '\0') {
        emit("<IMG SRC=\"%s?JOB=ICON_DL&SKEY1=%s&SKEY2=%s&uid=%s&FOLDER_NO=%d\" ALT=\"\">", exe(),
             url(cgi_SKEY1), url(cgi_SKEY2), url(cgi_uid), folder.FOLDER_NO);
    }
    emit("<A ID=\"folder%d\" HREF=\"%s\" TARGET=\"%s\">%s</A><BR>\n", folder.FOLDER_NO,
         board_link(folder, "ROOM"), content_frame, field_text(folder.NAME));
}

}  // namespace

void o_MAIN() {
    G_header_printf(" ");
    const Safe site = attr(SYSINFO.SITE_ID);
    emit("<FRAMESET COLS=\"%s,*\" >\n", attr(SYSINFO.FRAME_DIVIDE));
    emit("\t<FRAME SRC=\"%s\" NAME=\"TREE%s\">\n", suite_link("TREE"), site);
    emit("\t<FRAME SRC=\"%s\" NAME=\"FRM22%s\">\n", suite_link("HOME"), site);
    emit("</FRAMESET>\n");
    emit("</HTML>\n");
}

void o_HOME() {
    G_header_printf("");
    emit("<FONT SIZE=\"5\"><B>%s, %s</B></FONT>\n", lit(suite_text::kWelcome), field_text(G_USER_MST.USER_NAME));
    emit("<HR>\n");
    emit("<P>%s</P>\n", lit(suite_text::kChooseFolder));
    suite_close_page();
}

void o_TREE() {
    using namespace suite_text;
    G_header_printf("");
    const Safe content_frame = compose("FRM22%s", attr(SYSINFO.SITE_ID));
    emit("<B>%s</B> (%s)<BR>\n", field_text(G_USER_MST.USER_NAME), field_text(G_USER_MST.USER_ID));
    emit("<HR>\n");
    emit("<B>%s</B><BR>\n", lit(kFolders));
    emit("<DIV ID=\"tree\">\n");
    // The screens across folders are the board's: they open through the
    // program of the first folder shown, which the board needs to exist.
    bool any = false;
    TREE_DATA first{};
    for_each_open_board_folder([&](const TREE_DATA& folder) {
        if (!any) first = folder;
        any = true;
        tree_line(folder, content_frame);
    });
    if (!any) emit("%s<BR>\n", lit(kNoFolders));
    emit("</DIV>\n");
    emit("<HR>\n");
    if (any) {
        // A shared account keeps no read marks: the board refuses it the list.
        if (G_USER_MST.MODE != kSharedAccountMode) {
            emit("<A ID=\"unread_all\" HREF=\"%s\" TARGET=\"%s\">%s</A><BR>\n",
                 board_link(first, "NRDETAILSALL"), content_frame, lit(kUnreadAll));
        }
        emit("<A ID=\"search_all\" HREF=\"%s\" TARGET=\"%s\">%s</A><BR>\n", board_link(first, "ALLSEARCH"),
             content_frame, lit(kSearchAll));
    }
    emit("<A ID=\"prefs\" HREF=\"%s\" TARGET=\"%s\">%s</A><BR>\n", suite_link("PREFS"), content_frame,
         lit(kPreferences));
    emit("<A ID=\"logoff\" HREF=\"%s\" TARGET=\"_top\">%s</A><BR>\n", suite_link("LOGOFF"), lit(kLogOff));
    suite_close_page();
}
