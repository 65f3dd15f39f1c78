// wbbs.cgi: one process per HTTP request. Loads the configuration and the
// messages, parses the request, and runs the screen or action named by JOB.

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "cgi/request_parser.h"
#include "config/message_table.h"
#include "request/dispatch.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "request/session.h"
#include "screens/compose_form.h"
#include "screens/folder_frames.h"
#include "screens/folder_settings.h"
#include "screens/message_detail.h"
#include "screens/message_list.h"
#include "screens/move_and_jump.h"
#include "screens/posting.h"
#include "screens/search.h"
#include "screens/unread_list.h"
#include "store/folder_tree.h"
#include "store/line_file_engine.h"
#include "store/users.h"
#include "util/bytes.h"

// Where the linker starts the zeroed data; the small globals follow it, and
// the buffers over the large-data threshold come after them.
extern "C" char __bss_start[];

namespace {

constexpr const char* kVersion = "Ver3.19";
constexpr const char* kOperatingSystem = "WWW ServerOS Linux(x86)";

// The error page of a failed post or one-line reply: the handler's result
// chooses the message; a result without a message prints nothing.
struct ResultMessage {
    int result;
    int message;
};

void result_page(int result, const char* title, std::span<const ResultMessage> table) {
    for (const ResultMessage& row : table) {
        if (row.result == result) {
            G_ErrMessage(title, STRDEF.Message[row.message]);
            return;
        }
    }
}

constexpr ResultMessage kPostingResults[] = {{1, 8},    {2, 400}, {3, 433}, {4, 258}, {5, 431},
                                             {-1, 11},  {-2, 12}, {-3, 13}, {-8, 450}, {-9, 19}};
constexpr ResultMessage kLineReplyResults[] = {{1, 8},   {2, 234}, {3, 257}, {4, 258}, {5, 431},
                                               {-1, 11}, {-2, 12}, {-3, 13}, {-9, 19}};

void posting_result(int type) {
    const int result = b_BWRITEWR(type);
    if (result != 0) {
        result_page(result, "", kPostingResults);
        return;
    }
    // A post from the compose window reloads the whole folder (which also
    // closes the window); otherwise a page says it is done.
    if (type != 4 && G_USER_MST.WRITE_MODE == 2) {
        b_ROOM();
    } else {
        b_BWRITEWR_FIX();
    }
}

// Each row runs its handlers in order; a JOB that matches no row prints nothing.
constexpr DispatchRow kJobTable[] = {
    {"BG1_DL", [] { b_BG_DL(1); }},
    {"BG2_DL", [] { b_BG_DL(2); }},
    {"BG3_DL", [] { b_BG_DL(3); }},
    {"BG4_DL", [] { b_BG_DL(4); }},
    {"ATDL", [] { b_ATDL(); }},
    {"ROOM", [] { b_ROOM(); }},
    {"NRROOM", [] { b_ROOM(); }},
    {"FRM221", [] { b_FRM221(); }},
    {"FRM222", [] { b_FRM222(); }},
    {"FRM223", [] { b_FRM223(); }},
    {"WRITE_MOVE", [] { b_WRITE_MOVE(); }},
    {"WRITE_MOVEWR",
     [] {
         b_WRITE_MOVEWR();
         b_BWRITEWR_FIX();
     }},
    {"SET_ALLREAD",
     [] {
         b_SET_ALLREAD();
         b_ROOM();
     }},
    {"SET_CONFIG", [] { b_SET_CONFIG(); }},
    {"SET_CONFIGWR",
     [] {
         b_SET_CONFIGWR();
         b_SET_DIR_CONFIG(cgi_FOLDER_NO);  // the form shows what was saved
         b_SET_CONFIG();
     }},
    {"BWRITE_NEW", [] { b_BWRITE(1); }},
    {"BWRITE_RES", [] { b_BWRITE(2); }},
    {"BWRITE_REW", [] { b_BWRITE(3); }},
    {"BWRITE_NEWWR", [] { posting_result(1); }},
    {"BWRITE_RESWR", [] { posting_result(2); }},
    {"BWRITE_REWWR", [] { posting_result(3); }},
    {"BWRITE_DELWR", [] { posting_result(4); }},
    {"CONFIRMWR",
     [] {
         b_CONFIRMWR();
         b_FRM223();
     }},
    {"LINE_RESWR",
     [] {
         const int result = b_LINE_RESWR();
         if (result == 0) {
             b_FRM223();
         } else {
             result_page(result, STRDEF.Message[233], kLineReplyResults);
         }
     }},
    {"USER_DISP_DEFWR",
     [] {
         b_USER_DISP_DEFWR();
         b_FRM222();
     }},
    {"SEARCH", [] { b_SEARCH(cgi_FOLDER_NO); }},
    {"NRDETAILS", [] { b_NRDETAILS(cgi_FOLDER_NO); }},
    {"NRDETAILSWR",
     [] {
         b_NRDETAILSWR();
         b_NRDETAILS(cgi_FOLDER_NO);
     }},
    {"JUMPLINK", [] { b_JUMPLINK(); }},
};

void print_version_page() {
    G_header_printf("");
    std::printf("ORVA BBS-PlugIn version:[%s], OS:[%s]\n", kVersion, kOperatingSystem);
    std::fputs("</BODY>\n", stdout);
    std::fputs("</HTML>\n", stdout);
}

enum class SessionOutcome { passed, password_login, refused };

SessionOutcome check_session() {
    if (cgi_SKEY1[0] != '\0' && cgi_SKEY2[0] != '\0' && cgi_uid[0] != '\0') {
        if (G_SkeyChk(cgi_uid) != 0) {
            cgi_SKEY1[0] = '\0';
            cgi_SKEY2[0] = '\0';
        }
        if (cgi_SKEY1[0] == '\0') {
            G_IDerr();
            return SessionOutcome::refused;
        }
        return SessionOutcome::passed;
    }
    if (cgi_uid[0] == '\0') {
        G_ErrMessage(STRDEF.Message[3], STRDEF.Message[4]);
        return SessionOutcome::refused;
    }
    const int login = G_LoginChk(cgi_uid, cgi_upw);
    if (login == -1) {
        cgi_SKEY1[0] = '\0';
        cgi_SKEY2[0] = '\0';
    }
    if (cgi_SKEY1[0] == '\0') {
        // Busy user files are no wrong password: the user is told to try again.
        G_ErrMessage(STRDEF.Message[5], STRDEF.Message[login == STORE_LOCK_BUSY ? 19 : 6]);
        return SessionOutcome::refused;
    }
    // Pages of this session carry the id in the spelling that names the user's
    // directory, whatever case the login was typed in.
    copy_field(cgi_uid, sUSER_MST.USER_ID);
    return SessionOutcome::password_login;
}

void serve_request() {
    if (!open_request()) return;

    if (std::strcmp(cgi_help, "ver") == 0) {
        print_version_page();
        cgi_free();
        return;
    }
    // The page that closes the compose window needs no session: it is printed
    // before the check, whose own page may follow it.
    if (std::strcmp(cgi_JOB, "BWRITEWR_FIX2") == 0) b_BWRITEWR_FIX2();

    // A request for a folder that does not exist ends without a word; its
    // uploads go with a later request's sweep.
    if (Fio_TREE_DATA(cgi_FOLDER_NO, 1, 1) != 0) return;
    G_TREE_DATA = sTREE_DATA;
    folder_program(G_TREE_DATA, JOB_EXE, sizeof JOB_EXE);

    const SessionOutcome session = check_session();
    if (session == SessionOutcome::refused) {
        cgi_free();
        return;
    }

    load_request_user();

    // The screens across folders check each folder they show themselves.
    if (std::strcmp(cgi_JOB, "NRDETAILSALL") == 0) b_NRDETAILS(0);
    if (std::strcmp(cgi_JOB, "ALLSEARCH") == 0) b_SEARCH(0);

    ACL_LEVEL = G_chk_ACL(cgi_FOLDER_NO, &G_TREE_DATA);
    if (ACL_LEVEL <= 0) return;

    if (session == SessionOutcome::password_login) record_login();

    // A settings file that cannot be read leaves the defaults: the folder still opens.
    b_SET_DIR_CONFIG(cgi_FOLDER_NO);
    run_dispatch(cgi_JOB, kJobTable);
    cgi_free();
}

// Maps the pages from..to written before the first touch. On virtual machines
// each first touch of a page is a fault costing several microseconds; one call
// that maps a known range costs about one per page.
void populate(uintptr_t from, uintptr_t to) {
#ifdef MADV_POPULATE_WRITE
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = from & ~(page - 1);
    const uintptr_t last = (to + page - 1) & ~(page - 1);
    // Older kernels refuse the advice: the pages are then faulted in as before.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
    (void)from;
    (void)to;
#endif
}

// Maps at once what every request writes: the small globals, the first pages
// of the output buffer and of the message table, the heap's free top, and the
// top of the stack.
void populate_request_memory(const char* output_buffer) {
    const auto address = [](const void* p) { return reinterpret_cast<uintptr_t>(p); };
    const uintptr_t globals = address(__bss_start);
    const uintptr_t buffer = address(output_buffer);
    // A list page with its page selector runs to a few tens of kilobytes. The
    // buffer follows the globals: one call maps both.
    const uintptr_t buffer_end = buffer + 32 * 1024;
    populate(buffer > globals && buffer - globals <= 128 * 1024 ? globals : buffer, buffer_end);
    populate(address(&STRDEF), address(&STRDEF) + 16 * 1024);
    // The heap's free top, where the request's allocations will go; what is
    // below it was allocated before main (some of it never touched).
    const struct mallinfo2 heap = mallinfo2();
    const uintptr_t heap_top = address(sbrk(0));
    if (heap.keepcost > 0 && heap.keepcost <= heap.arena && heap.arena <= 1024 * 1024) {
        populate(heap_top - heap.keepcost, heap_top);
    }
    char here;
    populate(address(&here) - 24 * 1024, address(&here));
}

}  // namespace

int main() {
    // The process lives for one request: memory freed is kept, not handed
    // back to the system, and large buffers come from the heap rather than
    // from mappings of their own. Otherwise the 100 KB text buffers of a
    // message page are given back and their pages faulted in again each time.
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    // A list page of a large folder runs to hundreds of kilobytes: write it in
    // large pieces. Untouched parts of the buffer cost nothing.
    alignas(4096) static char output_buffer[64 * 1024];
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    populate_request_memory(output_buffer);
    serve_request();
    std::fflush(stdout);
    return 0;
}
