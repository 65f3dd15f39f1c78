#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config/sysinfo.h"
#include "store/confirmations.h"
#include "store/line_file_engine.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class ConfirmationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, data.path().c_str());
        mkdir(data.file("1").c_str(), 0700);
        mkdir(data.file("1/x4").c_str(), 0700);
    }
    int confirm(const char* user, int level, const char* name, int mode) {
        sCONFIRM_TXT = CONFIRM_TXT{};
        sCONFIRM_TXT.FOLDER_NO = 1;
        sCONFIRM_TXT.SEL_NO = 4;
        copy_field(sCONFIRM_TXT.USER_ID, user);
        sCONFIRM_TXT.CONFIRM_LEVEL = level;
        copy_field(sCONFIRM_TXT.USER_NAME, name);
        return Fio_CONFIRM_TXT(mode);
    }

    TempDir data;
    FakeClock clock;
    std::string file = data.file("1/x4/confirm.txt");
};

TEST_F(ConfirmationsTest, KeyedByTheExactUserId) {
    ASSERT_EQ(confirm("alice", 1, "Alice", 2), STORE_OK);
    ASSERT_EQ(confirm("bob", 2, "Bob", 2), STORE_OK);
    EXPECT_EQ(confirm("alice", 3, "Alice", 2), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(confirm("ALICE", 3, "Alice", 4), STORE_NOT_FOUND);
    ASSERT_EQ(confirm("alice", 3, "Alice A.", 4), STORE_OK);
    EXPECT_EQ(read_file(file), "alice,3,Alice A.,\nbob,2,Bob,\n");

    ASSERT_EQ(confirm("bob", 0, "", 1), STORE_OK);
    EXPECT_EQ(sCONFIRM_TXT.CONFIRM_LEVEL, 2);
    EXPECT_STREQ(sCONFIRM_TXT.USER_NAME, "Bob");
    EXPECT_EQ(confirm("carol", 5, "stale", 1), STORE_NOT_FOUND);
    EXPECT_EQ(sCONFIRM_TXT.CONFIRM_LEVEL, 0);
    EXPECT_STREQ(sCONFIRM_TXT.USER_NAME, "");

    ASSERT_EQ(confirm("alice", 0, "", 3), STORE_OK);
    EXPECT_EQ(confirm("alice", 0, "", 3), STORE_NOT_FOUND);
    EXPECT_EQ(read_file(file), "bob,2,Bob,\n");
}

TEST_F(ConfirmationsTest, AMatchingLineWithoutANameEndsTheSearch) {
    write_file(file, "alice,1,,\nalice,2,Alice,\n");
    EXPECT_EQ(confirm("alice", 0, "", 1), STORE_NOT_FOUND);
    EXPECT_EQ(sCONFIRM_TXT.CONFIRM_LEVEL, 0);
}

TEST_F(ConfirmationsTest, TextFieldsCannotAddFieldsOrLines) {
    ASSERT_EQ(confirm("alice", 1, "Smith, A.\r\nmallory,9,Forged", 2), STORE_OK);
    EXPECT_EQ(read_file(file), "alice,1,Smith  A.  mallory 9 Forged,\n");
    EXPECT_EQ(Fio_CONFIRM_TXT_COUNT(1, 4), 1);
    EXPECT_EQ(confirm("mallory", 0, "", 1), STORE_NOT_FOUND);
}

TEST_F(ConfirmationsTest, ListIsReadInBatchesOfAHundred) {
    std::string lines;
    for (int i = 1; i <= 150; ++i) {
        lines += "u" + std::to_string(i) + "," + std::to_string(i % 3) + ",User " + std::to_string(i) + ",\n";
    }
    write_file(file, lines);
    ASSERT_EQ(Fio_CONFIRM_TXT_COUNT(1, 4), 150);

    ASSERT_EQ(Fio_CONFIRM_TXT100(1, 4, 0), STORE_OK);
    EXPECT_STREQ(sCONFIRM_TXT100[0].USER_ID, "u1");
    EXPECT_STREQ(sCONFIRM_TXT100[99].USER_ID, "u100");
    EXPECT_STREQ(sCONFIRM_TXT100[99].USER_NAME, "User 100");
    EXPECT_EQ(sCONFIRM_TXT100[99].CONFIRM_LEVEL, 1);

    ASSERT_EQ(Fio_CONFIRM_TXT100(1, 4, 100), STORE_OK);
    EXPECT_STREQ(sCONFIRM_TXT100[0].USER_ID, "u101");
    EXPECT_STREQ(sCONFIRM_TXT100[49].USER_ID, "u150");
    EXPECT_STREQ(sCONFIRM_TXT100[50].USER_ID, "");  // cleared: the list ends here
}

TEST_F(ConfirmationsTest, BatchesSkipMalformedLinesButCountThem) {
    write_file(file, "a,1,A,\nbroken line\nb,2,B,\n");
    EXPECT_EQ(Fio_CONFIRM_TXT_COUNT(1, 4), 3);
    ASSERT_EQ(Fio_CONFIRM_TXT100(1, 4, 1), STORE_OK);  // passes over any first line
    EXPECT_STREQ(sCONFIRM_TXT100[0].USER_ID, "b");
    EXPECT_STREQ(sCONFIRM_TXT100[1].USER_ID, "");
}

TEST_F(ConfirmationsTest, CountOfAMissingFileCreatesItEmpty) {
    EXPECT_EQ(Fio_CONFIRM_TXT_COUNT(1, 4), 0);
    EXPECT_TRUE(exists(file));
    EXPECT_EQ(read_file(file), "");
}

TEST_F(ConfirmationsTest, DeleteRemovesTheFileUnlessALockIsHeld) {
    write_file(file, "a,1,A,\n");
    write_file(data.file("1/x4/confirm.chk"), "");
    EXPECT_EQ(Fio_CONFIRM_TXT_DELETE(1, 4), STORE_LOCK_BUSY);
    EXPECT_TRUE(exists(file));
    EXPECT_EQ(Fio_CONFIRM_TXT_COUNT(1, 4), STORE_LOCK_BUSY);
    EXPECT_EQ(confirm("b", 1, "B", 2), STORE_LOCK_BUSY);
    std::remove(data.file("1/x4/confirm.chk").c_str());
    EXPECT_EQ(Fio_CONFIRM_TXT_DELETE(1, 4), STORE_OK);
    EXPECT_FALSE(exists(file));
}

}  // namespace
