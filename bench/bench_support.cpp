#include "bench/bench_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/index_consistency.h"
#include "store/installation_builder.h"
#include "store/message_index.h"
#include "store/read_marks.h"
#include "store/session_keys.h"
#include "util/bytes.h"
#include "util/dates.h"

namespace fs = std::filesystem;

namespace bench {

namespace {

constexpr int kLongestThread = 25;
// Changes whenever the way an installation is built changes: old caches are
// then built again rather than measured.
constexpr const char* kStampVersion = "list-frame-bench 3";

}  // namespace

void fail(const std::string& what) {
    std::fprintf(stderr, "bench: %s\n", what.c_str());
    std::exit(1);
}

double now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) fail("cannot write " + path);
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The settings of a test installation (as tests/cgi/cgi_harness.cpp writes them).
std::string config_text(const std::string& data_dir) {
    const std::pair<const char*, std::string> settings[] = {
        {"SITE_ID", "B1"},
        {"CGI_FILE_NAME", "/cgi-bin/orva/orva.cgi"},
        {"LANGUAGE", "English"},
        {"CG_FILE_PATH", "/var/www/orva/img/"},
        {"CG_FILE_WEB_PATH", "/orva/img/"},
        {"DATA_FILE_PATH", data_dir},
        {"BACK_GIF", "back.gif"},
        {"LOG_DATE", "0"},
        {"DATETIME", "1"},
        {"IECOLS", "80"},
        {"NSCOLS", "60"},
        {"ROWS", "8"},
        {"MAX_CONTENTS", "4000"},
        {"LOGOFF_URL", ""},
        {"LOGIN_ERR_URL", ""},
        {"FRAME_DIVIDE", "20%"},
        {"INITIAL_GP", "0"},
        {"ATTACHED_FILE_LIMIT", "10000000"},
        {"TIME_CORRECT", ""},
        {"MAILER", ""},
    };
    std::string text = "***** ORVA (Pure CGI System) Configuration file *****,,\n";
    for (const auto& [key, value] : settings) text += std::string(key) + "," + value + ",\n";
    return text;
}

void lay_program_files(const Installation& inst) {
    write_text(inst.install_dir + "/orva.ini", config_text(inst.data_dir));
    write_text(inst.install_dir + "/wbbs.lng", read_text(WBBS_LNG_PATH));
}

void store_session_keys(const char* user) {
    std::memset(&sMST_SKEY, 0, sizeof sMST_SKEY);
    sMST_SKEY.SKEY1 = kKey1;
    sMST_SKEY.SKEY2 = kKey2;
    copy_field(sMST_SKEY.USER_ID, user);
    copy_field(sMST_SKEY.REMOTE_ADDR, "192.0.2.10");
    if (Fio_MST_SKEY(user, 2) != 0) fail(std::string("session keys of ") + user + " could not be stored");
}

std::string session_query(const char* user) {
    return "uid=" + std::string(user) + "&SKEY1=" + std::to_string(kKey1) + "&SKEY2=" + std::to_string(kKey2);
}

namespace {

std::string stamp_of(long messages) {
    return std::string(kStampVersion) + " messages=" + std::to_string(messages) + "\n";
}

// The record a post of message n carries before the store fills in its
// number, thread fields and date.
BBS_IDX message_fields(int32_t parent, long n, long folder_no = kFolder) {
    BBS_IDX r;
    std::memset(&r, 0, sizeof r);
    r.FOLDER_NO = static_cast<int32_t>(folder_no);
    r.SEL_NO = parent;
    r.WRITE_PRIORITY = n % 11 == 0 ? 1 : 0;
    r.ADD_FILE = n % 13 == 0 ? 1 : 0;
    copy_field(r.WRITER_ID, kUser);
    copy_field(r.WRITER_NAME, "Bench Writer");
    std::snprintf(r.WRITE_TITLE, sizeof r.WRITE_TITLE,
                  parent > 0 ? "Re: message %ld of the benchmark" : "Message %ld of the benchmark", n);
    return r;
}

// What is posted: the message answered by message n (0 for a new topic), from
// index 1 on. Two in three messages are new topics. A reply goes to one of
// three busy threads (each kept until it is full), to one of the latest
// threads, or now and then to an older one, which brings that thread to the
// front of the activity order. A thread takes no more than 25 messages.
std::vector<int32_t> plan_messages(long messages) {
    std::mt19937 rng(20240611u + static_cast<unsigned>(messages));
    std::vector<int32_t> parent(static_cast<std::size_t>(messages) + 1, 0);
    std::vector<std::vector<int32_t>> threads;  // members by thread, in order of posting
    std::vector<std::size_t> busy;
    auto full = [&](std::size_t t) { return threads[t].size() >= static_cast<std::size_t>(kLongestThread); };
    for (long n = 1; n <= messages; ++n) {
        std::size_t t = threads.size() - 1;
        bool reply = !threads.empty() && rng() % 3 == 0;
        if (reply) {
            const unsigned choice = rng() % 20;
            if (choice < 10 && !busy.empty()) {
                t = busy[rng() % busy.size()];
            } else {
                const std::size_t reach = choice < 17 ? 4 : 300;
                t = threads.size() - 1 - rng() % std::min(reach, threads.size());
            }
            if (full(t)) t = threads.size() - 1;
            reply = !full(t);
        }
        if (!reply) {
            threads.push_back({static_cast<int32_t>(n)});
            if (busy.size() < 3) busy.push_back(threads.size() - 1);
        } else {
            std::vector<int32_t>& members = threads[t];
            parent[static_cast<std::size_t>(n)] = members[rng() % members.size()];
            members.push_back(static_cast<int32_t>(n));
            if (full(t)) busy.erase(std::remove(busy.begin(), busy.end(), t), busy.end());
        }
    }
    return parent;
}

void post_messages(const std::vector<int32_t>& parent) {
    const long messages = static_cast<long>(parent.size()) - 1;
    const double started = now_ms();
    for (long n = 1; n <= messages; ++n) {
        sBBS_IDX = message_fields(parent[static_cast<std::size_t>(n)], n);
        if (Fio_BBS_IDX(2) != 0 || sBBS_IDX.SEL_NO != n) fail("posting message " + std::to_string(n) + " failed");
        if (n % 5000 == 0) {
            std::fprintf(stderr, "  %ld of %ld messages posted (%.0f s)\n", n, messages,
                         (now_ms() - started) / 1e3);
        }
    }
}

void put_records(const std::string& path, const std::vector<BBS_IDX>& records) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(records.data()),
              static_cast<std::streamsize>(records.size() * sizeof(BBS_IDX)));
    if (!out) fail("cannot write " + path);
}

// The five files as the posts of the plan leave them, written at once: a
// post rewrites the latest-first files, so posting 100,000 messages one by one
// takes hours on a small machine. Checked against real posts (verify_writer).
void write_index_files(const std::vector<int32_t>& parent, const std::string& folder_dir,
                       long folder_no = kFolder) {
    const long messages = static_cast<long>(parent.size()) - 1;
    std::vector<BBS_IDX> all(static_cast<std::size_t>(messages));
    std::vector<std::vector<int32_t>> replies(static_cast<std::size_t>(messages) + 1);
    std::vector<long> last_post(static_cast<std::size_t>(messages) + 1, 0);  // by thread
    char date[sizeof(BBS_IDX::WRITE_DATE)] = "";
    Tm_set_date(date);
    for (long n = 1; n <= messages; ++n) {
        const int32_t p = parent[static_cast<std::size_t>(n)];
        BBS_IDX r = message_fields(p, n, folder_no);
        r.SEL_NO = static_cast<int32_t>(n);
        r.UP_NO = p;
        r.BBS_G_NO = p > 0 ? all[static_cast<std::size_t>(p - 1)].BBS_G_NO : r.SEL_NO;
        r.CLASS = p > 0 ? all[static_cast<std::size_t>(p - 1)].CLASS + 1 : 0;
        copy_field(r.WRITE_DATE, date);
        all[static_cast<std::size_t>(n - 1)] = r;
        replies[static_cast<std::size_t>(p)].push_back(r.SEL_NO);
        last_post[static_cast<std::size_t>(r.BBS_G_NO)] = n;
    }
    std::vector<int32_t> roots = replies[0];  // in order of posting
    std::vector<int32_t> active = roots;
    std::sort(active.begin(), active.end(), [&](int32_t a, int32_t b) {
        return last_post[static_cast<std::size_t>(a)] > last_post[static_cast<std::size_t>(b)];
    });
    // Tree order: each message, then the subtrees of its replies in order of posting.
    auto thread_of = [&](int32_t root, std::vector<BBS_IDX>& out) {
        std::vector<int32_t> stack = {root};
        while (!stack.empty()) {
            const int32_t s = stack.back();
            stack.pop_back();
            out.push_back(all[static_cast<std::size_t>(s - 1)]);
            const std::vector<int32_t>& below = replies[static_cast<std::size_t>(s)];
            stack.insert(stack.end(), below.rbegin(), below.rend());
        }
        return out.size();
    };
    std::vector<BBS_IDX> two, three, four, five;
    for (int32_t root : roots) {
        const std::size_t before = four.size();
        BBS_IDX counted = all[static_cast<std::size_t>(root - 1)];
        counted.RES_COUNT = static_cast<int32_t>(thread_of(root, four) - before - 1);
        two.push_back(counted);
    }
    for (int32_t root : active) {
        three.push_back(two[static_cast<std::size_t>(std::lower_bound(roots.begin(), roots.end(), root) -
                                                      roots.begin())]);
        thread_of(root, five);
    }
    put_records(folder_dir + "bbs1.idx", all);
    put_records(folder_dir + "bbs2.idx", two);
    put_records(folder_dir + "bbs3.idx", three);
    put_records(folder_dir + "bbs4.idx", four);
    put_records(folder_dir + "bbs5.idx", five);
}

// About half of the messages read, the rest unread, written as the board
// writes them: lists of up to 100 marks.
void mark_half_read(long messages) {
    std::mt19937 rng(7u + static_cast<unsigned>(messages));
    for (long first = 1; first <= messages; first += READ_INDEX_BATCH) {
        std::memset(sREAD_INDEX100, 0, sizeof sREAD_INDEX100);
        for (long i = 0; i < READ_INDEX_BATCH && first + i <= messages; ++i) {
            sREAD_INDEX100[i].SEL_NO = static_cast<int32_t>(first + i);
            sREAD_INDEX100[i].READ_CHK = rng() % 2 == 0 ? 1 : 0;
        }
        if (Fio_READ_INDEX100(kUser, kFolder, 2) != 0) fail("writing read marks failed");
    }
}

// The folder, the user with a password and session keys, through the store.
void build_base(const std::string& data_dir) {
    std::error_code ignored;
    fs::remove_all(data_dir, ignored);
    fs::create_directories(data_dir);
    copy_field(SYSINFO.DATA_FILE_PATH, data_dir.c_str());
    std::string error;
    const std::string description = std::string("folder 1 name=\"Bench folder\" access=1 write=2\n") +
                                    "user " + kUser + " password=secret level=10 mode=1\n";
    if (build_installation(description.c_str(), &error) != 0) fail("installation: " + error);
    store_session_keys(kUser);
}

void check_folder(const std::string& where) {
    std::vector<std::string> problems;
    if (check_message_index(kFolder, problems) != 0 || !problems.empty()) {
        fail(where + ": the index is not consistent: " + (problems.empty() ? "unreadable" : problems[0]));
    }
}

// The direct writer has to leave exactly the files that posting leaves (the
// dates aside, being the minute of writing): checked on one plan both ways.
void verify_writer(const std::string& scratch) {
    const long messages = 2000;
    const std::vector<int32_t> plan = plan_messages(messages);
    const std::string posted = scratch + "/posted/";
    const std::string written = scratch + "/written/";
    build_base(posted);
    post_messages(plan);
    build_base(written);
    write_index_files(plan, written + "1/");
    check_folder("written folder");
    for (int n = 1; n <= 5; ++n) {
        const std::string name = "1/bbs" + std::to_string(n) + ".idx";
        std::string a = read_text(posted + name);
        std::string b = read_text(written + name);
        for (std::string* bytes : {&a, &b}) {
            for (std::size_t at = 0; at + sizeof(BBS_IDX) <= bytes->size(); at += sizeof(BBS_IDX)) {
                std::memset(bytes->data() + at + offsetof(BBS_IDX, WRITE_DATE), 0, sizeof(BBS_IDX::WRITE_DATE));
            }
        }
        if (a != b) fail("written " + name + " differs from the posted one");
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
}

void build_data(const FolderCache& options, const Installation& inst) {
    std::error_code ignored;
    fs::remove_all(inst.root, ignored);
    fs::create_directories(inst.install_dir);
    build_base(inst.data_dir);
    const std::vector<int32_t> plan = plan_messages(inst.messages);
    if (options.inserts || inst.messages <= 1000) {
        post_messages(plan);
    } else {
        static bool verified = false;
        if (!verified) verify_writer(options.cache + "/writer-check");
        verified = true;
        copy_field(SYSINFO.DATA_FILE_PATH, inst.data_dir.c_str());
        write_index_files(plan, inst.data_dir + "1/");
    }
    check_folder(inst.root);
    mark_half_read(inst.messages);
}

}  // namespace

void write_planned_folder(long folder_no, long messages, const std::string& data_dir) {
    write_index_files(plan_messages(messages), data_dir + std::to_string(folder_no) + "/", folder_no);
}

Installation prepare(const FolderCache& options, long messages) {
    Installation inst;
    inst.messages = messages;
    inst.root = options.cache + "/" + std::to_string(messages);
    inst.install_dir = inst.root + "/www";
    inst.data_dir = inst.root + "/data/";
    const std::string stamp_path = inst.root + "/stamp";
    if (options.rebuild || read_text(stamp_path) != stamp_of(messages)) {
        std::fprintf(stderr, "building %ld messages in %s\n", messages, inst.root.c_str());
        const double started = now_ms();
        build_data(options, inst);
        write_text(stamp_path, stamp_of(messages));
        std::fprintf(stderr, "  built in %.0f s\n", (now_ms() - started) / 1e3);
    }
    // The program files are laid anew on every run: they follow the build.
    lay_program_files(inst);
    copy_field(SYSINFO.DATA_FILE_PATH, inst.data_dir.c_str());
    if (Fio_BBS_IDX_MAXCOUNT(kFolder, 1) != messages) fail("cached data of " + inst.root + " is not whole");
    return inst;
}

Installation scratch_copy(const Installation& inst, const std::string& name) {
    Installation copy = inst;
    copy.root = inst.root + "-" + name;
    copy.install_dir = copy.root + "/www";
    copy.data_dir = copy.root + "/data/";
    std::error_code ignored;
    fs::remove_all(copy.root, ignored);
    fs::create_directories(copy.install_dir);
    fs::copy(inst.data_dir, copy.data_dir, fs::copy_options::recursive);
    lay_program_files(copy);
    copy_field(SYSINFO.DATA_FILE_PATH, copy.data_dir.c_str());
    return copy;
}

Case get_case(std::string label, std::string program, std::string dir, std::string query) {
    Case c;
    c.label = std::move(label);
    c.program = std::move(program);
    c.dir = std::move(dir);
    c.query = std::move(query);
    return c;
}

// One request: the program started with the CGI variables, its output read to
// the end, its exit awaited. The time covers all of it.
double run_once(Case& c) {
    std::vector<std::string> env = {
        "PATH=/usr/bin:/bin",
        "GATEWAY_INTERFACE=CGI/1.1",
        "REQUEST_METHOD=" + c.method,
        "QUERY_STRING=" + c.query,
        "REMOTE_ADDR=192.0.2.10",
        "HTTP_USER_AGENT=Mozilla/5.0 (X11; Linux x86_64) BenchBrowser/1.0",
        "TZ=UTC",
    };
    std::vector<char*> envp;
    if (c.method == "POST") {
        env.push_back("CONTENT_TYPE=" + c.content_type);
        env.push_back("CONTENT_LENGTH=" + std::to_string(c.body.size()));
    }
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char> program(c.program.begin(), c.program.end());
    program.push_back('\0');
    char* argv[] = {program.data(), nullptr};

    int out[2];
    if (pipe(out) != 0) fail("pipe");
    // The body waits in a file: a pipe could hold less than a large form.
    int in_fd = -1;
    if (!c.body.empty()) {
        char in_path[] = "/tmp/wbbs-bench-body-XXXXXX";
        in_fd = mkstemp(in_path);
        if (in_fd < 0) fail("body file");
        unlink(in_path);
        if (write(in_fd, c.body.data(), c.body.size()) != static_cast<ssize_t>(c.body.size())) fail("body file");
        lseek(in_fd, 0, SEEK_SET);
    }
    const double started = now_ms();
    const pid_t child = fork();
    if (child < 0) fail("fork");
    if (child == 0) {
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(in_fd >= 0 ? in_fd : null_fd, 0);
        dup2(out[1], 1);
        dup2(null_fd, 2);
        close(out[0]);
        if (chdir(c.dir.c_str()) != 0) _exit(126);
        execve(program.data(), argv, envp.data());
        _exit(127);
    }
    close(out[1]);
    if (in_fd >= 0) close(in_fd);
    std::string page;
    char buffer[65536];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0) page.append(buffer, static_cast<std::size_t>(got));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double took = now_ms() - started;
    c.cpu_ms = (static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_stime.tv_sec)) * 1e3 +
               (static_cast<double>(usage.ru_utime.tv_usec) + static_cast<double>(usage.ru_stime.tv_usec)) / 1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++c.failures;
    c.bytes = page.size();
    c.page = std::move(page);
    return took;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::vector<long> number_list(const char* text) {
    std::vector<long> out;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        const long n = std::atol(item.c_str());
        if (n > 0) out.push_back(n);
    }
    return out;
}

}  // namespace bench
