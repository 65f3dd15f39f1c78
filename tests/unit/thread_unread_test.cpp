// Whether a thread holds a message the user has not read, as the thread-order
// lists ask for each row.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

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
        for (long answered : {0L, 1L, 2L, 1L, 4L}) post(answered);
    }
    void post(long answered) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        sBBS_IDX.SEL_NO = static_cast<int32_t>(answered);
        ASSERT_EQ(Fio_BBS_IDX(2), 0);
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

std::vector<int32_t> thread_of(ThreadReader* reader, long thread) {
    std::vector<int32_t> numbers;
    const auto visit = [&](const BBS_IDX& record) {
        numbers.push_back(record.SEL_NO);
        return true;
    };
    const int result = reader ? reader->scan(thread, thread, visit) : scan_thread(kFolder, thread, thread, visit);
    if (result != 0) numbers.assign(1, result);
    return numbers;
}

std::vector<int32_t> marks_of(MarkReader* reader, std::initializer_list<int32_t> numbers) {
    std::memset(sREAD_INDEX100, 0, sizeof sREAD_INDEX100);
    int i = 0;
    for (int32_t n : numbers) sREAD_INDEX100[i++].SEL_NO = n;
    const int result = reader ? reader->select_batch() : Fio_READ_INDEX100("alice", kFolder, 1);
    std::vector<int32_t> marks;
    for (int k = 0; k < i; ++k) marks.push_back(sREAD_INDEX100[k].READ_CHK);
    if (result != 0) marks.assign(1, result);
    return marks;
}

// A list page reads the threads and marks of all its rows through one reader
// each: the answers are those of fresh reads, the lock is still tested before
// each thread, and a file replaced meanwhile is read as it was opened.
TEST_F(ThreadUnreadTest, ReadersForAWholePageAnswerAsSingleReads) {
    post(0);  // thread 6
    post(6);  // 7
    post(0);  // thread 8
    ThreadReader threads(kFolder);
    for (long thread : {1L, 6L, 8L, 1L, 3L}) EXPECT_EQ(thread_of(&threads, thread), thread_of(nullptr, thread));
    EXPECT_EQ(thread_of(&threads, 6), (std::vector<int32_t>{6, 7}));
    post(7);  // 9: bbs4.idx is rewritten
    EXPECT_EQ(thread_of(nullptr, 6), (std::vector<int32_t>{6, 7, 9}));
    EXPECT_EQ(thread_of(&threads, 6), (std::vector<int32_t>{6, 7}));
    write_file(dir.file(std::to_string(kFolder) + "/bbs.chk"), "");
    EXPECT_EQ(thread_of(&threads, 1), (std::vector<int32_t>{-9}));
    ASSERT_EQ(unlink(dir.file(std::to_string(kFolder) + "/bbs.chk").c_str()), 0);

    mark(2, 1);
    mark(5, 1);
    for (long marks : {9L, 5000L}) {  // copied whole, and read batch by batch
        if (marks > 9) mark(marks, 1);
        write_file(dir.file("user/alice/r3.chk"), "");
        MarkReader reader("alice", kFolder);
        EXPECT_EQ(marks_of(&reader, {1}), (std::vector<int32_t>{-9}));
        ASSERT_EQ(unlink(dir.file("user/alice/r3.chk").c_str()), 0);
        const std::vector<int32_t> expected{0, 1, 0, 0, 1, 0};
        EXPECT_EQ(marks_of(&reader, {1, 2, 3, 4, 5, 4999}), expected);
        EXPECT_EQ(marks_of(nullptr, {1, 2, 3, 4, 5, 4999}), expected);
        EXPECT_EQ(marks_of(&reader, {5000, 5, 12000}), (std::vector<int32_t>{marks == 5000 ? 1 : 0, 1, 0}));
    }
}

// A reader that last read the end of a long thread holds a block that begins
// inside it: a read of that thread from its start must not begin there.
TEST_F(ThreadUnreadTest, AThreadBegunBeforeTheRecordsReadLastIsReadWhole) {
    for (int i = 0; i < 66; ++i) post(1);  // thread 1: 71 records, more than one block
    post(0);                                // thread 72
    ThreadReader threads(kFolder);
    std::size_t records = 0;
    const auto from_start = [&](long thread) {
        records = 0;
        const int result = threads.scan(thread, 0, [&](const BBS_IDX&) {
            ++records;
            return true;
        });
        return result == 0 ? records : 0;
    };
    EXPECT_EQ(from_start(1), 71u);
    EXPECT_EQ(from_start(1), 71u);
    EXPECT_EQ(from_start(72), 1u);
}

}  // namespace
