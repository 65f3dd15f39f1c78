#include "screens/message_list.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cgi/request_parser.h"
#include "config/sysinfo.h"
#include "request/request_state.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/expiry_sweep.h"
#include "store/line_file_engine.h"
#include "store/message_index.h"
#include "store/personal_settings.h"
#include "store/read_marks.h"

namespace {

constexpr const char* kHeading = "#E0FFFF";
constexpr const char* kCell = "#FFFFFF";
constexpr const char* kUnread = "#FFB6C1";

// The five list orders are the five index files.
bool is_list_mode(long mode) { return mode >= 1 && mode <= 5; }
bool is_thread_mode(long mode) { return mode == 2 || mode == 3; }

// Deeper replies than this are indented no further: a damaged record's depth
// must not make a page of billions of spaces.
constexpr int32_t kMaxIndent = 100;

void list_script() {
    emit("<SCRIPT Language=\"JavaScript\">\n");
    emit("<!--\n");
    emit("var count=0;\n");
    emit("var nrcount=0;\n");
    emit("function postcheck(){\n");
    emit("count++;\n");
    emit("if ( count < 2 ){ return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    emit("function nrpostcheck(){\n");
    emit("nrcount++;\n");
    emit("if ( nrcount < 2 ){\n");
    emit("document.NR.SUB.value=\"%s\";\n", msg(420));
    emit("return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    emit("function setPage(newAddress){\n");
    emit("if(newAddress!=\"\"){\n");
    emit("window.location.href=newAddress;\n");
    emit("}\n");
    emit("}\n");
    emit("// -->\n");
    emit("</SCRIPT>\n");
}

void cell(const char* colour, const char* align, const Safe& content) {
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"%s\">%s</TD>\n", lit(colour), lit(align), content);
}

void number_cell(long value) {
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%d</TD>\n", lit(kCell), value);
}

// Previous or next page: a button that goes there, or one that only says why
// it cannot.
void paging_button(long mode, long target_page, bool possible, int caption, int refusal) {
    emit("<FORM NAME=\"Pjamp\" ACTION=\"%s\" METHOD=POST >\n", exe());
    session_fields("FRM222");
    emit("<INPUT TYPE=\"hidden\" name=\"PPage\" value=\"%d\">\n", target_page);
    emit("<INPUT TYPE=\"hidden\" name=\"AC_MODE\" value=\"%d\">\n", mode);
    emit("<TD>\n");
    if (possible) {
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return postcheck()\" >\n", msg(caption));
    } else {
        emit("<INPUT TYPE=\"button\" VALUE=\"%s\"", msg(caption));
        emit(" onClick=\"alert('%s')\">\n", msg_js(refusal));
    }
    emit("</FORM>\n");
    emit("</TD>\n");
}

// One option per page, the last first. A large folder has thousands of
// pages: the address is escaped once and the options go out in large pieces.
void page_options(long mode, long page, long pages) {
    const Safe address = compose("<OPTION VALUE=\"%s?uid=%s&SKEY1=%s&SKEY2=%s&JOB=FRM222&FOLDER_NO=%d&PPage=",
                                 exe(), url(cgi_uid), url(cgi_SKEY1), url(cgi_SKEY2), cgi_FOLDER_NO);
    const Safe mode_part = compose("&AC_MODE=%d\"", mode);
    Safe piece;
    const std::size_t piece_size = 32 * 1024;
    piece.html.reserve(piece_size + address.html.size() + mode_part.html.size() + 64);
    auto number = [&](long n) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
        piece.html.append(digits, static_cast<std::size_t>(end - digits));
    };
    for (long p = pages; p >= 1; --p) {
        piece.html += address.html;
        number(p);
        piece.html += mode_part.html;
        piece.html += p == page ? " SELECTED>" : ">";
        number(p);
        piece.html += " Page\n";
        if (piece.html.size() >= piece_size || p == 1) {
            emit("%s", piece);
            piece.html.clear();
        }
    }
}

void list_buttons(long mode, long page, long pages) {
    new_message_button(true);

    paging_button(mode, page - 1, page > 1, 306, 307);
    paging_button(mode, page + 1, page < pages, 308, 309);

    emit("<TD>\n");
    emit("<FORM NAME=\"Pjamp\" ACTION=\"%s\" METHOD=POST >\n", exe());
    emit("<SELECT NAME=\"PPage\" onChange=\"setPage(this.options[this.selectedIndex].value)\">\n");
    page_options(mode, page, pages);
    emit("</SELECT>\n");
    emit("</FORM>\n");
    emit("</TD>\n");

    emit("<FORM NAME=\"NR\" ACTION=\"%s\" METHOD=POST >\n", exe());
    session_fields("NRDETAILS");
    emit("<TD>\n");
    emit("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return nrpostcheck()\" >\n", msg(446));
    emit("</FORM>\n");
    emit("</TD>\n");
}

void heading_row(long mode, bool marks) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    emit("<TR>\n");
    if (marks) cell(kHeading, "CENTER", msg(310));
    if (is_thread_mode(mode)) cell(kHeading, "CENTER", msg(316));
    cell(kHeading, "CENTER", msg(317));
    cell(kHeading, "CENTER", msg(311));
    cell(kHeading, "CENTER", msg(312));
    cell(kHeading, "CENTER", msg(313));
    cell(kHeading, "CENTER", msg(314));
    cell(kHeading, "CENTER", msg(315));
    if (config.TIME_LIMIT_FLG != 0) cell(kHeading, "CENTER", msg(230));
    emit("</TR>\n");
}

// b_get_noread through readers that keep the thread file and the user's marks
// open: a page checks the threads of all its rows with them.
int thread_has_unread(long in_sel_no, ThreadReader& threads, MarkReader& marks) {
    // The thread is read in one pass and its marks a hundred at a time; any
    // message without a mark of 1 (none stored counts as none) is unread.
    bool unread = false;
    int got = 0;
    auto check_marks = [&] {
        marks.select_batch();
        for (int i = 0; i < got; ++i) {
            if (sREAD_INDEX100[i].READ_CHK == 0) unread = true;
        }
        got = 0;
        std::memset(sREAD_INDEX100, 0, sizeof sREAD_INDEX100);
    };
    std::memset(sREAD_INDEX100, 0, sizeof sREAD_INDEX100);
    const int walked = threads.scan(in_sel_no, in_sel_no, [&](const BBS_IDX& record) {
        // A record without a number (a damaged index) ends the thread, as the
        // end of a batch of twenty would.
        if (record.SEL_NO <= 0) return false;
        sREAD_INDEX100[got++].SEL_NO = record.SEL_NO;
        if (got == READ_INDEX_BATCH) check_marks();
        return !unread;
    });
    // A thread that could not be read to its end counts as read.
    if (walked != STORE_OK && walked != STORE_NOT_FOUND) return 0;
    if (got > 0) check_marks();
    return unread ? 1 : 0;
}

struct RowReaders {
    ThreadReader threads{cgi_FOLDER_NO};
    MarkReader marks{G_USER_MST.USER_ID, cgi_FOLDER_NO};
};

void message_row(const BBS_IDX& record, int32_t read_chk, long mode, long page, bool marks,
                 RowReaders& readers) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    emit("<TR>\n");
    if (marks) {
        const bool unread =
            read_chk == 0 ||
            (is_thread_mode(mode) && thread_has_unread(record.SEL_NO, readers.threads, readers.marks) == 1);
        if (unread) {
            cell(kUnread, "CENTER", msg(320));
        } else {
            emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\"><BR></TD>\n", lit(kCell));
        }
    }
    if (is_thread_mode(mode)) number_cell(record.RES_COUNT);
    number_cell(record.ADD_FILE);

    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">", lit(kCell));
    if (record.WRITE_PRIORITY == 1) emit("%s", msg(405));
    if (record.WRITE_PRIORITY == 2) emit("%s", msg(404));
    emit("<BR></TD>\n");

    number_cell(record.SEL_NO);

    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", lit(kCell));
    for (int32_t level = 0; level < record.CLASS && level < kMaxIndent; ++level) emit("&nbsp;&nbsp;");
    emit("<A HREF=\"%s?SKEY1=%s&SKEY2=%s&uid=%s&JOB=FRM223&FOLDER_NO=%d&SEL_NO=%d&PPage=%d\"", exe(),
         url(cgi_SKEY1), url(cgi_SKEY2), url(cgi_uid), cgi_FOLDER_NO, record.SEL_NO, page);
    // In two frames the message takes the list's place.
    if (!two_frame_layout()) emit(" TARGET=\"FRM223SEL%d\"", cgi_FOLDER_NO);
    emit(">%s</A></TD>\n", record.DEL_FLG != 0 ? msg(319) : field_text(record.WRITE_TITLE));

    cell(kCell, "LEFT", field_text(record.WRITER_NAME));

    // Dates are ASCII "YYYY/MM/DD hh:mm": the date alone is its first 10 bytes.
    std::string date(field_view(record.WRITE_DATE));
    if (config.DATETIME == 1 && date.size() > 10) date.resize(10);
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s<BR></TD>\n", lit(kCell), text(date.c_str()));
    if (config.TIME_LIMIT_FLG != 0) {
        emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s<BR></TD>\n", lit(kCell),
             field_text(record.TIME_LIMIT_DATE));
    }
    emit("</TR>\n");
}

void mode_selector(long mode) {
    emit("<FORM ACTION=\"%s\" METHOD=POST >\n", exe());
    emit("%s:", msg(318));
    emit("<SELECT NAME=\"AC_MODE\" onChange=\"setPage(this.options[this.selectedIndex].value)\">\n");
    for (long m = 1; m <= 5; ++m) {
        const int label = 300 + static_cast<int>(m);
        if (m == mode) {
            emit("<OPTION VALUE=\"%s?uid=%s&SKEY1=%s&SKEY2=%s&JOB=USER_DISP_DEFWR&FOLDER_NO=%d&AC_MODE=%d\" "
                 "SELECTED>%s\n",
                 exe(), url(cgi_uid), url(cgi_SKEY1), url(cgi_SKEY2), cgi_FOLDER_NO, m, msg(label));
        } else {
            emit("<OPTION VALUE=\"%s?uid=%s&SKEY1=%s&SKEY2=%s&JOB=USER_DISP_DEFWR&FOLDER_NO=%d&AC_MODE=%d\">%s\n",
                 exe(), url(cgi_uid), url(cgi_SKEY1), url(cgi_SKEY2), cgi_FOLDER_NO, m, msg(label));
        }
    }
    emit("</SELECT>\n");
    emit("</FORM>\n");
}

}  // namespace

void b_FRM222() {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    open_frame_page(config.BACKPIC2, 2);
    list_script();
    // Expired messages go before anything is counted.
    if (config.TIME_LIMIT_FLG != 0) Fio_CHK_DATE_TXT(cgi_FOLDER_NO);

    long mode = request_number("AC_MODE", 4002);
    if (mode <= 0) mode = G_USER_MST.USER_DISP_DEF;
    // A mode outside the five reads no file (and cannot wrap into one of them).
    const int file_mode = is_list_mode(mode) ? static_cast<int>(mode) : 0;
    long page = request_number("PPage", 4002);
    const long count = file_mode != 0 ? Fio_BBS_IDX_MAXCOUNT(cgi_FOLDER_NO, file_mode) : -1;
    const long pages = (count - 1) / BBS_IDX_PAGE + 1;
    if (page <= 0) page = (mode == 3 || mode == 5) ? 1 : pages;
    // Far beyond any page, but with room for the next page's number.
    if (page > INT32_MAX) page = INT32_MAX;

    const bool coloured = config.FONTCOLOR2[0] != '\0';
    if (coloured) emit("<FONT COLOR=\"#%s\">\n", attr(config.FONTCOLOR2));
    if (file_mode != 0) emit("%s", msg(300 + file_mode));
    emit(" [%d/%d]<BR>\n", page, pages);

    emit("<TABLE>\n");
    emit("<TR>\n");
    list_buttons(mode, page, pages);
    emit("</TR>\n");
    emit("</TABLE>\n");

    const bool marks = G_USER_MST.MODE == 1;
    emit("<TABLE BORDER>\n");
    heading_row(mode, marks);

    // The thread check below reuses the store's buffers: the page is kept here.
    BBS_IDX rows[BBS_IDX_PAGE] = {};
    int32_t read_chk[BBS_IDX_PAGE] = {};
    int row_count = 0;
    // A folder that stayed locked for the count is not waited for twice.
    int page_read = STORE_NOT_FOUND;
    if (count == STORE_LOCK_BUSY) {
        page_read = STORE_LOCK_BUSY;
    } else if (file_mode != 0) {
        page_read = Fio_BBS_IDX20(cgi_FOLDER_NO, file_mode, page);
    }
    if (page_read == STORE_OK) {
        while (row_count < BBS_IDX_PAGE && sBBS_IDX20[row_count].SEL_NO != 0) {
            rows[row_count] = sBBS_IDX20[row_count];
            ++row_count;
        }
    }
    RowReaders readers;
    if (marks && row_count > 0) {
        std::memset(sREAD_INDEX100, 0, sizeof sREAD_INDEX100);
        for (int i = 0; i < row_count; ++i) sREAD_INDEX100[i].SEL_NO = rows[i].SEL_NO;
        readers.marks.select_batch();
        for (int i = 0; i < row_count; ++i) read_chk[i] = sREAD_INDEX100[i].READ_CHK;
    }
    for (int i = 0; i < row_count; ++i) message_row(rows[i], read_chk[i], mode, page, marks, readers);

    emit("</TABLE>\n");
    // A writer that kept the folder past the reader's wait: the page says so
    // rather than showing the folder empty.
    if (page_read == STORE_LOCK_BUSY) emit("%s<BR>\n", msg(19));
    emit("<BR>\n");
    mode_selector(mode);
    if (coloured) emit("</FONT>\n");
    emit("</BODY>\n");
    emit("</HTML>\n");
}

int b_USER_DISP_DEFWR() {
    const long mode = request_number("AC_MODE", 100);
    // A personal account keeps its choice, so that the message frame's
    // previous and next follow the list the user is looking at. A shared
    // account is many people: the choice lasts for the list's own links only.
    if (G_USER_MST.MODE == 1 && is_list_mode(mode)) {
        char value[40];
        std::snprintf(value, sizeof value, "%ld", mode);
        if (Fio_PERSONAL_MST(G_USER_MST.USER_ID, 4, "USER_DISP_DEF", value) != 0) {
            Fio_PERSONAL_MST(G_USER_MST.USER_ID, 2, "USER_DISP_DEF", value);
        }
        G_USER_MST.USER_DISP_DEF = mode;
    }
    return 0;
}

int b_get_noread(long in_folder, long in_sel_no) {
    ThreadReader threads(in_folder);
    MarkReader marks(G_USER_MST.USER_ID, cgi_FOLDER_NO);
    return thread_has_unread(in_sel_no, threads, marks);
}
