// Cost of whole wbbs.cgi requests of the list frame (JOB=FRM222) in folders
// of 1,000, 10,000 and 100,000 messages, next to the floor: a static C
// program that prints a fixed 2 KB page, started the same way in the same run.
//
// Each installation is written through the board's own store calls: a folder,
// a user with a password and session keys, the messages of a fixed plan
// (about a third replies, threads of up to 25), and read marks of the user for
// about half of them. Up to 1,000 messages are posted one by one. A post
// rewrites the latest-first index files, so posting 100,000 takes hours here:
// larger folders get their five index files written at once from the same
// plan, by a writer that is first checked to leave exactly the files that
// posting leaves, and every folder passes the consistency checker (--inserts
// posts every message all the same). The data directories are kept under the
// cache directory and used again while their stamp matches (--rebuild writes
// them anew).
//
// Every request is a fork and exec of the program with the CGI variables, its
// working directory holding orva.ini and wbbs.lng, its output read from a pipe
// to the end. The cases are run in rounds, one request of each per round, so
// that a change of load on the machine touches them all alike; each line of
// the table is the median of its runs.
//
//   list_frame_bench [--runs N] [--sizes 1000,10000] [--cache DIR] [--rebuild]
//                    [--keep-pages] [--inserts] [--program PATH]
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "config/sysinfo.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace fs = std::filesystem;
using namespace bench;

namespace {

struct Options {
    int runs = 200;
    std::vector<long> sizes = {1000, 10000, 100000};
    FolderCache folders;
    bool keep_pages = false;
    std::string program = WBBS_CGI_PATH;  // another build of the board, to compare
};

std::string list_query(long mode, long page) {
    return "uid=" + std::string(kUser) + "&SKEY1=" + std::to_string(kKey1) + "&SKEY2=" + std::to_string(kKey2) +
           "&JOB=FRM222&FOLDER_NO=1&AC_MODE=" + std::to_string(mode) + "&PPage=" + std::to_string(page);
}

std::vector<Case> cases_for(const Options& options, const Installation& inst) {
    std::vector<Case> cases;
    cases.push_back(get_case("floor (static C, 2 KB)", FLOOR_PATH, inst.install_dir, ""));
    cases.push_back(get_case("unknown JOB", options.program, inst.install_dir,
                     "uid=" + std::string(kUser) + "&SKEY1=" + std::to_string(kKey1) +
                         "&SKEY2=" + std::to_string(kKey2) + "&JOB=NOSUCHJOB&FOLDER_NO=1"));
    for (long mode : {1L, 3L, 2L}) {
        const long records = Fio_BBS_IDX_MAXCOUNT(kFolder, static_cast<int>(mode));
        const long last = records > 0 ? (records - 1) / BBS_IDX_PAGE + 1 : 1;
        for (long page : {1L, last}) {
            const std::string label = "mode " + std::to_string(mode) + (page == 1 ? " first page" : " last page") +
                                      " (" + std::to_string(page) + ")";
            cases.push_back(get_case(label, options.program, inst.install_dir, list_query(mode, page)));
        }
    }
    return cases;
}

void measure(const Options& options, const Installation& inst) {
    std::vector<Case> cases = cases_for(options, inst);
    for (Case& c : cases) run_once(c);  // warm the page cache and the binaries
    // The page selector makes pages of large folders large: the floor of
    // sending the largest one is measured too.
    std::size_t largest = 0;
    for (const Case& c : cases) largest = std::max(largest, c.bytes);
    if (largest > 4096) {
        cases.push_back(get_case("floor, " + std::to_string(largest / 1024) + " KB page", FLOOR_PATH, inst.install_dir,
                         "bytes=" + std::to_string(largest)));
        run_once(cases.back());
    }
    for (int round = 0; round < options.runs; ++round) {
        for (Case& c : cases) c.times.push_back(run_once(c));
    }
    const double floor = median(cases[0].times);
    std::printf("\n%ld messages (%d runs each, median)\n", inst.messages, options.runs);
    std::printf("  %-28s %10s %8s %9s\n", "request", "ms", "x floor", "bytes");
    for (Case& c : cases) {
        const double ms = median(c.times);
        std::printf("  %-28s %10.3f %8.2f %9zu%s\n", c.label.c_str(), ms, floor > 0 ? ms / floor : 0.0, c.bytes,
                    c.failures > 0 ? "  (exit status not 0)" : "");
        if (options.keep_pages) {
            std::string name = c.label;
            for (char& ch : name) {
                if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
            }
            write_text(inst.root + "/page-" + name + ".html", c.page);
        }
    }
    std::fflush(stdout);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--runs" && has_value) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--sizes" && has_value) {
            options.sizes = number_list(argv[++i]);
        } else if (arg == "--cache" && has_value) {
            options.folders.cache = argv[++i];
        } else if (arg == "--rebuild") {
            options.folders.rebuild = true;
        } else if (arg == "--keep-pages") {
            options.keep_pages = true;
        } else if (arg == "--inserts") {
            options.folders.inserts = true;
        } else if (arg == "--program" && has_value) {
            options.program = argv[++i];
        } else {
            fail("usage: list_frame_bench [--runs N] [--sizes 1000,10000] [--cache DIR] [--rebuild] [--keep-pages] [--inserts] [--program PATH]");
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
    std::vector<Installation> installations;
    for (long messages : options.sizes) installations.push_back(prepare(options.folders, messages));
    for (const Installation& inst : installations) {
        copy_field(SYSINFO.DATA_FILE_PATH, inst.data_dir.c_str());
        measure(options, inst);
    }
    return 0;
}
