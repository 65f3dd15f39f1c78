// Several processes writing one folder at once, as concurrent requests do:
// the lock lets one writer in at a time, the others wait for it, and the
// five index files stay in step whatever the interleaving.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/expiry_sweep.h"
#include "store/index_consistency.h"
#include "store/lock.h"
#include "store/message_index.h"
#include "store/personal_settings.h"
#include "store/read_marks.h"
#include "store/users.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

constexpr long kFolder = 7;
constexpr int kWriters = 6;
constexpr int kPostsEach = 30;

// Exit status of a child: 0 every call succeeded, 1 a call found its lock
// busy to the end of its wait, 2 any other failure.
int verdict(int result) { return result == 0 ? 0 : result == -9 ? 1 : 2; }

int post(int writer, int i, long answered, const char* limit) {
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = kFolder;
    sBBS_IDX.SEL_NO = answered;
    copy_field(sBBS_IDX.WRITER_ID, ("w" + std::to_string(writer)).c_str());
    copy_field(sBBS_IDX.WRITE_TITLE, ("post " + std::to_string(i)).c_str());
    copy_field(sBBS_IDX.TIME_LIMIT_DATE, limit);
    return Fio_BBS_IDX(2);
}

// Posts kPostsEach messages (every third a reply to message 1), each once:
// the wait for the lock stands in for the user trying again.
int post_many(int writer) {
    for (int i = 0; i < kPostsEach; ++i) {
        if (const int result = post(writer, i, (i % 3 == 2) ? 1 : 0, ""); result != 0) return verdict(result);
    }
    return 0;
}

// Runs each job in a child process, all released at once by a closed pipe,
// and expects every child to exit with 0.
void run_together(const std::vector<std::function<int()>>& jobs) {
    int barrier[2];
    ASSERT_EQ(pipe(barrier), 0);
    std::vector<pid_t> children;
    for (const auto& job : jobs) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(barrier[1]);
            char byte;
            while (read(barrier[0], &byte, 1) > 0) {
            }
            _exit(job());
        }
        children.push_back(pid);
    }
    close(barrier[0]);
    close(barrier[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a call found its lock busy; 2: a call failed";
    }
}

TEST(ConcurrentWriters, OneWriterAtATimeAndTheFilesStayInStep) {
    TempDir dir;
    copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
    ASSERT_EQ(mkdir(dir.file(std::to_string(kFolder)).c_str(), 0700), 0);
    // Message 1 exists before the writers start, so replies always have a parent.
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = kFolder;
    ASSERT_EQ(Fio_BBS_IDX(2), 0);

    std::vector<std::function<int()>> writers;
    for (int w = 0; w < kWriters; ++w) writers.push_back([w] { return post_many(w); });
    run_together(writers);

    // Every post stored once: no number given twice, none lost.
    const long expected = 1 + kWriters * kPostsEach;
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(kFolder, 1), expected);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(kFolder, 4), expected);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(kFolder, 2), expected - kWriters * (kPostsEach / 3));
    std::vector<std::string> problems;
    ASSERT_EQ(check_message_index(kFolder, problems), 0);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_FALSE(exists(dir.file(std::to_string(kFolder) + "/bbs.chk")));
}

// One user posting from several windows at once: every post is counted.
TEST(ConcurrentWriters, AUsersWriteCountLosesNoPost) {
    TempDir dir;
    copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
    ASSERT_EQ(make_user_directory("alice"), 0);
    std::vector<std::function<int()>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back([] {
            for (int i = 0; i < kPostsEach; ++i) {
                if (const int result = raise_personal_counter("alice", "TOTAL_WRITE_COUNT"); result != 0) {
                    return verdict(result);
                }
            }
            return 0;
        });
    }
    run_together(writers);
    char count[40] = "";
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 1, "TOTAL_WRITE_COUNT", count), 0);
    EXPECT_EQ(std::strtol(count, nullptr, 10), kWriters * kPostsEach);
}

// The daily sweep deletes expired messages while others post and users' own
// files are written. The locks that nest (check date, then the index or a
// user's marks; the user list, then the personal settings) are always taken in
// that order, so nobody waits in a circle: every call gets its lock in time.
TEST(ConcurrentWriters, SweepPostsAndUserWritesTogether) {
    TempDir dir;
    copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
    copy_field(SYSINFO.TIME_CORRECT, "");
    ASSERT_EQ(mkdir(dir.file(std::to_string(kFolder)).c_str(), 0700), 0);
    write_file(dir.file("user.mst"), "alice\nbob\n");
    for (const char* user : {"alice", "bob"}) ASSERT_EQ(make_user_directory(user), 0);

    std::vector<std::function<int()>> jobs;
    for (int w = 0; w < 2; ++w) {
        // Every other post has expired already. A pause between posts, as
        // between two users' requests: writers that take the index back to
        // back leave readers (the sweep's selects) too few gaps in a second.
        jobs.push_back([w] {
            for (int i = 0; i < kPostsEach; ++i) {
                if (const int result = post(w, i, 0, i % 2 ? "2000/01/01" : ""); result != 0) return verdict(result);
                usleep(5000);
            }
            return 0;
        });
    }
    jobs.push_back([] {
        for (int i = 0; i < 20; ++i) {
            if (const int result = sweep_expired_messages(kFolder); result != 0) return verdict(result);
            usleep(1000);
        }
        return 0;
    });
    for (const char* user : {"alice", "bob"}) {
        jobs.push_back([user] {
            const READ_INDEX mark{1};
            for (int i = 1; i <= kPostsEach; ++i) {
                int result = store_personal_setting(user, "MODE", std::to_string(i % 3).c_str());
                if (result == 0) result = write_mark_run(user, kFolder, i, &mark, 1);
                if (result == 0) result = Fio_USER_MST(user, 1);
                if (result == 0) result = Fio_USER_MST(nullptr, 4);
                if (result != 0) return verdict(result);
            }
            return 0;
        });
    }
    run_together(jobs);

    ASSERT_EQ(sweep_expired_messages(kFolder), 0);
    long live = 0;
    long expiring = 0;
    ASSERT_EQ(scan_message_index(kFolder, 1, [&](long, const BBS_IDX& record) {
                  live += record.DEL_FLG == 0;
                  expiring += record.DEL_FLG == 0 && record.TIME_LIMIT_DATE[0] != '\0';
                  return true;
              }),
              0);
    EXPECT_EQ(live, kPostsEach);
    EXPECT_EQ(expiring, 0);
    std::vector<std::string> problems;
    ASSERT_EQ(check_message_index(kFolder, problems), 0);
    EXPECT_TRUE(problems.empty()) << problems.front();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        const std::string name = entry.path().filename();
        EXPECT_TRUE(!name.ends_with(".chk") && !name.ends_with(LOCK_GUARD_SUFFIX)) << entry.path();
    }
}

}  // namespace
