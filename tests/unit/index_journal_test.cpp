// A writer of the five index files killed at any instant: the next writer of
// the folder takes its change back, so the files agree again.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/index_consistency.h"
#include "store/index_journal.h"
#include "store/message_index.h"
#include "unit/index_dump.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

constexpr long kFolder = 7;
constexpr int kCompleted = 1;   // a child's exit status when its operation ran through
constexpr int kStoppedAt = 10;  // plus the IndexJournalPoint it was stopped at

// What a child stops at: the n-th point of any kind, or the n-th of one kind.
int g_stop_at = 0;
int g_seen = 0;
bool g_count_undone_only = false;
bool g_tear_entry = false;  // stopped after an entry: cut its last bytes, as a kill inside the write would
std::string g_journal;

void stop_hook(IndexJournalPoint point) {
    if (g_count_undone_only && point != IndexJournalPoint::undone) return;
    if (++g_seen < g_stop_at) return;
    if (g_tear_entry && (point == IndexJournalPoint::entry_written || point == IndexJournalPoint::committed)) {
        struct stat st;
        if (::stat(g_journal.c_str(), &st) == 0) (void)!::truncate(g_journal.c_str(), st.st_size - 5);
    }
    _exit(kStoppedAt + static_cast<int>(point));
}

// Runs fn in a child stopped by stop_hook; its exit status.
int run_child(const std::function<void()>& fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        g_seen = 0;
        index_journal_set_test_hook(stop_hook);
        fn();
        _exit(kCompleted);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class IndexJournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Hundreds of rewrites: in memory when there is a memory file system,
        // since what is tested here is a kill, not a power loss.
        char pattern[] = "/dev/shm/wbbs-journal-XXXXXX";
        if (mkdtemp(pattern) != nullptr) shm_dir = std::string(pattern) + "/";
        const std::string data = shm_dir.empty() ? dir.path() : shm_dir;
        copy_field(SYSINFO.DATA_FILE_PATH, data.c_str());
        folder = data + std::to_string(kFolder) + "/";
        ::mkdir(folder.c_str(), 0700);
        g_journal = folder + "bbs.jnl";
    }
    void TearDown() override {
        if (!shm_dir.empty()) std::filesystem::remove_all(shm_dir);
    }

    int post(int parent, const char* title = "title") {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        sBBS_IDX.SEL_NO = parent;
        copy_field(sBBS_IDX.WRITE_TITLE, title);
        const int result = Fio_BBS_IDX(2);
        return result == 0 ? sBBS_IDX.SEL_NO : result;
    }
    int on_message(int sel_no, int mode) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        sBBS_IDX.SEL_NO = sel_no;
        return Fio_BBS_IDX(mode);
    }

    // The five index files; every file of the folder (journal and second names too).
    using State = std::vector<std::string>;
    using Files = std::map<std::string, std::string>;
    State state() const {
        State files;
        for (int n = 1; n <= 5; ++n) files.push_back(read_file(index_dump::index_path(kFolder, n)));
        return files;
    }
    Files snapshot() const {
        Files files;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            files[entry.path().filename().string()] = read_file(entry.path().string());
        }
        return files;
    }
    void restore(const Files& files) const {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) ::unlink(entry.path().c_str());
        for (const auto& [name, bytes] : files) write_file(folder + name, bytes);
    }
    // What a writer killed at any instant may leave behind, once the next writer ran.
    void expect_nothing_left() const {
        EXPECT_FALSE(exists(folder + "bbs.jnl"));
        for (int n = 1; n <= 5; ++n) {
            const std::string path = index_dump::index_path(kFolder, n);
            EXPECT_FALSE(exists(path + ".undo") || exists(path + ".tmp")) << n;
        }
    }
    // A writer of its own that changes nothing: it only takes the lock and
    // takes back what it finds.
    int next_writer() { return on_message(999, 3); }
    void expect_clean() {
        std::vector<std::string> problems;
        ASSERT_EQ(check_message_index(kFolder, problems), 0);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }

    TempDir dir;
    std::string shm_dir;
    std::string folder;
    FakeClock clock;
};

// Every operation stopped at each point in turn (and, after each undo entry,
// also with that entry torn); then a recovery stopped at each of its own
// points. The next writer leaves the files as before the operation, or as
// after it once the journal was gone.
TEST_F(IndexJournalTest, AWriterStoppedAtAnyPointIsTakenBackByTheNextWriter) {
    ASSERT_EQ(post(0), 1);
    ASSERT_EQ(post(0), 2);
    ASSERT_EQ(post(1), 3);
    ASSERT_EQ(post(3), 4);
    ASSERT_EQ(post(1), 5);
    ASSERT_EQ(post(2), 6);
    const Files base = snapshot();
    // Damage from outside, which the recount and the rebuild repair.
    auto bytes = [](const std::vector<BBS_IDX>& r) {
        return std::string(reinterpret_cast<const char*>(r.data()), r.size() * sizeof(BBS_IDX));
    };
    std::vector<BBS_IDX> lost = index_dump::records(kFolder, 5);
    lost.erase(lost.begin() + 3);
    std::vector<BBS_IDX> counts = index_dump::records(kFolder, 2);
    for (BBS_IDX& r : counts) r.RES_COUNT = 17;

    struct Operation {
        const char* name;
        std::function<int()> run;
        Files damage = {};
    };
    const std::vector<Operation> operations = {
        {"new topic", [&] { return post(0) == 7 ? 0 : -1; }},
        {"reply inside a thread", [&] { return post(3) == 7 ? 0 : -1; }},
        {"delete for good", [&] { return on_message(4, 3); }},
        {"delete the last message", [&] { return on_message(6, 3); }},
        {"delete as place holder", [&] { return on_message(1, 3); }},
        {"update", [&] {
             if (on_message(3, 1) != 0) return -1;
             copy_field(sBBS_IDX.WRITE_TITLE, "edited");
             return Fio_BBS_IDX(4);
         }},
        {"recount", [&] { return Fio_BBS_IDX_REBUILD(kFolder); }, {{"bbs2.idx", bytes(counts)}}},
        {"rebuild", [&] { return rebuild_message_index(kFolder, nullptr); }, {{"bbs5.idx", bytes(lost)}}},
    };
    for (const Operation& op : operations) {
        SCOPED_TRACE(op.name);
        Files start = base;
        for (const auto& [name, damaged] : op.damage) start[name] = damaged;
        restore(start);
        const State before = state();
        ASSERT_EQ(op.run(), 0);
        const State after = state();
        ASSERT_TRUE(after != before);

        // Stopped at point k: the files as the killed writer left them are
        // recovered once in one go, once by recoveries stopped after each
        // entry they take back.
        int undo_runs = 0;
        auto recover_and_check = [&](int k, IndexJournalPoint point, bool torn) {
            const bool stands = (point == IndexJournalPoint::committed && !torn) || point == IndexJournalPoint::unlocking;
            const State& expected = stands ? after : before;
            ::unlink((folder + "bbs.chk").c_str());  // the killed writer's lock
            const Files left = snapshot();
            const bool journal = exists(g_journal);
            EXPECT_EQ(next_writer(), -1);
            EXPECT_TRUE(state() == expected) << "stopped at point " << k;
            expect_nothing_left();
            if (op.damage.empty()) expect_clean();
            if (!journal) return;
            restore(left);
            for (int j = 1;; ++j) {
                g_stop_at = j;
                g_count_undone_only = true;
                g_tear_entry = false;
                const int recovery = run_child([&] { next_writer(); });
                ::unlink((folder + "bbs.chk").c_str());
                if (recovery == kCompleted) break;
                ++undo_runs;
            }
            EXPECT_TRUE(state() == expected) << "stopped at point " << k << ", recovery stopped";
            expect_nothing_left();
        };
        for (int k = 1;; ++k) {
            int stopped = kCompleted;
            for (bool tear : {false, true}) {
                restore(start);
                g_stop_at = k;
                g_count_undone_only = false;
                g_tear_entry = tear;
                stopped = run_child([&] { op.run(); });
                if (stopped == kCompleted) break;
                ASSERT_GE(stopped, kStoppedAt);
                const auto point = static_cast<IndexJournalPoint>(stopped - kStoppedAt);
                recover_and_check(k, point, tear);
                if (point != IndexJournalPoint::entry_written && point != IndexJournalPoint::committed) break;
            }
            if (stopped == kCompleted) break;
        }
        EXPECT_GT(undo_runs, 0);
    }
}

// Writers posting at once, one of them killed every few milliseconds: a
// later post finds the files in step, and every post that returned 0 is there
// once. The killed writer's lock is removed by the test as soon as it is known
// to be the killed writer's: each writer notes in shared memory that it holds it.
pid_t* g_holder = nullptr;

void note_holder(IndexJournalPoint point) {
    if (point == IndexJournalPoint::locked) *g_holder = getpid();
    if (point == IndexJournalPoint::unlocking) *g_holder = 0;
}

void short_sleep(unsigned) { usleep(1000); }

[[noreturn]] void post_until_killed(int writer, const std::string& report) {
    clock_replace({nullptr, short_sleep});
    index_journal_set_test_hook(note_holder);
    const int out = ::open(report.c_str(), O_WRONLY | O_APPEND);
    std::mt19937 rng(static_cast<unsigned>(writer));
    for (int i = 0;; ++i) {
        char title[32] = {};
        std::snprintf(title, sizeof title, "w%d-%d", writer, i);
        const long count = Fio_BBS_IDX_MAXCOUNT(kFolder, 1);
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        sBBS_IDX.SEL_NO = count > 0 && rng() % 2 == 0 ? static_cast<int32_t>(rng() % count + 1) : 0;
        copy_field(sBBS_IDX.WRITE_TITLE, title);
        if (Fio_BBS_IDX(2) == 0) (void)!::write(out, title, sizeof title);
    }
}

TEST_F(IndexJournalTest, WritersKilledAtRandomLeaveEveryReturnedPostOnceAndTheFilesInStep) {
    ASSERT_EQ(post(0), 1);
    const std::string report = folder + "../posted";
    write_file(report, "");
    g_holder = static_cast<pid_t*>(
        mmap(nullptr, sizeof(pid_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(g_holder, MAP_FAILED);
    *g_holder = 0;

    constexpr int kWriters = 6;
    int next_writer_no = 0;
    auto start = [&] {
        const int writer = next_writer_no++;
        const pid_t pid = fork();
        if (pid == 0) post_until_killed(writer, report);
        return pid;
    };
    int killed_holding = 0;
    auto kill_one = [&](pid_t pid) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        if (*g_holder != pid) return;
        ++killed_holding;
        *g_holder = 0;
        ::unlink((folder + "bbs.chk").c_str());
    };
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) writers.push_back(start());
    std::mt19937 rng(7);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) {
        usleep(2000 + rng() % 8000);
        pid_t& victim = writers[rng() % kWriters];
        kill_one(victim);
        victim = start();
    }
    for (pid_t pid : writers) kill_one(pid);
    // Killed between the lock's creation and its note, or between the note
    // and the release: no writer is left, so the lock is no one's.
    ::unlink((folder + "bbs.chk").c_str());
    munmap(g_holder, sizeof(pid_t));

    ASSERT_GT(post(0, "last"), 1);
    expect_nothing_left();
    expect_clean();
    EXPECT_GT(killed_holding, 0);
    const std::string posted = read_file(report);
    ASSERT_GT(posted.size(), 0u);
    auto times = [](int n, const std::string& title) {
        int found = 0;
        for (const BBS_IDX& r : index_dump::records(kFolder, n)) found += title == r.WRITE_TITLE;
        return found;
    };
    for (std::size_t at = 0; at + 32 <= posted.size(); at += 32) {
        const std::string title = posted.c_str() + at;
        for (int n : {1, 4, 5}) ASSERT_EQ(times(n, title), 1) << title << " in bbs" << n << ".idx";
    }
    std::printf("%zu posts returned 0, %d writers killed holding the lock\n", posted.size() / 32, killed_holding);
}

}  // namespace
