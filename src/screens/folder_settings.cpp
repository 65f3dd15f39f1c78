// The folder's settings form (JOB "SET_CONFIG") and its save (JOB "SET_CONFIGWR").
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "cgi/request_parser.h"
#include "config/sysinfo.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "screens/folder_settings.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/folder_files.h"
#include "store/folder_tree.h"
#include "store/message_files.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

namespace {

// Folder administrators start at this level.
constexpr long kAdministratorLevel = 8;

// Request sizes of the form's values.
constexpr std::size_t kLongValueSize = 4002;  // numbers, texts and uploads
constexpr std::size_t kLineValueSize = 82;    // folder name, reply prefix, link window
constexpr std::size_t kDeleteBoxSize = 10;
constexpr std::size_t kShortValueSize = 8;    // colours and frame sizes

// ---- the form -------------------------------------------------------------

void label_cell(int label) {
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", lit("#E0FFFF"), msg(label));
}

void open_value_cell() { emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", lit("#FFFFFF")); }

// A row up to its value cell's content; the content closes the cell.
void open_row(int label) {
    emit("<TR>\n");
    label_cell(label);
    open_value_cell();
}

void close_row() { emit("</TR>\n"); }

void text_row(int label, const char* name, const char* value, int size, int maxlength) {
    open_row(label);
    emit("<INPUT TYPE=\"text\" NAME=\"%s\" VALUE=\"%s\" SIZE=\"%d\" MAXLENGTH=\"%d\"></TD>\n",
         lit(name), attr(value), size, maxlength);
    close_row();
}

void text_area_row(int label, const char* name, const char* value) {
    open_row(label);
    // The browser hands the escaped content back as it was stored.
    emit("<TEXTAREA NAME=\"%s\" COLS=\"40\" ROWS=\"5\" MAXLENGTH=\"250\">%s</TEXTAREA></TD>\n",
         lit(name), text(value));
    close_row();
}

void option(int value, long current, int label) {
    emit("<OPTION VALUE=\"%d\"%s>%s\n", value, lit(value == current ? " SELECTED" : ""), msg(label));
}

struct Choice {
    int value;
    int label;
};

void select_row(int label, const char* name, long current, std::initializer_list<Choice> choices) {
    open_row(label);
    emit("<SELECT NAME=\"%s\">\n", lit(name));
    for (const Choice& choice : choices) option(choice.value, current, choice.label);
    emit("</SELECT>\n</TD>\n");
    close_row();
}

// No limit, then one to twelve months.
void time_limit_row(long current) {
    open_row(230);
    emit("<SELECT NAME=\"TIME_LIMIT_FLG\">\n");
    option(0, current, 211);
    for (int months = 1; months <= 12; ++months) {
        emit("<OPTION VALUE=\"%d\"%s>%s %d %s\n", months,
             lit(months == current ? " SELECTED" : ""), msg(444), months, msg(445));
    }
    emit("</SELECT>\n</TD>\n");
    close_row();
}

// The current picture's name, its delete box when there is one, and the upload field.
void picture_cell(const char* name, const char* current) {
    open_value_cell();
    emit("%s", text(current));
    if (current[0] != '\0') {
        emit("<INPUT TYPE=\"checkbox\" NAME=\"%s_DEL\" VALUE=\"DEL\">%s", lit(name), msg(219));
    }
    emit("<BR>\n");
    emit("%s<INPUT TYPE=\"FILE\" NAME=\"%s\">\n", msg(9), lit(name));
    emit("</TD>\n");
}

void picture_row(int label, const char* name, const char* current) {
    emit("<TR>\n");
    label_cell(label);
    picture_cell(name, current);
    close_row();
}

void colour_row(int label, const char* name, const char* value) {
    open_row(label);
    emit("<INPUT TYPE=\"text\" NAME=\"%s\" VALUE=\"%s\" SIZE=\"10\" MAXLENGTH=\"6\"> %s</TD>\n",
         lit(name), attr(value), msg(217));
    close_row();
}

struct FrameSettings {
    int label;
    const char* picture_name;
    const char* picture;
    const char* colour_name;
    const char* colour;
    const char* quote_colour_name;  // null: the frame has no quoted lines
    const char* quote_colour;
    const char* size_name;
    const char* size;
};

// One group of rows per frame, under a label cell that spans them.
void frame_rows(const FrameSettings& frame) {
    const int rows = frame.quote_colour_name != nullptr ? 4 : 3;
    emit("<TR>\n");
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\" ROWSPAN=\"%d\">%s</TD>\n", lit("#E0FFFF"),
         rows, msg(frame.label));
    label_cell(220);
    picture_cell(frame.picture_name, frame.picture);
    close_row();
    colour_row(216, frame.colour_name, frame.colour);
    if (frame.quote_colour_name != nullptr) {
        colour_row(218, frame.quote_colour_name, frame.quote_colour);
    }
    open_row(221);
    emit("<INPUT TYPE=\"text\" NAME=\"%s\" VALUE=\"%s\" SIZE=\"10\" MAXLENGTH=\"6\"></TD>\n",
         lit(frame.size_name), attr(frame.size));
    close_row();
}

void print_form() {
    const DIR_CONFIG& c = G_DIR_CONFIG;
    char link_target[kLineValueSize] = "";
    Fio_DIR_CONFIG(cgi_FOLDER_NO, 1, "LINK_TARGET", link_target);

    emit("<FONT SIZE=\"5\"><B>(%s) %s</B></FONT>\n", text(G_TREE_DATA.NAME), msg(201));
    emit("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", exe());
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"%s\">\n", attr(cgi_SKEY1));
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"%s\">\n", attr(cgi_SKEY2));
    emit("<INPUT TYPE=\"hidden\" name=\"uid\" value=\"%s\">\n", attr(cgi_uid));
    emit("<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"%d\">\n", cgi_FOLDER_NO);
    emit("<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"SET_CONFIGWR\">\n");

    emit("<TABLE BORDER>\n");
    emit("<TR>\n");
    label_cell(202);
    emit("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%d</TD>\n", lit("#FFFFFF"), cgi_FOLDER_NO);
    close_row();
    text_row(203, "NAME", G_TREE_DATA.NAME, 40, 80);
    open_row(206);
    emit("<INPUT TYPE=\"text\" NAME=\"ATTACH_MAX\" VALUE=\"%d\" SIZE=\"10\" MAXLENGTH=\"2\"></TD>\n",
         c.ATTACH_MAX);
    close_row();
    text_area_row(207, "INFO", c.INFO);
    text_area_row(208, "DEFO", c.DEFO);
    select_row(209, "REWRITE_FLG", c.REWRITE_FLG < 1 ? 1 : c.REWRITE_FLG, {{1, 211}, {2, 210}});
    select_row(231, "RES_PERMIT_FLG", c.RES_PERMIT_FLG, {{0, 210}, {1, 211}});
    time_limit_row(c.TIME_LIMIT_FLG);
    select_row(222, "DATETIME", c.DATETIME, {{0, 223}, {1, 224}});
    select_row(225, "WRITER_ID", c.WRITER_ID, {{0, 226}, {1, 227}});
    select_row(408, "HTML_MODE", c.HTML_MODE, {{0, 409}, {1, 410}, {2, 411}});
    select_row(426, "CONFIRM", c.CONFIRM, {{0, 211}, {1, 210}, {2, 232}});
    select_row(233, "LINE_RES", c.LINE_RES, {{0, 211}, {1, 210}});
    select_row(235, "NICK_NAME", c.NICK_NAME, {{0, 211}, {1, 210}});
    text_row(228, "RES_HEADER", c.RES_HEADER, 40, 40);
    picture_row(212, "TITLEPIC", c.TITLEPIC);
    picture_row(204, "PIC_FILENAME", G_TREE_DATA.PIC_FILENAME);
    text_row(236, "LINK_TARGET", link_target, 40, 40);
    emit("</TABLE>\n");

    emit("<P>\n");
    emit("<TABLE BORDER>\n");
    frame_rows({213, "BACKPIC1", c.BACKPIC1, "FONTCOLOR1", c.FONTCOLOR1, nullptr, nullptr,
                "FRAMESET1", c.FRAMESET1});
    frame_rows({214, "BACKPIC2", c.BACKPIC2, "FONTCOLOR2", c.FONTCOLOR2, "RESFONTCOLOR2",
                c.RESFONTCOLOR2, "FRAMESET2", c.FRAMESET2});
    frame_rows({215, "BACKPIC3", c.BACKPIC3, "FONTCOLOR3", c.FONTCOLOR3, "RESFONTCOLOR3",
                c.RESFONTCOLOR3, "FRAMESET3", c.FRAMESET3});
    emit("</TABLE>\n");

    emit("<P>\n<TABLE>\n<TR>\n<TD>\n");
    emit("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\">\n",
         msg(205));
    emit("</TD>\n</TR>\n</TABLE>\n</FORM>\n");
}

// ---- the save -------------------------------------------------------------

// A number as the form sent it, base 10, held within 32 bits.
int32_t form_number(const char* name) {
    char value[kLongValueSize] = "";
    cgi_getvalue(name, 0, value, sizeof value);
    const long n = std::strtol(value, nullptr, 10);
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(n);
}

// Stores a setting: update, and insert when there was nothing to update.
void store_setting(const char* key, char* value) {
    const std::size_t size = std::strlen(value) + 1;
    if (Fio_DIR_CONFIG(cgi_FOLDER_NO, 4, key, value, size) != 0) {
        Fio_DIR_CONFIG(cgi_FOLDER_NO, 2, key, value, size);
    }
}

void store_number(const char* key, int32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    store_setting(key, digits);
}

void store_form_number(const char* key) { store_number(key, form_number(key)); }

void store_form_text(const char* key, std::size_t size) {
    char value[kLongValueSize] = "";
    cgi_getvalue(key, 0, value, size);
    store_setting(key, value);
}

void store_folder_text(int (*fio)(long, int, char*, std::size_t), const char* name) {
    char value[kLongValueSize] = "";
    cgi_getvalue(name, 0, value, sizeof value);
    G_setStrlength(value, 4000);
    if (fio(cgi_FOLDER_NO, 4, value, sizeof value) != 0) fio(cgi_FOLDER_NO, 2, value, sizeof value);
}

void remove_path(const char* path) {
    PathBuffer buffer = make_path(path);
    Cu_remove(buffer.text);
}

void remove_picture(const char* name) {
    char path[DATA_PATH_SIZE];
    if (folder_picture_path(path, sizeof path, cgi_FOLDER_NO, name)) remove_path(path);
}

// Applies the picture field and its delete box to setting (the stored bare
// file name, setting_size bytes). True when the setting changed.
bool apply_picture(const char* field, const char* delete_box, char* setting, std::size_t setting_size) {
    char upload[kLongValueSize] = "";
    char remove_it[kDeleteBoxSize] = "";
    cgi_getvalue(field, 0, upload, sizeof upload);
    cgi_getvalue(delete_box, 0, remove_it, sizeof remove_it);

    if (upload[0] == '\0') {
        if (remove_it[0] == '\0' || setting[0] == '\0') return false;
        remove_picture(setting);
        setting[0] = '\0';
        return true;
    }

    std::string client_name;
    std::string upload_file;
    if (!split_upload_value(upload, client_name, upload_file)) return false;
    char name[kLongValueSize];
    char temporary[kLongValueSize];
    copy_field(name, client_name.c_str());
    copy_field(temporary, upload_file.c_str());
    // The file is stored under the name the setting can hold.
    G_setStrlength(name, setting_size);
    char target[DATA_PATH_SIZE];
    char directory[DATA_PATH_SIZE];
    if (!folder_picture_path(target, sizeof target, cgi_FOLDER_NO, name) ||
        !folder_picture_dir_path(directory, sizeof directory, cgi_FOLDER_NO)) {
        remove_path(temporary);  // no place for it: it would only wait for the sweep
        return false;
    }
    Cu_mkdir(directory);
    // The old picture goes only once the new one is in place.
    if (Fio_filemove(temporary, target) != 0) return false;
    if (setting[0] != '\0' && std::strcmp(setting, name) != 0) remove_picture(setting);
    copy_field(setting, setting_size, name);
    return true;
}

void save_picture_setting(const char* key, const char* delete_box) {
    char setting[sizeof DIR_CONFIG::TITLEPIC] = "";
    Fio_DIR_CONFIG(cgi_FOLDER_NO, 1, key, setting);
    if (apply_picture(key, delete_box, setting, sizeof setting)) store_setting(key, setting);
}

}  // namespace

void b_SET_CONFIG() {
    G_header_printf("");
    emit("<SCRIPT Language=\"JavaScript\">\n");
    emit("<!--\n");
    emit("function title_chk(){\n");
    emit("if ( document.INPUT.NAME.value==\"\" ) {\n");
    emit("window.alert( \"%s\" );\n", msg(200));
    emit("return false }\n");
    emit("}\n");
    emit("// -->\n");
    emit("</SCRIPT>\n");

    if (ACL_LEVEL < kAdministratorLevel) {
        emit("%s\n", msg(8));
        emit("<FORM>\n");
        emit("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n", msg(21));
        emit("</FORM>\n");
    } else {
        print_form();
    }
    emit("</BODY>\n");
    emit("</HTML>\n");
}

void b_SET_CONFIGWR() {
    if (ACL_LEVEL < kAdministratorLevel) return;

    save_picture_setting("TITLEPIC", "TITLEPIC_DEL");
    save_picture_setting("BACKPIC1", "BACKPIC1_DEL");
    save_picture_setting("BACKPIC2", "BACKPIC2_DEL");
    save_picture_setting("BACKPIC3", "BACKPIC3_DEL");
    apply_picture("PIC_FILENAME", "PIC_FILENAME_DEL", G_TREE_DATA.PIC_FILENAME,
                  sizeof G_TREE_DATA.PIC_FILENAME);

    char name[kLineValueSize] = "";
    cgi_getvalue("NAME", 0, name, sizeof name);
    copy_field(G_TREE_DATA.NAME, name);
    sTREE_DATA = G_TREE_DATA;
    Fio_TREE_DATA(cgi_FOLDER_NO, 4, 1);
    // The form that follows shows the folder as the tree holds it (a comma in
    // the name is stored as a space; a failed write keeps the old line).
    if (Fio_TREE_DATA(cgi_FOLDER_NO, 1, 1) == 0) G_TREE_DATA = sTREE_DATA;

    store_form_number("ATTACH_MAX");
    store_folder_text(Fio_INFO_TXT, "INFO");
    store_folder_text(Fio_DEFO_TXT, "DEFO");
    for (const char* key : {"REWRITE_FLG", "RES_PERMIT_FLG", "TIME_LIMIT_FLG", "DATETIME",
                            "WRITER_ID", "HTML_MODE", "CONFIRM", "LINE_RES", "NICK_NAME"}) {
        store_form_number(key);
    }
    store_form_text("RES_HEADER", kLineValueSize);
    store_form_text("LINK_TARGET", kLineValueSize);
    for (const char* key : {"FONTCOLOR1", "FONTCOLOR2", "RESFONTCOLOR2", "FONTCOLOR3",
                            "RESFONTCOLOR3", "FRAMESET1", "FRAMESET2", "FRAMESET3"}) {
        store_form_text(key, kShortValueSize);
    }
}
