#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config/sysinfo.h"
#include "store/line_file_engine.h"
#include "store/line_replies.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class LineRepliesTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, data.path().c_str());
        mkdir(data.file("2").c_str(), 0700);
        mkdir(data.file("2/x7").c_str(), 0700);
    }
    int reply(const char* user, const char* name, const char* text, int mode = 2, int sub_no = 0) {
        sLINE_RES_TXT = LINE_RES_TXT{};
        sLINE_RES_TXT.FOLDER_NO = 2;
        sLINE_RES_TXT.SEL_NO = 7;
        sLINE_RES_TXT.SUB_NO = sub_no;
        copy_field(sLINE_RES_TXT.USER_ID, user);
        copy_field(sLINE_RES_TXT.USER_NAME, name);
        copy_field(sLINE_RES_TXT.LINE_REPLY, text);
        return Fio_LINE_RES_TXT(mode);
    }

    TempDir data;
    FakeClock clock;
    std::string file = data.file("2/x7/lineres.txt");
};

TEST_F(LineRepliesTest, AReplyKeepsItsCommas) {
    ASSERT_EQ(reply("alice", "Alice", "yes, agreed, see you"), STORE_OK);
    ASSERT_EQ(reply("bob", "Bob", "ok"), STORE_OK);
    EXPECT_EQ(read_file(file), "alice,Alice,yes, agreed, see you\nbob,Bob,ok\n");
    EXPECT_FALSE(exists(file + ".tmp"));
    EXPECT_FALSE(exists(data.file("2/x7/lineres.chk")));

    ASSERT_EQ(Fio_LINE_RES_TXT20(2, 7, 0), STORE_OK);
    EXPECT_STREQ(sLINE_RES_TXT20[0].USER_ID, "alice");
    EXPECT_STREQ(sLINE_RES_TXT20[0].LINE_REPLY, "yes, agreed, see you");
    EXPECT_EQ(sLINE_RES_TXT20[0].SUB_NO, 0);
    EXPECT_STREQ(sLINE_RES_TXT20[1].LINE_REPLY, "ok");
    EXPECT_STREQ(sLINE_RES_TXT20[2].USER_ID, "");
}

TEST_F(LineRepliesTest, ALineBreakCannotForgeAReplyUnderAnotherName) {
    ASSERT_EQ(reply("mallory", "Mal, lory", "hi\r\nalice,Alice,I resign\n"), STORE_OK);
    EXPECT_EQ(read_file(file), "mallory,Mal  lory,hi  alice,Alice,I resign \n");
    ASSERT_EQ(Fio_LINE_RES_TXT20(2, 7, 0), STORE_OK);
    EXPECT_STREQ(sLINE_RES_TXT20[0].USER_ID, "mallory");
    EXPECT_STREQ(sLINE_RES_TXT20[1].USER_ID, "");
}

TEST_F(LineRepliesTest, AppendAfterATornLastLineStartsALineOfItsOwn) {
    write_file(file, "alice,Alice,cut sho");
    ASSERT_EQ(reply("bob", "Bob", "next"), STORE_OK);
    EXPECT_EQ(read_file(file), "alice,Alice,cut sho\nbob,Bob,next\n");
}

TEST_F(LineRepliesTest, RepliesAreReadInPagesOfTwenty) {
    std::string lines;
    for (int i = 1; i <= 25; ++i) lines += "u" + std::to_string(i) + ",U,r" + std::to_string(i) + "\r\n";
    write_file(file, lines);
    ASSERT_EQ(Fio_LINE_RES_TXT20(2, 7, 0), STORE_OK);
    EXPECT_STREQ(sLINE_RES_TXT20[19].USER_ID, "u20");
    EXPECT_STREQ(sLINE_RES_TXT20[19].LINE_REPLY, "r20");  // its CR cut
    ASSERT_EQ(Fio_LINE_RES_TXT20(2, 7, 20), STORE_OK);
    EXPECT_STREQ(sLINE_RES_TXT20[0].USER_ID, "u21");
    EXPECT_STREQ(sLINE_RES_TXT20[4].USER_ID, "u25");
    EXPECT_STREQ(sLINE_RES_TXT20[5].USER_ID, "");
    ASSERT_EQ(Fio_LINE_RES_TXT20(2, 7, 40), STORE_OK);
    EXPECT_STREQ(sLINE_RES_TXT20[0].USER_ID, "");
}

TEST_F(LineRepliesTest, SelectUpdateAndDeleteWorkByPosition) {
    write_file(file, "a,A,one\nno commas here\nb,B,two\nc,C,three\n");
    ASSERT_EQ(reply("", "", "", 1, 2), STORE_OK);  // positions count well-formed lines
    EXPECT_STREQ(sLINE_RES_TXT.USER_ID, "b");
    EXPECT_STREQ(sLINE_RES_TXT.LINE_REPLY, "two");
    EXPECT_EQ(reply("", "", "", 1, 9), STORE_NOT_FOUND);

    ASSERT_EQ(reply("b", "B", "two, edited", 4, 2), STORE_OK);
    ASSERT_EQ(reply("", "", "", 3, 1), STORE_OK);
    EXPECT_EQ(reply("", "", "", 3, 5), STORE_NOT_FOUND);
    EXPECT_EQ(read_file(file), "b,B,two, edited\nc,C,three\n");
}

TEST_F(LineRepliesTest, HeldLockRefusesReadersAndWriters) {
    write_file(data.file("2/x7/lineres.chk"), "");
    EXPECT_EQ(reply("a", "A", "x"), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_LINE_RES_TXT20(2, 7, 0), STORE_LOCK_BUSY);
    EXPECT_EQ(read_file(file), "");
}

}  // namespace
