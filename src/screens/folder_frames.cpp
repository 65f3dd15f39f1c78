#include "screens/folder_frames.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cgi/request_parser.h"
#include "config/sysinfo.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/data_paths.h"
#include "store/downloads.h"
#include "store/message_files.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

namespace {

bool is_job(const char* job) { return std::strcmp(cgi_JOB, job) == 0; }

void close_page() {
    emit("</BODY>\n");
    emit("</HTML>\n");
}

// The folder frame's line of the frameset: "\t<FRAME SRC = ...JOB=<job>..." named
// <frame> and the folder number.
void frame_line(const char* job, long sel_no, const char* frame) {
    if (sel_no == 0) {
        emit("\t<FRAME SRC = \"%s?uid=%s&SKEY1=%s&SKEY2=%s&JOB=%s&FOLDER_NO=%d\" NAME=\"%s%d\">\n", exe(),
             url(cgi_uid), url(cgi_SKEY1), url(cgi_SKEY2), lit(job), cgi_FOLDER_NO, lit(frame),
             cgi_FOLDER_NO);
    } else {
        emit("\t<FRAME SRC = \"%s?uid=%s&SKEY1=%s&SKEY2=%s&JOB=%s&FOLDER_NO=%d&SEL_NO=%d\" NAME=\"%s%d\">\n",
             exe(), url(cgi_uid), url(cgi_SKEY1), url(cgi_SKEY2), lit(job), cgi_FOLDER_NO, sel_no,
             lit(frame), cgi_FOLDER_NO);
    }
}

void header_buttons() {
    emit("<TD>\n");
    emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST TARGET=\"FRM222SEL%d\">\n", exe(),
         cgi_FOLDER_NO);
    session_fields("SEARCH");
    emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", msg(434));
    emit("</FORM>\n");
    emit("</TD>\n");

    new_message_button(false);

    const Safe site = attr(SYSINFO.SITE_ID);
    emit("<TD>\n");
    emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST TARGET=\"FRM22%s\">\n", exe(), site);
    session_fields("ROOM");
    emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" > \n", msg(103));
    emit("</FORM>\n");
    emit("</TD>\n");

    if (G_USER_MST.MODE == 1) {
        emit("<TD>\n");
        emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST TARGET=\"FRM22%s\">\n", exe(),
             site);
        session_fields("SET_ALLREAD");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\"> \n", msg(100), msg_js(101));
        emit("</FORM>\n");
        emit("</TD>\n");
    }

    if (ACL_LEVEL > 7) {
        emit("<TD>\n");
        emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST  TARGET=\"FRM22%s\">\n", exe(),
             site);
        session_fields("SET_CONFIG");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return postcheck()\" >\n", msg(102));
        emit("</FORM>\n");
        emit("</TD>\n");

        // The access rights belong to the suite's main program.
        emit("<TD>\n");
        emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST  TARGET=\"FRM22%s\">\n",
             attr(SYSINFO.CGI_FILE_NAME), site);
        session_fields("FOLDER_ACCESS");
        emit("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return postcheck()\" >\n", msg(229));
        emit("</FORM>\n");
        emit("</TD>\n");
    }
}

// Sends the picture a folder setting names, typed by its extension; non-zero
// when nothing was sent (no usable name, no type for it, no file).
int send_folder_picture(const char* file_name) {
    char picture[DATA_PATH_SIZE];
    char types[DATA_PATH_SIZE];
    if (!folder_picture_path(picture, sizeof picture, cgi_FOLDER_NO, file_name)) return -1;
    if (!data_file_path(types, sizeof types, "mimemap.txt")) return -1;
    return Fio_MimeDownload(picture, types);
}

}  // namespace

void b_ROOM() {
    if (ACL_LEVEL <= 0) return;
    G_header_printf(" ");

    // After a post from the compose window the frameset also closes that window.
    if (is_job("BWRITE_NEWWR") || is_job("BWRITE_RESWR") || is_job("BWRITE_REWWR")) {
        emit("<SCRIPT Language=\"JavaScript\">\n");
        emit("<!--\n");
        emit("window.open(\"%s?JOB=BWRITEWR_FIX2\",\"WBWRITE%d\")\n", js(JOB_EXE), cgi_FOLDER_NO);
        emit("// -->\n");
        emit("</SCRIPT>\n");
    }

    const long sel_no = is_job("NRROOM") ? request_number("SEL_NO", 100) : 0;
    const DIR_CONFIG& config = G_DIR_CONFIG;
    if (two_frame_layout()) {
        emit("<FRAMESET ROWS=\"%s,*\" >\n", attr(config.FRAMESET1));
        frame_line("FRM221", 0, "FRM221SEL");
        // The second frame shows the list, or the message asked for in its place.
        frame_line(sel_no == 0 ? "FRM222" : "FRM223", sel_no, "FRM222SEL");
    } else {
        emit("<FRAMESET ROWS=\"%s,%s,%s\" >\n", attr(config.FRAMESET1), attr(config.FRAMESET2),
             attr(config.FRAMESET3));
        frame_line("FRM221", 0, "FRM221SEL");
        frame_line("FRM222", 0, "FRM222SEL");
        frame_line("FRM223", sel_no, "FRM223SEL");
    }
    emit("</FRAMESET>\n");
    emit("</HTML>\n");
}

void b_FRM221() {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    open_frame_page(config.BACKPIC1, 1);

    // The first click of a button that opens a new page counts; a second would resend it.
    emit("<SCRIPT Language=\"JavaScript\">\n");
    emit("<!--\n");
    emit("var count=0;\n");
    emit("function postcheck(){\n");
    emit("count++;\n");
    emit("if ( count < 2 ){ return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    emit("// -->\n");
    emit("</SCRIPT>\n");

    emit("<TABLE>\n");
    emit("<TR>\n");
    emit("<TD NOWRAP>\n");
    emit("<FONT SIZE=\"5\"");
    if (config.FONTCOLOR1[0] != '\0') emit(" COLOR=\"#%s\"", attr(config.FONTCOLOR1));
    emit("><B>%s</B></FONT>\n", text(G_TREE_DATA.NAME));
    emit("</TD>\n");
    header_buttons();
    emit("</TR>\n");
    emit("</TABLE>\n");

    if (config.TITLEPIC[0] != '\0') {
        emit("<IMG SRC=\"%s?JOB=BG4_DL&SKEY1=%s&SKEY2=%s&uid=%s&FOLDER_NO=%d\" ><BR>\n", exe(), url(cgi_SKEY1),
             url(cgi_SKEY2), url(G_USER_MST.USER_ID), cgi_FOLDER_NO);
    }

    if (config.INFO[0] != '\0') {
        const bool coloured = config.FONTCOLOR1[0] != '\0';
        if (coloured) emit("<FONT COLOR=\"#%s\">", attr(config.FONTCOLOR1));
        // Each line break grows to "<BR>\n": room for a text of nothing else,
        // so the end of a long information text is never lost.
        const std::size_t room = 5 * FOLDER_TEXT_SIZE;
        std::unique_ptr<char[]> info = text_buffer(room);
        copy_field(info.get(), room, config.INFO);
        G_CrLf_to_BR(info.get(), room);
        emit("%s", html(info.get()));
        if (coloured) emit("</FONT>\n");
    }
    close_page();
}

int b_BG_DL(int flg) {
    const DIR_CONFIG& config = G_DIR_CONFIG;
    switch (flg) {
        case 1: return send_folder_picture(config.BACKPIC1);
        case 2: return send_folder_picture(config.BACKPIC2);
        case 3: return send_folder_picture(config.BACKPIC3);
        case 4: return send_folder_picture(config.TITLEPIC);
        default: return -1;
    }
}

int b_ATDL() {
    const long sel_no = request_number("SEL_NO", 1000);
    const long sub_no = request_number("SUB_NO", 1000);
    // No record has a number outside the stored range.
    if (sel_no < 1 || sel_no > INT32_MAX || sub_no < 1 || sub_no > INT32_MAX) return -1;
    std::memset(&sADD_FILE, 0, sizeof sADD_FILE);
    sADD_FILE.SEL_NO = static_cast<int32_t>(sel_no);
    sADD_FILE.SUB_NO = static_cast<int32_t>(sub_no);
    if (Fio_ADD_FILE_TXT(cgi_FOLDER_NO, 1) != 0) return -1;

    char file[DATA_PATH_SIZE];
    char types[DATA_PATH_SIZE];
    if (!attachment_file_path(file, sizeof file, cgi_FOLDER_NO, sel_no, sub_no, sADD_FILE.FILE_NAME)) {
        return -1;
    }
    if (!data_file_path(types, sizeof types, "mimemap.txt")) return -1;
    if (Fio_MimeDownload(file, types) == 0) return 0;
    return Fio_file_DL(file);
}
