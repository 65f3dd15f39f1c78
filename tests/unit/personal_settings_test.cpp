#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "config/sysinfo.h"
#include "store/line_file_engine.h"
#include "store/personal_settings.h"
#include "store/users.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class PersonalSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        ASSERT_EQ(make_user_directory("alice"), STORE_OK);
        sUSER_MST = USER_MST{};
    }
    std::string settings() const { return read_file(file); }

    TempDir dir;
    FakeClock clock;
    std::string file = dir.path() + "user/alice/personal.mst";
};

TEST_F(PersonalSettingsTest, SelectReadsTheWholeRestOfTheLine) {
    write_file(file, "nocomma\nLANGUAGE,en\nPICFILE,a,b,c.gif\r\nPICFILE,second\n");
    char value[100] = "stale";
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 1, "PICFILE", value), STORE_OK);
    EXPECT_STREQ(value, "a,b,c.gif");
    EXPECT_EQ(Fio_PERSONAL_MST("alice", 1, "LANG", value), STORE_NOT_FOUND);
    EXPECT_STREQ(value, "");

    char small[5];
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 1, "PICFILE", small), STORE_OK);
    EXPECT_STREQ(small, "a,b,");
}

TEST_F(PersonalSettingsTest, UpdateOfAMissingKeyFailsAndTheInsertAppends) {
    write_file(file, "TOTAL_LOGIN_COUNT,3");  // no line feed after the last line
    char value[40] = "2024/01/02 03:04";
    EXPECT_EQ(Fio_PERSONAL_MST("alice", 4, "LAST_LOGIN_DATE", value), STORE_NOT_FOUND);
    EXPECT_EQ(settings(), "TOTAL_LOGIN_COUNT,3");
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 2, "LAST_LOGIN_DATE", value), STORE_OK);
    EXPECT_EQ(settings(), "TOTAL_LOGIN_COUNT,3\nLAST_LOGIN_DATE,2024/01/02 03:04\n");
    EXPECT_EQ(Fio_PERSONAL_MST("alice", 2, "LAST_LOGIN_DATE", value), STORE_NOTHING_TO_CHANGE);

    char count[40] = "4";
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 4, "TOTAL_LOGIN_COUNT", count), STORE_OK);
    EXPECT_EQ(settings(), "TOTAL_LOGIN_COUNT,4\nLAST_LOGIN_DATE,2024/01/02 03:04\n");
    EXPECT_FALSE(exists(file + ".tmp"));
    EXPECT_FALSE(exists(dir.path() + "user/alice/personal.chk"));
}

TEST_F(PersonalSettingsTest, ACounterIsRaisedFromItsFirstLine) {
    EXPECT_EQ(raise_personal_counter("alice", "TOTAL_WRITE_COUNT"), STORE_OK);
    EXPECT_EQ(settings(), "TOTAL_WRITE_COUNT,1\n");
    write_file(file, "TOTAL_WRITE_COUNT,41\nLANGUAGE,en\nTOTAL_WRITE_COUNT,7");
    EXPECT_EQ(raise_personal_counter("alice", "TOTAL_WRITE_COUNT"), STORE_OK);
    EXPECT_EQ(settings(), "TOTAL_WRITE_COUNT,42\nLANGUAGE,en\nTOTAL_WRITE_COUNT,42\n");
    const std::string top = "TOTAL_WRITE_COUNT," + std::to_string(LONG_MAX) + "\n";
    write_file(file, top);
    EXPECT_EQ(raise_personal_counter("alice", "TOTAL_WRITE_COUNT"), STORE_OK);
    EXPECT_EQ(settings(), top);  // at the limit it stays, never wraps
}

TEST_F(PersonalSettingsTest, WritesKeepCommasDropLineBreaksAndMalformedLines) {
    write_file(file, "junk\nA,1\nB,2\nA,3\n");
    char value[40] = "x\r\ny,z";
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 4, "A", value), STORE_OK);
    EXPECT_EQ(settings(), "A,x  y,z\nB,2\nA,x  y,z\n");
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 3, "A", value), STORE_OK);
    EXPECT_EQ(settings(), "B,2\n");
    EXPECT_EQ(Fio_PERSONAL_MST("alice", 3, "A", value), STORE_NOT_FOUND);
    EXPECT_EQ(Fio_PERSONAL_MST("alice", 0, "B", value), STORE_NOT_FOUND);
    write_file(dir.path() + "user/alice/personal.chk", "");
    EXPECT_EQ(Fio_PERSONAL_MST("alice", 1, "B", value), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_PERSONAL_MST("alice", 4, "B", value), STORE_LOCK_BUSY);
}

TEST_F(PersonalSettingsTest, AStoredLineAlwaysFitsTheLineBuffer) {
    static char value[20000];
    copy_field(value, std::string(sizeof value - 1, 'v').c_str());
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 2, "BIG", value), STORE_OK);
    EXPECT_EQ(settings().size(), PERSONAL_LINE_SIZE - 1);
    char one[8] = "1";
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 2, "NEXT", one), STORE_OK);
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 1, "BIG", value), STORE_OK);
    EXPECT_EQ(std::string(value), std::string(PERSONAL_LINE_SIZE - 6, 'v'));
    ASSERT_EQ(Fio_PERSONAL_MST("alice", 1, "NEXT", one), STORE_OK);
    EXPECT_STREQ(one, "1");
}

TEST_F(PersonalSettingsTest, UserRecordSelectSetsDefaultsAndKeepsTheRest) {
    write_file(file, "");
    sUSER_MST.USER_LEVEL = 7;
    copy_field(sUSER_MST.USER_NAME, "kept");
    ASSERT_EQ(Fio_PERSONAL_MST_ALL("alice", 1), STORE_OK);
    EXPECT_EQ(sUSER_MST.USER_DISP_DEF, 5);
    EXPECT_EQ(sUSER_MST.MODE, 1);
    EXPECT_EQ(sUSER_MST.WRITE_MODE, 1);
    EXPECT_EQ(sUSER_MST.USER_LEVEL, 7);
    EXPECT_STREQ(sUSER_MST.USER_NAME, "kept");

    write_file(file, "USER_NAME," + std::string(200, 'n') + "\nMODE,2\nTOTAL_WRITE_COUNT,9\n");
    ASSERT_EQ(Fio_PERSONAL_MST_ALL("alice", 1), STORE_OK);
    EXPECT_EQ(std::string(sUSER_MST.USER_NAME), std::string(81, 'n'));
    EXPECT_EQ(sUSER_MST.MODE, 2);
}

TEST_F(PersonalSettingsTest, UserRecordStoreReplacesInPlaceAndAppendsInTableOrder) {
    write_file(file, "TOTAL_LOGIN_COUNT,3\nMODE,1\nUSER_NAME,old\n");
    copy_field(sUSER_MST.USER_ID, "alice");
    copy_field(sUSER_MST.USER_NAME, "New, Name");
    sUSER_MST.USER_LEVEL = 100;
    copy_field(sUSER_MST.E_MAIL_ADDR, "a@example.com");
    sUSER_MST.P_GROUP = 4;
    sUSER_MST.USER_DISP_DEF = 3;
    sUSER_MST.MODE = 2;
    sUSER_MST.WRITE_MODE = 2;
    sUSER_MST.BBS_FRAME_MODE = 1;
    sUSER_MST.TREE_MODE = -1;
    copy_field(sUSER_MST.LANGUAGE, "Japanese");
    copy_field(sUSER_MST.PICFILE, "me.gif");
    const USER_MST written = sUSER_MST;
    ASSERT_EQ(Fio_PERSONAL_MST_ALL("alice", 4), STORE_OK);
    EXPECT_EQ(settings(),
              "TOTAL_LOGIN_COUNT,3\nMODE,2\nUSER_NAME,New, Name\nUSER_LEVEL,100\n"
              "E_MAIL_ADDR,a@example.com\nP_GROUP,4\nUSER_DISP_DEF,3\nWRITE_MODE,2\n"
              "BBS_FRAME_MODE,1\nTREE_MODE,-1\nLANGUAGE,Japanese\nPICFILE,me.gif\n");

    sUSER_MST = USER_MST{};
    ASSERT_EQ(Fio_PERSONAL_MST_ALL("alice", 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_NAME, written.USER_NAME);
    EXPECT_STREQ(sUSER_MST.E_MAIL_ADDR, written.E_MAIL_ADDR);
    EXPECT_STREQ(sUSER_MST.LANGUAGE, written.LANGUAGE);
    EXPECT_STREQ(sUSER_MST.PICFILE, written.PICFILE);
    EXPECT_EQ(sUSER_MST.USER_LEVEL, 100);
    EXPECT_EQ(sUSER_MST.P_GROUP, 4);
    EXPECT_EQ(sUSER_MST.USER_DISP_DEF, 3);
    EXPECT_EQ(sUSER_MST.WRITE_MODE, 2);
    EXPECT_EQ(sUSER_MST.BBS_FRAME_MODE, 1);
    EXPECT_EQ(sUSER_MST.TREE_MODE, -1);
    EXPECT_EQ(Fio_PERSONAL_MST_ALL("alice", 3), STORE_NOT_FOUND);
}

TEST_F(PersonalSettingsTest, IdsThatCannotNameADirectoryTouchNoFile) {
    char value[40] = "v";
    for (const char* id : {"", ".", "..", "../alice", "a/b", "a\\b", "a\x01"}) {
        SCOPED_TRACE(id);
        for (int mode = 1; mode <= 4; ++mode) {
            EXPECT_EQ(Fio_PERSONAL_MST(id, mode, "KEY", value), STORE_NOT_FOUND);
            EXPECT_EQ(Fio_PERSONAL_MST_ALL(id, mode), STORE_NOT_FOUND);
        }
    }
    EXPECT_FALSE(exists(dir.path() + "personal.mst"));
    EXPECT_FALSE(exists(dir.path() + "user/personal.mst"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() + "user/alice"));
}

}  // namespace
