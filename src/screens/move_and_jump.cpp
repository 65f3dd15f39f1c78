// Moving a whole thread to another folder (JOB "WRITE_MOVE", "WRITE_MOVEWR")
// and the jump through which the automatic links of bodies leave the board
// (JOB "JUMPLINK").
#include "screens/move_and_jump.h"

#include <climits>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cgi/request_parser.h"
#include "config/message_table.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "request/session.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/folder_tree.h"
#include "store/line_file_engine.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "store/read_marks.h"
#include "store/store_modes.h"
#include "util/bytes.h"

namespace {

constexpr std::size_t kNumberSize = 1000;
constexpr std::size_t kUrlSize = 1002;
// Attachment slots are two-digit directories.
constexpr int kMaxSlots = 99;
// Folder administration starts above this level.
constexpr long kAdministration = 7;
constexpr int32_t kBoardFolder = 3;

int32_t clamp32(long n) {
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(n);
}

// ---- the link jump ------------------------------------------------------------

bool starts_with_nocase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        char c = *text;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *prefix) return false;
    }
    return true;
}

// Only the addresses the automatic links make leave the board: a scheme that
// runs script or carries its own content (javascript:, data:) must never be
// reached through the board's own address, and a control character (CR, LF)
// could split the page.
bool jump_allowed(const char* address) {
    if (!starts_with_nocase(address, "http://") && !starts_with_nocase(address, "https://")) {
        return false;
    }
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(address); *p != 0; ++p) {
        if (*p < 0x20 || *p == 0x7F) return false;
    }
    return true;
}

// ---- who may move, and where to ------------------------------------------------

bool may_move() { return ACL_LEVEL > kAdministration && G_USER_MST.MODE == 1; }

// A folder the user administers, that holds a board and is not the folder
// the thread comes from. Nothing is moved anywhere else.
bool valid_target(long room_no) {
    if (room_no == cgi_FOLDER_NO || room_no < 0 || room_no > INT32_MAX) return false;
    if (Fio_TREE_DATA(room_no, MODE_SELECT, SEARCH_BY_KEY) != STORE_OK) return false;
    if (sTREE_DATA.FOLDER_NO != room_no || sTREE_DATA.MODE != kBoardFolder) return false;
    return G_chk_ACL(room_no) > kAdministration;
}

void list_targets() {
    bool skipping = false;
    int32_t skip_depth = 0;
    for (long position = 1;; ++position) {
        if (Fio_TREE_DATA(position, MODE_SELECT, SEARCH_BY_POSITION) != STORE_OK) break;
        // The access check reuses the module record.
        const TREE_DATA folder = sTREE_DATA;
        if (skipping && folder.CLASS > skip_depth) continue;
        if (G_chk_ACL(folder.FOLDER_NO) <= kAdministration) {
            // Neither the folder nor its sub-folders are offered.
            skipping = true;
            skip_depth = folder.CLASS;
            continue;
        }
        skipping = false;
        if (folder.MODE != kBoardFolder || folder.FOLDER_NO == cgi_FOLDER_NO) continue;
        emit("<OPTION VALUE=\"%d\" ", folder.FOLDER_NO);
        emit(">%d:%s\n", folder.FOLDER_NO, field_text(folder.NAME));
    }
}

// ---- the move -----------------------------------------------------------------

// The whole thread in thread order (a reply after the message it answers),
// read in one pass. Empty when the thread cannot be read whole: a move of
// part of a thread would leave replies without their parents.
std::vector<BBS_IDX> read_thread(long folder_no, long thread_no) {
    std::vector<BBS_IDX> thread;
    std::unordered_set<int32_t> seen;
    bool damaged = false;
    const int walked = scan_thread(folder_no, thread_no, 0, [&](const BBS_IDX& record) {
        // A record without a number or one seen before is damage: the thread
        // is not read whole then.
        if (record.SEL_NO == 0 || !seen.insert(record.SEL_NO).second) {
            damaged = true;
            return false;
        }
        thread.push_back(record);
        return true;
    });
    if (walked != STORE_OK || damaged) return {};
    return thread;
}

// Whether target now holds as many bytes as source: a copy cut short (a full
// disk) must not stand in for the original.
bool copied_whole(char* target, char* source) {
    PathBuffer from = make_path(source);
    const long length = Cu_get_filelength(from.text);
    Cu_cpfile(target, source);
    PathBuffer to = make_path(target);
    return Cu_get_filelength(to.text) == length;
}

// False when the file is there but could not be copied whole.
bool copy_message_file(long from_folder, long from_no, long to_folder, long to_no, const char* name) {
    char source[DATA_PATH_SIZE];
    char target[DATA_PATH_SIZE];
    if (!message_file_path(source, sizeof source, from_folder, from_no, name) ||
        !message_file_path(target, sizeof target, to_folder, to_no, name)) {
        return false;
    }
    PathBuffer probe = make_path(source);
    // An empty file is not copied: the target starts without it.
    return Cu_get_filelength(probe.text) <= 0 || copied_whole(target, source);
}

// Copies the attachments of message from_no into message to_no of the
// target. Every slot a message may have is looked at (the folder may offer
// fewer slots now than when the message was written), until as many as the
// message counts were found. False when one that is there could not be
// copied (its record busy or unreadable, the file cut short).
bool copy_attachments(long from_folder, const BBS_IDX& message, long to_folder, long to_no) {
    int found = 0;
    for (int slot = 1; slot <= kMaxSlots && found < message.ADD_FILE; ++slot) {
        sADD_FILE = ADD_FILE{};
        sADD_FILE.SEL_NO = message.SEL_NO;
        sADD_FILE.SUB_NO = slot;
        const int listed = Fio_ADD_FILE_TXT(from_folder, MODE_SELECT);
        if (listed == STORE_NOT_FOUND) continue;
        if (listed != STORE_OK) return false;
        ++found;
        char name[sizeof sADD_FILE.FILE_NAME];
        copy_field(name, sADD_FILE.FILE_NAME);
        char directory[DATA_PATH_SIZE];
        char source[DATA_PATH_SIZE];
        char target[DATA_PATH_SIZE];
        if (!attachment_dir_path(directory, sizeof directory, to_folder, to_no, slot) ||
            !attachment_file_path(source, sizeof source, from_folder, message.SEL_NO, slot, name) ||
            !attachment_file_path(target, sizeof target, to_folder, to_no, slot, name)) {
            continue;
        }
        Cu_mkdir(directory);
        if (!copied_whole(target, source)) return false;
        sADD_FILE = ADD_FILE{};
        sADD_FILE.SEL_NO = clamp32(to_no);
        sADD_FILE.SUB_NO = slot;
        copy_field(sADD_FILE.FILE_NAME, name);
        if (Fio_ADD_FILE_TXT(to_folder, MODE_UPDATE) != STORE_OK &&
            Fio_ADD_FILE_TXT(to_folder, MODE_INSERT) != STORE_OK) {
            return false;
        }
    }
    return true;
}

// Copies one message into the target under a new number, answering new_parent
// (0: a thread root), its files written before the insert stands. A copy that
// cannot be made whole is taken back: the source's removal would lose what it
// lacks. The new number, or 0 when nothing was copied.
long copy_message(long from_folder, const BBS_IDX& message, long to_folder, long new_parent) {
    sBBS_IDX = message;
    sBBS_IDX.FOLDER_NO = clamp32(to_folder);
    sBBS_IDX.SEL_NO = clamp32(new_parent);
    const int copied = Fio_BBS_IDX_INSERT([&](long new_no) {
        fresh_message_dir(to_folder, new_no);
        bool whole = true;
        for (const char* name : {"body.txt", "lineres.txt", "confirm.txt"}) {
            whole = copy_message_file(from_folder, message.SEL_NO, to_folder, new_no, name) && whole;
        }
        if (message.ADD_FILE > 0 && !message_dir_missing(from_folder, message.SEL_NO)) {
            whole = whole && copy_attachments(from_folder, message, to_folder, new_no);
        }
        return whole ? STORE_OK : STORE_CANNOT_OPEN;
    });
    return copied == STORE_OK ? sBBS_IDX.SEL_NO : 0;
}

// The message as it was before its copy (its bbs1.idx record): one changed or
// deleted since (an edit, a delete and a new post under its number) stays in
// the source.
void remove_from_source(long folder_no, const BBS_IDX& message) {
    const long sel_no = message.SEL_NO;
    sBBS_IDX = message;
    sBBS_IDX.FOLDER_NO = clamp32(folder_no);
    // A message the index still holds keeps its files (it is then in both
    // folders, which loses nothing).
    const int deleted =
        Fio_BBS_IDX_DELETE([folder_no, sel_no] { remove_message_dir(folder_no, sel_no); }, &message);
    if (deleted != STORE_OK) return;
    // Nobody is left with an unread mark for a message that is gone.
    read_marks_for_all_users(folder_no, sel_no, 1, MarkResize::to_count,
                             Fio_BBS_IDX_MAXCOUNT(folder_no, 1));
}

}  // namespace

void b_WRITE_MOVE() {
    open_frame_page(G_DIR_CONFIG.BACKPIC3, 3);
    if (!may_move()) {
        emit("</BODY>\n");
        emit("</HTML>\n");
        return;
    }
    emit("<SCRIPT Language=\"JavaScript\">\n");
    emit("<!--\n");
    emit("var count=0;\n");
    emit("function postcheck(){\n");
    emit("if ( document.INPUT.ROOM_NO.options[document.INPUT.ROOM_NO.selectedIndex].value==\"%d\" ) {\n",
         cgi_FOLDER_NO);
    emit("window.alert( \"%s\" );\n", msg(453));
    emit("return false }\n");
    emit("else { \n");
    emit("count++;\n");
    emit("document.INPUT.SUB.value=\"%s\";\n", msg(420));
    emit("if ( count < 2 ){ return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    emit("}\n");
    emit("// -->\n");
    emit("</SCRIPT>\n");

    const long sel_no = request_number("SEL_NO", kNumberSize);
    const long thread_no = request_number("BBS_G_NO", kNumberSize);
    if (sel_no > 0) {
        if (G_DIR_CONFIG.FONTCOLOR3[0] != '\0') {
            emit("<FONT COLOR=\"#%s\">", attr(G_DIR_CONFIG.FONTCOLOR3));
        }
        emit("%s<P>\n", msg(453));
        emit("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", exe());
        session_fields("WRITE_MOVEWR");
        emit("<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"%d\">\n", sel_no);
        emit("<INPUT TYPE=\"hidden\" name=\"BBS_G_NO\" value=\"%d\">\n", thread_no);
        emit("<SELECT NAME=\"ROOM_NO\">\n");
        list_targets();
        emit("</SELECT>\n");
        emit("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return postcheck()\" > \n", msg(452));
        emit("</FORM>\n");
    }
    emit("</BODY>\n");
    emit("</HTML>\n");
}

void b_WRITE_MOVEWR() {
    if (!may_move()) return;
    const long source = cgi_FOLDER_NO;
    const long thread_no = request_number("BBS_G_NO", kNumberSize);
    const long target = request_number("ROOM_NO", kNumberSize);
    if (thread_no < 1 || thread_no > INT32_MAX || !valid_target(target)) return;

    const std::vector<BBS_IDX> thread = read_thread(source, thread_no);
    if (thread.empty()) return;

    // Old number -> new number, for as long a thread as there is.
    std::unordered_map<int32_t, long> renumbered;
    std::unordered_set<int32_t> kept;  // not copied: stays in the source with its replies
    std::vector<BBS_IDX> moved;
    moved.reserve(thread.size());
    for (const BBS_IDX& message : thread) {
        if (kept.count(message.UP_NO) != 0) {
            kept.insert(message.SEL_NO);
            continue;
        }
        long new_parent = 0;
        if (message.UP_NO != 0) {
            const auto parent = renumbered.find(message.UP_NO);
            if (parent != renumbered.end()) new_parent = parent->second;
        }
        // The record its removal will check, read before the copy; a message
        // that cannot be read there stays where it is, as one not copied.
        sBBS_IDX = BBS_IDX{};
        sBBS_IDX.FOLDER_NO = clamp32(source);
        sBBS_IDX.SEL_NO = message.SEL_NO;
        const bool selected = Fio_BBS_IDX(MODE_SELECT) == STORE_OK && sBBS_IDX.SEL_NO == message.SEL_NO;
        const BBS_IDX before = sBBS_IDX;
        const long new_no = selected ? copy_message(source, message, target, new_parent) : 0;
        // A message that could not be copied stays where it is.
        if (new_no == 0) {
            kept.insert(message.SEL_NO);
            continue;
        }
        renumbered[message.SEL_NO] = new_no;
        moved.push_back(before);
    }
    // Replies go before the messages they answer, so none of them is kept
    // behind as a place holder.
    for (auto it = moved.rbegin(); it != moved.rend(); ++it) remove_from_source(source, *it);
}

void b_JUMPLINK() {
    char address[kUrlSize] = "";
    cgi_getvalue("URL", 0, address, sizeof address);
    if (!jump_allowed(address)) {
        G_ErrMessage(STRDEF.Message[3], STRDEF.Message[4]);
        return;
    }
    // The page's own address carries the session keys: no referrer leaves it.
    G_header_printf(" ");
    emit("<META NAME=\"referrer\" CONTENT=\"no-referrer\">\n");
    emit("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=%s\" >", attr(address));
    emit("</BODY>\n");
    emit("</HTML>\n");
}
