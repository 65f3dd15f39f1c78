#include "store/index_consistency.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <ctime>
#include <map>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/index_journal.h"
#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/message_index.h"
#include "store/record_file_engine.h"

namespace {

constexpr std::size_t RECORD = sizeof(BBS_IDX);
constexpr std::size_t PATH_SIZE = 1200;
const char* const FILE_NAMES[6] = {"", "bbs1.idx", "bbs2.idx", "bbs3.idx", "bbs4.idx", "bbs5.idx"};

struct IndexFile {
    std::vector<BBS_IDX> records;
    long stray_bytes = 0;  // bytes after the last whole record
};

__attribute__((format(printf, 2, 3))) void report(std::vector<std::string>& problems,
                                                   const char* format, ...) {
    char text[400];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    problems.emplace_back(text);
}

// The whole file; a missing one is empty and is not created.
int load(const char* path, IndexFile& file) {
    RecordFile handle;
    if (!handle.open(path, false)) return errno == ENOENT ? STORE_OK : STORE_CANNOT_OPEN;
    struct stat st;
    if (fstat(handle.fd(), &st) != 0) return STORE_CANNOT_OPEN;
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    file.records.resize(size / RECORD);
    file.stray_bytes = static_cast<long>(size % RECORD);
    char* bytes = reinterpret_cast<char*>(file.records.data());
    const std::size_t wanted = file.records.size() * RECORD;
    std::size_t got = 0;
    while (got < wanted) {
        const ssize_t n = ::pread(handle.fd(), bytes + got, wanted - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return STORE_CANNOT_OPEN;
        got += static_cast<std::size_t>(n);
    }
    return STORE_OK;
}

bool terminated(const char* field, std::size_t width) { return std::memchr(field, '\0', width) != nullptr; }

class Checker {
public:
    Checker(long folder_no, IndexFile (&files)[6], std::vector<std::string>& problems)
        : folder_no_(folder_no), files_(files), problems_(problems), all_(files[1].records) {}

    void run() {
        for (int n = 1; n <= 5; ++n) {
            if (files_[n].stray_bytes != 0) {
                report(problems_, "%s: %ld stray bytes after the last whole record", FILE_NAMES[n],
                       files_[n].stray_bytes);
            }
        }
        check_numbering();
        for (int n : {4, 5}) check_message_list(n);
        for (int n : {2, 3}) check_root_list(n);
        compare_lists();
        for (int n : {4, 5}) check_threads(n);
        compare_thread_orders();
    }

private:
    long count() const { return static_cast<long>(all_.size()); }
    bool known(int32_t sel_no) const { return sel_no >= 1 && sel_no <= count() && all_[sel_no - 1].SEL_NO == sel_no; }
    const BBS_IDX& message(int32_t sel_no) const { return all_[static_cast<std::size_t>(sel_no - 1)]; }

    // bbs1.idx: the record of message n at position n, thread fields that
    // follow from the message answered, clean fields.
    void check_numbering() {
        for (long k = 0; k < count(); ++k) {
            const BBS_IDX& r = all_[static_cast<std::size_t>(k)];
            if (r.SEL_NO != k + 1) {
                report(problems_, "bbs1.idx: record %ld holds message %d", k + 1, r.SEL_NO);
                continue;
            }
            if (r.FOLDER_NO != folder_no_) {
                report(problems_, "message %d: FOLDER_NO %d, not %ld", r.SEL_NO, r.FOLDER_NO, folder_no_);
            }
            if (r.DEL_FLG != 0 && r.DEL_FLG != 1) report(problems_, "message %d: DEL_FLG %d", r.SEL_NO, r.DEL_FLG);
            if (r.RES_COUNT != 0) {
                report(problems_, "message %d: RES_COUNT %d in bbs1.idx (counts belong to bbs2.idx and bbs3.idx)",
                       r.SEL_NO, r.RES_COUNT);
            }
            static const char zeros[2] = {0, 0};
            if (std::memcmp(r.PAD1, zeros, 2) != 0 || std::memcmp(r.PAD2, zeros, 2) != 0) {
                report(problems_, "message %d: padding bytes are not zero", r.SEL_NO);
            }
            if (!terminated(r.WRITE_DATE, sizeof r.WRITE_DATE) || !terminated(r.WRITER_ID, sizeof r.WRITER_ID) ||
                !terminated(r.WRITER_NAME, sizeof r.WRITER_NAME) || !terminated(r.WRITE_TITLE, sizeof r.WRITE_TITLE) ||
                !terminated(r.TIME_LIMIT_DATE, sizeof r.TIME_LIMIT_DATE)) {
                report(problems_, "message %d: a text field is not terminated within its width", r.SEL_NO);
            }
            if (r.UP_NO < 0 || r.UP_NO >= r.SEL_NO) {
                report(problems_, "message %d answers message %d, which is not an earlier message", r.SEL_NO, r.UP_NO);
            } else if (r.UP_NO == 0) {
                if (r.BBS_G_NO != r.SEL_NO) report(problems_, "root %d has thread number %d", r.SEL_NO, r.BBS_G_NO);
                if (r.CLASS != 0) report(problems_, "root %d has CLASS %d", r.SEL_NO, r.CLASS);
            } else if (known(r.UP_NO)) {
                const BBS_IDX& parent = message(r.UP_NO);
                if (r.BBS_G_NO != parent.BBS_G_NO) {
                    report(problems_, "message %d is in thread %d, the message it answers, %d, in thread %d", r.SEL_NO,
                           r.BBS_G_NO, parent.SEL_NO, parent.BBS_G_NO);
                }
                if (r.CLASS != parent.CLASS + 1) {
                    report(problems_, "message %d has CLASS %d, the message it answers, %d, CLASS %d", r.SEL_NO,
                           r.CLASS, parent.SEL_NO, parent.CLASS);
                }
            }
        }
    }

    // Records where record k of file n stands; false (reported) for a message
    // bbs1.idx does not have or one that stands twice.
    bool place(int n, long k, const BBS_IDX& r) {
        std::vector<long>& at = at_[n];
        if (!known(r.SEL_NO)) {
            report(problems_, "%s: record %ld holds message %d, which bbs1.idx does not have", FILE_NAMES[n],
                   k + 1, r.SEL_NO);
            return false;
        }
        if (at[r.SEL_NO] >= 0) {
            report(problems_, "%s: message %d appears more than once", FILE_NAMES[n], r.SEL_NO);
            return false;
        }
        at[r.SEL_NO] = k;
        return true;
    }

    // bbs4.idx and bbs5.idx: copies of bbs1.idx records, each message once,
    // every live one present.
    void check_message_list(int n) {
        std::vector<long>& at = at_[n];
        at.assign(static_cast<std::size_t>(count()) + 1, -1);
        const std::vector<BBS_IDX>& records = files_[n].records;
        for (long k = 0; k < static_cast<long>(records.size()); ++k) {
            const BBS_IDX& r = records[static_cast<std::size_t>(k)];
            if (!place(n, k, r)) continue;
            if (std::memcmp(&r, &message(r.SEL_NO), RECORD) != 0) {
                report(problems_, "%s: message %d differs from its record in bbs1.idx", FILE_NAMES[n], r.SEL_NO);
            }
        }
        for (int32_t s = 1; s <= count(); ++s) {
            if (known(s) && message(s).DEL_FLG == 0 && at[s] < 0) {
                report(problems_, "%s: live message %d is missing", FILE_NAMES[n], s);
            }
        }
    }

    // bbs2.idx and bbs3.idx: thread roots only, each once, as in bbs1.idx but
    // for RES_COUNT.
    void check_root_list(int n) {
        std::vector<long>& at = at_[n];
        at.assign(static_cast<std::size_t>(count()) + 1, -1);
        const std::vector<BBS_IDX>& records = files_[n].records;
        for (long k = 0; k < static_cast<long>(records.size()); ++k) {
            const BBS_IDX& r = records[static_cast<std::size_t>(k)];
            if (!place(n, k, r)) continue;
            if (r.UP_NO != 0 || r.BBS_G_NO != r.SEL_NO) {
                report(problems_, "%s: message %d is not a thread root", FILE_NAMES[n], r.SEL_NO);
            }
            BBS_IDX same = r;
            same.RES_COUNT = message(r.SEL_NO).RES_COUNT;
            if (std::memcmp(&same, &message(r.SEL_NO), RECORD) != 0) {
                report(problems_, "%s: root %d differs from its record in bbs1.idx", FILE_NAMES[n], r.SEL_NO);
            }
        }
    }

    void compare_lists() {
        std::vector<int32_t> in_thread(static_cast<std::size_t>(count()) + 1, 0);
        for (const BBS_IDX& r : all_) {
            if (r.BBS_G_NO >= 1 && r.BBS_G_NO <= count()) ++in_thread[static_cast<std::size_t>(r.BBS_G_NO)];
        }
        for (int32_t s = 1; s <= count(); ++s) {
            if (at_[4][s] >= 0 && at_[5][s] < 0) report(problems_, "message %d is in bbs4.idx but not in bbs5.idx", s);
            if (at_[5][s] >= 0 && at_[4][s] < 0) report(problems_, "message %d is in bbs5.idx but not in bbs4.idx", s);
            if (at_[2][s] >= 0 && at_[3][s] < 0) report(problems_, "root %d is in bbs2.idx but not in bbs3.idx", s);
            if (at_[3][s] >= 0 && at_[2][s] < 0) report(problems_, "root %d is in bbs3.idx but not in bbs2.idx", s);
            const bool listed_root = at_[2][s] >= 0 || at_[3][s] >= 0;
            if (known(s) && message(s).UP_NO == 0 && at_[4][s] >= 0 && !listed_root) {
                report(problems_, "root %d is in the message lists but not in bbs2.idx or bbs3.idx", s);
            }
            if (listed_root && at_[4][s] < 0 && at_[5][s] < 0) {
                report(problems_, "root %d is in the root lists but not in bbs4.idx or bbs5.idx", s);
            }
            if (at_[2][s] >= 0 && at_[3][s] >= 0) {
                const int32_t c2 = files_[2].records[static_cast<std::size_t>(at_[2][s])].RES_COUNT;
                const int32_t c3 = files_[3].records[static_cast<std::size_t>(at_[3][s])].RES_COUNT;
                if (c2 != c3) report(problems_, "root %d: RES_COUNT %d in bbs2.idx, %d in bbs3.idx", s, c2, c3);
                // Removals never lower the count, so it can exceed what is left.
                const int32_t replies = in_thread[static_cast<std::size_t>(s)] - 1;
                if (c2 < replies) {
                    report(problems_, "root %d: RES_COUNT %d, fewer than the %d replies in bbs1.idx", s, c2, replies);
                }
            }
        }
    }

    // Each thread in one piece and in tree order: every message inside the
    // subtree of the message it answers. A reply whose parent was removed for
    // good before it was posted has no parent to stand under.
    void check_threads(int n) {
        const std::vector<BBS_IDX>& records = files_[n].records;
        std::vector<int32_t>& order = thread_order_[n];
        std::map<int32_t, std::vector<int32_t>>& sequence = sequences_[n];
        int32_t current = 0;
        std::vector<int32_t> ancestors;
        for (const BBS_IDX& listed : records) {
            if (!known(listed.SEL_NO)) continue;
            const BBS_IDX& r = message(listed.SEL_NO);
            if (r.BBS_G_NO != current || order.empty()) {
                current = r.BBS_G_NO;
                if (sequence.count(current) != 0) {
                    report(problems_, "%s: thread %d is not in one piece (message %d)", FILE_NAMES[n], current,
                           r.SEL_NO);
                }
                order.push_back(current);
                ancestors.clear();
            }
            std::vector<int32_t>& members = sequence[current];
            if (r.UP_NO == 0) {
                if (!members.empty()) {
                    report(problems_, "%s: root %d is not the first message of its thread", FILE_NAMES[n], r.SEL_NO);
                }
            } else if (known(r.UP_NO) && at_[n][r.UP_NO] >= 0) {
                while (!ancestors.empty() && ancestors.back() != r.UP_NO) ancestors.pop_back();
                if (ancestors.empty()) {
                    report(problems_, "%s: message %d is not inside the subtree of the message it answers, %d",
                           FILE_NAMES[n], r.SEL_NO, r.UP_NO);
                }
            }
            members.push_back(r.SEL_NO);
            ancestors.push_back(r.SEL_NO);
        }
    }

    void compare_thread_orders() {
        for (const auto& [thread, members] : sequences_[4]) {
            auto other = sequences_[5].find(thread);
            if (other != sequences_[5].end() && other->second != members) {
                report(problems_, "thread %d: bbs4.idx and bbs5.idx hold its messages in different orders", thread);
            }
        }
        int32_t previous = 0;
        for (const BBS_IDX& r : files_[2].records) {
            if (r.SEL_NO <= previous) {
                report(problems_, "bbs2.idx: root %d comes after root %d, not in order of posting", r.SEL_NO,
                       previous);
            }
            previous = r.SEL_NO;
        }
        // Threads whose root is listed come in the order of their root list.
        for (auto [list, roots] : {std::pair{4, 2}, std::pair{5, 3}}) {
            std::vector<int32_t> listed;
            for (int32_t thread : thread_order_[list]) {
                if (thread >= 1 && thread <= count() && at_[roots][thread] >= 0) listed.push_back(thread);
            }
            std::vector<int32_t> expected;
            for (const BBS_IDX& r : files_[roots].records) {
                if (known(r.SEL_NO) && at_[list][r.SEL_NO] >= 0) expected.push_back(r.SEL_NO);
            }
            if (listed != expected) {
                report(problems_, "%s: its threads are not in the order of %s", FILE_NAMES[list], FILE_NAMES[roots]);
            }
        }
    }

    long folder_no_;
    IndexFile (&files_)[6];
    std::vector<std::string>& problems_;
    const std::vector<BBS_IDX>& all_;
    std::vector<long> at_[6];  // position of message n in file f, or -1
    std::vector<int32_t> thread_order_[6];
    std::map<int32_t, std::vector<int32_t>> sequences_[6];
};

}  // namespace

int check_message_index(long folder_no, std::vector<std::string>& problems) {
    char lock[PATH_SIZE];
    if (!folder_file_path(lock, sizeof lock, folder_no, "bbs.chk")) return STORE_CANNOT_OPEN;
    if (lock_is_busy(lock)) return STORE_LOCK_BUSY;
    // A writer killed part way leaves its journal and the files disagreeing
    // until the folder's next writer takes its change back. That is no damage
    // to report: the check takes it back first, as that writer would.
    char journal[PATH_SIZE];
    if (!folder_file_path(journal, sizeof journal, folder_no, "bbs.jnl")) return STORE_CANNOT_OPEN;
    yen_to_sura(journal);
    struct stat st;
    if (::stat(journal, &st) == 0) {
        const IndexWriteSession session(folder_no);
        if (session.status() != STORE_OK) return session.status();
    }
    IndexFile files[6];
    for (int n = 1; n <= 5; ++n) {
        char path[PATH_SIZE];
        if (!folder_file_path(path, sizeof path, folder_no, FILE_NAMES[n])) return STORE_CANNOT_OPEN;
        const int loaded = load(path, files[n]);
        if (loaded != STORE_OK) return loaded;
    }
    Checker(folder_no, files, problems).run();
    return STORE_OK;
}

// ---- rebuild ----------------------------------------------------------------

namespace {

// "x<n>" directories of the folder: number -> the body's time (0 when none).
std::map<long, time_t> message_directories(long folder_no) {
    std::map<long, time_t> found;
    char pattern[PATH_SIZE];
    if (!folder_file_path(pattern, sizeof pattern, folder_no, "x*")) return found;
    char folder[PATH_SIZE];
    if (!folder_file_path(folder, sizeof folder, folder_no, "")) return found;
    yen_to_sura(folder);
    Cu_forEachFile(pattern, [&](const char* name) {
        char* end = nullptr;
        const long n = std::strtol(name + 1, &end, 10);
        if (name[1] < '1' || name[1] > '9' || *end != '\0' || n > INT32_MAX) return;
        struct stat st;
        const std::string dir = std::string(folder) + name;
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
        found[n] = stat((dir + "/body.txt").c_str(), &st) == 0 ? st.st_mtime : 0;
    });
    return found;
}

long attachment_slots(long folder_no, long sel_no) {
    char pattern[PATH_SIZE];
    const std::string name = "x" + std::to_string(sel_no) + "\\atfile*";
    if (!folder_file_path(pattern, sizeof pattern, folder_no, name.c_str())) return 0;
    long slots = 0;
    Cu_forEachFile(pattern, [&](const char*) { ++slots; });
    return slots;
}

void recovered_record(BBS_IDX& r, time_t body_time, long slots) {
    std::memset(&r, 0, sizeof r);
    if (body_time != 0) {
        std::tm tm{};
        localtime_r(&body_time, &tm);
        std::strftime(r.WRITE_DATE, sizeof r.WRITE_DATE, "%Y/%m/%d %H:%M", &tm);
    }
    std::snprintf(r.WRITE_TITLE, sizeof r.WRITE_TITLE, "(recovered)");
    r.ADD_FILE = static_cast<int32_t>(slots);
}

// A clean record of message k whose thread fields follow from UP_NO.
void normalise(BBS_IDX& r, long folder_no, int32_t k, const std::vector<BBS_IDX>& all) {
    r.FOLDER_NO = static_cast<int32_t>(folder_no);
    r.SEL_NO = k;
    r.RES_COUNT = 0;
    r.DEL_FLG = r.DEL_FLG != 0 ? 1 : 0;
    clean_BBS_IDX(r);
    if (r.UP_NO < 0 || r.UP_NO >= k) r.UP_NO = 0;
    if (r.UP_NO == 0) {
        r.BBS_G_NO = k;
        r.CLASS = 0;
    } else {
        const BBS_IDX& parent = all[static_cast<std::size_t>(r.UP_NO - 1)];
        r.BBS_G_NO = parent.BBS_G_NO;
        r.CLASS = parent.CLASS + 1;
    }
}

class Rebuilder {
public:
    Rebuilder(long folder_no, IndexFile (&files)[6], IndexRebuild& summary)
        : folder_no_(folder_no), files_(files), summary_(summary) {}

    void run() {
        collect();
        choose_listed();
        order_threads();
    }

    std::vector<BBS_IDX> file(int n) const {
        std::vector<BBS_IDX> out;
        const bool roots_only = n == 2 || n == 3;
        const std::vector<int32_t>& threads = (n == 2 || n == 4) ? posted_ : active_;
        if (n == 1) return all_;
        for (int32_t root : threads) {
            if (roots_only) {
                BBS_IDX r = at(root);
                r.RES_COUNT = res_count(root);
                out.push_back(r);
            } else {
                append_tree(root, out);
            }
        }
        return out;
    }

private:
    const BBS_IDX& at(int32_t sel_no) const { return all_[static_cast<std::size_t>(sel_no - 1)]; }

    // Every number from 1 to the highest one known, from the best source left.
    void collect() {
        const std::vector<BBS_IDX>& first = files_[1].records;
        const std::map<long, time_t> directories = message_directories(folder_no_);
        long others = 0;
        for (int n = 2; n <= 5; ++n) others = std::max(others, static_cast<long>(files_[n].records.size()));
        // A directory with an absurd number must not make the index that long.
        const long limit = static_cast<long>(first.size() + directories.size()) + others + 1000;
        long count = static_cast<long>(first.size());
        for (const auto& [number, when] : directories) {
            if (number <= limit) count = std::max(count, number);
        }
        // Numbers past a cut bbs1.idx that two of the other files agree on (a
        // listed message is in both files of its pair): a number given out
        // again would inherit the old message's read marks.
        std::map<int32_t, int> files_holding;
        for (int n = 2; n <= 5; ++n) {
            std::map<int32_t, bool> in_this;
            for (const BBS_IDX& r : files_[n].records) in_this[r.SEL_NO] = true;
            for (const auto& [number, present] : in_this) ++files_holding[number];
        }
        for (const auto& [number, files] : files_holding) {
            if (files >= 2 && number <= limit) count = std::max(count, static_cast<long>(number));
        }
        all_.resize(static_cast<std::size_t>(count));
        for (int32_t k = 1; k <= count; ++k) {
            BBS_IDX& r = all_[static_cast<std::size_t>(k - 1)];
            const bool in_first = k <= static_cast<long>(first.size());
            const BBS_IDX* listed = nullptr;
            if (!in_first || first[static_cast<std::size_t>(k - 1)].SEL_NO != k) listed = find_listed(k);
            if (in_first && listed == nullptr) {
                r = first[static_cast<std::size_t>(k - 1)];
            } else if (listed != nullptr) {
                r = *listed;
                ++summary_.from_lists;
            } else if (auto dir = directories.find(k); dir != directories.end()) {
                recovered_record(r, dir->second, attachment_slots(folder_no_, k));
                ++summary_.from_directories;
            } else {
                std::memset(&r, 0, sizeof r);
                r.DEL_FLG = 1;
                ++summary_.filled;
            }
            normalise(r, folder_no_, k, all_);
        }
        summary_.messages = count;
    }

    const BBS_IDX* find_listed(int32_t k) {
        if (by_number_.empty()) {
            for (int n : {4, 5, 2, 3}) {
                for (const BBS_IDX& r : files_[n].records) by_number_.emplace(r.SEL_NO, &r);
            }
        }
        const auto it = by_number_.find(k);
        return it != by_number_.end() ? it->second : nullptr;
    }

    // The live messages and every deleted one above a listed message.
    void choose_listed() {
        const std::size_t count = all_.size();
        listed_.assign(count + 1, false);
        children_.assign(count + 1, {});
        for (std::size_t k = count; k >= 1; --k) {
            const BBS_IDX& r = all_[k - 1];
            if (r.DEL_FLG == 0) listed_[k] = true;
            if (listed_[k] && r.UP_NO != 0) listed_[static_cast<std::size_t>(r.UP_NO)] = true;
        }
        for (std::size_t k = 1; k <= count; ++k) {
            if (!listed_[k]) continue;
            ++summary_.listed;
            const BBS_IDX& r = all_[k - 1];
            if (r.UP_NO == 0) {
                posted_.push_back(r.SEL_NO);
            } else {
                children_[static_cast<std::size_t>(r.UP_NO)].push_back(r.SEL_NO);
            }
        }
        summary_.threads = static_cast<long>(posted_.size());
    }

    void order_threads() {
        std::map<int32_t, std::string> latest;
        for (const BBS_IDX& r : all_) {
            std::string& date = latest[r.BBS_G_NO];
            if (std::string(r.WRITE_DATE) > date) date = r.WRITE_DATE;
        }
        std::vector<int32_t> known;
        std::vector<bool> placed(all_.size() + 1, false);
        for (const BBS_IDX& r : files_[3].records) {
            if (r.SEL_NO < 1 || r.SEL_NO > static_cast<long>(all_.size())) continue;
            const auto k = static_cast<std::size_t>(r.SEL_NO);
            if (placed[k] || !listed_[k] || at(r.SEL_NO).UP_NO != 0) continue;
            placed[k] = true;
            known.push_back(r.SEL_NO);
        }
        std::vector<int32_t> unknown;
        for (int32_t root : posted_) {
            if (!placed[static_cast<std::size_t>(root)]) unknown.push_back(root);
        }
        // Latest first; of two equally late threads, the later posted first.
        std::stable_sort(unknown.begin(), unknown.end(), [&](int32_t a, int32_t b) {
            return latest[a] != latest[b] ? latest[a] > latest[b] : a > b;
        });
        active_ = known;
        std::size_t from = 0;
        for (int32_t root : unknown) {
            while (from < active_.size() && latest[active_[from]] >= latest[root]) ++from;
            active_.insert(active_.begin() + static_cast<long>(from), root);
            ++from;
        }
    }

    int32_t res_count(int32_t root) const {
        int32_t replies = -1;
        for (const BBS_IDX& r : all_) replies += r.BBS_G_NO == root;
        // Removals never lower the count; a count that cannot be is damage.
        int32_t before = 0;
        for (int n : {2, 3}) {
            for (const BBS_IDX& r : files_[n].records) {
                if (r.SEL_NO == root && r.RES_COUNT > before && r.RES_COUNT <= static_cast<long>(all_.size())) {
                    before = r.RES_COUNT;
                }
            }
        }
        return std::max(replies, before);
    }

    void append_tree(int32_t sel_no, std::vector<BBS_IDX>& out) const {
        out.push_back(at(sel_no));
        for (int32_t child : children_[static_cast<std::size_t>(sel_no)]) append_tree(child, out);
    }

    long folder_no_;
    IndexFile (&files_)[6];
    IndexRebuild& summary_;
    std::vector<BBS_IDX> all_;
    std::map<int32_t, const BBS_IDX*> by_number_;  // the first record of each number in the other files
    std::vector<bool> listed_;
    std::vector<std::vector<int32_t>> children_;
    std::vector<int32_t> posted_;  // listed roots in order of posting
    std::vector<int32_t> active_;  // the same, latest activity first
};

}  // namespace

int rebuild_message_index(long folder_no, IndexRebuild* summary) {
    char paths[6][PATH_SIZE];
    for (int n = 1; n <= 5; ++n) {
        if (!folder_file_path(paths[n], sizeof paths[n], folder_no, FILE_NAMES[n])) return STORE_CANNOT_OPEN;
        yen_to_sura(paths[n]);
    }
    // A writer killed part way is first taken back, as for any writer: the
    // rebuild starts from the files as they were before it. Its own five
    // replacements are journalled too, so a rebuild killed part way is taken
    // back whole by the next writer.
    IndexWriteSession session(folder_no);
    if (session.status() != STORE_OK) return session.status();
    IndexFile files[6];
    for (int n = 1; n <= 5; ++n) {
        const int loaded = load(paths[n], files[n]);
        if (loaded != STORE_OK) return loaded;
    }
    IndexRebuild found;
    Rebuilder rebuilder(folder_no, files, found);
    rebuilder.run();
    for (int n = 1; n <= 5; ++n) {
        const std::vector<BBS_IDX> records = rebuilder.file(n);
        if (!session.before_replace(n)) return STORE_CANNOT_OPEN;
        const int written = rewrite_records_locked(
            paths[n], RECORD, [](long, void*, RecordOutput&) { return RecordVerdict::drop; },
            [&records](RecordOutput& out) {
                for (const BBS_IDX& r : records) out.write(&r);
                return out.flush() ? STORE_OK : STORE_CANNOT_OPEN;
            });
        if (written != STORE_OK) return written;
    }
    if (summary != nullptr) *summary = found;
    return STORE_OK;
}
