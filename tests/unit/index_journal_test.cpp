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
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>

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
constexpr int kCompleted = 1;   // a child's exit status when it ran through
constexpr int kStoppedAt = 10;  // plus the IndexJournalPoint it was stopped at

// A child stops at its n-th point, or at the n-th entry a recovery takes back;
// torn: an entry just written loses its last bytes first, as by a kill inside
// the write.
struct Stop {
    int at = 0;
    bool undone_only = false;
    bool torn = false;
} g_stop;
int g_seen = 0;
std::string g_journal;

void stop_hook(IndexJournalPoint point) {
    if (g_stop.undone_only && point != IndexJournalPoint::undone) return;
    if (++g_seen < g_stop.at) return;
    struct stat st;
    if (g_stop.torn && ::stat(g_journal.c_str(), &st) == 0) {
        (void)!::truncate(g_journal.c_str(), st.st_size - 5);
    }
    _exit(kStoppedAt + static_cast<int>(point));
}

int run_child(Stop stop, const std::function<int()>& fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        g_stop = stop;
        index_journal_set_test_hook(stop_hook);
        fn();
        _exit(kCompleted);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int on_message(int sel_no, int mode, const char* title = "t") {
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = kFolder;
    sBBS_IDX.SEL_NO = sel_no;
    copy_field(sBBS_IDX.WRITE_TITLE, title);
    return Fio_BBS_IDX(mode);
}
int post(int parent, const char* title = "t") {
    const int result = on_message(parent, 2, title);
    return result == 0 ? sBBS_IDX.SEL_NO : result;
}
// Changes nothing of its own: it takes the lock, takes back what it finds, and
// refuses to delete a message that is not there.
int next_writer() { return on_message(999, 3); }

using Files = std::map<std::string, std::string>;

class IndexJournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Hundreds of rewrites, in memory where there is a memory file system:
        // what is tested is a kill, not a power loss.
        char pattern[] = "/dev/shm/wbbs-journal-XXXXXX";
        if (mkdtemp(pattern) != nullptr) shm = std::string(pattern) + "/";
        const std::string data = shm.empty() ? dir.path() : shm;
        copy_field(SYSINFO.DATA_FILE_PATH, data.c_str());
        folder = data + std::to_string(kFolder) + "/";
        ::mkdir(folder.c_str(), 0700);
        g_journal = folder + "bbs.jnl";
    }
    void TearDown() override {
        if (!shm.empty()) std::filesystem::remove_all(shm);
    }
    Files index_files() const {
        Files files;
        for (int n = 1; n <= 5; ++n) {
            files["bbs" + std::to_string(n) + ".idx"] = read_file(index_dump::index_path(kFolder, n));
        }
        return files;
    }
    void restore(const Files& files) const {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) ::unlink(entry.path().c_str());
        for (const auto& [name, bytes] : files) write_file(folder + name, bytes);
    }
    // Only the five files are left (no journal, second name, copy or lock),
    // and, unless they were damaged before, they agree.
    void expect_recovered(bool check) const {
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 5);
        std::vector<std::string> problems;
        EXPECT_EQ(check ? check_message_index(kFolder, problems) : 0, 0);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }

    TempDir dir;
    std::string shm;
    std::string folder;
    FakeClock clock;
};

// Each operation stopped at every point in turn, and after each entry also
// with that entry torn, then the next writer: the files are as before the
// operation, or as after it once its commit entry was whole.
TEST_F(IndexJournalTest, AWriterStoppedAtAnyPointIsTakenBackByTheNextWriter) {
    for (int parent : {0, 0, 1, 3, 1, 2}) ASSERT_GT(post(parent), 0);
    const Files base = index_files();
    // Damage from outside, which the recount and the rebuild repair.
    auto bytes = [](std::vector<BBS_IDX> r) {
        return std::string(reinterpret_cast<char*>(r.data()), r.size() * sizeof(BBS_IDX));
    };
    std::vector<BBS_IDX> lost = index_dump::records(kFolder, 5);
    lost.erase(lost.begin() + 3);
    std::vector<BBS_IDX> counts = index_dump::records(kFolder, 2);
    for (BBS_IDX& r : counts) r.RES_COUNT = 17;
    const struct {
        const char* name;
        std::function<int()> run;
        Files damage = {};
    } operations[] = {
        {"new topic", [] { return post(0) == 7 ? 0 : -1; }},
        {"reply inside a thread", [] { return post(3) == 7 ? 0 : -1; }},
        {"delete for good", [] { return on_message(4, 3); }},
        {"delete the last message", [] { return on_message(6, 3); }},
        {"delete as place holder", [] { return on_message(1, 3); }},
        {"update", [] {
             if (on_message(3, 1) != 0) return -1;
             copy_field(sBBS_IDX.WRITE_TITLE, "edited");
             return Fio_BBS_IDX(4);
         }},
        {"recount", [] { return Fio_BBS_IDX_REBUILD(kFolder); }, {{"bbs2.idx", bytes(counts)}}},
        {"rebuild", [] { return rebuild_message_index(kFolder, nullptr); }, {{"bbs5.idx", bytes(lost)}}},
    };
    for (const auto& op : operations) {
        SCOPED_TRACE(op.name);
        Files start = base;
        for (const auto& [name, damaged] : op.damage) start[name] = damaged;
        restore(start);
        ASSERT_EQ(op.run(), 0);
        const Files after = index_files();
        ASSERT_TRUE(after != start);

        int recoveries_stopped = 0;
        for (int k = 1, stopped = 0; stopped != kCompleted; ++k) {
            for (bool torn : {false, true}) {
                restore(start);
                stopped = run_child({k, false, torn}, op.run);
                if (stopped == kCompleted) break;
                const auto point = static_cast<IndexJournalPoint>(stopped - kStoppedAt);
                // Stopped with every entry in the journal, the recovery too is
                // stopped after each entry it takes back, again and again.
                const std::string lock = folder + "bbs.chk";  // left by each killed process
                for (int j = 1; point == IndexJournalPoint::all_changed; ++j, ++recoveries_stopped) {
                    ::unlink(lock.c_str());
                    if (run_child({j, true, false}, next_writer) == kCompleted) break;
                }
                ::unlink(lock.c_str());
                EXPECT_EQ(next_writer(), -1);
                const bool stands =
                    (point == IndexJournalPoint::committed && !torn) || point == IndexJournalPoint::unlocking;
                EXPECT_TRUE(index_files() == (stands ? after : start)) << "point " << k << (torn ? " torn" : "");
                expect_recovered(op.damage.empty());
                if (point != IndexJournalPoint::entry_written && point != IndexJournalPoint::committed) break;
            }
        }
        EXPECT_GT(recoveries_stopped, 0);
    }
}

// A writer killed half way through a post (bbs1 and bbs2 changed, the others
// not) is no damage from outside: the check takes it back and reports nothing.
TEST_F(IndexJournalTest, TheCheckTakesBackAKilledWriterInsteadOfReportingIt) {
    for (int parent : {0, 0, 1}) ASSERT_GT(post(parent), 0);
    const Files start = index_files();
    // Points: locked, then before_change and entry_written for bbs1 and bbs2.
    ASSERT_EQ(run_child({6, false, false}, [] { return post(0); }),
              kStoppedAt + static_cast<int>(IndexJournalPoint::before_change));
    ASSERT_TRUE(index_files() != start);
    ::unlink((folder + "bbs.chk").c_str());
    std::vector<std::string> problems;
    EXPECT_EQ(check_message_index(kFolder, problems), 0);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_TRUE(index_files() == start);
    expect_recovered(false);
}

// A post whose body goes in with its insert, killed after the body was
// written but before the insert stood: the message is gone again, its
// directory with it. (A body that cannot be written: the posting's tests.)
TEST_F(IndexJournalTest, AnInsertIsTakenBackWithTheFilesItPlaced) {
    for (int parent : {0, 0}) ASSERT_GT(post(parent), 0);
    const Files start = index_files();
    const std::string body = folder + "x3/body.txt";
    auto post_with_body = [&body] {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        return Fio_BBS_IDX_INSERT([&](long sel_no) {
            if (sel_no != 3) return -7;
            ::mkdir(body.substr(0, body.rfind('/')).c_str(), 0700);
            write_file(body, "text");
            return 0;
        });
    };
    const pid_t child = fork();
    if (child == 0) {
        index_journal_set_test_hook([](IndexJournalPoint point) {
            if (point == IndexJournalPoint::all_changed) _exit(kStoppedAt);
        });
        post_with_body();
        _exit(kCompleted);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kStoppedAt);
    EXPECT_EQ(read_file(body), "text");
    ::unlink((folder + "bbs.chk").c_str());
    EXPECT_EQ(next_writer(), -1);
    EXPECT_TRUE(index_files() == start);
    EXPECT_FALSE(std::filesystem::exists(folder + "x3"));
    expect_recovered(true);
}

// A deleted message's files go once the delete stands, and before the lock is
// released: the number the delete frees is not a new post's until then.
TEST_F(IndexJournalTest, ADeletedMessagesFilesGoAfterTheDeleteStandsUnderTheLock) {
    for (int parent : {0, 0}) ASSERT_GT(post(parent), 0);
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = kFolder;
    sBBS_IDX.SEL_NO = 2;
    bool called = false;
    ASSERT_EQ(Fio_BBS_IDX_DELETE([&] {
                  called = true;
                  EXPECT_TRUE(std::filesystem::exists(folder + "bbs.chk"));
                  EXPECT_TRUE(std::filesystem::exists(folder + "bbs.jnl"));  // names the message
                  EXPECT_EQ(std::filesystem::file_size(folder + "bbs1.idx"), sizeof(BBS_IDX));
              }),
              0);
    EXPECT_TRUE(called);
    expect_recovered(true);
}

// A deleter killed once its delete stood but before its files were gone: the
// next writer removes them. The message is not the last, so its number stays
// taken and nothing else would ever clear the directory.
TEST_F(IndexJournalTest, AKilledDeletersFilesGoWithTheNextWriter) {
    for (int parent : {0, 0, 0}) ASSERT_GT(post(parent), 0);
    const std::string body = folder + "x2/body.txt";
    ::mkdir((folder + "x2").c_str(), 0700);
    write_file(body, "text");
    const int stopped = run_child({}, [] {
        index_journal_set_test_hook([](IndexJournalPoint point) {
            if (point == IndexJournalPoint::committed) _exit(kStoppedAt);
        });
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        sBBS_IDX.SEL_NO = 2;
        return Fio_BBS_IDX_DELETE([] { ADD_FAILURE() << "files removed before the stop"; });
    });
    ASSERT_EQ(stopped, kStoppedAt);
    EXPECT_EQ(read_file(body), "text");
    ::unlink((folder + "bbs.chk").c_str());
    EXPECT_EQ(next_writer(), -1);
    EXPECT_FALSE(std::filesystem::exists(folder + "x2"));
    EXPECT_EQ(index_dump::records(kFolder, 1).at(1).DEL_FLG, 1);
    expect_recovered(true);
}

// A delete (or an edit) of the message read before the lock: when its number
// was freed and given to a new post meanwhile (a second click on "delete"
// after the first went through), the new post stays, though only its writer
// differs; a number alone still deletes what is there.
TEST_F(IndexJournalTest, ADeleteOfAMessageReadBeforeLeavesANewPostUnderItsNumber) {
    auto post_by = [](const char* writer) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        copy_field(sBBS_IDX.WRITE_TITLE, "same title");
        copy_field(sBBS_IDX.WRITER_ID, writer);
        return Fio_BBS_IDX(2) == 0 ? sBBS_IDX.SEL_NO : -1;
    };
    auto delete_read = [](const BBS_IDX& read) {
        sBBS_IDX = read;
        return Fio_BBS_IDX_DELETE(nullptr, &read);
    };
    ASSERT_EQ(post_by("ann"), 1);
    ASSERT_EQ(post_by("ann"), 2);
    const BBS_IDX old = index_dump::records(kFolder, 1).at(1);
    ASSERT_EQ(delete_read(old), 0);
    ASSERT_EQ(post_by("bob"), 2);
    EXPECT_EQ(delete_read(old), -1);
    // An edit of the old message read before is refused the same way.
    sBBS_IDX = old;
    copy_field(sBBS_IDX.WRITE_TITLE, "edited");
    EXPECT_EQ(Fio_BBS_IDX_UPDATE(old), -1);
    EXPECT_STREQ(index_dump::records(kFolder, 1).at(1).WRITER_ID, "bob");
    EXPECT_STREQ(index_dump::records(kFolder, 1).at(1).WRITE_TITLE, "same title");
    // Deleted meanwhile (kept for a reply): not deleted again.
    ASSERT_GT(post(1), 0);
    const BBS_IDX first = index_dump::records(kFolder, 1).at(0);
    ASSERT_EQ(delete_read(first), 0);
    EXPECT_EQ(delete_read(first), -1);
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = kFolder;
    sBBS_IDX.SEL_NO = 2;
    EXPECT_EQ(Fio_BBS_IDX_DELETE(nullptr), 0);
    expect_recovered(true);
}

// Writers posting at once, one of them killed every few milliseconds: one
// more post finds the files in step, and every post that returned 0 is there
// once. A writer notes in shared memory that it holds the lock, so that the
// test removes a killed writer's lock as soon as it is known to be its.
pid_t* g_holder = nullptr;

void note_holder(IndexJournalPoint point) {
    if (point == IndexJournalPoint::locked) *g_holder = getpid();
    if (point == IndexJournalPoint::unlocking) *g_holder = 0;
}

[[noreturn]] void post_until_killed(int writer, int report) {
    clock_replace({nullptr, [](unsigned) { usleep(1000); }});
    index_journal_set_test_hook(note_holder);
    std::mt19937 rng(static_cast<unsigned>(writer));
    for (int i = 0;; ++i) {
        char title[32] = {};
        std::snprintf(title, sizeof title, "w%d-%d", writer, i);
        const long count = Fio_BBS_IDX_MAXCOUNT(kFolder, 1);
        if (post(count > 0 && rng() % 2 ? static_cast<int>(rng() % count) + 1 : 0, title) > 0) {
            (void)!::write(report, title, sizeof title);
        }
    }
}

TEST_F(IndexJournalTest, WritersKilledAtRandomLeaveEveryReturnedPostOnceAndTheFilesInStep) {
    ASSERT_EQ(post(0), 1);
    const std::string report = dir.file("posted");
    const int out = ::open(report.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    g_holder = static_cast<pid_t*>(
        mmap(nullptr, sizeof(pid_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(g_holder, MAP_FAILED);
    *g_holder = 0;
    int started = 0;
    int killed_holding = 0;
    auto start = [&] {
        const pid_t pid = fork();
        if (pid == 0) post_until_killed(started, out);
        ++started;
        return pid;
    };
    const std::string lock = folder + "bbs.chk";
    auto kill_one = [&](pid_t pid) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        if (*g_holder == pid) {
            ++killed_holding;
            *g_holder = 0;
            ::unlink(lock.c_str());
            return;
        }
        // Killed right after the lock's creation or right before its release,
        // outside its note: a lock that stays the same file, unnoted, for
        // longer than any live writer takes to note it is no one's.
        struct stat seen, again;
        if (*g_holder != 0 || ::stat(lock.c_str(), &seen) != 0) return;
        usleep(200000);
        if (*g_holder == 0 && ::stat(lock.c_str(), &again) == 0 && again.st_ino == seen.st_ino &&
            again.st_ctim.tv_nsec == seen.st_ctim.tv_nsec) {
            ::unlink(lock.c_str());
        }
    };
    std::vector<pid_t> writers;
    for (int w = 0; w < 6; ++w) writers.push_back(start());
    std::mt19937 rng(7);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) {
        usleep(2000 + rng() % 8000);
        pid_t& victim = writers[rng() % writers.size()];
        kill_one(victim);
        victim = start();
    }
    for (pid_t pid : writers) kill_one(pid);
    ::close(out);
    munmap(g_holder, sizeof(pid_t));
    ::unlink(lock.c_str());  // no writer is left


    ASSERT_GT(post(0, "last"), 1);
    expect_recovered(true);
    EXPECT_GT(killed_holding, 0);
    const std::string posted = read_file(report);
    ASSERT_GT(posted.size(), 0u);
    for (std::size_t at = 0; at + 32 <= posted.size(); at += 32) {
        const std::string title = posted.c_str() + at;
        for (int n : {1, 4, 5}) {
            int found = 0;
            for (const BBS_IDX& r : index_dump::records(kFolder, n)) found += title == r.WRITE_TITLE;
            ASSERT_EQ(found, 1) << title << " in bbs" << n << ".idx";
        }
    }
}

}  // namespace
