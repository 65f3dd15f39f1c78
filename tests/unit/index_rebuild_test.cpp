// Rebuilding a folder's five index files from what is left of them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/index_consistency.h"
#include "store/line_file_engine.h"
#include "store/message_index.h"
#include "unit/index_dump.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class IndexRebuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, data.path().c_str());
        mkdir(data.file("3").c_str(), 0700);
        clock.set(1700000000);  // 2023, before any file this test touches
    }
    int post(int answer) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 3;
        sBBS_IDX.SEL_NO = answer;
        copy_field(sBBS_IDX.WRITE_TITLE, ("title " + std::to_string(answer)).c_str());
        EXPECT_EQ(Fio_BBS_IDX(2), STORE_OK);
        clock.advance(60);
        return sBBS_IDX.SEL_NO;
    }
    void remove_message(int sel_no) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 3;
        sBBS_IDX.SEL_NO = sel_no;
        ASSERT_EQ(Fio_BBS_IDX(3), STORE_OK);
    }
    std::string index_file(int n) const { return read_file(index_dump::index_path(3, n)); }
    std::vector<std::string> problems() {
        std::vector<std::string> found;
        EXPECT_EQ(check_message_index(3, found), STORE_OK);
        return found;
    }

    TempDir data;
    FakeClock clock;
};

TEST_F(IndexRebuildTest, ADamagedListIsWrittenBackAsTheWritersLeftIt) {
    post(0);  // 1
    post(0);  // 2
    post(1);  // 3
    post(3);  // 4
    post(1);  // 5
    post(2);  // 6: thread 2 moves to the front
    remove_message(4);
    ASSERT_TRUE(problems().empty());
    std::string before[6];
    for (int n = 1; n <= 5; ++n) before[n] = index_file(n);

    // Message 5 of bbs4.idx answers message 2 now, and bbs5.idx lost its tail.
    std::string damaged = before[4];
    BBS_IDX record;
    std::memcpy(&record, damaged.data() + 2 * sizeof record, sizeof record);
    ASSERT_EQ(record.SEL_NO, 5);
    record.UP_NO = 2;
    std::memcpy(damaged.data() + 2 * sizeof record, &record, sizeof record);
    write_file(index_dump::index_path(3, 4), damaged);
    write_file(index_dump::index_path(3, 5), before[5].substr(0, 2 * sizeof record + 7));
    ASSERT_FALSE(problems().empty());

    IndexRebuild summary;
    ASSERT_EQ(rebuild_message_index(3, &summary), STORE_OK);
    EXPECT_TRUE(problems().empty());
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(index_file(n), before[n]) << "bbs" << n << ".idx";
    EXPECT_EQ(summary.messages, 6);
    EXPECT_EQ(summary.listed, 5);
    EXPECT_EQ(summary.threads, 2);
    EXPECT_EQ(summary.from_lists + summary.from_directories + summary.filled, 0);
    EXPECT_FALSE(exists(data.file("3/bbs.chk")));
}

TEST_F(IndexRebuildTest, NumbersLostFromTheFirstFileComeFromTheListsAndTheMessageDirectories) {
    post(0);     // 1
    post(1);     // 2
    post(0);     // 3
    const std::string first = index_file(1);
    write_file(index_dump::index_path(3, 1), first.substr(0, sizeof(BBS_IDX)));
    mkdir(data.file("3/x5").c_str(), 0700);
    mkdir(data.file("3/x5/atfile01").c_str(), 0700);
    write_file(data.file("3/x5/body.txt"), "found again");
    mkdir(data.file("3/x99999999").c_str(), 0700);  // no such number: ignored

    IndexRebuild summary;
    ASSERT_EQ(rebuild_message_index(3, &summary), STORE_OK);
    EXPECT_TRUE(problems().empty());
    EXPECT_EQ(summary.messages, 5);
    EXPECT_EQ(summary.from_lists, 2);
    EXPECT_EQ(summary.from_directories, 1);
    EXPECT_EQ(summary.filled, 1);
    EXPECT_EQ(index_file(1).substr(0, 3 * sizeof(BBS_IDX)), first);
    const BBS_IDX recovered = index_dump::find(3, 1, 5);
    EXPECT_STREQ(recovered.WRITE_TITLE, "(recovered)");
    EXPECT_EQ(recovered.ADD_FILE, 1);
    EXPECT_EQ(recovered.DEL_FLG, 0);
    EXPECT_EQ(index_dump::find(3, 1, 4).DEL_FLG, 1);
    EXPECT_EQ(index_dump::sel_nos(3, 4), (std::vector<int>{1, 2, 3, 5}));
    // The recovered body is newer than every message: its thread goes first.
    EXPECT_EQ(index_dump::sel_nos(3, 3), (std::vector<int>{5, 3, 1}));
    EXPECT_EQ(index_dump::sel_nos(3, 5), (std::vector<int>{5, 3, 1, 2}));
}

TEST_F(IndexRebuildTest, AHeldLockChangesNothing) {
    post(0);
    const std::string first = index_file(1);
    write_file(data.file("3/bbs.chk"), "");
    EXPECT_EQ(rebuild_message_index(3, nullptr), STORE_LOCK_BUSY);
    EXPECT_EQ(index_file(1), first);
    EXPECT_EQ(index_file(4), first);
}

}  // namespace
