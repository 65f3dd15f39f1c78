#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/read_marks.h"
#include "store/users.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class ReadMarksTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, data.path().c_str());
        ASSERT_EQ(make_user_directory("alice"), 0);
        std::memset(sREAD_INDEX100, 0, sizeof sREAD_INDEX100);
    }
    std::string marks_path(const char* user = "alice") const {
        return data.path() + "user/" + user + "/r1.idx";
    }
    void put(const std::vector<int32_t>& marks, const char* user = "alice") {
        write_file(marks_path(user), std::string(reinterpret_cast<const char*>(marks.data()),
                                                 marks.size() * sizeof(int32_t)));
    }
    std::vector<int32_t> marks(const char* user = "alice") const {
        const std::string bytes = read_file(marks_path(user));
        std::vector<int32_t> out(bytes.size() / 4);
        std::memcpy(out.data(), bytes.data(), out.size() * 4);
        EXPECT_EQ(bytes.size() % 4, 0u);
        return out;
    }
    int set(long sel_no, int read_chk, int mode) {
        sREAD_INDEX.READ_CHK = read_chk;
        return Fio_READ_INDEX("alice", 1, sel_no, mode);
    }

    TempDir data;
    FakeClock clock;
};

TEST_F(ReadMarksTest, SelectBeyondTheEndFindsNoMark) {
    put({1, 0, 1});
    sREAD_INDEX.READ_CHK = 7;
    EXPECT_EQ(Fio_READ_INDEX("alice", 1, 5, 1), STORE_NOT_FOUND);
    EXPECT_EQ(sREAD_INDEX.READ_CHK, 0);
    EXPECT_EQ(Fio_READ_INDEX("alice", 1, 3, 1), STORE_OK);
    EXPECT_EQ(sREAD_INDEX.READ_CHK, 1);
    EXPECT_EQ(Fio_READ_INDEX("alice", 1, 0, 1), STORE_NOT_FOUND);
}

TEST_F(ReadMarksTest, InsertFillsTheGapWithUnreadMarksAndRefusesAnExistingOne) {
    put({1, 0, 1});
    ASSERT_EQ(set(6, 1, 2), STORE_OK);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 0, 1, 0, 0, 1}));

    EXPECT_EQ(set(2, 1, 2), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 0, 1, 0, 0, 1}));
    ASSERT_EQ(set(2, 1, 4), STORE_OK);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 1, 1, 0, 0, 1}));

    EXPECT_EQ(set(7, 1, 4), STORE_NOT_FOUND);  // the caller then inserts
    EXPECT_EQ(marks().size(), 6u);
    EXPECT_FALSE(exists(data.path() + "user/alice/r1.chk"));
}

TEST_F(ReadMarksTest, InsertOnATornTailWritesWholeMarks) {
    write_file(marks_path(), std::string("\x01\x00\x00\x00\x01\x00", 6));  // 1.5 marks
    ASSERT_EQ(set(3, 1, 2), STORE_OK);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 0, 1}));
}

TEST_F(ReadMarksTest, ResizeCutsExtendsOrRemoves) {
    put({1, 1, 1, 1, 1, 1});
    ASSERT_EQ(Fio_READ_INDEX("alice", 1, 4, 3), STORE_OK);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 1, 1, 1}));
    ASSERT_EQ(Fio_READ_INDEX("alice", 1, 6, 3), STORE_OK);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 1, 1, 1, 0, 0}));
    EXPECT_FALSE(exists(marks_path() + ".tmp"));

    // A failed message count handed on as the new length keeps the marks.
    EXPECT_EQ(Fio_READ_INDEX("alice", 1, STORE_LOCK_BUSY, 3), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(marks().size(), 6u);

    ASSERT_EQ(Fio_READ_INDEX("alice", 1, 0, 3), STORE_OK);
    EXPECT_FALSE(exists(marks_path()));
}

TEST_F(ReadMarksTest, BatchWriteExtendsToTheLastEntryExactly) {
    put(std::vector<int32_t>(10, 1));
    sREAD_INDEX100[0] = {15, 1};
    sREAD_INDEX100[1] = {20, 1};
    sREAD_INDEX100[2] = {3, 0};
    ASSERT_EQ(Fio_READ_INDEX100("alice", 1, 2), STORE_OK);
    const auto got = marks();
    ASSERT_EQ(got.size(), 20u);
    for (int n = 1; n <= 20; ++n) {
        const int expected = (n <= 10 && n != 3) || n == 15 || n == 20 ? 1 : 0;
        EXPECT_EQ(got[n - 1], expected) << "mark " << n;
    }
    EXPECT_EQ(Fio_READ_INDEX_COUNT("alice", 1), 11);
    EXPECT_EQ(Fio_READ_INDEX_MAXCOUNT("alice", 1), 20);
}

TEST_F(ReadMarksTest, BatchSelectLeavesEntriesBeyondTheEndAsSet) {
    put({1, 0, 1});
    sREAD_INDEX100[0] = {1, 9};
    sREAD_INDEX100[1] = {2, 9};
    sREAD_INDEX100[2] = {8, 9};
    sREAD_INDEX100[4] = {3, 9};  // after the list's end (entry 3 is 0)
    ASSERT_EQ(Fio_READ_INDEX100("alice", 1, 1), STORE_OK);
    EXPECT_EQ(sREAD_INDEX100[0].READ_CHK, 1);
    EXPECT_EQ(sREAD_INDEX100[1].READ_CHK, 0);
    EXPECT_EQ(sREAD_INDEX100[2].READ_CHK, 9);
    EXPECT_EQ(sREAD_INDEX100[4].READ_CHK, 9);

    ASSERT_EQ(Fio_READ_INDEX100("alice", 1, 3), STORE_OK);
    EXPECT_FALSE(exists(marks_path()));
}

TEST_F(ReadMarksTest, BatchSelectOfScatteredNumbersReadsEachMark) {
    std::vector<int32_t> all(6000);
    for (int n = 1; n <= 6000; ++n) all[n - 1] = n % 3 == 0 ? 1 : 0;
    put(all);
    const int32_t wanted[] = {5999, 1, 3, 2049, 3000, 6001, 3, 2050, 4097, 6000, 2048};
    for (int i = 0; i < 11; ++i) sREAD_INDEX100[i] = {wanted[i], 7};
    ASSERT_EQ(Fio_READ_INDEX100("alice", 1, 1), STORE_OK);
    for (int i = 0; i < 11; ++i) {
        const int32_t n = wanted[i];
        EXPECT_EQ(sREAD_INDEX100[i].READ_CHK, n > 6000 ? 7 : (n % 3 == 0 ? 1 : 0)) << n;
    }
    // A page of numbers in a row.
    for (int i = 0; i < 20; ++i) sREAD_INDEX100[i] = {5981 + i, 7};
    ASSERT_EQ(Fio_READ_INDEX100("alice", 1, 1), STORE_OK);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(sREAD_INDEX100[i].READ_CHK, (5981 + i) % 3 == 0 ? 1 : 0) << i;

    // Scans and rewrites of a file of many blocks see every mark once.
    EXPECT_EQ(Fio_READ_INDEX_COUNT("alice", 1), 2000);
    ASSERT_EQ(Fio_READ_INDEX("alice", 1, 5000, 3), STORE_OK);
    all.resize(5000);
    EXPECT_EQ(marks(), all);
}

TEST_F(ReadMarksTest, UnsafeUserIdsTouchNoFile) {
    const auto before = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(data.path())) {
            names.push_back(entry.path().string());
        }
        return names;
    };
    const auto listing = before();
    for (const char* id : {"", ".", "..", "../alice", "a/b", "a\\b", "x\ny"}) {
        sREAD_INDEX.READ_CHK = 1;
        EXPECT_EQ(Fio_READ_INDEX(id, 1, 1, 2), STORE_CANNOT_OPEN) << id;
        EXPECT_EQ(Fio_READ_INDEX(id, 1, 0, 3), STORE_CANNOT_OPEN) << id;
        EXPECT_EQ(Fio_READ_INDEX(id, 1, 1, 1), STORE_CANNOT_OPEN) << id;
        EXPECT_EQ(Fio_READ_INDEX100(id, 1, 2), STORE_CANNOT_OPEN) << id;
        EXPECT_EQ(Fio_READ_INDEX_MAXCOUNT(id, 1), STORE_CANNOT_OPEN) << id;
        EXPECT_EQ(Fio_READ_INDEX_COUNT(id, 1), STORE_CANNOT_OPEN) << id;
    }
    EXPECT_EQ(before(), listing);
}

TEST_F(ReadMarksTest, HeldLockRefusesReadersAndWriters) {
    put({1});
    write_file(data.path() + "user/alice/r1.chk", "");
    EXPECT_EQ(Fio_READ_INDEX("alice", 1, 1, 1), STORE_LOCK_BUSY);
    EXPECT_EQ(set(2, 1, 2), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_READ_INDEX("alice", 1, 0, 3), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_READ_INDEX_MAXCOUNT("alice", 1), STORE_LOCK_BUSY);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1}));
}

// 16,384 marks fill a 64 KB block: five blocks, the last one short.
TEST_F(ReadMarksTest, AllMarksAreReadAcrossBlocks) {
    std::vector<int32_t> stored(32768 * 2 + 5);
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<int32_t>(i % 7);
    put(stored);
    write_file(marks_path(), read_file(marks_path()) + std::string("\x01\x00", 2));  // a torn tail
    std::vector<READ_INDEX> read;
    ASSERT_EQ(read_all_marks("alice", 1, read), STORE_OK);
    ASSERT_EQ(read.size(), stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) ASSERT_EQ(read[i].READ_CHK, stored[i]) << i;
}

TEST_F(ReadMarksTest, AllMarksOfNoFileOrALockedFileAreNone) {
    std::vector<READ_INDEX> read(3);
    EXPECT_EQ(read_all_marks("alice", 1, read), STORE_OK);  // missing: created empty
    EXPECT_TRUE(read.empty());
    EXPECT_TRUE(exists(marks_path()));
    put({1, 1});
    write_file(data.path() + "user/alice/r1.chk", "");
    EXPECT_EQ(read_all_marks("alice", 1, read), STORE_LOCK_BUSY);
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(read_all_marks("../alice", 1, read), STORE_CANNOT_OPEN);
    EXPECT_EQ(read_all_marks("nobody", 1, read), STORE_CANNOT_OPEN);  // no user directory
}

TEST_F(ReadMarksTest, MarkRunIsWrittenInPlaceOrAfterUnreadMarks) {
    put({1, 0, 1});
    const READ_INDEX run[] = {{5}, {6}, {7}};
    ASSERT_EQ(write_mark_run("alice", 1, 2, run, 3), STORE_OK);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 5, 6, 7}));
    ASSERT_EQ(write_mark_run("alice", 1, 7, run, 2), STORE_OK);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 5, 6, 7, 0, 0, 5, 6}));
    EXPECT_FALSE(exists(data.path() + "user/alice/r1.chk"));

    // A torn tail is cut before the file grows: it never shows in a mark.
    write_file(marks_path(), std::string("\x01\x00\x00\x00\x09\x09", 6));
    ASSERT_EQ(write_mark_run("alice", 1, 3, run, 1), STORE_OK);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 0, 5}));

    EXPECT_EQ(write_mark_run("alice", 1, 0, run, 1), STORE_NOT_FOUND);
    EXPECT_EQ(write_mark_run("alice", 1, 1, run, -1), STORE_NOT_FOUND);
    write_file(data.path() + "user/alice/r1.chk", "");
    EXPECT_EQ(write_mark_run("alice", 1, 1, run, 3), STORE_LOCK_BUSY);
    EXPECT_EQ(marks(), (std::vector<int32_t>{1, 0, 5}));
    EXPECT_EQ(clock.waited_ms(), LOCK_WRITER_WAIT_MS);  // a writer waits for the holder, then gives up
}

TEST_F(ReadMarksTest, AllUsersGetTheMarkAndDeletionCutsTheirMarks) {
    ASSERT_EQ(make_user_directory("bob"), 0);
    ASSERT_EQ(make_user_directory("carol"), 0);
    write_file(data.file("user.mst"), "alice\nbob\ncarol\n");
    put({1, 1, 1, 1, 1, 1}, "alice");
    put({1}, "bob");
    // carol has no marks in the folder yet.

    read_marks_for_all_users(1, 3, 0, MarkResize::none, -1);
    EXPECT_EQ(marks("alice"), (std::vector<int32_t>{1, 1, 0, 1, 1, 1}));
    EXPECT_EQ(marks("bob"), (std::vector<int32_t>{1, 0, 0}));
    EXPECT_EQ(marks("carol"), (std::vector<int32_t>{0, 0, 0}));

    read_marks_for_all_users(1, 5, 1, MarkResize::shrink_only, 4);
    EXPECT_EQ(marks("alice"), (std::vector<int32_t>{1, 1, 0, 1}));
    EXPECT_EQ(marks("bob"), (std::vector<int32_t>{1, 0, 0, 0}));  // grown to 5, cut to 4

    read_marks_for_all_users(1, 1, 1, MarkResize::to_count, 2);
    EXPECT_EQ(marks("carol"), (std::vector<int32_t>{1, 0}));

    // bob's marks locked by a request that died: the users before and after
    // him still get theirs, and a delete waits for his lock once, not for
    // each of its three steps.
    write_file(data.path() + "user/bob/r1.chk", "");
    read_marks_for_all_users(1, 1, 0, MarkResize::to_count, 1);
    EXPECT_EQ(marks("alice"), (std::vector<int32_t>{0}));
    EXPECT_EQ(marks("bob"), (std::vector<int32_t>{1, 0}));  // untouched
    EXPECT_EQ(marks("carol"), (std::vector<int32_t>{0}));
    EXPECT_EQ(clock.waited_ms(), LOCK_WRITER_WAIT_MS);
}

TEST_F(ReadMarksTest, AllUsersWalkPassesOverUnsafeIdsAndStopsAtAnEmptyLine) {
    ASSERT_EQ(make_user_directory("bob"), 0);
    ASSERT_EQ(make_user_directory("carol"), 0);
    write_file(data.file("user.mst"), "alice\n../x\nbob\n\ncarol\n");
    read_marks_for_all_users(1, 2, 1, MarkResize::none, -1);
    EXPECT_EQ(marks("alice"), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(marks("bob"), (std::vector<int32_t>{0, 1}));
    EXPECT_FALSE(exists(data.path() + "user/carol/r1.idx"));
    EXPECT_FALSE(exists(data.path() + "x"));
}

}  // namespace
