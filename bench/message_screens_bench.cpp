// Cost of whole wbbs.cgi requests of the message screens, next to the floor
// (a static C program printing a 2 KB page, started the same way in the same
// run):
//   - the detail frame of a message with a 2 KB text body and of one with a
//     100 KB HTML body, in folders of 1,000 and 100,000 messages;
//   - a new post, a reply and an edit in those folders;
//   - an edit, a delete and a one-line reply in installations of 1,000 and
//     10,000 users, each of which writes every user's read mark.
// The folders come from the same cache as the list frame benchmark; the
// requests that write run on a copy of it, so the cache stays as built.
//
//   message_screens_bench [--runs N] [--user-runs N] [--sizes 1000,100000]
//                         [--users 1000,10000] [--cache DIR] [--program PATH]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "config/sysinfo.h"
#include "store/file_primitives.h"
#include "store/folder_files.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"
#include "util/html_escape.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

struct Options {
    int runs = 60;
    int user_runs = 10;
    std::vector<long> sizes = {1000, 100000};
    std::vector<long> users = {1000, 10000};
    FolderCache folders;
    std::string program = WBBS_CGI_PATH;
};

std::string session() {
    return "uid=" + std::string(kUser) + "&SKEY1=" + std::to_string(kKey1) + "&SKEY2=" + std::to_string(kKey2) +
           "&FOLDER_NO=" + std::to_string(kFolder);
}

// About 2 KB of plain text in lines, with a quoted line and an address.
std::string text_body() {
    std::string body = "> quoted from the message before\r";
    while (body.size() < 2000) body += "A line of an ordinary message, see http://example.com/page for more.\r";
    return body;
}

// About 100 KB of HTML as people paste it: paragraphs, bold, colours, links, tables.
std::string html_body() {
    std::string body;
    for (int i = 0; body.size() < 100 * 1024; ++i) {
        body += "<P>Paragraph " + std::to_string(i) +
                " with <B>bold</B>, <FONT COLOR=\"#FF0000\">colour</FONT> and "
                "<A HREF=\"http://example.com/" + std::to_string(i) + "\">a link</A>.</P>\r"
                "<TABLE BORDER=1><TR><TD>cell</TD><TD ALIGN=\"RIGHT\">" + std::to_string(i * 7) +
                "</TD></TR></TABLE>\r";
    }
    return body;
}

void store_body(long sel_no, const std::string& body) {
    char dir[1200];
    if (!message_dir_path(dir, sizeof dir, kFolder, sel_no)) fail("message directory path");
    Cu_mkdir(dir);  // the store's paths use its own separators: its primitive converts them
    std::vector<char> text(body.begin(), body.end());
    text.push_back('\0');
    if (Fio_BODY_TXT(kFolder, sel_no, 4, text.data()) != 0) fail("body of " + std::to_string(sel_no));
}

std::string form(const std::string& fields) { return session() + "&" + fields; }

std::string url_encoded(const std::string& text) { return url_arg(text.c_str()); }

Case post_case(const std::string& label, const Options& options, const std::string& dir, const std::string& body) {
    Case c = get_case(label, options.program, dir, "");
    c.method = "POST";
    c.content_type = "application/x-www-form-urlencoded";
    c.body = body;
    return c;
}

void allow_edits() {
    char two[] = "2";
    if (Fio_DIR_CONFIG(kFolder, 4, "REWRITE_FLG", two) != 0) Fio_DIR_CONFIG(kFolder, 2, "REWRITE_FLG", two);
    char one[] = "1";
    if (Fio_DIR_CONFIG(kFolder, 4, "LINE_RES", one) != 0) Fio_DIR_CONFIG(kFolder, 2, "LINE_RES", one);
}

// users-1 more users (u1, u2, ...) beside the benchmark's own, written
// straight into the user list: adding them one by one rewrites the list each time.
void add_users(const Installation& inst, long users) {
    std::string list = read_text(inst.data_dir + "user.mst");
    for (long i = 1; i < users; ++i) {
        std::string id = std::to_string(i);
        id.insert(0, 1, 'u');  // not "u" + ...: a false -Wrestrict of the compiler
        list += id + "\n";
        fs::create_directories(inst.data_dir + "user/" + id);
    }
    write_text(inst.data_dir + "user.mst", list);
}

void print_table(const std::string& title, std::vector<Case>& cases, int runs) {
    for (Case& c : cases) run_once(c);  // warm the page cache and the binaries
    for (int round = 0; round < runs; ++round) {
        for (Case& c : cases) {
            if (c.before) c.before(c);
            c.times.push_back(run_once(c));
        }
    }
    const double floor = median(cases[0].times);
    std::printf("\n%s (%d runs each, median)\n", title.c_str(), runs);
    std::printf("  %-34s %10s %8s %9s\n", "request", "ms", "x floor", "bytes");
    for (Case& c : cases) {
        const double ms = median(c.times);
        std::printf("  %-34s %10.3f %8.2f %9zu%s\n", c.label.c_str(), ms, floor > 0 ? ms / floor : 0.0, c.bytes,
                    c.failures > 0 ? "  (exit status not 0)" : "");
    }
    std::fflush(stdout);
}

// Views, then a post, a reply and an edit, in a folder of inst.messages.
void folder_cases(const Options& options, const Installation& built) {
    const Installation inst = scratch_copy(built, "messages");
    allow_edits();
    const long last = inst.messages;
    store_body(last, text_body());
    store_body(last - 1, html_body());
    const long page = (last - 1) / BBS_IDX_PAGE + 1;

    std::vector<Case> cases;
    cases.push_back(get_case("floor (static C, 2 KB)", FLOOR_PATH, inst.install_dir, ""));
    cases.push_back(get_case("detail, 2 KB text body", options.program, inst.install_dir,
                             form("JOB=FRM223&AC_MODE=1&PPage=" + std::to_string(page) +
                                  "&SEL_NO=" + std::to_string(last))));
    cases.push_back(get_case("detail, 100 KB HTML body", options.program, inst.install_dir,
                             form("JOB=FRM223&AC_MODE=1&PPage=" + std::to_string(page) +
                                  "&SEL_NO=" + std::to_string(last - 1))));
    const std::string fields = "&WRITER_NAME=Bench&HTML_MODE=0&WRITE_PRIORITY=0&CONFIRM=0&WRITE_DATA=" +
                               url_encoded(text_body());
    cases.push_back(post_case("new post", options, inst.install_dir,
                              form("JOB=BWRITE_NEWWR&SEL_NO=0&WRITE_TITLE=New" + fields)));
    cases.push_back(post_case("reply", options, inst.install_dir,
                              form("JOB=BWRITE_RESWR&SEL_NO=" + std::to_string(last) + "&WRITE_TITLE=Re" + fields)));
    cases.push_back(post_case("edit", options, inst.install_dir,
                              form("JOB=BWRITE_REWWR&SEL_NO=" + std::to_string(last) + "&WRITE_TITLE=Edited" + fields)));
    print_table(std::to_string(inst.messages) + " messages", cases, options.runs);
}

// An edit, a delete and a one-line reply, each walking every user's read mark.
void user_cases(const Options& options, const Installation& built, long users) {
    const Installation inst = scratch_copy(built, "users");
    allow_edits();
    add_users(inst, users);
    const long target = inst.messages;
    store_body(target, text_body());
    const std::string fields = "&WRITER_NAME=Bench&HTML_MODE=0&WRITE_PRIORITY=0&CONFIRM=0&WRITE_DATA=" +
                               url_encoded(text_body());

    std::vector<Case> cases;
    cases.push_back(get_case("floor (static C, 2 KB)", FLOOR_PATH, inst.install_dir, ""));
    cases.push_back(post_case("edit", options, inst.install_dir,
                              form("JOB=BWRITE_REWWR&SEL_NO=" + std::to_string(target) + "&WRITE_TITLE=Edited" + fields)));
    // Each delete takes a message posted for it just before (not timed).
    Case remove = post_case("delete", options, inst.install_dir, "");
    remove.before = [](Case& c) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        copy_field(sBBS_IDX.WRITER_ID, kUser);
        copy_field(sBBS_IDX.WRITER_NAME, "Bench");
        copy_field(sBBS_IDX.WRITE_TITLE, "To be deleted");
        if (Fio_BBS_IDX(2) != 0) fail("posting a message to delete");
        c.body = form("JOB=BWRITE_DELWR&SEL_NO=" + std::to_string(sBBS_IDX.SEL_NO));
    };
    remove.before(remove);
    cases.push_back(remove);
    cases.push_back(post_case("one-line reply", options, inst.install_dir,
                              form("JOB=LINE_RESWR&SEL_NO=" + std::to_string(target) + "&LINE_RES=Fine")));
    print_table(std::to_string(users) + " users, " + std::to_string(inst.messages) + " messages", cases,
                options.user_runs);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--runs" && has_value) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--user-runs" && has_value) {
            options.user_runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--sizes" && has_value) {
            options.sizes = number_list(argv[++i]);
        } else if (arg == "--users" && has_value) {
            options.users = number_list(argv[++i]);
        } else if (arg == "--cache" && has_value) {
            options.folders.cache = argv[++i];
        } else if (arg == "--program" && has_value) {
            options.program = argv[++i];
        } else {
            fail("usage: message_screens_bench [--runs N] [--user-runs N] [--sizes 1000,100000] "
                 "[--users 1000,10000] [--cache DIR] [--program PATH]");
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    for (const std::string& program : {options.program, std::string(FLOOR_PATH)}) {
        if (access(program.c_str(), X_OK) != 0) fail(program + " is not there to run");
    }
    fs::create_directories(options.folders.cache);
    for (long messages : options.sizes) folder_cases(options, prepare(options.folders, messages));
    if (!options.users.empty()) {
        const Installation small = prepare(options.folders, 1000);
        for (long users : options.users) user_cases(options, small, users);
    }
    return 0;
}
