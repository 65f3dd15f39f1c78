// Several processes writing one folder at once, as concurrent requests do:
// the lock lets one writer in at a time, the others are refused with -9, and
// the five index files stay in step whatever the interleaving.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/index_consistency.h"
#include "store/message_index.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

constexpr long kFolder = 7;
constexpr int kWriters = 6;
constexpr int kPostsEach = 30;
constexpr int kMaxAttempts = 5000;

// A lock wait of a few seconds costs a millisecond here; the clock itself
// stays real, so lock ages are judged as in production.
void short_sleep(unsigned) { usleep(1000); }

// Posts kPostsEach messages (every third a reply to message 1), trying a post
// again while the folder is busy, as a user would; the exit status is 0 when
// every post was stored, 1 when a post gave up, 2 on any result but 0 or -9.
int post_many(int writer) {
    clock_replace({nullptr, short_sleep});
    for (int i = 0; i < kPostsEach; ++i) {
        int result = -9;
        for (int attempt = 0; attempt < kMaxAttempts && result == -9; ++attempt) {
            std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
            sBBS_IDX.FOLDER_NO = kFolder;
            sBBS_IDX.SEL_NO = (i % 3 == 2) ? 1 : 0;
            copy_field(sBBS_IDX.WRITER_ID, ("w" + std::to_string(writer)).c_str());
            copy_field(sBBS_IDX.WRITE_TITLE, ("post " + std::to_string(i)).c_str());
            result = Fio_BBS_IDX(2);
            if (result == -9) usleep(200);
        }
        if (result == -9) return 1;
        if (result != 0) return 2;
    }
    return 0;
}

TEST(ConcurrentWriters, OneWriterAtATimeAndTheFilesStayInStep) {
    TempDir dir;
    copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
    ASSERT_EQ(mkdir(dir.file(std::to_string(kFolder)).c_str(), 0700), 0);
    // Message 1 exists before the writers start, so replies always have a parent.
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = kFolder;
    ASSERT_EQ(Fio_BBS_IDX(2), 0);

    // The writers wait at a closed-pipe barrier so that they start together.
    int barrier[2];
    ASSERT_EQ(pipe(barrier), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(barrier[1]);
            char byte;
            while (read(barrier[0], &byte, 1) > 0) {
            }
            _exit(post_many(w));
        }
        children.push_back(pid);
    }
    close(barrier[0]);
    close(barrier[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a post never got the lock; 2: a post failed";
    }

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

}  // namespace
