// JOB "USER_PIC_DOWNLOAD" (a writer's picture in the detail frame) and
// "ICON_DL" (a folder's icon in the unread list and the tree).
//
// A user's picture is the file that the user's PICFILE setting names, in
// the user's own directory (user\<id>\<PICFILE>); a folder's icon is the file
// its TREE_DATA.PIC_FILENAME names, in the folder's picture directory "fcg".
// Both are typed by the installation's mimemap.txt, as the board types its
// folder pictures.

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cgi/request_parser.h"
#include "request/request_state.h"
#include "request/session.h"
#include "store/data_paths.h"
#include "store/downloads.h"
#include "store/folder_tree.h"
#include "store/message_files.h"
#include "store/users.h"
#include "suite/suite.h"
#include "util/bytes.h"

namespace {

// A transparent GIF of one pixel.
constexpr unsigned char kBlankGif[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00,
    0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
    0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B,
};

void send_blank_picture() {
    std::fputs("Content-type: image/gif\n\n", stdout);
    std::fwrite(kBlankGif, 1, sizeof kBlankGif, stdout);
}

// Sends the file at path typed by its extension, or the blank picture.
void send_picture(const char* path) {
    char types[DATA_PATH_SIZE];
    if (!data_file_path(types, sizeof types, "mimemap.txt") || Fio_MimeDownload(path, types) != 0) {
        send_blank_picture();
    }
}

}  // namespace

void o_USER_PIC_DOWNLOAD() {
    if (!suite_session_valid()) {
        send_blank_picture();
        return;
    }
    char user_id[sizeof USER_MST::USER_ID] = "";
    cgi_getvalue("USER_ID", 0, user_id, sizeof user_id);
    char picture[sizeof USER_MST::PICFILE];
    char path[DATA_PATH_SIZE];
    if (user_id[0] == '\0' || Fio_USER_MST(user_id, 1) != 0) {
        send_blank_picture();
        return;
    }
    copy_field(picture, sUSER_MST.PICFILE);
    // The setting is a bare file name: anything that would leave the
    // user's directory is no picture.
    if (!is_safe_path_component(picture) || !user_file_path(path, sizeof path, sUSER_MST.USER_ID, picture)) {
        send_blank_picture();
        return;
    }
    send_picture(path);
}

void o_ICON_DL() {
    char path[DATA_PATH_SIZE];
    // The icon of a folder the user may not open is not shown either.
    if (!suite_session_valid() || cgi_FOLDER_NO < INT32_MIN || cgi_FOLDER_NO > INT32_MAX ||
        Fio_TREE_DATA(cgi_FOLDER_NO, 1, 1) != 0) {
        send_blank_picture();
        return;
    }
    const TREE_DATA folder = sTREE_DATA;
    if (G_chk_ACL(folder.FOLDER_NO) <= 0 ||
        !folder_picture_path(path, sizeof path, folder.FOLDER_NO, folder.PIC_FILENAME)) {
        send_blank_picture();
        return;
    }
    send_picture(path);
}
