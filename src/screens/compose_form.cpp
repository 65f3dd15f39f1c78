// The compose form (JOB "BWRITE_NEW", "BWRITE_RES", "BWRITE_REW"): a new
// message, a reply with the parent's body quoted, or an edit of a message.
#include "screens/compose_form.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/sysinfo.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"
#include "util/dates.h"
#include "util/text_helpers.h"

namespace {

constexpr int kNew = 1;
constexpr int kReply = 2;
constexpr int kEdit = 3;

// The slot directories are numbered with two digits ("atfile%02d"): more
// slots than that cannot be stored, whatever dir.cnf says.
constexpr long kMaxAttachSlots = 99;

// Request size of SEL_NO.
constexpr std::size_t kNumberSize = 4002;

// The short page of a refusal: the message alone.
void refusal_page(int message) {
    G_header_printf("");
    emit("%s\n", msg(message));
    emit("</BODY>\n");
    emit("</HTML>\n");
}

void label_cell(int label) {
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", lit("#E0FFFF"), msg(label));
}

// A row up to its value cell's content.
void open_row(int label) {
    emit("<TR>\n");
    label_cell(label);
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", lit("#FFFFFF"));
}

// Closes the value cell and the row.
void close_row() {
    emit("</TD>\n");
    emit("</TR>\n");
}

void option(int value, long current, const Safe& label) {
    emit("<OPTION VALUE=\"%d\"%s>%s\n", value, lit(value == current ? " SELECTED" : ""), label);
}

// The slots the form offers: dir.cnf's ATTACH_MAX within what can be stored.
long attachment_slots() {
    const long configured = G_DIR_CONFIG.ATTACH_MAX;
    if (configured <= 0) return 0;
    return configured > kMaxAttachSlots ? kMaxAttachSlots : configured;
}

// Field width: Internet Explorer draws text fields narrower than the others.
long field_width() {
    const char* agent = std::getenv("HTTP_USER_AGENT");
    if (agent != nullptr && G_StrFind(agent, "MSIE") >= 0) return SYSINFO.IECOLS;
    return SYSINFO.NSCOLS;
}

// The reply's title: the folder's reply header with the new depth in front of
// the parent's title without its old header; any reply title is cut to 80.
void reply_title(const BBS_IDX& parent, char (&title)[sizeof(BBS_IDX::WRITE_TITLE)]) {
    // A damaged record may leave the field unterminated.
    char parent_title[sizeof parent.WRITE_TITLE];
    copy_field(parent_title, parent.WRITE_TITLE);
    const char* header = G_DIR_CONFIG.RES_HEADER;
    const std::size_t header_size = std::strlen(header);
    char made[sizeof(G_DIR_CONFIG.RES_HEADER) + 24 + sizeof parent_title];
    if (header_size == 0) {
        copy_field(made, parent_title);
    } else {
        int skip = 0;
        if (std::strncmp(parent_title, header, header_size) == 0) {
            const int colon = G_StrFind(parent_title, ":");
            if (colon > 0) skip = colon + 1;
        }
        // Widened: a damaged depth at the limit must not overflow.
        std::snprintf(made, sizeof made, "%s%lld:%s", header, static_cast<long long>(parent.CLASS) + 1,
                      parent_title + skip);
    }
    if (std::strlen(made) > 80) G_setStrlength(made, 80);
    copy_field(title, made);
}

void form_script() {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    emit("<SCRIPT Language=\"JavaScript\">\n");
    emit("<!--\n");
    emit("function onLoad(){\n");
    if (config.NICK_NAME != 1 || G_USER_MST.MODE == 1) {
        emit("document.INPUT.WRITE_TITLE.focus();\n");
    } else {
        emit("document.INPUT.WRITER_NAME.focus();\n");
    }
    emit("}\n");
    emit("var count=0;\n");
    emit("function title_chk(){\n");
    if (config.NICK_NAME == 1) {
        emit("if ( document.INPUT.WRITER_NAME.value==\"\" ) {\n");
        emit("window.alert( \"%s\" );\n", msg(433));
        emit("return false }\n");
    }
    emit("if ( document.INPUT.WRITE_TITLE.value==\"\" ) {\n");
    emit("window.alert( \"%s\" );\n", msg(400));
    emit("return false }\n");
    emit("count++;\n");
    emit("document.INPUT.SUB.value=\"%s\";\n", msg(420));
    emit("if ( count < 2 ){ return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    emit("function nolimit(){\n");
    emit("document.INPUT.TIME_LIMIT_DATE.value=\"\";\n");
    emit("}\n");
    if (G_USER_MST.WRITE_MODE == 2) emit("window.focus();\n");
    emit("// -->\n");
    emit("</SCRIPT>\n");
}

void heading(int message) {
    emit("<FONT SIZE=\"5\"");
    if (G_DIR_CONFIG.FONTCOLOR3[0] != '\0') {
        emit(" COLOR=\"#%s\"", attr(G_DIR_CONFIG.FONTCOLOR3));
    }
    emit(">");
    emit("<B>%s</B></FONT>\n", msg(message));
    emit("<HR>\n");
}

void attachment_rows(int type, long sel_no) {
    const long slots = attachment_slots();
    if (slots == 0) return;
    open_row(407);
    for (long n = 1; n <= slots; ++n) {
        if (type == kEdit) {
            std::memset(&sADD_FILE, 0, sizeof sADD_FILE);
            sADD_FILE.SEL_NO = static_cast<int32_t>(sel_no);
            sADD_FILE.SUB_NO = static_cast<int32_t>(n);
            if (Fio_ADD_FILE_TXT(cgi_FOLDER_NO, 1) == 0 && sADD_FILE.FILE_NAME[0] != '\0') {
                emit(" No.%d %s\n", n, field_text(sADD_FILE.FILE_NAME));
                emit("<INPUT TYPE=\"checkbox\" NAME=\"ATFILE%d\" VALUE=\"ON\" checked >%s<BR>", n,
                     msg(423));
            }
        }
        emit(" No.%d <INPUT TYPE=\"FILE\" NAME=\"ATFILE\"><BR>\n", n);
    }
    close_row();
}

void print_form(int type, long sel_no, const BBS_IDX& prefill, const char* writer_name) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    const long width = field_width();

    open_frame_page(config.BACKPIC3, 3);
    form_script();
    heading(type == kNew ? 401 : type == kReply ? 402 : 403);

    emit("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST", exe());
    if (G_USER_MST.WRITE_MODE == 2) emit(" TARGET=\"FRM22%s\"", attr(SYSINFO.SITE_ID));
    emit(" >\n");
    char job[sizeof cgi_JOB + 2];
    std::snprintf(job, sizeof job, "%sWR", cgi_JOB);
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"%s\">\n", attr(cgi_SKEY1));
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"%s\">\n", attr(cgi_SKEY2));
    emit("<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"%s\">\n", attr(job));
    emit("<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"%d\">\n", cgi_FOLDER_NO);
    emit("<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"%d\">\n", sel_no);
    emit("<INPUT TYPE=\"hidden\" name=\"uid\" value=\"%s\">\n", attr(cgi_uid));

    emit("<TABLE BORDER>\n");

    open_row(314);
    if (config.NICK_NAME != 0) {
        emit("<INPUT TYPE=\"text\" NAME=\"WRITER_NAME\" SIZE=\"%d\" MAXLENGTH=\"80\" VALUE=\"%s\">",
             width, attr(writer_name));
    } else {
        emit("%s", text(writer_name));
    }
    if (config.WRITER_ID == 0) emit(" [%s]", field_text(G_USER_MST.USER_ID));
    close_row();

    open_row(313);
    emit("<INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"%d\" MAXLENGTH=\"80\" VALUE=\"%s\">", width,
         attr(std::string(field_view(prefill.WRITE_TITLE)).c_str()));
    close_row();

    open_row(311);
    emit("<SELECT NAME=\"WRITE_PRIORITY\" >\n");
    option(0, prefill.WRITE_PRIORITY, lit(" "));
    option(2, prefill.WRITE_PRIORITY, msg(404));
    option(1, prefill.WRITE_PRIORITY, msg(405));
    emit("</SELECT>\n");
    close_row();

    open_row(406);
    // The browser gives the escaped text back exactly as it was stored. It
    // drops one line break right after the tag, so a body that starts with
    // one gets an extra line break there, or its first empty line is lost.
    const bool leading_break = G_WRITE_DATA[0] == '\r' || G_WRITE_DATA[0] == '\n';
    emit("<TEXTAREA NAME=\"WRITE_DATA\" COLS=\"%d\" ROWS=\"%d\">%s%s</TEXTAREA>", width, SYSINFO.ROWS,
         lit(leading_break ? "\n" : ""), text(G_WRITE_DATA));
    close_row();

    attachment_rows(type, sel_no);

    if (config.CONFIRM == 1) {
        open_row(426);
        emit("<SELECT NAME=\"CONFIRM\">\n");
        option(0, prefill.CONFIRM, msg(227));
        option(1, prefill.CONFIRM, msg(226));
        emit("</SELECT>\n");
        close_row();
    }

    open_row(408);
    emit("<SELECT NAME=\"HTML_MODE\">\n");
    option(0, prefill.HTML_MODE, msg(409));
    option(1, prefill.HTML_MODE, msg(410));
    option(2, prefill.HTML_MODE, msg(411));
    emit("</SELECT>\n");
    close_row();

    if (config.TIME_LIMIT_FLG != 0) {
        open_row(230);
        emit("<INPUT TYPE=\"text\" NAME=\"TIME_LIMIT_DATE\" SIZE=\"20\" MAXLENGTH=\"10\" VALUE=\"%s\">\n",
             attr(std::string(field_view(prefill.TIME_LIMIT_DATE)).c_str()));
        emit("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"nolimit()\">\n", msg(432));
        close_row();
    }

    emit("</TABLE>\n");
    emit("<P>\n");
    emit("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\"><BR> \n",
         msg(412));
    emit("</FORM>\n");
    emit("</BODY>\n");
    emit("</HTML>\n");
}

}  // namespace

void b_BWRITE(int type) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    if (ACL_LEVEL <= 1) {
        refusal_page(8);
        return;
    }
    if (type == kReply && config.RES_PERMIT_FLG == 1) {
        refusal_page(430);
        return;
    }

    char writer_name[82] = "";
    if (G_USER_MST.MODE == 1) copy_field(writer_name, G_USER_MST.USER_NAME);

    BBS_IDX prefill{};
    prefill.CONFIRM = config.CONFIRM;
    prefill.HTML_MODE = config.HTML_MODE;
    if (config.TIME_LIMIT_FLG != 0) {
        char today[TM_TEXT_SIZE];
        Tm_set_date(today);
        today[10] = '\0';
        Tm_next_month(today, config.TIME_LIMIT_FLG);
        copy_field(prefill.TIME_LIMIT_DATE, today);
    }

    G_WRITE_DATA[0] = '\0';
    long sel_no = 0;
    if (type == kNew) {
        copy_field(G_WRITE_DATA, sizeof G_WRITE_DATA, config.DEFO);
    } else {
        sel_no = request_number("SEL_NO", kNumberSize);
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = static_cast<int32_t>(cgi_FOLDER_NO);
        if (sel_no < 1 || sel_no > INT32_MAX) {
            refusal_page(12);
            return;
        }
        sBBS_IDX.SEL_NO = static_cast<int32_t>(sel_no);
        if (Fio_BBS_IDX(1) != 0) {
            refusal_page(12);
            return;
        }
        // Later store calls reuse sBBS_IDX.
        prefill = sBBS_IDX;
        // A deleted message has nothing left to answer or edit.
        if (prefill.DEL_FLG == 1) {
            refusal_page(12);
            return;
        }
    }

    if (type == kEdit && config.REWRITE_FLG == 2 &&
        std::strcmp(prefill.WRITER_ID, G_USER_MST.USER_ID) == 0 && G_USER_MST.MODE == 1) {
        if (Fio_BODY_TXT(cgi_FOLDER_NO, sel_no, 1, G_WRITE_DATA, sizeof G_WRITE_DATA) != 0) {
            refusal_page(12);
            return;
        }
        copy_field(writer_name, prefill.WRITER_NAME);
    }

    if (type == kReply) {
        char title[sizeof prefill.WRITE_TITLE];
        reply_title(prefill, title);
        copy_field(prefill.WRITE_TITLE, title);
        if (Fio_BODY_TXT(cgi_FOLDER_NO, sel_no, 1, G_WRITE_DATA, sizeof G_WRITE_DATA) != 0) {
            refusal_page(8);
            return;
        }
        G_Add_Res(G_WRITE_DATA, sizeof G_WRITE_DATA);
        prefill.ADD_FILE = 0;
    }

    print_form(type, sel_no, prefill, writer_name);
}
