// The load test's client: simulated users of a site served by lighttpd, each
// with its own login, reading and posting for a bounded time, and the same
// number of clients requesting the floor CGI. Every page is checked the way a
// user would notice trouble (error pages, pages cut short, lists without
// messages, a message shown without its title); every post, and in a crash run
// every delete, is written to a ledger that load_inspect later compares with
// what the folders hold.
//
//   load_client seed  --port P --lng FILE --ledger FILE --folders F [--threads T] [--replies R]
//   load_client load  --port P --lng FILE --ledger FILE --folders F --clients N --seconds S
//                     [--post-percent P] [--delete-percent D] [--floor] [--kill-exe PATH [--kill-ms MS]] [--tag T]
//   load_client again --port P --lng FILE --ledger FILE --folders F --clients N [--tag T]
//   load_client floor --port P --lng FILE --ledger FILE --clients N --seconds S
//
// Users are ld01, ld02, ... with the password pw-<id>; seed posts as ld01.
// --delete-percent D: D requests in 100 delete one of the client's own
// confirmed posts (found by number in the list), each at most once; half the
// replies then answer a post of this run (often the client's own), so that
// deletes also meet messages with replies.
// Exit status: 0 clean, 1 problems seen (load: any error page or empty list,
// unless --kill-exe, where failures are expected and only counted), 2 usage.

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string command;
    int port = 0;
    std::string lng;
    std::string ledger;
    int folders = 2;
    int clients = 1;
    double seconds = 5;
    int post_percent = 10;
    int delete_percent = 0;
    int threads = 22;
    int replies = 6;
    bool floor = false;
    std::string kill_exe;
    int kill_ms = 50;
    std::string tag = "load";
};

// The board's texts that tell the outcome of a request.
struct Texts {
    std::string session_error;  // 7
    std::string busy;           // 19
    std::string completed;      // 417
    std::string completed_text; // 418
};

Texts g_texts;

std::string user_id(int client) {
    char id[16];
    std::snprintf(id, sizeof id, "ld%02d", client + 1);
    return id;
}

std::string board_message(const std::string& lng, int number) {
    std::ifstream in(lng, std::ios::binary);
    char key[8];
    std::snprintf(key, sizeof key, "%03d ", number);
    std::string line;
    bool english = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') english = line == "[English]";
        if (english && line.compare(0, 4, key) == 0) return line.substr(4);
    }
    std::fprintf(stderr, "load_client: message %d not in the English section of %s\n", number, lng.c_str());
    std::exit(2);
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const std::size_t a = text.find(open);
    if (a == std::string::npos) return "";
    const std::size_t b = text.find(close, a + open.size());
    return text.substr(a + open.size(), b == std::string::npos ? std::string::npos : b - a - open.size());
}

// Visible text of a page, tags dropped and blanks folded, cut to about 90 bytes.
std::string excerpt(const std::string& html, std::size_t from = 0) {
    std::string out;
    bool in_tag = false;
    for (std::size_t i = from; i < html.size() && out.size() < 90; ++i) {
        const char c = html[i];
        if (c == '<') in_tag = true;
        if (!in_tag) {
            const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
            if (!blank) out += c;
            else if (!out.empty() && out.back() != ' ') out += ' ';
        }
        if (c == '>') in_tag = false;
    }
    return out;
}

std::string url_encode(const std::string& value) {
    std::string out;
    for (const unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

struct Problem {
    std::string what;     // "error page", "EMPTY LIST", ...
    std::string excerpt;
};

// What is wrong with a board page, if anything. The board's own error pages,
// its identification page and its busy message are failures wherever they show.
std::optional<Problem> page_problem(const HttpResponse& r) {
    if (!r.failure.empty() && r.status == 0) return Problem{"no answer", r.failure};
    if (r.status != 200) return Problem{"HTTP " + std::to_string(r.status), excerpt(r.body)};
    if (r.body.empty()) return Problem{"empty answer", r.failure};
    const std::string red = between(r.body, "<FONT COLOR=\"RED\"><B>", "</B>");
    if (!red.empty()) return Problem{"error page", red};
    if (r.body.find(g_texts.session_error) != std::string::npos) return Problem{"session error page", g_texts.session_error};
    if (r.body.find(g_texts.busy) != std::string::npos) return Problem{"busy page", g_texts.busy};
    if (!r.complete || !ends_with(r.body, "</HTML>\n")) {
        return Problem{"page cut short", excerpt(r.body, r.body.size() > 120 ? r.body.size() - 120 : 0)};
    }
    return std::nullopt;
}

// A message as the list frame shows it: number and title.
struct Listed {
    long sel_no;
    std::string title;
};

std::vector<Listed> list_rows(const std::string& page) {
    std::vector<Listed> rows;
    const std::string key = "&JOB=FRM223&";
    for (std::size_t at = page.find(key); at != std::string::npos; at = page.find(key, at + 1)) {
        const std::size_t sel = page.find("SEL_NO=", at);
        const std::size_t open = page.find('>', at);
        const std::size_t close = page.find("</A>", at);
        if (sel == std::string::npos || open == std::string::npos || close == std::string::npos) break;
        rows.push_back({std::strtol(page.c_str() + sel + 7, nullptr, 10), page.substr(open + 1, close - open - 1)});
    }
    return rows;
}

// "[page/pages]" of a list frame; 0 when not found.
long list_pages(const std::string& page) {
    const std::size_t at = page.find(" [");
    if (at == std::string::npos) return 0;
    const std::size_t slash = page.find('/', at);
    return slash == std::string::npos ? 0 : std::strtol(page.c_str() + slash + 1, nullptr, 10);
}

// What the board answered a post or a delete: acked (the confirmation page,
// whole), refused (a whole error page: nothing was done), unknown (no whole
// answer, e.g. the request was killed: it may or may not have been done).
std::string answer_state(const HttpResponse& answer) {
    if (!page_problem(answer)) {
        const bool confirmed = answer.body.find("<B>" + g_texts.completed + "</B>") != std::string::npos &&
                               answer.body.find(g_texts.completed_text) != std::string::npos;
        return confirmed ? "acked" : "unknown";
    }
    return answer.status == 200 && answer.complete && ends_with(answer.body, "</HTML>\n") ? "refused" : "unknown";
}

// One post or reply as sent and as answered.
struct PostRecord {
    std::string state;  // acked, refused, unknown
    int folder;
    long parent;
    std::string token;
    std::string attachment;
};

// A delete of one of the client's own confirmed posts, by the number the list showed.
struct DeleteRecord {
    std::string state;  // acked, refused, unknown
    int folder;
    long sel_no;
    std::string token;
};

// A post of this client that the board confirmed: a candidate for a delete.
struct OwnPost {
    int folder;
    std::string token;
    long sel_no = 0;           // 0 until a list showed it
    bool delete_sent = false;
    bool unlisted = false;     // every page of the list was read without it
};

enum Kind { kFrameset, kHeader, kList, kDetail, kPost, kReply, kDelete, kFloor, kKinds };
const char* const kKindNames[kKinds] = {"frameset", "header", "list", "detail", "post", "reply", "delete", "floor"};

struct Tally {
    std::vector<double> latency_ms[kKinds];
    std::map<std::pair<std::string, std::string>, long> problems;  // (kind: what, excerpt) -> times
    std::vector<PostRecord> posts;
    std::vector<DeleteRecord> deletes;

    void problem(Kind kind, const Problem& p) {
        ++problems[{std::string(kKindNames[kind]) + ": " + p.what, p.excerpt}];
    }
    void merge(const Tally& other) {
        for (int k = 0; k < kKinds; ++k) {
            latency_ms[k].insert(latency_ms[k].end(), other.latency_ms[k].begin(), other.latency_ms[k].end());
        }
        for (const auto& [key, n] : other.problems) problems[key] += n;
        posts.insert(posts.end(), other.posts.begin(), other.posts.end());
        deletes.insert(deletes.end(), other.deletes.begin(), other.deletes.end());
    }
    long problem_count() const {
        long n = 0;
        for (const auto& entry : problems) n += entry.second;
        return n;
    }
};

class Session {
public:
    Session(const Options& options, int client) : client_(client), http_(options.port) {}

    bool login(std::string& why) {
        const std::string id = user_id(client_);
        const HttpResponse r = http_.post("/orva.cgi", "application/x-www-form-urlencoded",
                                          "JOB=LOGIN&uid=" + id + "&upw=pw-" + id);
        return take_keys(id, r, between(r.body, "SKEY1=", "&"), between(r.body, "SKEY2=", "\""), why);
    }

    // A password login made by the board itself (its header frame carries the new keys):
    // after the crash run only the board runs with the moved clock, not orva.cgi.
    bool login_board(std::string& why) {
        const std::string id = user_id(client_);
        const HttpResponse r = http_.get("/wbbs.cgi?JOB=FRM221&FOLDER_NO=1&uid=" + id + "&upw=pw-" + id);
        return take_keys(id, r, between(r.body, "name=\"SKEY1\" value=\"", "\""),
                         between(r.body, "name=\"SKEY2\" value=\"", "\""), why);
    }

    // The session the keys a login page carried make.
    bool take_keys(const std::string& id, const HttpResponse& r, const std::string& key1,
                   const std::string& key2, std::string& why) {
        if (r.status != 200 || key1.empty() || key2.empty()) {
            why = id + ": login failed (HTTP " + std::to_string(r.status) + ") " + excerpt(r.body) + r.failure;
            return false;
        }
        session_ = "uid=" + id + "&SKEY1=" + url_encode(key1) + "&SKEY2=" + url_encode(key2);
        key1_ = key1;
        key2_ = key2;
        return true;
    }

    // Numbers of this client's posts, unique over the whole run.
    long next_post() { return ++posts_; }
    long posted() const { return posts_; }

    HttpResponse page(const std::string& query) { return http_.get("/wbbs.cgi?" + session_ + "&" + query); }

    // Posts a new thread (parent 0) or a reply; the ledger line says what the board answered.
    PostRecord post(int folder, long parent, const std::string& token, bool attach, HttpResponse* answer) {
        Multipart form;
        const std::string id = user_id(client_);
        form.field("uid", id).field("SKEY1", key1_).field("SKEY2", key2_);
        form.field("JOB", parent == 0 ? "BWRITE_NEWWR" : "BWRITE_RESWR");
        form.field("FOLDER_NO", std::to_string(folder)).field("SEL_NO", std::to_string(parent));
        form.field("WRITE_TITLE", token).field("WRITER_NAME", "Load " + id);
        form.field("WRITE_PRIORITY", "0").field("HTML_MODE", "0");
        form.field("WRITE_DATA", "Body of " + token + "\n" + std::string(400, 'b'));
        PostRecord record{"unknown", folder, parent, token, ""};
        if (attach) {
            record.attachment = "a-" + token + ".txt";
            form.file("ATFILE", record.attachment, "attachment of " + token + "\n" + std::string(600, 'a'));
        }
        form.field("SUB", "Send");
        *answer = http_.post("/wbbs.cgi", form.content_type(), form.finish());
        record.state = answer_state(*answer);
        return record;
    }

    // Deletes message sel_no as the message frame's delete button does.
    DeleteRecord remove(int folder, long sel_no, const std::string& token, HttpResponse* answer) {
        Multipart form;
        form.field("SKEY1", key1_).field("SKEY2", key2_).field("uid", user_id(client_));
        form.field("JOB", "BWRITE_DELWR").field("FOLDER_NO", std::to_string(folder));
        form.field("SEL_NO", std::to_string(sel_no));
        *answer = http_.post("/wbbs.cgi", form.content_type(), form.finish());
        return {answer_state(*answer), folder, sel_no, token};
    }

    // What a list page shows of this run's posts (titles "L<tag>-..."): the
    // numbers of this client's own, and every one as a message to answer.
    void note_listed(int folder, const std::vector<Listed>& rows, const std::string& tag) {
        const std::string run = "L" + tag + "-";
        for (const Listed& row : rows) {
            if (row.title.compare(0, run.size(), run) != 0) {
                listed[folder].erase(row.sel_no);  // a seed, or a deleted message
                continue;
            }
            listed[folder][row.sel_no] = row.title;
            for (OwnPost& post : own) {
                if (post.folder == folder && post.token == row.title) post.sel_no = row.sel_no;
            }
        }
    }

    // A confirmed post not yet asked to be deleted: half the time the newest
    // (often still the folder's last message, whose number a delete frees),
    // else one whose number is known, which replies may have answered.
    OwnPost* delete_candidate(std::mt19937& random) {
        std::vector<OwnPost*> open, numbered;
        for (OwnPost& post : own) {
            if (post.delete_sent || post.unlisted) continue;
            open.push_back(&post);
            if (post.sel_no != 0) numbered.push_back(&post);
        }
        if (open.empty()) return nullptr;
        if (random() % 2 == 0) return open.back();
        const std::vector<OwnPost*>& from = numbered.empty() ? open : numbered;
        return from[random() % from.size()];
    }

    // A post of this run to answer, 0 for none: half the time one of the
    // client's own not yet asked to be deleted (so that its delete meets a
    // reply), else any post a list showed.
    long answer_target(int folder, std::mt19937& random) {
        std::vector<long> mine;
        for (const OwnPost& post : own) {
            if (post.folder == folder && post.sel_no != 0 && !post.delete_sent) mine.push_back(post.sel_no);
        }
        if (!mine.empty() && random() % 2 == 0) return mine[random() % mine.size()];
        const std::map<long, std::string>& seen = listed[folder];
        if (seen.empty()) return 0;
        return std::next(seen.begin(), static_cast<long>(random() % seen.size()))->first;
    }

    std::vector<OwnPost> own;
    std::map<int, std::map<long, std::string>> listed;  // folder -> number -> title

private:
    int client_;
    HttpConnection http_;
    std::string session_, key1_, key2_;
    long posts_ = 0;
};

double percentile(std::vector<double>& values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

// A post: "STATE FOLDER PARENT TOKEN ATTACHMENT"; a delete: "delete STATE FOLDER SEL_NO TOKEN".
void append_ledger(const std::string& path, const std::vector<PostRecord>& posts,
                   const std::vector<DeleteRecord>& deletes = {}) {
    std::ofstream out(path, std::ios::app);
    for (const PostRecord& p : posts) {
        out << p.state << ' ' << p.folder << ' ' << p.parent << ' ' << p.token << ' '
            << (p.attachment.empty() ? "-" : p.attachment) << '\n';
    }
    for (const DeleteRecord& d : deletes) {
        out << "delete " << d.state << ' ' << d.folder << ' ' << d.sel_no << ' ' << d.token << '\n';
    }
}

// The messages of a folder as its list (all messages by number) shows them.
std::vector<Listed> folder_messages(Session& session, int folder, std::string& why) {
    std::vector<Listed> all;
    long pages = 1;
    for (long p = 1; p <= pages; ++p) {
        const HttpResponse r = session.page("JOB=FRM222&FOLDER_NO=" + std::to_string(folder) + "&AC_MODE=1&PPage=" +
                                            std::to_string(p));
        if (const auto problem = page_problem(r)) {
            why = "list of folder " + std::to_string(folder) + ": " + problem->what + " " + problem->excerpt;
            return {};
        }
        pages = list_pages(r.body);
        const std::vector<Listed> rows = list_rows(r.body);
        all.insert(all.end(), rows.begin(), rows.end());
    }
    return all;
}

int run_seed(const Options& o) {
    Session session(o, 0);
    std::string why;
    if (!session.login(why)) {
        std::fprintf(stderr, "seed: %s\n", why.c_str());
        return 1;
    }
    std::vector<PostRecord> posts;
    int failed = 0;
    std::mt19937 random(7);
    for (int folder = 1; folder <= o.folders; ++folder) {
        for (int k = 1; k <= o.threads + o.replies; ++k) {
            // The folder is fresh and the posts serial: the threads get numbers 1 to T.
            const long parent = k <= o.threads ? 0 : 1 + static_cast<long>(random() % o.threads);
            char token[48];
            std::snprintf(token, sizeof token, "Seed-%d-%d", folder, k);
            HttpResponse answer;
            posts.push_back(session.post(folder, parent, token, false, &answer));
            if (posts.back().state != "acked") {
                ++failed;
                const auto p = page_problem(answer);
                std::fprintf(stderr, "seed: %s not stored: %s\n", token, p ? (p->what + " " + p->excerpt).c_str() : excerpt(answer.body).c_str());
            }
        }
    }
    append_ledger(o.ledger, posts);
    return failed == 0 ? 0 : 1;
}

// Sends SIGKILL to one running copy of the program, picked at random, every interval.
class Killer {
public:
    Killer(std::string exe, int interval_ms) : exe_(std::move(exe)), interval_ms_(interval_ms) {}
    void start() { thread_ = std::thread([this] { loop(); }); }
    long stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return kills_;
    }

private:
    void loop() {
        std::mt19937 random(12345);
        while (!stop_) {
            std::vector<pid_t> found;
            if (DIR* proc = opendir("/proc")) {
                while (dirent* entry = readdir(proc)) {
                    const pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
                    if (pid <= 0) continue;
                    char link[64], target[4096];
                    std::snprintf(link, sizeof link, "/proc/%d/exe", pid);
                    const ssize_t n = readlink(link, target, sizeof target - 1);
                    if (n <= 0) continue;
                    target[n] = '\0';
                    if (exe_ == target) found.push_back(pid);
                }
                closedir(proc);
            }
            if (!found.empty() && kill(found[random() % found.size()], SIGKILL) == 0) ++kills_;
            std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms_));
        }
    }

    std::string exe_;
    int interval_ms_;
    std::atomic<bool> stop_{false};
    std::atomic<long> kills_{0};
    std::thread thread_;
};

struct RunResult {
    Tally tally;
    double elapsed = 0;
    long requests = 0;

    void add(const RunResult& other) {
        tally.merge(other.tally);
        elapsed += other.elapsed;
        requests += other.requests;
    }
};

// Runs body(client, tally, deadline) in one thread per client, all started together.
template <typename Body>
RunResult run_clients(int clients, double seconds, Body body) {
    std::vector<Tally> tallies(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] { body(c, tallies[static_cast<std::size_t>(c)], deadline); });
    }
    for (std::thread& t : threads) t.join();
    RunResult result;
    result.elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    for (const Tally& t : tallies) result.tally.merge(t);
    for (const auto& v : result.tally.latency_ms) result.requests += static_cast<long>(v.size());
    return result;
}

double since_ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void print_kinds(RunResult& run, const char* title) {
    std::printf("%s: %.1f s, %ld requests, %.1f requests/s\n", title, run.elapsed, run.requests,
                static_cast<double>(run.requests) / run.elapsed);
    std::printf("  %-9s %8s %9s %10s %10s %8s\n", "kind", "count", "req/s", "median ms", "p99 ms", "p99/med");
    std::vector<double> all;
    for (int k = 0; k < kKinds; ++k) {
        std::vector<double>& v = run.tally.latency_ms[k];
        if (v.empty()) continue;
        all.insert(all.end(), v.begin(), v.end());
        const double median = percentile(v, 0.5), p99 = percentile(v, 0.99);
        std::printf("  %-9s %8zu %9.1f %10.2f %10.2f %8.1f\n", kKindNames[k], v.size(),
                    static_cast<double>(v.size()) / run.elapsed, median, p99, median > 0 ? p99 / median : 0);
    }
    const double median = percentile(all, 0.5), p99 = percentile(all, 0.99);
    std::printf("  %-9s %8zu %9.1f %10.2f %10.2f %8.1f\n", "all", all.size(),
                static_cast<double>(all.size()) / run.elapsed, median, p99, median > 0 ? p99 / median : 0);
}

void print_problems(const Tally& tally) {
    if (tally.problems.empty()) {
        std::printf("  no error pages, no empty lists\n");
        return;
    }
    std::printf("  %ld failed requests:\n", tally.problem_count());
    for (const auto& [key, n] : tally.problems) {
        std::printf("    %6ld x %s: %s\n", n, key.first.c_str(), key.second.c_str());
    }
}

// "what sent N: acknowledged A, refused R, no complete answer U" for records with a state.
template <typename Record>
void print_states(const char* what, const std::vector<Record>& records) {
    long acked = 0, refused = 0, unknown = 0;
    for (const Record& r : records) {
        acked += r.state == "acked";
        refused += r.state == "refused";
        unknown += r.state == "unknown";
    }
    std::printf("  %s sent %zu: acknowledged %ld, refused %ld, no complete answer %ld\n", what, records.size(), acked,
                refused, unknown);
}

void print_posts(const Tally& tally) {
    print_states("posts and replies", tally.posts);
    if (!tally.deletes.empty()) print_states("deletes", tally.deletes);
}

struct Known {
    std::vector<std::vector<Listed>> messages;  // per folder, index folder - 1
};

// The number of one of the client's own posts, found as a user finds it: in
// the list of all messages by number, from the last page (the newest) back.
// False when a page failed (counted) or no page lists the post.
bool find_own_number(const Options& o, Session& session, OwnPost& post, Tally& tally) {
    const std::string f = std::to_string(post.folder);
    long page = 0;  // 0: the mode's own first page, the last one
    for (;;) {
        const Clock::time_point start = Clock::now();
        const HttpResponse r = session.page("JOB=FRM222&FOLDER_NO=" + f + "&AC_MODE=1" +
                                            (page == 0 ? std::string() : "&PPage=" + std::to_string(page)));
        tally.latency_ms[kList].push_back(since_ms(start));
        if (const auto p = page_problem(r)) {
            tally.problem(kList, *p);
            return false;
        }
        session.note_listed(post.folder, list_rows(r.body), o.tag);
        if (post.sel_no != 0) return true;
        if (page == 0) page = list_pages(r.body);
        if (--page < 1) {
            post.unlisted = true;
            tally.problem(kList, {"confirmed post not listed", post.token});
            return false;
        }
    }
}

// Deletes one of the client's confirmed posts; false when it has none left to delete.
bool delete_own(const Options& o, Session& session, Tally& tally, std::mt19937& random) {
    OwnPost* post = session.delete_candidate(random);
    if (post == nullptr) return false;
    if (post->sel_no == 0 && !find_own_number(o, session, *post, tally)) return true;
    const Clock::time_point start = Clock::now();
    HttpResponse answer;
    tally.deletes.push_back(session.remove(post->folder, post->sel_no, post->token, &answer));
    tally.latency_ms[kDelete].push_back(since_ms(start));
    post->delete_sent = true;
    session.listed[post->folder].erase(post->sel_no);  // nothing to answer any more
    if (tally.deletes.back().state != "acked") {
        const auto p = page_problem(answer);
        tally.problem(kDelete, p ? *p : Problem{"not confirmed", excerpt(answer.body)});
    }
    return true;
}

// One simulated user: 90 % pages as a browser asks for them, the rest posts and replies.
void board_client(const Options& o, const Known& known, int c, Tally& tally, Clock::time_point deadline,
                  Session& session) {
    std::mt19937 random(static_cast<unsigned>(1000 + c) + static_cast<unsigned>(session.posted()) * 7919u);
    while (Clock::now() < deadline) {
        const int folder = 1 + static_cast<int>(random() % static_cast<unsigned>(o.folders));
        const std::string f = std::to_string(folder);
        const std::vector<Listed>& messages = known.messages[static_cast<std::size_t>(folder - 1)];
        const Listed& some = messages[random() % messages.size()];
        const int roll = static_cast<int>(random() % 100);
        if (roll < o.delete_percent && delete_own(o, session, tally, random)) continue;
        const Clock::time_point start = Clock::now();
        if (roll < o.post_percent) {
            const bool reply = roll % 2 == 1;
            long parent = reply ? some.sel_no : 0;
            if (reply && o.delete_percent > 0 && random() % 2 == 0) {
                if (const long target = session.answer_target(folder, random)) parent = target;
            }
            char token[64];
            std::snprintf(token, sizeof token, "L%s-%02d-%06ld", o.tag.c_str(), c + 1, session.next_post());
            HttpResponse answer;
            tally.posts.push_back(session.post(folder, parent, token, true, &answer));
            const Kind kind = reply ? kReply : kPost;
            tally.latency_ms[kind].push_back(since_ms(start));
            if (tally.posts.back().state != "acked") {
                const auto p = page_problem(answer);
                tally.problem(kind, p ? *p : Problem{"not confirmed", excerpt(answer.body)});
            } else if (o.delete_percent > 0) {
                session.own.push_back({folder, token});
            }
            continue;
        }
        // The pages of a folder, weighted as a reader's clicks ask for them.
        const int pick = static_cast<int>(random() % 90);
        Kind kind;
        HttpResponse r;
        if (pick < 12) {
            kind = kFrameset;
            r = session.page("JOB=ROOM&FOLDER_NO=" + f);
        } else if (pick < 24) {
            kind = kHeader;
            r = session.page("JOB=FRM221&FOLDER_NO=" + f);
        } else if (pick < 66) {
            kind = kList;
            const int mode = 1 + static_cast<int>(random() % 5);
            const int page = static_cast<int>(random() % 3);  // 0: the mode's own first page
            r = session.page("JOB=FRM222&FOLDER_NO=" + f + "&AC_MODE=" + std::to_string(mode) +
                             (page == 0 ? std::string() : "&PPage=" + std::to_string(page)));
        } else {
            kind = kDetail;
            r = session.page("JOB=FRM223&FOLDER_NO=" + f + "&SEL_NO=" + std::to_string(some.sel_no) + "&PPage=1");
        }
        tally.latency_ms[kind].push_back(since_ms(start));
        if (const auto p = page_problem(r)) {
            tally.problem(kind, *p);
        } else if (kind == kFrameset && r.body.find("NAME=\"FRM223SEL" + f + "\"") == std::string::npos) {
            tally.problem(kind, {"no detail frame", excerpt(r.body)});
        } else if (kind == kHeader && r.body.find("value=\"SEARCH\"") == std::string::npos) {
            tally.problem(kind, {"no search button", excerpt(r.body)});
        } else if (kind == kList && list_rows(r.body).empty()) {
            // Every mode has two full pages from the seed on: no page asked for may be empty.
            tally.problem(kind, {"EMPTY LIST", excerpt(r.body)});
        } else if (kind == kDetail && r.body.find(">" + some.title + "</TD>") == std::string::npos) {
            tally.problem(kind, {"message shown without its title", some.title + ": " + excerpt(r.body)});
        }
    }
}

void floor_client(const Options& o, Tally& tally, Clock::time_point deadline) {
    HttpConnection http(o.port);
    while (Clock::now() < deadline) {
        const Clock::time_point start = Clock::now();
        const HttpResponse r = http.get("/floor.cgi");
        tally.latency_ms[kFloor].push_back(since_ms(start));
        if (r.status != 200 || !r.complete || r.body.size() != 2048) {
            tally.problem(kFloor, {"floor page wrong", "HTTP " + std::to_string(r.status) + " " + r.failure});
        }
    }
}

std::vector<std::unique_ptr<Session>> login_all(const Options& o, bool& ok) {
    std::vector<std::unique_ptr<Session>> sessions;
    ok = true;
    for (int c = 0; c < o.clients; ++c) {
        sessions.push_back(std::make_unique<Session>(o, c));
        std::string why;
        if (!sessions.back()->login(why)) {
            std::fprintf(stderr, "load_client: %s\n", why.c_str());
            ok = false;
        }
    }
    return sessions;
}

int run_load(const Options& o) {
    bool ok;
    std::vector<std::unique_ptr<Session>> sessions = login_all(o, ok);
    if (!ok) return 1;
    Known known;
    for (int folder = 1; folder <= o.folders; ++folder) {
        std::string why;
        known.messages.push_back(folder_messages(*sessions[0], folder, why));
        if (known.messages.back().empty()) {
            std::fprintf(stderr, "load_client: folder %d shows no messages %s\n", folder, why.c_str());
            return 1;
        }
    }
    std::optional<Killer> killer;
    if (!o.kill_exe.empty()) {
        killer.emplace(o.kill_exe, o.kill_ms);
        killer->start();
    }
    // The board and the floor take turns in slices of about ten seconds, so
    // that other work on the machine weighs on both alike.
    const int slices = o.floor ? std::max(1, static_cast<int>(o.seconds / 10)) : 1;
    RunResult board, floor;
    for (int slice = 0; slice < slices; ++slice) {
        board.add(run_clients(o.clients, o.seconds / slices, [&](int c, Tally& tally, Clock::time_point deadline) {
            board_client(o, known, c, tally, deadline, *sessions[static_cast<std::size_t>(c)]);
        }));
        if (!o.floor) continue;
        floor.add(run_clients(o.clients, o.seconds / slices, [&](int, Tally& tally, Clock::time_point deadline) {
            floor_client(o, tally, deadline);
        }));
    }
    const long kills = killer ? killer->stop() : 0;
    append_ledger(o.ledger, board.tally.posts, board.tally.deletes);

    char title[80];
    std::snprintf(title, sizeof title, "board, %d clients", o.clients);
    print_kinds(board, title);
    print_problems(board.tally);
    print_posts(board.tally);
    if (killer) std::printf("  SIGKILLs sent to wbbs.cgi: %ld\n", kills);

    if (o.floor) {
        std::snprintf(title, sizeof title, "floor CGI, %d clients", o.clients);
        print_kinds(floor, title);
        print_problems(floor.tally);
        const double board_rate = static_cast<double>(board.requests) / board.elapsed;
        const double floor_rate = static_cast<double>(floor.requests) / floor.elapsed;
        std::printf("  throughput board/floor: %.2f (%.1f / %.1f requests/s)\n", board_rate / floor_rate, board_rate,
                    floor_rate);
        std::vector<double> all;
        for (const auto& v : board.tally.latency_ms) all.insert(all.end(), v.begin(), v.end());
        const double median = percentile(all, 0.5), p99 = percentile(all, 0.99);
        std::printf("summary: %3d clients  board %7.1f req/s  floor %7.1f req/s  ratio %.2f  median %.1f ms  "
                    "p99 %.1f ms  p99/median %.1f  failed requests %ld\n",
                    o.clients, board_rate, floor_rate, board_rate / floor_rate, median, p99,
                    median > 0 ? p99 / median : 0, board.tally.problem_count());
        if (floor.tally.problem_count() > 0) return 1;
    }
    if (killer) return 0;
    return board.tally.problem_count() == 0 ? 0 : 1;
}

// After a crash run: every user posts once in every folder, then every
// message of every folder is opened and every list page read.
int run_again(const Options& o) {
    std::vector<std::unique_ptr<Session>> sessions;
    Tally tally;
    for (int c = 0; c < o.clients; ++c) {
        sessions.push_back(std::make_unique<Session>(o, c));
        std::string why;
        if (!sessions.back()->login_board(why)) {
            tally.problem(kHeader, {"login", why});
            continue;
        }
        for (int folder = 1; folder <= o.folders; ++folder) {
            char token[64];
            std::snprintf(token, sizeof token, "L%s-%02d-%d", o.tag.c_str(), c + 1, folder);
            HttpResponse answer;
            tally.posts.push_back(sessions[static_cast<std::size_t>(c)]->post(folder, 0, token, true, &answer));
            if (tally.posts.back().state != "acked") {
                const auto p = page_problem(answer);
                tally.problem(kPost, p ? *p : Problem{"not confirmed", excerpt(answer.body)});
            }
        }
    }
    append_ledger(o.ledger, tally.posts);
    Session reader(o, 0);
    std::string why;
    if (!reader.login_board(why)) tally.problem(kHeader, {"login", why});
    long opened = 0;
    for (int folder = 1; folder <= o.folders; ++folder) {
        const std::string f = std::to_string(folder);
        why.clear();
        const std::vector<Listed> messages = folder_messages(reader, folder, why);
        if (!why.empty()) tally.problem(kList, {"list unreadable", why});
        for (const Listed& m : messages) {
            const HttpResponse r = reader.page("JOB=FRM223&FOLDER_NO=" + f + "&SEL_NO=" + std::to_string(m.sel_no));
            ++opened;
            if (const auto p = page_problem(r)) tally.problem(kDetail, *p);
        }
        for (int mode = 2; mode <= 5; ++mode) {
            const HttpResponse r = reader.page("JOB=FRM222&FOLDER_NO=" + f + "&AC_MODE=" + std::to_string(mode));
            if (const auto p = page_problem(r)) tally.problem(kList, *p);
            else if (list_rows(r.body).empty()) tally.problem(kList, {"EMPTY LIST", excerpt(r.body)});
        }
    }
    std::printf("again: %d clients posted in %d folders, %ld messages opened\n", o.clients, o.folders, opened);
    print_problems(tally);
    print_posts(tally);
    return tally.problem_count() == 0 ? 0 : 1;
}

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "load_client: %s\nusage: load_client seed|load|again|floor --port P --lng FILE --ledger FILE "
                         "[--folders F] [--clients N] [--seconds S] [--post-percent P] [--delete-percent D] "
                         "[--threads T] [--replies R] "
                         "[--floor] [--kill-exe PATH] [--kill-ms MS] [--tag T]\n", why);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    if (argc < 2) usage("no command");
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--floor") {
            o.floor = true;
            continue;
        }
        if (i + 1 >= argc) usage(("no value after " + a).c_str());
        const std::string v = argv[++i];
        if (a == "--port") o.port = std::atoi(v.c_str());
        else if (a == "--lng") o.lng = v;
        else if (a == "--ledger") o.ledger = v;
        else if (a == "--folders") o.folders = std::atoi(v.c_str());
        else if (a == "--clients") o.clients = std::atoi(v.c_str());
        else if (a == "--seconds") o.seconds = std::atof(v.c_str());
        else if (a == "--post-percent") o.post_percent = std::atoi(v.c_str());
        else if (a == "--delete-percent") o.delete_percent = std::atoi(v.c_str());
        else if (a == "--threads") o.threads = std::atoi(v.c_str());
        else if (a == "--replies") o.replies = std::atoi(v.c_str());
        else if (a == "--kill-exe") o.kill_exe = v;
        else if (a == "--kill-ms") o.kill_ms = std::atoi(v.c_str());
        else if (a == "--tag") o.tag = v;
        else usage(("unknown option " + a).c_str());
    }
    if (o.port <= 0 || o.lng.empty() || o.ledger.empty() || o.folders < 1 || o.clients < 1 || o.threads < 1) {
        usage("--port, --lng and --ledger are needed");
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    g_texts = {board_message(o.lng, 7), board_message(o.lng, 19), board_message(o.lng, 417), board_message(o.lng, 418)};
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (o.command == "seed") return run_seed(o);
    if (o.command == "load") return run_load(o);
    if (o.command == "again") return run_again(o);
    if (o.command == "floor") {
        // The floor alone, for profiling the server's share of a request.
        RunResult floor = run_clients(o.clients, o.seconds, [&](int, Tally& tally, Clock::time_point deadline) {
            floor_client(o, tally, deadline);
        });
        print_kinds(floor, "floor CGI");
        print_problems(floor.tally);
        return floor.tally.problem_count() == 0 ? 0 : 1;
    }
    usage("unknown command");
}
