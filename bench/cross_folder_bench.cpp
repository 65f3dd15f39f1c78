// Cost of whole wbbs.cgi requests of the screens that walk whole folders,
// each next to a floor of the same file work done with plain C calls
// (cross_folder_floor, started the same way in the same run):
//   - search of one keyword, and of three keywords with "all", over 10,000
//     messages with bodies of about 2 KB, in one folder and spread over ten
//     (ALLSEARCH); floor: open, read and strstr the same body files;
//   - in folders of 1,000 and 100,000 messages, the unread list in the table
//     view of a user who has read nothing and of one who has read all but the
//     last 20, and mark-all-read; floor: read bbs1.idx and the user's mark
//     file once (and write the marks once, for mark-all-read).
// The data is warm in the page cache (each case runs once before the rounds).
// The unread-list folders come from the list frame benchmark's cache and are
// copied before the users are added; the search folders are built once into
// the cache (their index files written at once from the same plan, bodies
// through the store).
//
//   cross_folder_bench [--runs N] [--search-runs N] [--sizes 1000,100000]
//                      [--search-messages N] [--cache DIR] [--rebuild]
//                      [--program PATH] [--no-search] [--no-unread]
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "config/sysinfo.h"
#include "store/file_primitives.h"
#include "store/index_consistency.h"
#include "store/installation_builder.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

constexpr const char* kSearchStamp = "cross-folder-search 1";
constexpr long kUnreadTail = 20;  // what the "most read" user has not read

struct Options {
    int runs = 15;
    int search_runs = 15;
    std::vector<long> sizes = {1000, 100000};
    long search_messages = 10000;
    FolderCache folders;
    std::string program = WBBS_CGI_PATH;
    bool search = true;
    bool unread = true;
};

// One round of every case per round, so that a change of load on the machine
// touches them all alike; the table shows each case's median and its ratio to
// the floor named for it.
struct Row {
    Case c;
    int floor = -1;  // index of the row this one is set beside
};

// A large page is not kept: every request forks this process, and the fork
// of a larger process costs more, which would count against the cases.
void run_case(Case& c, bool timed, std::vector<double>* cpu = nullptr) {
    if (c.before) c.before(c);
    const double ms = run_once(c);
    if (timed) c.times.push_back(ms);
    if (cpu != nullptr) cpu->push_back(c.cpu_ms);
    if (c.page.size() > (1u << 20)) std::string().swap(c.page);
}

void print_rows(const std::string& title, std::vector<Row>& rows, int runs) {
    // The processor time of each run is shown too: on a machine shared with
    // other work it varies less than the time on the clock.
    std::vector<std::vector<double>> cpu(rows.size());
    for (Row& r : rows) run_case(r.c, false);  // warm the page cache and the binaries
    for (int round = 0; round < runs; ++round) {
        for (std::size_t i = 0; i < rows.size(); ++i) run_case(rows[i].c, true, &cpu[i]);
    }
    std::printf("\n%s (%d runs each, median; cpu: user + system time of the process)\n", title.c_str(), runs);
    std::printf("  %-46s %9s %8s %9s %8s %10s\n", "request", "ms", "x floor", "cpu ms", "x floor", "bytes");
    auto ratio_text = [](char (&text)[32], double value, double floor) {
        text[0] = '\0';
        if (floor > 0) std::snprintf(text, sizeof text, "%8.2f", value / floor);
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const double ms = median(r.c.times);
        const double cpu_ms = median(cpu[i]);
        const std::size_t f = static_cast<std::size_t>(r.floor);
        char ratio[32];
        char cpu_ratio[32];
        ratio_text(ratio, ms, r.floor >= 0 ? median(rows[f].c.times) : 0);
        ratio_text(cpu_ratio, cpu_ms, r.floor >= 0 ? median(cpu[f]) : 0);
        std::printf("  %-46s %9.3f %8s %9.3f %8s %10zu%s\n", r.c.label.c_str(), ms, ratio, cpu_ms, cpu_ratio,
                    r.c.bytes, r.c.failures > 0 ? "  (exit status not 0)" : "");
    }
    std::fflush(stdout);
}

// ---- search ------------------------------------------------------------------

// Words of the bodies. "apple" stands in about half of them, "pear" in about a
// fifth, "kiwi" in one in two hundred: of 10,000 messages "kiwi" finds 65 and
// all three together 8 (with this seed), so the hits' pages stay small.
const char* const kWords[] = {"the", "meeting", "is", "moved", "to", "room", "on", "friday", "please",
                              "bring", "notes", "from", "last", "week", "and", "check", "schedule",
                              "with", "team", "before", "noon", "thanks", "for", "report"};

std::string search_body(std::mt19937& rng) {
    std::string body;
    const bool apple = rng() % 2 == 0;
    const bool pear = rng() % 5 == 0;
    const bool kiwi = rng() % 200 == 0;
    const std::size_t size = 1800 + rng() % 400;
    while (body.size() < size) {
        body += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        body += body.size() % 70 < 8 ? "\r\n" : " ";
    }
    // The keywords sit at random places, so a search scans to them.
    auto put = [&](const char* word) {
        const std::size_t at = body.find(' ', rng() % body.size());
        body.insert(at == std::string::npos ? body.size() : at + 1, std::string(word) + " ");
    };
    if (apple) put("apple");
    if (pear) put("pear");
    if (kiwi) put("kiwi");
    return body;
}

void store_body(long folder_no, long sel_no, const std::string& body) {
    char dir[1200];
    if (!message_dir_path(dir, sizeof dir, folder_no, sel_no)) fail("message directory path");
    Cu_mkdir(dir);
    std::vector<char> text(body.begin(), body.end());
    text.push_back('\0');
    if (Fio_BODY_TXT(folder_no, sel_no, 4, text.data()) != 0) fail("body of " + std::to_string(sel_no));
}

// messages messages spread evenly over `folders` board folders 1, 2, ...
Installation prepare_search(const Options& options, long messages, long folders) {
    Installation inst;
    inst.messages = messages;
    inst.root = options.folders.cache + "/search-" + std::to_string(messages) + "x" + std::to_string(folders);
    inst.install_dir = inst.root + "/www";
    inst.data_dir = inst.root + "/data/";
    const std::string stamp = std::string(kSearchStamp) + " messages=" + std::to_string(messages) +
                              " folders=" + std::to_string(folders) + "\n";
    if (options.folders.rebuild || read_text(inst.root + "/stamp") != stamp) {
        std::fprintf(stderr, "building %ld messages in %ld folders in %s\n", messages, folders, inst.root.c_str());
        std::error_code ignored;
        fs::remove_all(inst.root, ignored);
        fs::create_directories(inst.install_dir);
        fs::create_directories(inst.data_dir);
        copy_field(SYSINFO.DATA_FILE_PATH, inst.data_dir.c_str());
        std::string description = std::string("user ") + kUser + " password=secret level=10 mode=1\n";
        for (long f = 1; f <= folders; ++f) {
            description += "folder " + std::to_string(f) + " name=\"Search " + std::to_string(f) + "\" access=1 write=2\n";
        }
        std::string error;
        if (build_installation(description.c_str(), &error) != 0) fail("installation: " + error);
        store_session_keys(kUser);
        std::mt19937 rng(4242u);
        for (long f = 1; f <= folders; ++f) {
            const long in_folder = messages / folders;
            write_planned_folder(f, in_folder, inst.data_dir);
            for (long n = 1; n <= in_folder; ++n) store_body(f, n, search_body(rng));
            std::vector<std::string> problems;
            if (check_message_index(f, problems) != 0 || !problems.empty()) fail("search folder not consistent");
        }
        write_text(inst.root + "/stamp", stamp);
    }
    lay_program_files(inst);
    copy_field(SYSINFO.DATA_FILE_PATH, inst.data_dir.c_str());
    return inst;
}

void search_cases(const Options& options, long folders) {
    const Installation inst = prepare_search(options, options.search_messages, folders);
    const long in_folder = options.search_messages / folders;
    std::string folder_list;
    std::string rooms;
    for (long f = 1; f <= folders; ++f) {
        if (f > 1) folder_list += ',';
        folder_list += std::to_string(f);
        rooms += "&ROOM_NO=" + std::to_string(f);
    }
    const std::string floor_base =
        "bodies=" + inst.data_dir + "&folders=" + folder_list + "&messages=" + std::to_string(in_folder);
    const std::string job = folders == 1 ? "&JOB=SEARCH&FOLDER_NO=1" : "&JOB=ALLSEARCH&FOLDER_NO=1" + rooms;
    const std::string search = session_query(kUser) + job;

    std::vector<Row> rows;
    rows.push_back({get_case("floor: open+read+strstr, 1 keyword", FLOOR_PATH, inst.install_dir,
                             floor_base + "&key=kiwi")});
    rows.push_back({get_case("search, 1 keyword", options.program, inst.install_dir,
                             search + "&CONDITION=kiwi&STAT=1"),
                    0});
    rows.push_back({get_case("floor: open+read+strstr, 3 keywords all", FLOOR_PATH, inst.install_dir,
                             floor_base + "&key=apple&key=pear&key=kiwi&all=1")});
    rows.push_back({get_case("search, 3 keywords, all", options.program, inst.install_dir,
                             search + "&CONDITION=apple+pear+kiwi&STAT=2"),
                    2});
    rows.push_back({get_case("wbbs.cgi, unknown JOB (start-up)", options.program, inst.install_dir,
                             session_query(kUser) + "&JOB=NOSUCHJOB&FOLDER_NO=1")});
    print_rows("search over " + std::to_string(options.search_messages) + " messages of about 2 KB in " +
                   std::to_string(folders) + (folders == 1 ? " folder" : " folders"),
               rows, options.search_runs);
    // The hits each found, so that a search and its floor are seen to agree.
    for (const Row& r : rows) {
        const std::string& page = r.c.page;
        const std::size_t board = page.find("total hit ");
        const std::size_t floor = page.find(" hits, ");
        if (board != std::string::npos) {
            std::printf("  %s: %ld hits\n", r.c.label.c_str(), std::atol(page.c_str() + board + 10));
        } else if (floor != std::string::npos) {
            std::printf("  %s: %ld hits\n", r.c.label.c_str(), std::atol(page.c_str() + page.rfind('\n', floor) + 1));
        }
    }
}

// ---- unread list and mark-all-read -------------------------------------------

void write_marks(const Installation& inst, const char* user, long messages, long unread_tail) {
    std::vector<int32_t> marks(static_cast<std::size_t>(messages), 1);
    for (long i = messages - unread_tail; i < messages; ++i) marks[static_cast<std::size_t>(i)] = 0;
    write_text(inst.data_dir + "user/" + user + "/r1.idx",
               std::string(reinterpret_cast<const char*>(marks.data()), marks.size() * sizeof(int32_t)));
}

void unread_cases(const Options& options, const Installation& built) {
    const Installation inst = scratch_copy(built, "cross");
    const long n = inst.messages;
    std::string description;
    for (const char* user : {"none", "most", "marker"}) {
        description += std::string("user ") + user + " password=secret level=10 mode=1\n";
        description += std::string("personal ") + user + " UNREAD_LISTMODE 1\n";
    }
    std::string error;
    if (build_installation(description.c_str(), &error) != 0) fail("users: " + error);
    for (const char* user : {"none", "most", "marker"}) store_session_keys(user);
    write_marks(inst, "none", n, n);
    write_marks(inst, "most", n, kUnreadTail);
    // The marker starts every run with nothing read.
    auto reset_marker = [inst, n](Case&) { write_marks(inst, "marker", n, n); };

    const std::string index = inst.data_dir + "1/bbs1.idx";
    auto marks_of = [&](const char* user) { return inst.data_dir + "user/" + user + "/r1.idx"; };
    auto unread = [&](const char* user) { return session_query(user) + "&JOB=NRDETAILS&FOLDER_NO=1"; };

    std::vector<Row> rows;
    rows.push_back({get_case("floor: read bbs1.idx + marks (none read)", FLOOR_PATH, inst.install_dir,
                             "index=" + index + "&marks=" + marks_of("none"))});
    rows.push_back({get_case("unread list, table, nothing read", options.program, inst.install_dir,
                             unread("none")),
                    0});
    rows.push_back({get_case("floor: read bbs1.idx + marks (all but 20)", FLOOR_PATH, inst.install_dir,
                             "index=" + index + "&marks=" + marks_of("most"))});
    rows.push_back({get_case("unread list, table, all but the last 20 read", options.program, inst.install_dir,
                             unread("most")),
                    2});
    Case floor_write = get_case("floor: read both + write the marks", FLOOR_PATH, inst.install_dir,
                                "index=" + index + "&marks=" + marks_of("marker") + "&write=1");
    floor_write.before = reset_marker;
    rows.push_back({floor_write});
    Case mark_all = get_case("mark all read", options.program, inst.install_dir,
                             session_query("marker") + "&JOB=SET_ALLREAD&FOLDER_NO=1");
    mark_all.before = reset_marker;
    rows.push_back({mark_all, 4});
    rows.push_back({get_case("wbbs.cgi, unknown JOB (start-up)", options.program, inst.install_dir,
                             session_query(kUser) + "&JOB=NOSUCHJOB&FOLDER_NO=1")});
    // What sending the largest page costs by itself, measured after a first run.
    run_case(rows[1].c, false);
    const std::size_t largest = rows[1].c.bytes;
    rows.push_back({get_case("floor: static C printing " + std::to_string(largest / 1024) + " KB", FLOOR_PAGE_PATH,
                             inst.install_dir, "bytes=" + std::to_string(largest))});
    print_rows(std::to_string(n) + " messages", rows, options.runs);

    // Mark-all-read must leave every mark read.
    const std::string after = read_text(marks_of("marker"));
    std::vector<int32_t> marks(after.size() / 4);
    std::memcpy(marks.data(), after.data(), marks.size() * 4);
    const bool all_read = static_cast<long>(marks.size()) == n &&
                          std::all_of(marks.begin(), marks.end(), [](int32_t m) { return m == 1; });
    if (!all_read) fail("mark all read left marks unread");
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--runs" && has_value) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--search-runs" && has_value) {
            options.search_runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--sizes" && has_value) {
            options.sizes = number_list(argv[++i]);
        } else if (arg == "--search-messages" && has_value) {
            options.search_messages = std::max(10L, std::atol(argv[++i]));
        } else if (arg == "--cache" && has_value) {
            options.folders.cache = argv[++i];
        } else if (arg == "--rebuild") {
            options.folders.rebuild = true;
        } else if (arg == "--program" && has_value) {
            options.program = argv[++i];
        } else if (arg == "--no-search") {
            options.search = false;
        } else if (arg == "--no-unread") {
            options.unread = false;
        } else {
            fail("usage: cross_folder_bench [--runs N] [--search-runs N] [--sizes 1000,100000] "
                 "[--search-messages N] [--cache DIR] [--rebuild] [--program PATH] [--no-search] [--no-unread]");
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    for (const std::string& program : {options.program, std::string(FLOOR_PATH), std::string(FLOOR_PAGE_PATH)}) {
        if (access(program.c_str(), X_OK) != 0) fail(program + " is not there to run");
    }
    fs::create_directories(options.folders.cache);
    if (options.search) {
        search_cases(options, 1);
        search_cases(options, 10);
    }
    if (options.unread) {
        for (long messages : options.sizes) unread_cases(options, prepare(options.folders, messages));
    }
    return 0;
}
