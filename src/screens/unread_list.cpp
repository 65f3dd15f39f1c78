#include "screens/unread_list.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "cgi/request_parser.h"
#include "config/sysinfo.h"
#include "request/folder_walk.h"
#include "request/request_state.h"
#include "request/session.h"
#include "screens/folder_settings.h"
#include "screens/message_detail.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/confirmations.h"
#include "store/folder_tree.h"
#include "store/message_index.h"
#include "store/personal_settings.h"
#include "store/read_marks.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

namespace {

constexpr const char* kHeading = "#E0FFFF";
constexpr const char* kFolderRow = "#FFFFFF";

struct Listing {
    bool table = false;  // one row per message, else each message in full
    bool all = false;    // every board folder, else the request's folder
    long page = 0;       // PPage, passed into the thread tables' links
    long count = 0;      // messages listed so far
};

void heading_cell(const Safe& content) {
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s</TD>\n", lit(kHeading), content);
}

void submit_script() {
    open_script();
    emit("var count=0;\n");
    emit("function sub_chk(){\n");
    emit("count++;\n");
    emit("document.INPUT.SUB.value=\"%s\";\n", msg(420));
    emit("if ( count < 2 ){ return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    close_script();
}

// A single checkbox is no array in the browser: one message gets its own form.
void select_all_script(long count) {
    if (count < 1) return;
    open_script();
    emit("var nrflg=0;\n");
    if (count == 1) {
        emit("function nr_chk(){\n");
        emit("if ( nrflg == 0 ){\n");
        emit("nrflg=1;\n");
        emit("document.INPUT.NRFLG.value=\"%s\";\n", msg(449));
        emit("document.INPUT.FOLSEL.checked=true;\n");
        emit("} else {\n");
        emit("nrflg=0;\n");
        emit("document.INPUT.NRFLG.value=\"%s\";\n", msg(448));
        emit("document.INPUT.FOLSEL.checked=false;\n");
        emit("}\n");
        emit("}\n");
    } else {
        emit("var l_loop=0;\n");
        emit("function nr_chk(){\n");
        emit("l_loop=0;\n");
        emit("if ( nrflg == 0 ){\n");
        emit("nrflg=1;\n");
        emit("document.INPUT.NRFLG.value=\"%s\";\n", msg(449));
        emit("for ( l_loop=0 ; l_loop<%d ; l_loop++ ) {\n", count);
        emit("document.INPUT.FOLSEL[l_loop].checked=true;\n");
        emit("}\n");
        emit("} else {\n");
        emit("nrflg=0;\n");
        emit("document.INPUT.NRFLG.value=\"%s\";\n", msg(448));
        emit("for ( l_loop=0 ; l_loop<%d ; l_loop++ ) {\n", count);
        emit("document.INPUT.FOLSEL[l_loop].checked=false;\n");
        emit("}\n");
        emit("}\n");
        emit("}\n");
    }
    close_script();
}

void folder_heading_row(const TREE_DATA& folder, bool wide) {
    emit("<TR>\n");
    if (wide) {
        emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\" COLSPAN=8>", lit(kFolderRow));
    } else {
        emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\" COLSPAN=7>", lit(kFolderRow));
    }
    if (folder.ICON_MODE == 0 && folder.PIC_FILENAME[0] != '\0') {
        emit("<IMG SRC=\"%s?JOB=ICON_DL&SKEY1=%s&SKEY2=%s&uid=%s&FOLDER_NO=%d\">", attr(SYSINFO.CGI_FILE_NAME),
             url(cgi_SKEY1), url(cgi_SKEY2), url(G_USER_MST.USER_ID), folder.FOLDER_NO);
    }
    emit("<B>%s</B>", field_text(folder.NAME));
    emit("</TD>\n");
    emit("</TR>\n");
}

void show_message(const TREE_DATA& folder, const BBS_IDX& record, Listing& listing) {
    const long folder_no = folder.FOLDER_NO;
    sBBS_IDX = record;
    if (listing.table) {
        b_DETAILS_sub(folder_no, record.SEL_NO, listing.all ? 3 : 2);
    } else {
        emit("<B>%s</B><BR>\n", field_text(folder.NAME));
        b_DETAILS_sub(folder_no, record.SEL_NO, 1);
        sBBS_IDX = record;
        if (G_DIR_CONFIG.LINE_RES == 1) b_DETAILS_sub2(folder_no, record.SEL_NO);
        sBBS_IDX = record;
        b_DETAILS_sub3(folder_no, listing.page, 1);
        emit("<HR>\n");
    }
    ++listing.count;
}

// The unread messages of one folder, in the order of their numbers: the
// user's marks read whole first, then the index walked once from its start.
// The renderers reuse the store's buffers; the marks and the record shown
// are the walk's own.
void folder_messages(const TREE_DATA& folder, Listing& listing) {
    const long folder_no = folder.FOLDER_NO;
    if (listing.table) folder_heading_row(folder, listing.all || G_DIR_CONFIG.TIME_LIMIT_FLG != 0);
    // Marks that cannot be read leave every message unread, as a mark beyond
    // the end of the file does.
    std::vector<READ_INDEX> marks;
    if (read_all_marks(G_USER_MST.USER_ID, folder_no, marks) != 0) marks.clear();
    scan_message_index(folder_no, 1, [&](long, const BBS_IDX& record) {
        if (record.SEL_NO <= 0 || record.DEL_FLG != 0) return true;
        const std::size_t at = static_cast<std::size_t>(record.SEL_NO) - 1;
        if (at < marks.size() && marks[at].READ_CHK != 0) return true;
        show_message(folder, record, listing);
        return true;
    });
}

// Every board folder the user may open, in tree order.
void all_folders(Listing& listing) {
    for_each_open_board_folder([&](const TREE_DATA& folder) {
        b_SET_DIR_CONFIG(folder.FOLDER_NO);
        folder_messages(folder, listing);
    });
}

bool read_table_view() {
    char value[1000] = "";
    if (Fio_PERSONAL_MST(G_USER_MST.USER_ID, 1, "UNREAD_LISTMODE", value) != 0) return false;
    return std::strtol(value, nullptr, 10) != 0;
}

// "folder,number" as the list's checkboxes send it; false for anything that
// is not two numbers a record can hold.
bool parse_selection(const char* value, long* folder_no, long* sel_no) {
    char folder_text[100];
    char number_text[100];
    G_cut_filename(value, folder_text, sizeof folder_text, number_text, sizeof number_text);
    char* end = nullptr;
    const long folder = std::strtol(folder_text, &end, 10);
    if (end == folder_text || *end != '\0') return false;
    const long number = std::strtol(number_text, &end, 10);
    if (end == number_text || *end != '\0') return false;
    if (folder < 1 || folder > INT32_MAX || number < 1 || number > INT32_MAX) return false;
    *folder_no = folder;
    *sel_no = number;
    return true;
}

void mark_read(long folder_no, long sel_no) {
    std::memset(&sREAD_INDEX, 0, sizeof sREAD_INDEX);
    sREAD_INDEX.READ_CHK = 1;
    if (Fio_READ_INDEX(G_USER_MST.USER_ID, folder_no, sel_no, 2) != 0) {
        sREAD_INDEX.READ_CHK = 1;
        Fio_READ_INDEX(G_USER_MST.USER_ID, folder_no, sel_no, 4);
    }
}

}  // namespace

void b_NRDETAILS(long in_folder_no) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    const bool one_folder = in_folder_no != 0;
    if (one_folder) {
        open_frame_page(config.BACKPIC2, 2);
    } else {
        open_frame_page("", 2);
    }
    submit_script();

    const bool coloured = one_folder && config.FONTCOLOR2[0] != '\0';
    if (coloured) emit("<FONT COLOR=\"#%s\">", attr(config.FONTCOLOR2));
    emit("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", msg(446));
    emit("<HR>\n");

    if (G_USER_MST.MODE == 2) {
        emit("%s\n", msg(8));
        emit("</BODY>\n");
        emit("</HTML>\n");
        return;
    }

    Listing listing;
    listing.table = read_table_view();
    listing.all = !one_folder;
    long page = request_number("PPage", 1000);
    if (page > INT32_MAX) page = INT32_MAX;
    if (page < INT32_MIN) page = INT32_MIN;
    listing.page = page;

    emit("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", exe());
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"%s\">\n", attr(cgi_SKEY1));
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"%s\">\n", attr(cgi_SKEY2));
    emit("<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"NRDETAILSWR\">\n");
    emit("<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"%d\">\n", cgi_FOLDER_NO);
    emit("<INPUT TYPE=\"hidden\" name=\"uid\" value=\"%s\">\n", attr(cgi_uid));

    if (listing.table) {
        emit("<TABLE BORDER>\n");
        emit("<TR>\n");
        emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\"><BR></TD>\n", lit(kHeading));
        heading_cell(msg(317));
        heading_cell(msg(311));
        heading_cell(msg(312));
        heading_cell(msg(313));
        heading_cell(msg(314));
        heading_cell(msg(315));
        if (!one_folder || config.TIME_LIMIT_FLG != 0) heading_cell(msg(230));
        emit("</TR>\n");
    }

    if (one_folder) {
        // The dispatcher has loaded this folder's settings already.
        TREE_DATA folder = G_TREE_DATA;
        folder.FOLDER_NO = static_cast<int32_t>(in_folder_no);
        folder_messages(folder, listing);
    } else {
        all_folders(listing);
    }

    if (listing.table) {
        emit("</TABLE>\n");
        emit("<P>\n");
    }
    if (coloured) emit("</FONT>");
    select_all_script(listing.count);
    emit("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return sub_chk()\"> \n", msg(447));
    emit("<INPUT TYPE=\"button\" NAME=\"NRFLG\" VALUE=\"%s\" onClick=\"return nr_chk()\"> \n", msg(448));
    emit("</FORM>\n");
    emit("</BODY>\n");
    emit("</HTML>\n");
}

void b_NRDETAILSWR() {
    if (G_USER_MST.MODE == 2) return;
    // Each folder's access is asked once, however many of its messages come.
    std::map<long, bool> readable;
    char value[100];
    for (int n = 0; n < INT_MAX; ++n) {
        if (cgi_getvalue("FOLSEL", n, value, sizeof value) != 0 || value[0] == '\0') return;
        long folder_no = 0;
        long sel_no = 0;
        if (!parse_selection(value, &folder_no, &sel_no)) continue;
        auto known = readable.find(folder_no);
        if (known == readable.end()) known = readable.emplace(folder_no, G_chk_ACL(folder_no) > 0).first;
        if (!known->second) continue;

        // Only a message of the folder gets a mark or a confirmation.
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = static_cast<int32_t>(folder_no);
        sBBS_IDX.SEL_NO = static_cast<int32_t>(sel_no);
        if (Fio_BBS_IDX(1) != 0) continue;
        const BBS_IDX record = sBBS_IDX;
        mark_read(folder_no, sel_no);
        // A deleted message has no directory left to hold a confirmation.
        if (record.CONFIRM == 2 && record.DEL_FLG == 0) {
            record_confirmation(folder_no, sel_no);
        }
    }
}

void b_SET_ALLREAD() {
    if (G_USER_MST.MODE == 2) return;
    long total = Fio_BBS_IDX_MAXCOUNT(cgi_FOLDER_NO, 1);
    if (total > INT32_MAX) total = INT32_MAX;
    if (total <= 0) return;
    // The marks are read once; each batch of 100 is then written with one
    // call under its own lock, so other writers of the marks get their turn
    // between batches. Marks that cannot be read count as unread.
    std::vector<READ_INDEX> marks;
    if (read_all_marks(G_USER_MST.USER_ID, cgi_FOLDER_NO, marks) != 0) marks.clear();
    READ_INDEX batch[READ_INDEX_BATCH];
    for (long first = 1; first <= total; first += READ_INDEX_BATCH) {
        const long count = total - first + 1 < READ_INDEX_BATCH ? total - first + 1 : READ_INDEX_BATCH;
        for (long i = 0; i < count; ++i) {
            const std::size_t at = static_cast<std::size_t>(first + i - 1);
            const int32_t mark = at < marks.size() ? marks[at].READ_CHK : 0;
            batch[i].READ_CHK = mark == 0 ? 1 : mark;
        }
        write_mark_run(G_USER_MST.USER_ID, cgi_FOLDER_NO, first, batch, count);
    }
}
