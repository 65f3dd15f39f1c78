#include "screens/message_detail.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "cgi/request_parser.h"
#include "config/message_table.h"
#include "config/sysinfo.h"
#include "request/request_state.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/confirmations.h"
#include "store/file_primitives.h"
#include "store/folder_files.h"
#include "store/line_replies.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "store/read_marks.h"
#include "store/users.h"
#include "util/bytes.h"
#include "util/html_escape.h"
#include "util/text_helpers.h"

namespace {

constexpr const char* kHeading = "#E0FFFF";
constexpr const char* kCell = "#FFFFFF";
constexpr const char* kMark = "#FFB6C1";

// Deeper replies than this are indented no further (a damaged depth must not
// print billions of spaces).
constexpr int32_t kMaxIndent = 100;
// Attachment slots are two-digit directories.
constexpr int32_t kMaxSlots = 99;
// One-line reply text as stored: at most 250 bytes.
constexpr std::size_t kLineReplySize = 251;

bool reverse_order(long mode) { return mode == 3 || mode == 5; }

// Numbers from the request are clamped to what a record field can hold.
long clamp_to_int32(long value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return value;
}

// Reads message sel_no of the folder into sBBS_IDX (cleared first, so a
// number without a record leaves only the folder and the number). 0, or the
// store's result: -1 when the number names no message of the folder, and then
// nothing may be written for it. A folder already found locked past the
// reader's wait (folder_busy) is not waited for again: -9.
int read_message(long folder_no, long sel_no, bool folder_busy = false) {
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = static_cast<int32_t>(folder_no);
    sBBS_IDX.SEL_NO = static_cast<int32_t>(clamp_to_int32(sel_no));
    if (sel_no < 1 || sel_no > INT32_MAX) return -1;
    return folder_busy ? STORE_LOCK_BUSY : Fio_BBS_IDX(1);
}

bool is_writer(const BBS_IDX& record) {
    return record.WRITER_ID[0] != '\0' && std::strcmp(record.WRITER_ID, G_USER_MST.USER_ID) == 0;
}

void cell(const char* colour, const char* align, const Safe& content) {
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"%s\">%s</TD>\n", lit(colour), lit(align), content);
}

void number_cell(long value) {
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%d</TD>\n", lit(kCell), value);
}

void white_cell() { emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\"><BR></TD>\n", lit(kCell)); }

void priority_cell(const BBS_IDX& record) {
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">", lit(kCell));
    if (record.WRITE_PRIORITY == 1) emit("%s", msg(405));
    if (record.WRITE_PRIORITY == 2) emit("%s", msg(404));
    emit("<BR></TD>\n");
}

void indent(const BBS_IDX& record) {
    for (int32_t level = 0; level < record.CLASS && level < kMaxIndent; ++level) emit("&nbsp;&nbsp;");
}

// Dates are ASCII "YYYY/MM/DD hh:mm": the date alone is its first 10 bytes.
Safe shown_date(const char (&field)[20]) {
    std::string date(field_view(field));
    if (G_DIR_CONFIG.DATETIME == 1 && date.size() > 10) date.resize(10);
    return text(date.c_str());
}

// The two texts are the program's own wording, put into double-quoted
// script strings.
void detail_script() {
    emit("<SCRIPT Language=\"JavaScript\">\n");
    emit("<!--\n");
    emit("var count=0;\n");
    emit("function postcheck(){\n");
    emit("if ( document.INPUT.LINE_RES.value==\"\" ) {\n");
    emit("window.alert( \"%s\" );\n", js(STRDEF.Message[234]));
    emit("return false }\n");
    emit("else { \n");
    emit("count++;\n");
    emit("document.INPUT.SUB.value=\"%s\";\n", js(STRDEF.Message[420]));
    emit("if ( count < 2 ){ return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    emit("}\n");
    emit("// -->\n");
    emit("</SCRIPT>\n");
}

// A button's destination: a message and the list page it stands on.
struct Target {
    long sel_no = 0;
    long page = 0;
};

struct Neighbours {
    Target first;   // the "previous" button
    Target second;  // the "next" button
    bool folder_busy = false;  // the page stayed locked past the reader's wait
};

// Copies page `page` of index file `mode` out of the store's buffer; an empty
// page when it cannot be read (busy set when the lock was held).
int read_page(long folder_no, int mode, long page, BBS_IDX (&rows)[BBS_IDX_PAGE], bool* busy = nullptr) {
    std::memset(rows, 0, sizeof rows);
    const int read = Fio_BBS_IDX20(folder_no, mode, page);
    if (busy != nullptr) *busy = read == STORE_LOCK_BUSY;
    if (read != 0) return 0;
    int count = 0;
    while (count < BBS_IDX_PAGE && sBBS_IDX20[count].SEL_NO != 0) {
        rows[count] = sBBS_IDX20[count];
        ++count;
    }
    return count;
}

// The neighbours of sel_no in list order `mode` on page `page`. In the
// orders by activity (3, 5) the list runs newest first, so the first button
// goes to what follows in the file and the second to what precedes it.
Neighbours find_neighbours(long folder_no, long mode, long page, long sel_no) {
    Neighbours result;
    result.first.page = page;
    result.second.page = page;
    if (mode < 1 || mode > 5) return result;
    const int file_mode = static_cast<int>(mode);
    Target& before = reverse_order(mode) ? result.second : result.first;
    Target& after = reverse_order(mode) ? result.first : result.second;

    BBS_IDX rows[BBS_IDX_PAGE];
    const int count = read_page(folder_no, file_mode, page, rows, &result.folder_busy);
    for (int i = 0; i < count; ++i) {
        if (rows[i].SEL_NO != sel_no) {
            before = {rows[i].SEL_NO, page};
            continue;
        }
        if (i == 0 && page > 1) {
            BBS_IDX previous[BBS_IDX_PAGE];
            read_page(folder_no, file_mode, page - 1, previous);
            before = {previous[BBS_IDX_PAGE - 1].SEL_NO, page - 1};
        }
        if (i == BBS_IDX_PAGE - 1) {
            BBS_IDX next[BBS_IDX_PAGE];
            read_page(folder_no, file_mode, page + 1, next);
            after = {next[0].SEL_NO, page + 1};
        } else {
            after = {rows[i + 1].SEL_NO, page};
        }
        break;
    }
    return result;
}

void navigation_form(const Target& target, int caption, int refusal) {
    emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", exe());
    session_fields("FRM223");
    emit("<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"%d\">\n", target.sel_no);
    emit("<INPUT TYPE=\"hidden\" name=\"PPage\" value=\"%d\">\n", target.page);
    emit("<TD NOWRAP>\n");
    if (target.sel_no != 0) {
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", msg(caption));
    } else {
        emit("<INPUT TYPE=\"button\" VALUE=\"%s\"", msg(caption));
        emit(" onClick=\"alert('%s')\">\n", msg_js(refusal));
    }
    emit("</FORM>\n");
    emit("</TD>\n");
}

void sel_no_field(long sel_no) { emit("<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"%d\">\n", sel_no); }

// Marks the message read for a user who keeps marks, and records the
// confirmation of a message that asks for one at every view.
void record_view(long folder_no, const BBS_IDX& record) {
    if (G_USER_MST.MODE != 1) return;
    const long sel_no = record.SEL_NO;
    Fio_READ_INDEX(G_USER_MST.USER_ID, folder_no, sel_no, 1);
    if (sREAD_INDEX.READ_CHK == 0) {
        sREAD_INDEX.READ_CHK = 1;
        if (Fio_READ_INDEX(G_USER_MST.USER_ID, folder_no, sel_no, 2) != 0) {
            Fio_READ_INDEX(G_USER_MST.USER_ID, folder_no, sel_no, 4);
        }
    }
    // A deleted message has no directory left to hold a confirmation.
    if (record.CONFIRM == 2 && record.DEL_FLG == 0) {
        record_confirmation(folder_no, sel_no);
    }
}

void line_reply_form(long sel_no) {
    emit("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", exe());
    session_fields("LINE_RESWR");
    sel_no_field(sel_no);
    emit("<P>\n");
    emit("<TABLE BORDER>\n");
    emit("<TR>\n");
    emit("<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", lit(kHeading), msg(233));
    emit("<TD BGCOLOR=\"%s\" ALIGN=\"CENTER\">\n", lit(kCell));
    emit("<INPUT TYPE=\"text\" NAME=\"LINE_RES\" SIZE=\"40\" MAXLENGTH=\"250\" >\n");
    emit("</TD>\n");
    emit("<TD BGCOLOR=\"%s\" ALIGN=\"CENTER\">\n", lit(kCell));
    emit("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return postcheck()\" > \n", msg(412));
    emit("</TD>\n");
    emit("</FORM>\n");
    emit("</TR>\n");
    emit("</TABLE>\n");
    emit("<P>\n");
}

// The names of those who confirmed, and the confirm button for a reader who
// may still confirm.
void confirmations(long folder_no, const BBS_IDX& record) {
    const long sel_no = record.SEL_NO;
    emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", exe());
    session_fields("CONFIRMWR");
    sel_no_field(sel_no);
    emit("<P>\n");
    emit("<TABLE BORDER>\n");
    emit("<TR>\n");
    emit("<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", lit(kHeading), msg(426));
    emit("<TD BGCOLOR=\"%s\" ALIGN=\"CENTER\">\n", lit(kCell));
    int count = Fio_CONFIRM_TXT_COUNT(folder_no, sel_no);
    if (count < 0) count = 0;  // unreadable: shown as none
    emit("<SELECT>\n");
    emit("<OPTION>%d %s\n", count, msg(429));
    int printed = 0;
    for (long start = 0; printed < count; start += CONFIRM_BATCH) {
        if (Fio_CONFIRM_TXT100(folder_no, sel_no, start) != 0) break;
        int got = 0;
        while (got < CONFIRM_BATCH && sCONFIRM_TXT100[got].USER_ID[0] != '\0' && printed < count) {
            emit("<OPTION>%s\n", field_text(sCONFIRM_TXT100[got].USER_NAME));
            ++got;
            ++printed;
        }
        if (got == 0) break;
    }
    emit("</SELECT>\n");
    emit("</TD>\n");
    if (G_USER_MST.MODE == 1 && record.CONFIRM == 1) {
        emit("<TD BGCOLOR=\"%s\" ALIGN=\"CENTER\">\n", lit(kCell));
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\" > \n", msg(427), msg_js(428));
        emit("</TD>\n");
    }
    emit("</FORM>\n");
    emit("</TR>\n");
    emit("</TABLE>\n");
    emit("<P>\n");
}

// The head of a form that opens the compose form: in the compose window when
// the user writes there.
void compose_form_head() {
    emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST ", exe());
    if (G_USER_MST.WRITE_MODE == 2) emit("TARGET=\"WBWRITE%d\"", cgi_FOLDER_NO);
    emit(">\n");
}

void plain_form_head() {
    emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", exe());
}

void form_tail() {
    emit("</FORM>\n");
    emit("</TD>\n");
}

void action_buttons(const BBS_IDX& record, long page) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    const bool deleted = record.DEL_FLG != 0;
    const bool personal = G_USER_MST.MODE == 1;
    emit("<TABLE>\n");
    emit("<TR>\n");
    if (ACL_LEVEL > 1) {
        compose_form_head();
        session_fields("BWRITE_NEW");
        emit("<TD>\n");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", msg(300));
        form_tail();
    }
    if (ACL_LEVEL > 1 && !deleted && config.RES_PERMIT_FLG == 0) {
        compose_form_head();
        session_fields("BWRITE_RES");
        sel_no_field(record.SEL_NO);
        emit("<TD>\n");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", msg(402));
        form_tail();
    }
    if (config.REWRITE_FLG == 2 && is_writer(record) && personal && !deleted) {
        compose_form_head();
        session_fields("BWRITE_REW");
        sel_no_field(record.SEL_NO);
        emit("<TD>\n");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", msg(403));
        form_tail();
    }
    if ((ACL_LEVEL > 7 || is_writer(record)) && personal) {
        plain_form_head();
        session_fields("BWRITE_DELWR");
        sel_no_field(record.SEL_NO);
        emit("<TD>\n");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\" > \n", msg(219), msg_js(422));
        form_tail();
    }
    if (ACL_LEVEL > 7 && personal) {
        plain_form_head();
        session_fields("WRITE_MOVE");
        sel_no_field(record.SEL_NO);
        emit("<INPUT TYPE=\"hidden\" name=\"BBS_G_NO\" value=\"%d\">\n", record.BBS_G_NO);
        emit("<TD>\n");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\"> \n", msg(452));
        form_tail();
    }
    if (two_frame_layout()) {
        plain_form_head();
        session_fields("FRM222");
        emit("<INPUT TYPE=\"hidden\" name=\"PPage\" value=\"%d\">\n", page);
        emit("<TD>\n");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", msg(321));
        form_tail();
    }
    emit("</TR>\n");
    emit("</TABLE>\n");
}

// The body as the page shows it: quoted lines coloured, and in plain-text mode
// addresses made into links through the jump handler and line breaks into
// <BR>. Whatever the mode, the result is HTML a user wrote, so it goes out
// through the sanitizer.
void prepare_body(long folder_no, long sel_no, const BBS_IDX& record) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    if (Fio_BODY_TXT(folder_no, sel_no, 1, G_WRITE_DATA, sizeof G_WRITE_DATA) != 0) {
        G_WRITE_DATA[0] = '\0';  // a body that could not be read shows empty
    }
    if (config.RESFONTCOLOR3[0] != '\0') G_Add_Blue(G_WRITE_DATA, config.RESFONTCOLOR3, sizeof G_WRITE_DATA);
    if (record.HTML_MODE == 0) {
        char target[4002] = "";
        Fio_DIR_CONFIG(folder_no, 1, "LINK_TARGET", target);
        char prefix[1024];
        std::snprintf(prefix, sizeof prefix, "%s?JOB=JUMPLINK&FOLDER_NO=%ld&uid=%s&SKEY1=%s&SKEY2=%s&URL=", JOB_EXE,
                      cgi_FOLDER_NO, url_arg(cgi_uid).c_str(), url_arg(cgi_SKEY1).c_str(),
                      url_arg(cgi_SKEY2).c_str());
        G_Add_a_href(G_WRITE_DATA, target, prefix, sizeof G_WRITE_DATA);
        G_CrLf_to_BR(G_WRITE_DATA, sizeof G_WRITE_DATA);
    }
}

void print_body(const BBS_IDX& record) {
    if (record.HTML_MODE == 1) {
        emit("<PRE>%s</PRE>", html(G_WRITE_DATA));
    } else {
        emit("%s", html(G_WRITE_DATA));
    }
}

void head_table(long folder_no, long sel_no, const BBS_IDX& record, int mode) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    // The writer's record gives the picture and the address; sUSER_MST is the
    // store's scratch record, G_USER_MST stays the reader.
    std::string picture_owner;
    std::string mail;
    if (record.WRITER_ID[0] != '\0' && Fio_USER_MST(record.WRITER_ID, 1) == 0) {
        if (sUSER_MST.PICFILE[0] != '\0') picture_owner = sUSER_MST.USER_ID;
        mail = field_view(sUSER_MST.E_MAIL_ADDR);
    }

    emit("<TABLE BORDER=0>\n");
    emit("<TR>\n");
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", lit(kHeading));
    if (mode == 1) emit("<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"%d,%d\">", folder_no, sel_no);
    emit("%s</TD>\n", msg(312));
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%d</TD>\n", lit(kCell), record.SEL_NO);
    if (!picture_owner.empty()) {
        emit("\t<TD NOWRAP ALIGN=\"CENTER\" ROWSPAN=4 >\n");
        emit("<IMG SRC=\"%s?JOB=USER_PIC_DOWNLOAD&uid=%s&SKEY1=%s&SKEY2=%s&USER_ID=%s\">\n",
             attr(SYSINFO.CGI_FILE_NAME), url(cgi_uid), url(cgi_SKEY1), url(cgi_SKEY2),
             url(picture_owner.c_str()));
        emit("\t</TD>\n");
    }
    emit("</TR>\n");

    emit("<TR>\n");
    cell(kHeading, "LEFT", msg(313));
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", lit(kCell));
    if (mode == 1) {
        emit("<A HREF=\"%s?JOB=NRROOM&uid=%s&SKEY1=%s&SKEY2=%s&FOLDER_NO=%d&SEL_NO=%d\" TARGET=\"FRM22%s\">", exe(),
             url(cgi_uid), url(cgi_SKEY1), url(cgi_SKEY2), folder_no, sel_no, attr(SYSINFO.SITE_ID));
    }
    emit("%s", field_text(record.WRITE_TITLE));
    if (mode == 1) emit("</A>");
    emit("</TD>\n");
    emit("</TR>\n");

    emit("<TR>\n");
    cell(kHeading, "LEFT", msg(314));
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", lit(kCell));
    if (!mail.empty()) emit("<A HREF=\"mailto:%s\">", attr(mail.c_str()));
    emit("%s ", field_text(record.WRITER_NAME));
    if (config.WRITER_ID == 0) emit("[%s]", field_text(record.WRITER_ID));
    if (!mail.empty()) emit("</A>\n");
    emit("</TD>\n");
    emit("</TR>\n");

    emit("<TR>\n");
    cell(kHeading, "LEFT", msg(315));
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", lit(kCell), shown_date(record.WRITE_DATE));
    emit("</TR>\n");
    emit("</TABLE>\n");
}

// Full views end their parts with a rule in the frame, a paragraph in the
// unread list.
void section_end(int mode) {
    if (mode == 0) {
        emit("<HR>\n");
    } else {
        emit("<P>\n");
    }
}

void attachments(long folder_no, long sel_no, int mode) {
    const int32_t slots = G_DIR_CONFIG.ATTACH_MAX < kMaxSlots ? G_DIR_CONFIG.ATTACH_MAX : kMaxSlots;
    for (int32_t slot = 1; slot <= slots; ++slot) {
        std::memset(&sADD_FILE, 0, sizeof sADD_FILE);
        sADD_FILE.SEL_NO = static_cast<int32_t>(sel_no);
        sADD_FILE.SUB_NO = slot;
        if (Fio_ADD_FILE_TXT(folder_no, 1) != 0) continue;
        char name[sizeof sADD_FILE.FILE_NAME];
        copy_field(name, sADD_FILE.FILE_NAME);
        // A name that could never be a file of the slot is left out.
        char path[1024];
        if (!attachment_file_path(path, sizeof path, folder_no, sel_no, slot, name)) continue;
        char size[KETADORI_TEXT_SIZE];
        std::snprintf(size, sizeof size, "%ld", Cu_get_filelength(path));
        G_ketadori(size, sizeof size);
        emit("%s %d:", msg(407), slot);
        emit("<A HREF=\"%s?JOB=ATDL&SKEY1=%s&SKEY2=%s&uid=%s&FOLDER_NO=%d&SEL_NO=%d&SUB_NO=%d\">%s (%s byte)</A><P>\n",
             exe(), url(cgi_SKEY1), url(cgi_SKEY2), url(G_USER_MST.USER_ID), folder_no, sel_no, slot, text(name),
             text(size));
    }
    section_end(mode);
}

void message_in_full(long folder_no, long sel_no, int mode) {
    const BBS_IDX record = sBBS_IDX;
    prepare_body(folder_no, sel_no, record);
    head_table(folder_no, sel_no, record, mode);
    if (mode == 0) emit("<HR>\n");
    print_body(record);
    section_end(mode);
    if (record.ADD_FILE > 0) attachments(folder_no, sel_no, mode);
}

void message_row(long folder_no, long sel_no, int mode) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    const BBS_IDX record = sBBS_IDX;
    emit("<TR>\n");
    emit("\t<TD><INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"%d,%d\"></TD>\n", folder_no, sel_no);
    number_cell(record.ADD_FILE);
    priority_cell(record);
    number_cell(record.SEL_NO);
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", lit(kCell));
    indent(record);
    emit("<A HREF=\"%s?SKEY1=%s&SKEY2=%s&uid=%s&JOB=NRROOM&FOLDER_NO=%d&SEL_NO=%d\"", exe(), url(cgi_SKEY1),
         url(cgi_SKEY2), url(cgi_uid), folder_no, sel_no);
    emit(" TARGET=\"FRM22%s\"", attr(SYSINFO.SITE_ID));
    emit(">%s</A></TD>\n", field_text(record.WRITE_TITLE));
    cell(kCell, "LEFT", field_text(record.WRITER_NAME));
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s<BR></TD>\n", lit(kCell), shown_date(record.WRITE_DATE));
    if (config.TIME_LIMIT_FLG != 0) {
        emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s<BR></TD>\n", lit(kCell),
             field_text(record.TIME_LIMIT_DATE));
    } else if (mode == 3) {
        white_cell();
    }
    emit("</TR>\n");
}

void thread_heading(bool marks) {
    emit("<TR>\n");
    if (marks) cell(kHeading, "CENTER", msg(310));
    cell(kHeading, "CENTER", msg(424));
    cell(kHeading, "CENTER", msg(317));
    cell(kHeading, "CENTER", msg(311));
    cell(kHeading, "CENTER", msg(312));
    cell(kHeading, "CENTER", msg(313));
    cell(kHeading, "CENTER", msg(314));
    cell(kHeading, "CENTER", msg(315));
    emit("</TR>\n");
}

void thread_row(long folder_no, long page, int mode, const BBS_IDX& row, int32_t read_chk, long current,
                bool marks) {
    emit("<TR>\n");
    if (marks) {
        if (read_chk == 0) {
            cell(kMark, "CENTER", msg(320));
        } else {
            white_cell();
        }
    }
    if (row.SEL_NO == current) {
        emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s<BR></TD>\n", lit(kMark), msg(425));
    } else {
        white_cell();
    }
    number_cell(row.ADD_FILE);
    priority_cell(row);
    number_cell(row.SEL_NO);
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", lit(kCell));
    indent(row);
    if (mode == 0) {
        emit("<A HREF=\"%s?SKEY1=%s&SKEY2=%s&uid=%s&JOB=FRM223&FOLDER_NO=%d&SEL_NO=%d&PPage=%d\"", exe(),
             url(cgi_SKEY1), url(cgi_SKEY2), url(cgi_uid), folder_no, row.SEL_NO, page);
        if (!two_frame_layout()) emit(" TARGET=\"FRM223SEL%d\"", folder_no);
    } else {
        emit("<A HREF=\"%s?SKEY1=%s&SKEY2=%s&uid=%s&JOB=NRROOM&FOLDER_NO=%d&SEL_NO=%d&PPage=%d\"", exe(),
             url(cgi_SKEY1), url(cgi_SKEY2), url(cgi_uid), folder_no, row.SEL_NO, page);
        emit(" TARGET=\"FRM22%s\"", attr(SYSINFO.SITE_ID));
    }
    emit(">%s</A></TD>\n", row.DEL_FLG != 0 ? msg(319) : field_text(row.WRITE_TITLE));
    cell(kCell, "LEFT", field_text(row.WRITER_NAME));
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">%s</TD>\n", lit(kCell), shown_date(row.WRITE_DATE));
    emit("</TR>\n");
}

}  // namespace

void b_DETAILS_sub(long folder_no, long sel_no, int mode) {
    if (sBBS_IDX.DEL_FLG != 0) {
        emit("%s<BR>\n", msg(413));
        emit("%s<BR>\n", msg(414));
        emit("%s<BR>\n", msg(415));
        emit("%s<P>\n", msg(416));
        return;
    }
    if (mode == 0 || mode == 1) {
        message_in_full(folder_no, sel_no, mode);
    } else if (mode == 2 || mode == 3) {
        message_row(folder_no, sel_no, mode);
    }
}

void b_DETAILS_sub2(long folder_no, long sel_no) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    const bool coloured = config.FONTCOLOR3[0] != '\0';
    // Every full batch moves the start on by 20, so the walk ends with the file.
    for (long start = 0;; start += LINE_RES_BATCH) {
        if (Fio_LINE_RES_TXT20(folder_no, sel_no, start) != 0) return;
        int got = 0;
        while (got < LINE_RES_BATCH && sLINE_RES_TXT20[got].USER_ID[0] != '\0') {
            const LINE_RES_TXT& reply = sLINE_RES_TXT20[got];
            emit("<FONT COLOR=\"#%s\">", attr(config.RESFONTCOLOR3));
            emit("%s", field_text(reply.USER_NAME));
            emit("</FONT>&nbsp;");
            if (coloured) emit("<FONT COLOR=\"#%s\">", attr(config.FONTCOLOR3));
            emit("%s", field_text(reply.LINE_REPLY));
            if (coloured) emit("</FONT>");
            emit("<BR>\n");
            ++got;
        }
        if (got < LINE_RES_BATCH) return;
    }
}

void b_DETAILS_sub3(long folder_no, long page, int mode) {
    const BBS_IDX saved = sBBS_IDX;
    const bool marks = G_USER_MST.MODE == 1;
    std::optional<MarkReader> mark_reader;
    if (marks) mark_reader.emplace(G_USER_MST.USER_ID, folder_no);

    // The thread is read in one pass and printed twenty rows at a time, each
    // batch with its marks. A thread of one message has no table.
    BBS_IDX rows[BBS_IDX_PAGE];
    int count = 0;
    bool table = false;
    auto print_rows = [&] {
        int32_t read_chk[BBS_IDX_PAGE] = {};
        if (marks) {
            std::memset(sREAD_INDEX100, 0, sizeof sREAD_INDEX100);
            for (int i = 0; i < count; ++i) sREAD_INDEX100[i].SEL_NO = rows[i].SEL_NO;
            mark_reader->select_batch();
            for (int i = 0; i < count; ++i) read_chk[i] = sREAD_INDEX100[i].READ_CHK;
        }
        if (!table) {
            emit("<TABLE BORDER>\n");
            thread_heading(marks);
            table = true;
        }
        for (int i = 0; i < count; ++i) thread_row(folder_no, page, mode, rows[i], read_chk[i], saved.SEL_NO, marks);
        count = 0;
    };
    // A record without a number (a damaged index) ends the thread. A thread
    // that cannot be read on shows what was read before.
    scan_thread(folder_no, saved.BBS_G_NO, 0, [&](const BBS_IDX& record) {
        if (record.SEL_NO == 0) return false;
        rows[count++] = record;
        if (count == BBS_IDX_PAGE) print_rows();
        return true;
    });
    if (count > 1 || (table && count > 0)) print_rows();
    if (table) emit("</TABLE>\n");
    sBBS_IDX = saved;
}

void b_FRM223() {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    open_frame_page(config.BACKPIC3, 3);
    detail_script();
    G_WRITE_DATA[0] = '\0';

    const long sel_no = clamp_to_int32(request_number("SEL_NO", 1000));
    long mode = request_number("AC_MODE", 1000);
    if (mode <= 0) mode = G_USER_MST.USER_DISP_DEF;
    const long page = clamp_to_int32(request_number("PPage", 1000));

    if (sel_no <= 0) {
        emit("</BODY>\n");
        emit("</HTML>\n");
        return;
    }
    const Neighbours neighbours = find_neighbours(cgi_FOLDER_NO, mode, page, sel_no);

    const bool coloured = config.FONTCOLOR3[0] != '\0';
    if (coloured) emit("<FONT COLOR=\"#%s\">", attr(config.FONTCOLOR3));
    // A number without a record shows as that number with empty fields, and
    // nothing is written for it.
    const int found = read_message(cgi_FOLDER_NO, sel_no, neighbours.folder_busy);
    const bool exists = found == 0;
    const BBS_IDX record = sBBS_IDX;
    if (exists) record_view(cgi_FOLDER_NO, record);

    emit("<TABLE>\n");
    emit("<TR>\n");
    navigation_form(neighbours.first, 455, 457);
    navigation_form(neighbours.second, 454, 456);
    emit("</TR>\n");
    emit("</TABLE>\n");

    sBBS_IDX = record;
    if (exists) {
        b_DETAILS_sub(cgi_FOLDER_NO, sel_no, 0);
    } else if (found == STORE_LOCK_BUSY) {
        // The folder stayed locked past the reader's wait: not an empty message.
        emit("%s<HR>\n", msg(19));
    } else {
        // Nothing to read for it: the head with its number, an empty body.
        head_table(cgi_FOLDER_NO, sel_no, record, 0);
        emit("<HR>\n");
        emit("<HR>\n");
    }
    if (coloured) emit("</FONT>");

    const bool deleted = record.DEL_FLG != 0;
    if (config.LINE_RES == 1 && !deleted) {
        if (exists) b_DETAILS_sub2(cgi_FOLDER_NO, sel_no);
        if (ACL_LEVEL > 1) line_reply_form(sel_no);
    }

    sBBS_IDX = record;
    b_DETAILS_sub3(cgi_FOLDER_NO, page, 0);

    if (config.CONFIRM != 0 && !deleted && (record.CONFIRM == 1 || record.CONFIRM == 2)) {
        confirmations(cgi_FOLDER_NO, record);
    }
    action_buttons(record, page);
    emit("</BODY>\n");
    emit("</HTML>\n");
}

void b_CONFIRMWR() {
    if (G_DIR_CONFIG.CONFIRM == 0 || G_USER_MST.MODE != 1) return;
    const long sel_no = request_number("SEL_NO", 10);
    if (read_message(cgi_FOLDER_NO, sel_no) != 0 || sBBS_IDX.DEL_FLG != 0) return;
    record_confirmation(cgi_FOLDER_NO, sel_no);
}

int b_LINE_RESWR() {
    if (ACL_LEVEL <= 1) return 1;
    const long sel_no = request_number("SEL_NO", 100);
    char reply[256] = "";
    cgi_getvalue("LINE_RES", 0, reply, sizeof reply);
    G_setStrlength(reply, kLineReplySize);
    if (reply[0] == '\0') return 2;
    // Only a live message takes replies: a deleted one has no directory left.
    const int found = read_message(cgi_FOLDER_NO, sel_no);
    if (found != 0) return found;
    if (sBBS_IDX.DEL_FLG != 0) return -1;

    std::memset(&sLINE_RES_TXT, 0, sizeof sLINE_RES_TXT);
    sLINE_RES_TXT.FOLDER_NO = static_cast<int32_t>(cgi_FOLDER_NO);
    sLINE_RES_TXT.SEL_NO = static_cast<int32_t>(sel_no);
    copy_field(sLINE_RES_TXT.USER_ID, G_USER_MST.USER_ID);
    copy_field(sLINE_RES_TXT.USER_NAME, G_USER_MST.USER_NAME);
    copy_field(sLINE_RES_TXT.LINE_REPLY, reply);
    const int result = Fio_LINE_RES_TXT(2);
    if (result != 0) return result;
    // New words under the message make it unread for everyone, the writer of
    // the reply included: the frame that follows marks it read again for them.
    read_marks_for_all_users(cgi_FOLDER_NO, sel_no, 0, MarkResize::none, 0);
    return 0;
}
