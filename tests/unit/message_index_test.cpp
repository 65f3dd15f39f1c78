#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/index_consistency.h"
#include "store/message_index.h"
#include "unit/index_dump.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;
using V = std::vector<int>;

namespace {

constexpr long kFolder = 7;
constexpr int SELECT = 1, INSERT = 2, DELETE = 3, UPDATE = 4;

class MessageIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        ::mkdir(folder_dir().c_str(), 0700);
    }

    std::string folder_dir() const { return dir.path() + std::to_string(kFolder) + "/"; }
    std::string file(int n) const { return index_dump::index_path(kFolder, n); }

    // A new topic (parent 0) or a reply; the new number, or the failure code.
    int post(int parent, const char* title = "title") {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        sBBS_IDX.SEL_NO = parent;
        copy_field(sBBS_IDX.WRITE_TITLE, title);
        copy_field(sBBS_IDX.WRITER_ID, "u1");
        const int result = Fio_BBS_IDX(INSERT);
        return result == 0 ? sBBS_IDX.SEL_NO : result;
    }
    int on_message(int sel_no, int mode) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        sBBS_IDX.SEL_NO = sel_no;
        return Fio_BBS_IDX(mode);
    }
    int remove(int sel_no) { return on_message(sel_no, DELETE); }
    int retitle(int sel_no, const char* title) {
        const int selected = on_message(sel_no, SELECT);
        if (selected != 0) return selected;
        copy_field(sBBS_IDX.WRITE_TITLE, title);
        return Fio_BBS_IDX(UPDATE);
    }

    V order(int n) const { return index_dump::sel_nos(kFolder, n); }
    BBS_IDX in(int n, int sel_no) const { return index_dump::find(kFolder, n, sel_no); }
    std::vector<std::string> problems() const {
        std::vector<std::string> found;
        EXPECT_EQ(check_message_index(kFolder, found), 0);
        return found;
    }
    void put(int n, const std::vector<BBS_IDX>& records) const {
        write_file(file(n), std::string(reinterpret_cast<const char*>(records.data()),
                                        records.size() * sizeof(BBS_IDX)));
    }

    // Topics 1 and 2, a reply 3 to 1, 4 to 3 and 5 to 1.
    void example_thread() {
        ASSERT_EQ(post(0), 1);
        ASSERT_EQ(post(0), 2);
        ASSERT_EQ(post(1), 3);
        ASSERT_EQ(post(3), 4);
        ASSERT_EQ(post(1), 5);
    }

    TempDir dir;
    FakeClock clock;
};

bool mentions(const std::vector<std::string>& problems, const std::string& text) {
    for (const std::string& p : problems) {
        if (p.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string joined(const std::vector<std::string>& problems) {
    std::string all;
    for (const std::string& p : problems) all += p + "\n";
    return all;
}

TEST_F(MessageIndexTest, FirstTopicOfAnEmptyFolderIsInAllFiveFiles) {
    ASSERT_EQ(post(0, "hello"), 1);
    EXPECT_EQ(sBBS_IDX.BBS_G_NO, 1);
    EXPECT_EQ(sBBS_IDX.CLASS, 0);
    EXPECT_EQ(sBBS_IDX.UP_NO, 0);
    EXPECT_EQ(std::strlen(sBBS_IDX.WRITE_DATE), 16u);
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(order(n), V{1}) << n;
        EXPECT_STREQ(in(n, 1).WRITE_TITLE, "hello");
    }
    EXPECT_FALSE(exists(folder_dir() + "bbs.chk"));
    EXPECT_TRUE(problems().empty());
}

TEST_F(MessageIndexTest, RepliesKeepTreeOrderAndCountOnTheRoot) {
    example_thread();
    EXPECT_EQ(order(1), (V{1, 2, 3, 4, 5}));
    EXPECT_EQ(order(2), (V{1, 2}));
    EXPECT_EQ(order(3), (V{1, 2}));
    EXPECT_EQ(order(4), (V{1, 3, 4, 5, 2}));
    EXPECT_EQ(order(5), (V{1, 3, 4, 5, 2}));
    for (int n : {2, 3}) {
        EXPECT_EQ(in(n, 1).RES_COUNT, 3);
        EXPECT_EQ(in(n, 2).RES_COUNT, 0);
    }
    for (int n : {1, 4, 5}) EXPECT_EQ(in(n, 1).RES_COUNT, 0) << n;
    const BBS_IDX four = in(1, 4);
    EXPECT_EQ(four.UP_NO, 3);
    EXPECT_EQ(four.BBS_G_NO, 1);
    EXPECT_EQ(four.CLASS, 2);

    ASSERT_EQ(post(2), 6);
    EXPECT_EQ(order(3), (V{2, 1}));
    EXPECT_EQ(order(5), (V{2, 6, 1, 3, 4, 5}));
    EXPECT_EQ(order(4), (V{1, 3, 4, 5, 2, 6}));
    EXPECT_EQ(order(2), (V{1, 2}));
    EXPECT_EQ(in(3, 2).RES_COUNT, 1);
    EXPECT_TRUE(problems().empty()) << joined(problems());

    EXPECT_EQ(post(99), -3);  // nothing to answer: nothing written
    EXPECT_EQ(order(1).size(), 6u);
    EXPECT_EQ(order(4).size(), 6u);
}

TEST_F(MessageIndexTest, DeleteRemovesOrKeepsPlaceHoldersAndGivesTheLastNumberAgain) {
    example_thread();
    ASSERT_EQ(post(2), 6);

    ASSERT_EQ(remove(4), 0);  // no replies, not the last
    EXPECT_EQ(sBBS_IDX.DEL_FLG, 1);
    EXPECT_EQ(order(1), (V{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(in(1, 4).DEL_FLG, 1);
    EXPECT_EQ(order(4), (V{1, 3, 5, 2, 6}));
    EXPECT_EQ(order(5), (V{2, 6, 1, 3, 5}));
    EXPECT_TRUE(problems().empty()) << joined(problems());

    ASSERT_EQ(remove(1), 0);  // 3 and 5 still answer it
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(in(n, 1).DEL_FLG, 1) << n;
    EXPECT_EQ(order(2), (V{1, 2}));
    EXPECT_EQ(in(2, 1).RES_COUNT, 3);  // a delete lowers no count
    EXPECT_EQ(in(3, 1).RES_COUNT, 3);
    EXPECT_TRUE(problems().empty()) << joined(problems());

    ASSERT_EQ(remove(6), 0);  // the last message, no replies
    EXPECT_EQ(order(1), (V{1, 2, 3, 4, 5}));
    EXPECT_EQ(order(4), (V{1, 3, 5, 2}));
    EXPECT_EQ(order(5), (V{2, 1, 3, 5}));
    EXPECT_EQ(in(2, 2).RES_COUNT, 1);
    EXPECT_TRUE(problems().empty()) << joined(problems());
    EXPECT_EQ(post(0), 6);
    EXPECT_EQ(order(4), (V{1, 3, 5, 2, 6}));
    EXPECT_TRUE(problems().empty()) << joined(problems());
}

TEST_F(MessageIndexTest, PlaceHolderUnderAPlaceHolderKeepsTheThreadRooted) {
    ASSERT_EQ(post(0), 1);
    ASSERT_EQ(post(1), 2);
    ASSERT_EQ(post(2), 3);
    ASSERT_EQ(remove(2), 0);  // 3 is live: a place holder
    // 1's only reply is a place holder, but 3 still hangs below it: the root stays.
    ASSERT_EQ(remove(1), 0);
    EXPECT_EQ(order(2), V{1});
    EXPECT_EQ(order(4), (V{1, 2, 3}));
    EXPECT_TRUE(problems().empty()) << joined(problems());

    ASSERT_EQ(remove(3), 0);  // last: gone from every file
    EXPECT_EQ(order(1), (V{1, 2}));
    EXPECT_EQ(order(4), (V{1, 2}));
    ASSERT_EQ(remove(2), 0);  // no reply left below it now
    EXPECT_EQ(order(1), V{1});
    EXPECT_EQ(order(5), V{1});
    ASSERT_EQ(remove(1), 0);
    for (int n = 1; n <= 5; ++n) EXPECT_TRUE(order(n).empty()) << n;
    EXPECT_EQ(post(0), 1);
}

TEST_F(MessageIndexTest, ReplyToAMessageRemovedForGoodFollowsItsThread) {
    ASSERT_EQ(post(0), 1);
    ASSERT_EQ(post(0), 2);
    ASSERT_EQ(post(1), 3);
    ASSERT_EQ(post(2), 4);
    ASSERT_EQ(remove(3), 0);  // gone from the lists, kept in bbs1.idx
    EXPECT_EQ(order(4), (V{1, 2, 4}));
    EXPECT_EQ(order(5), (V{2, 4, 1}));

    ASSERT_EQ(post(3), 5);
    EXPECT_EQ(sBBS_IDX.UP_NO, 3);
    EXPECT_EQ(sBBS_IDX.BBS_G_NO, 1);
    EXPECT_EQ(sBBS_IDX.CLASS, 2);
    EXPECT_EQ(order(4), (V{1, 5, 2, 4}));
    EXPECT_EQ(order(5), (V{1, 5, 2, 4}));
    EXPECT_EQ(order(3), (V{1, 2}));
    EXPECT_EQ(in(2, 1).RES_COUNT, 2);
    ASSERT_EQ(post(3), 6);  // after the earlier reply to the same message
    ASSERT_EQ(post(5), 7);  // and inside that reply's subtree
    EXPECT_EQ(order(4), (V{1, 5, 7, 6, 2, 4}));
    EXPECT_EQ(order(5), (V{1, 5, 7, 6, 2, 4}));
    EXPECT_TRUE(problems().empty()) << joined(problems());
}

TEST_F(MessageIndexTest, ReplyIntoAThreadWithNothingLeftGoesWhereATopicWould) {
    ASSERT_EQ(post(0), 1);
    ASSERT_EQ(post(0), 2);
    ASSERT_EQ(remove(1), 0);
    EXPECT_EQ(order(2), V{2});
    ASSERT_EQ(post(1), 3);
    EXPECT_EQ(order(4), (V{2, 3}));
    EXPECT_EQ(order(5), (V{3, 2}));
    EXPECT_EQ(order(2), V{2});
    EXPECT_EQ(order(3), V{2});
    // Replies in the thread before it stay in their own thread: the rootless
    // thread's first record does not continue their subtree.
    ASSERT_EQ(post(2), 4);
    ASSERT_EQ(post(2), 5);
    EXPECT_EQ(order(4), (V{2, 4, 5, 3}));
    EXPECT_EQ(order(5), (V{2, 4, 5, 3}));
    EXPECT_TRUE(problems().empty()) << joined(problems());
}

TEST_F(MessageIndexTest, UpdateRewritesEveryCopyAndMovesTheThreadFirst) {
    ASSERT_EQ(post(0), 1);
    ASSERT_EQ(post(0), 2);
    ASSERT_EQ(post(0), 3);
    ASSERT_EQ(post(1), 4);
    EXPECT_EQ(order(3), (V{1, 3, 2}));
    EXPECT_EQ(order(5), (V{1, 4, 3, 2}));

    ASSERT_EQ(on_message(2, SELECT), 0);
    copy_field(sBBS_IDX.WRITE_TITLE, "edited");
    sBBS_IDX.UP_NO = 3;  // not the update's to change
    sBBS_IDX.BBS_G_NO = 3;
    sBBS_IDX.DEL_FLG = 1;
    sBBS_IDX.RES_COUNT = 40;
    ASSERT_EQ(Fio_BBS_IDX(UPDATE), 0);
    EXPECT_EQ(order(2), (V{1, 2, 3}));
    EXPECT_EQ(order(3), (V{2, 1, 3}));
    EXPECT_EQ(order(4), (V{1, 4, 2, 3}));
    EXPECT_EQ(order(5), (V{2, 1, 4, 3}));
    for (int n = 1; n <= 5; ++n) {
        const BBS_IDX two = in(n, 2);
        EXPECT_STREQ(two.WRITE_TITLE, "edited") << n;
        EXPECT_EQ(two.UP_NO, 0);
        EXPECT_EQ(two.BBS_G_NO, 2);
        EXPECT_EQ(two.DEL_FLG, 0);
        EXPECT_EQ(two.RES_COUNT, 0);
    }
    EXPECT_TRUE(problems().empty()) << joined(problems());

    ASSERT_EQ(retitle(4, "reply edited"), 0);  // a reply brings its thread first
    EXPECT_EQ(order(3), (V{1, 2, 3}));
    EXPECT_EQ(order(5), (V{1, 4, 2, 3}));
    EXPECT_EQ(in(2, 1).RES_COUNT, 1);
    EXPECT_EQ(in(3, 1).RES_COUNT, 1);
    EXPECT_STREQ(in(5, 4).WRITE_TITLE, "reply edited");
    EXPECT_TRUE(problems().empty()) << joined(problems());

    EXPECT_EQ(on_message(9, UPDATE), -1);
    EXPECT_EQ(on_message(0, UPDATE), -1);
    EXPECT_EQ(order(5), (V{1, 4, 2, 3}));
}

TEST_F(MessageIndexTest, FilesAreReplacedByRenameAndWrittenInPlaceWhenTheirOrderStays) {
    example_thread();
    auto inode = [](const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const std::string kept = folder_dir() + "old4";
    ASSERT_EQ(::link(file(4).c_str(), kept.c_str()), 0);
    const std::string before = read_file(file(4));

    ASSERT_EQ(remove(4), 0);
    // The old file was not written over: the new one took its name.
    EXPECT_EQ(read_file(kept), before);
    EXPECT_EQ(order(4), (V{1, 3, 5, 2}));
    for (int n = 1; n <= 5; ++n) EXPECT_FALSE(exists(file(n) + ".tmp")) << n;

    // A reply to the most active thread at the end of all files changes no order
    // of bbs1, bbs2, bbs3: those stay the same files.
    const auto ino1 = inode(file(1)), ino2 = inode(file(2)), ino3 = inode(file(3));
    ASSERT_EQ(post(0), 6);
    ASSERT_EQ(post(6), 7);
    EXPECT_EQ(inode(file(1)), ino1);
    EXPECT_EQ(inode(file(2)), ino2);
    EXPECT_NE(inode(file(3)), ino3);  // the new topic went first
    const auto ino3_now = inode(file(3)), ino5_now = inode(file(5)), ino4_now = inode(file(4));
    ASSERT_EQ(post(6), 8);  // thread already first, reply at the end of bbs4
    EXPECT_EQ(inode(file(3)), ino3_now);
    EXPECT_EQ(inode(file(4)), ino4_now);
    EXPECT_NE(inode(file(5)), ino5_now);  // inserted inside the first thread
    EXPECT_EQ(in(3, 6).RES_COUNT, 2);
    EXPECT_EQ(order(5), (V{6, 7, 8, 1, 3, 5, 2}));
    EXPECT_TRUE(problems().empty()) << joined(problems());
}

TEST_F(MessageIndexTest, NumbersBelowOneAreRefusedWithoutReadingBeforeTheFile) {
    example_thread();
    const std::string bbs1 = read_file(file(1));
    for (int bad : {0, -1, -288}) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = kFolder;
        sBBS_IDX.SEL_NO = bad;
        copy_field(sBBS_IDX.WRITE_TITLE, "mine");
        EXPECT_EQ(Fio_BBS_IDX(SELECT), -1) << bad;
        EXPECT_STREQ(sBBS_IDX.WRITE_TITLE, "mine");  // left as the caller set it
        EXPECT_EQ(sBBS_IDX.SEL_NO, bad);
        EXPECT_EQ(remove(bad), -1) << bad;
        EXPECT_EQ(Fio_BBS_IDX_G20(kFolder, 1, bad < 0 ? bad : -1), -1);
    }
    EXPECT_EQ(read_file(file(1)), bbs1);
    EXPECT_EQ(order(4), (V{1, 3, 4, 5, 2}));
    EXPECT_EQ(on_message(6, SELECT), -1);
    EXPECT_EQ(remove(6), -1);
    // A page below 1 is the first page.
    for (long page : {0L, -3L}) {
        ASSERT_EQ(Fio_BBS_IDX20(kFolder, 4, page), 0);
        EXPECT_EQ(sBBS_IDX20[0].SEL_NO, 1);
        EXPECT_EQ(sBBS_IDX20[4].SEL_NO, 2);
        EXPECT_EQ(sBBS_IDX20[5].SEL_NO, 0);
    }
}

TEST_F(MessageIndexTest, PagesHoldTwentyRecordsAndClearTheRest) {
    for (int i = 1; i <= 20; ++i) ASSERT_EQ(post(0), i);
    EXPECT_EQ(Fio_BBS_IDX20(kFolder, 1, 2), -1);
    ASSERT_EQ(Fio_BBS_IDX20(kFolder, 1, 1), 0);
    EXPECT_EQ(sBBS_IDX20[19].SEL_NO, 20);
    ASSERT_EQ(Fio_BBS_IDX20(kFolder, 3, 1), 0);
    EXPECT_EQ(sBBS_IDX20[0].SEL_NO, 20);  // latest first

    ASSERT_EQ(post(0), 21);
    ASSERT_EQ(Fio_BBS_IDX20(kFolder, 1, 2), 0);
    EXPECT_EQ(sBBS_IDX20[0].SEL_NO, 21);
    for (int i = 1; i < 20; ++i) EXPECT_EQ(sBBS_IDX20[i].SEL_NO, 0) << i;
    ASSERT_EQ(Fio_BBS_IDX20(kFolder, 5, 2), 0);
    EXPECT_EQ(sBBS_IDX20[0].SEL_NO, 1);
    EXPECT_EQ(Fio_BBS_IDX20(kFolder, 1, 3), -1);
    EXPECT_EQ(Fio_BBS_IDX20(kFolder, 1, 2147483647L), -1);
    EXPECT_EQ(Fio_BBS_IDX20(kFolder, 0, 1), -1);
    EXPECT_EQ(Fio_BBS_IDX20(kFolder, 6, 1), -1);

    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(kFolder, 1), 21);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(kFolder, 4), 21);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(kFolder, 6), -1);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(kFolder + 1, 1), -2);  // no folder directory
}

TEST_F(MessageIndexTest, ThreadBatchesOfTwentyOverlapByOneRecord) {
    ASSERT_EQ(post(0), 1);
    for (int i = 2; i <= 25; ++i) ASSERT_EQ(post(i % 3 == 0 ? i - 1 : 1), i);
    ASSERT_EQ(post(0), 26);
    const V thread = [this] {
        V all = order(4);
        all.pop_back();
        return all;
    }();
    ASSERT_EQ(thread.size(), 25u);

    ASSERT_EQ(Fio_BBS_IDX_G20(kFolder, 1, 0), 0);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(sBBS_IDX20[i].SEL_NO, thread[i]) << i;
    const int twentieth = sBBS_IDX20[19].SEL_NO;
    ASSERT_EQ(Fio_BBS_IDX_G20(kFolder, 1, twentieth), 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(sBBS_IDX20[i].SEL_NO, thread[19 + i]) << i;
    EXPECT_EQ(sBBS_IDX20[6].SEL_NO, 0);

    ASSERT_EQ(Fio_BBS_IDX_G20(kFolder, 26, 0), 0);
    EXPECT_EQ(sBBS_IDX20[0].SEL_NO, 26);
    EXPECT_EQ(sBBS_IDX20[1].SEL_NO, 0);
    EXPECT_EQ(Fio_BBS_IDX_G20(kFolder, 1, 26), 0);  // found, but another thread's
    EXPECT_EQ(sBBS_IDX20[0].SEL_NO, 0);
    EXPECT_EQ(Fio_BBS_IDX_G20(kFolder, 27, 0), -1);
    EXPECT_EQ(Fio_BBS_IDX_G20(kFolder, 1, 99), -1);
    EXPECT_TRUE(problems().empty()) << joined(problems());
}

// What a scan of "bbs4.idx" from its first record gives for a thread batch:
// the reference the search has to agree with.
V scanned_batch(const std::vector<BBS_IDX>& four, int thread, int start, bool& found, std::size_t limit = 20) {
    V batch;
    found = false;
    for (const BBS_IDX& r : four) {
        if (!found) found = start == 0 ? r.BBS_G_NO == thread : r.SEL_NO == start;
        if (!found) continue;
        if (r.BBS_G_NO != thread || batch.size() == limit) break;
        batch.push_back(r.SEL_NO);
    }
    return batch;
}

V batch_read() {
    V got;
    for (const BBS_IDX& r : sBBS_IDX20) {
        if (r.SEL_NO == 0) break;
        got.push_back(r.SEL_NO);
    }
    return got;
}

// Threads of uneven length, one of 25 straddling the 256-record block, a
// long last thread (met at its end, read back to its start), and a reply to
// a topic removed for good, which stands where the next topic would go and
// so out of the order of thread numbers. A whole-thread walk gives the same
// records without the cap of 20.
TEST_F(MessageIndexTest, ThreadBatchesFoundBySearchMatchAScanFromTheStart) {
    for (int i = 1; i <= 250; ++i) ASSERT_EQ(post(i % 7 == 0 ? i - 5 : 0), i);
    ASSERT_EQ(post(0), 251);
    for (int i = 252; i <= 275; ++i) ASSERT_EQ(post(i % 4 == 0 ? i - 1 : 251), i);
    ASSERT_EQ(remove(3), 0);  // a topic without replies: gone from bbs4 for good
    ASSERT_EQ(post(3), 276);
    for (int i = 277; i <= 290; ++i) ASSERT_EQ(post(0), i);
    for (int i = 291; i <= 340; ++i) ASSERT_EQ(post(i % 5 == 0 ? i - 2 : 290), i);
    ASSERT_TRUE(problems().empty()) << joined(problems());

    const std::vector<BBS_IDX> four = index_dump::records(kFolder, 4);
    auto first_of = [&four](int thread) {
        long k = 0;
        while (four[static_cast<std::size_t>(k)].BBS_G_NO != thread) ++k;
        return k;
    };
    ASSERT_LT(first_of(251), 256);
    ASSERT_GT(first_of(251) + 25, 256);
    ASSERT_EQ(first_of(277), first_of(3) + 1);  // the reply, before the later topics
    ASSERT_EQ(first_of(290) + 51, static_cast<long>(four.size()));

    int checked = 0;
    for (int thread = 1; thread <= 342; ++thread) {
        bool any = false;
        const V whole = scanned_batch(four, thread, 0, any);
        V starts = {0, thread};
        if (whole.size() == 20) starts.push_back(whole[19]);
        if (thread == 251 || thread == 290) starts.push_back(whole[7]);
        if (thread == 4) starts.push_back(290);  // another thread's record
        for (int start : starts) {
            bool found = false;
            const V expected = scanned_batch(four, thread, start, found);
            EXPECT_EQ(Fio_BBS_IDX_G20(kFolder, thread, start), found ? 0 : -1) << thread << " " << start;
            EXPECT_EQ(batch_read(), expected) << thread << " " << start;
            V walked;
            const int walk = scan_thread(kFolder, thread, start, [&](const BBS_IDX& r) {
                walked.push_back(r.SEL_NO);
                return true;
            });
            EXPECT_EQ(walk, found ? 0 : -1) << thread << " " << start;
            EXPECT_EQ(walked, scanned_batch(four, thread, start, found, SIZE_MAX)) << thread << " " << start;
            ++checked;
        }
    }
    EXPECT_GT(checked, 680);
    ASSERT_EQ(Fio_BBS_IDX_G20(kFolder, 3, 0), 0);  // only the reply is left of thread 3
    EXPECT_EQ(batch_read(), V{276});
    EXPECT_EQ(Fio_BBS_IDX_G20(kFolder, 3, 3), -1);
    ASSERT_EQ(Fio_BBS_IDX_G20(kFolder, 290, 0), 0);
    EXPECT_EQ(sBBS_IDX20[0].SEL_NO, 290);
    EXPECT_EQ(sBBS_IDX20[19].BBS_G_NO, 290);
}

TEST_F(MessageIndexTest, PageReadStopsAtATornTail) {
    for (int i = 1; i <= 21; ++i) ASSERT_EQ(post(0), i);
    write_file(file(1), read_file(file(1)) + std::string(100, 'x'));
    ASSERT_EQ(Fio_BBS_IDX20(kFolder, 1, 2), 0);
    EXPECT_EQ(batch_read(), V{21});
    const BBS_IDX cleared{};
    EXPECT_EQ(std::memcmp(&sBBS_IDX20[1], &cleared, sizeof cleared), 0);
}

TEST_F(MessageIndexTest, AHeldLockStopsReadersAndWritersAlike) {
    example_thread();
    const std::string before = read_file(file(4));
    write_file(folder_dir() + "bbs.chk", "");
    EXPECT_EQ(on_message(1, SELECT), -9);
    EXPECT_EQ(Fio_BBS_IDX20(kFolder, 1, 1), -9);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(kFolder, 1), -9);
    EXPECT_EQ(Fio_BBS_IDX_G20(kFolder, 1, 0), -9);
    std::vector<std::string> found;
    EXPECT_EQ(check_message_index(kFolder, found), -9);
    EXPECT_EQ(post(1), -9);
    EXPECT_EQ(remove(2), -9);
    EXPECT_EQ(retitle(2, "x"), -9);  // the select already refuses
    EXPECT_EQ(Fio_BBS_IDX_REBUILD(kFolder), -9);
    EXPECT_EQ(read_file(file(4)), before);
    EXPECT_EQ(order(1).size(), 5u);
}

// 455 records fill a 128 KB block: three blocks, the last one short, and a
// torn tail that is no record.
TEST_F(MessageIndexTest, WholeFolderWalkSeesEveryRecordAcrossBlocksInOrder) {
    const int count = 455 * 2 + 7;
    std::vector<BBS_IDX> records(count);
    for (int i = 0; i < count; ++i) {
        records[i].FOLDER_NO = kFolder;
        records[i].SEL_NO = i + 1;
        records[i].DEL_FLG = i % 3 == 0 ? 1 : 0;
    }
    put(1, records);
    write_file(file(1), read_file(file(1)) + std::string(100, 'x'));
    std::vector<long> positions;
    V numbers;
    ASSERT_EQ(scan_message_index(kFolder, 1, [&](long k, const BBS_IDX& r) {
                  positions.push_back(k);
                  numbers.push_back(r.SEL_NO);
                  return true;
              }),
              0);
    ASSERT_EQ(numbers.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(positions[i], i);
        ASSERT_EQ(numbers[i], i + 1);
    }

    // visit stops the walk, here inside the second block.
    int seen = 0;
    EXPECT_EQ(scan_message_index(kFolder, 1, [&](long, const BBS_IDX&) { return ++seen < 500; }), 0);
    EXPECT_EQ(seen, 500);
}

TEST_F(MessageIndexTest, WholeFolderWalkOfNothingOrALockedIndexVisitsNothing) {
    int seen = 0;
    auto count = [&](long, const BBS_IDX&) { return ++seen > 0; };
    EXPECT_EQ(scan_message_index(kFolder, 4, count), 0);  // missing: created empty
    EXPECT_TRUE(exists(file(4)));
    EXPECT_EQ(scan_message_index(kFolder, 4, count), 0);  // empty
    EXPECT_EQ(scan_message_index(kFolder, 0, count), -1);
    EXPECT_EQ(scan_message_index(kFolder, 6, count), -1);
    example_thread();
    write_file(folder_dir() + "bbs.chk", "");
    EXPECT_EQ(scan_message_index(kFolder, 1, count), -9);
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(scan_message_index(kFolder + 1, 1, count), -2);  // no folder directory
}

TEST_F(MessageIndexTest, ALaterFileThatFailsIsReportedAndTheOthersAreStillWritten) {
    example_thread();
    const std::string bbs5 = file(5);
    ASSERT_EQ(::unlink(bbs5.c_str()), 0);
    ASSERT_EQ(::mkdir(bbs5.c_str(), 0700), 0);
    write_file(bbs5 + "/keep", "x");  // a directory that cannot be opened as a file

    EXPECT_EQ(post(2), -2);
    EXPECT_EQ(order(1), (V{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(order(3), (V{2, 1}));
    EXPECT_EQ(order(4), (V{1, 3, 4, 5, 2, 6}));
    EXPECT_EQ(remove(4), -2);
    EXPECT_EQ(order(4), (V{1, 3, 5, 2, 6}));
    EXPECT_EQ(retitle(5, "x"), -2);
    EXPECT_STREQ(in(4, 5).WRITE_TITLE, "x");
    EXPECT_FALSE(exists(folder_dir() + "bbs.chk"));
    for (int n = 1; n <= 4; ++n) EXPECT_FALSE(exists(file(n) + ".tmp")) << n;
}

TEST_F(MessageIndexTest, RebuildRecountsRepliesOfEveryRoot) {
    example_thread();
    ASSERT_EQ(post(2), 6);
    for (int n : {2, 3}) {
        std::vector<BBS_IDX> roots = index_dump::records(kFolder, n);
        for (BBS_IDX& r : roots) r.RES_COUNT = 17;
        put(n, roots);
    }
    ASSERT_EQ(Fio_BBS_IDX_REBUILD(kFolder), 0);
    for (int n : {2, 3}) {
        EXPECT_EQ(in(n, 1).RES_COUNT, 3) << n;
        EXPECT_EQ(in(n, 2).RES_COUNT, 1) << n;
    }
    EXPECT_EQ(order(3), (V{2, 1}));
    EXPECT_TRUE(problems().empty()) << joined(problems());
}

// Random posting, replying, editing and deleting, each followed by the
// checker; a model of the titles catches a record lost or written over.
TEST_F(MessageIndexTest, RandomHistoryKeepsTheFiveFilesInStep) {
    std::mt19937 rng(20240611u);
    std::map<int, std::string> live;  // number -> title
    int edits = 0;
    for (int step = 0; step < 200; ++step) {
        const int count = static_cast<int>(Fio_BBS_IDX_MAXCOUNT(kFolder, 1));
        const int choice = static_cast<int>(rng() % 100);
        const int target = count > 0 ? static_cast<int>(rng() % count) + 1 : 0;
        const std::string title = "m" + std::to_string(step);
        if (count == 0 || choice < 20) {
            const int got = post(0, title.c_str());
            ASSERT_GT(got, 0);
            live[got] = title;
        } else if (choice < 60) {
            // Mostly live parents; now and then a deleted one, as a race would.
            if (live.count(target) == 0 && rng() % 4 != 0) continue;
            const int got = post(target, title.c_str());
            ASSERT_GT(got, 0) << step;
            live[got] = title;
        } else if (choice < 75) {
            if (live.count(target) == 0) continue;
            const std::string edited = "e" + std::to_string(++edits);
            ASSERT_EQ(retitle(target, edited.c_str()), 0);
            live[target] = edited;
        } else {
            ASSERT_EQ(remove(target), 0);
            live.erase(target);
        }
        const std::vector<std::string> found = problems();
        ASSERT_TRUE(found.empty()) << "step " << step << "\n" << joined(found);
    }
    ASSERT_GT(live.size(), 10u);
    for (const auto& [sel_no, title] : live) {
        ASSERT_EQ(on_message(sel_no, SELECT), 0);
        EXPECT_EQ(sBBS_IDX.DEL_FLG, 0);
        EXPECT_EQ(title, sBBS_IDX.WRITE_TITLE) << sel_no;
        EXPECT_EQ(title, in(4, sel_no).WRITE_TITLE) << sel_no;
        EXPECT_EQ(title, in(5, sel_no).WRITE_TITLE) << sel_no;
    }
}

TEST_F(MessageIndexTest, CheckerReportsABrokenFolder) {
    example_thread();
    ASSERT_EQ(post(2), 6);
    ASSERT_TRUE(problems().empty());

    std::vector<BBS_IDX> five = index_dump::records(kFolder, 5);  // 2 6 1 3 4 5
    five.erase(five.begin() + 4);                                  // lose live message 4
    put(5, five);
    std::vector<BBS_IDX> four = index_dump::records(kFolder, 4);  // 1 3 4 5 2 6
    std::swap(four[1], four[2]);                                   // 4 before its parent 3
    put(4, four);
    std::vector<BBS_IDX> three = index_dump::records(kFolder, 3);
    three[1].RES_COUNT = 1;
    put(3, three);
    std::vector<BBS_IDX> two = index_dump::records(kFolder, 2);
    two.push_back(index_dump::find(kFolder, 1, 5));  // a reply among the roots
    put(2, two);
    write_file(file(1), read_file(file(1)) + "torn");

    const std::vector<std::string> found = problems();
    const std::string all = joined(found);
    EXPECT_TRUE(mentions(found, "bbs5.idx: live message 4 is missing")) << all;
    EXPECT_TRUE(mentions(found, "message 4 is in bbs4.idx but not in bbs5.idx")) << all;
    EXPECT_TRUE(mentions(found, "bbs4.idx: message 4 is not inside the subtree")) << all;
    EXPECT_TRUE(mentions(found, "root 1: RES_COUNT 3 in bbs2.idx, 1 in bbs3.idx")) << all;
    EXPECT_TRUE(mentions(found, "bbs2.idx: message 5 is not a thread root")) << all;
    EXPECT_TRUE(mentions(found, "bbs1.idx: 4 stray bytes")) << all;

    // Record fields out of step with bbs1.idx, a thread cut in two.
    four = index_dump::records(kFolder, 4);
    copy_field(four[0].WRITE_TITLE, "changed");
    std::swap(four[4], four[5]);  // thread 2 now starts with the reply 6
    put(4, four);
    std::vector<BBS_IDX> bbs1 = index_dump::records(kFolder, 1);
    bbs1[2].BBS_G_NO = 2;
    put(1, bbs1);
    const std::vector<std::string> more = problems();
    const std::string all_more = joined(more);
    EXPECT_TRUE(mentions(more, "bbs4.idx: message 1 differs from its record in bbs1.idx")) << all_more;
    EXPECT_TRUE(mentions(more, "bbs4.idx: root 2 is not the first message of its thread")) << all_more;
    EXPECT_TRUE(mentions(more, "message 3 is in thread 2, the message it answers, 1, in thread 1")) << all_more;
}

}  // namespace
