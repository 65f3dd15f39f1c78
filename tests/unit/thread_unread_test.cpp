// Whether a thread holds a message the user has not read, as the thread-order
// lists ask for each row.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "config/sysinfo.h"
#include "request/request_state.h"
#include "screens/message_list.h"
#include "store/message_index.h"
#include "store/read_marks.h"
#include "store/users.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

constexpr long kFolder = 3;

class ThreadUnreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        ASSERT_EQ(mkdir(dir.file(std::to_string(kFolder)).c_str(), 0700), 0);
        ASSERT_EQ(make_user_directory("alice"), 0);
        G_USER_MST = USER_MST{};
        copy_field(G_USER_MST.USER_ID, "alice");
        cgi_FOLDER_NO = kFolder;
        // A thread of five: the root 1 and the replies 2 to 5.
        for (long answered : {0L, 1L, 2L, 1L, 4L}) {
            std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
            sBBS_IDX.FOLDER_NO = kFolder;
            sBBS_IDX.SEL_NO = static_cast<int32_t>(answered);
            ASSERT_EQ(Fio_BBS_IDX(2), 0);
        }
    }
    void mark(long sel_no, int32_t read) {
        const READ_INDEX entry{read};
        ASSERT_EQ(write_mark_run("alice", kFolder, sel_no, &entry, 1), 0);
    }
    TempDir dir;
    FakeClock clock;
};

TEST_F(ThreadUnreadTest, ARecordWithoutNumberEndsTheThread) {
    for (long n = 1; n <= 4; ++n) mark(n, 1);
    // bbs4.idx holds the thread as 1, 2, 3, 4, 5; the record in the fourth
    // place loses its number, and 5 behind it is unread.
    const int fd = open(dir.file(std::to_string(kFolder) + "/bbs4.idx").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    const int32_t none = 0;
    ASSERT_EQ(pwrite(fd, &none, sizeof none, 3 * sizeof(BBS_IDX) + offsetof(BBS_IDX, SEL_NO)),
              static_cast<ssize_t>(sizeof none));
    close(fd);
    EXPECT_EQ(b_get_noread(kFolder, 1), 0);

    // A thread that cannot be read counts as read.
    write_file(dir.file(std::to_string(kFolder) + "/bbs.chk"), "");
    mark(2, 0);
    EXPECT_EQ(b_get_noread(kFolder, 1), 0);
}

}  // namespace
