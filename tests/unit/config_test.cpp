#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/message_table.h"
#include "config/sysinfo.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

TEST(SystemConfiguration, ValuesDefaultsAndOddLines) {
    TempDir dir;
    write_file(dir.file("orva.ini"),
               "***** ORVA (Pure CGI System) Configuration file *****,,\n"
               "ROWS,12,\n"
               "IECOLS,abc,\n"
               "NSCOLS,,\n"
               "DATA_FILE_PATH,/srv/data/,third,\n"
               "SITE_ID,a,b\n"
               "site_id,lower,\n"
               "LOG_DATE,1,\n"
               "LOG_DATE,2,\n");
    ASSERT_EQ(SysFileOpen(dir.file("orva.ini").c_str()), 0);
    EXPECT_EQ(SYSINFO.ROWS, 12);
    EXPECT_EQ(SYSINFO.IECOLS, 0);   // not a number
    EXPECT_EQ(SYSINFO.NSCOLS, 60);  // empty value keeps the default
    EXPECT_STREQ(SYSINFO.DATA_FILE_PATH, "/srv/data/");
    EXPECT_STREQ(SYSINFO.SITE_ID, "a");
    EXPECT_STREQ(SYSINFO.LOG_DATE, "2");  // the later line wins
    EXPECT_STREQ(SYSINFO.FRAME_DIVIDE, "20%");
    EXPECT_EQ(SYSINFO.ATTACHED_FILE_LIMIT, 10000000);
}

TEST(SystemConfiguration, MissingFileGivesDefaults) {
    TempDir dir;
    SYSINFO.ATTACHED_FILE_LIMIT = 5;
    EXPECT_EQ(SysFileOpen(dir.file("none.ini").c_str()), -1);
    EXPECT_EQ(SYSINFO.ATTACHED_FILE_LIMIT, 10000000);
    EXPECT_EQ(SYSINFO.ROWS, 8);
}

TEST(SystemConfiguration, LongValuesAreCutToTheField) {
    TempDir dir;
    write_file(dir.file("orva.ini"), "SITE_ID," + std::string(200, 'x') + ",\n");
    ASSERT_EQ(SysFileOpen(dir.file("orva.ini").c_str()), 0);
    EXPECT_EQ(std::strlen(SYSINFO.SITE_ID), sizeof SYSINFO.SITE_ID - 1);
}

TEST(SystemConfiguration, WrittenFileReadsBackTheSame) {
    TempDir dir;
    SysFileOpen(dir.file("none.ini").c_str());
    std::snprintf(SYSINFO.SITE_ID, sizeof SYSINFO.SITE_ID, "S2");
    std::snprintf(SYSINFO.TIME_CORRECT, sizeof SYSINFO.TIME_CORRECT, "+09:00");
    SYSINFO.ROWS = 15;
    SYSINFO.ATTACHED_FILE_LIMIT = 2000;
    const struct SYSINFO written = SYSINFO;
    ASSERT_EQ(SysFileWrite(dir.file("orva.ini").c_str()), 0);
    EXPECT_EQ(read_file(dir.file("orva.ini")).rfind(
                  "***** ORVA (Pure CGI System) Configuration file *****,,\nSITE_ID,S2,\n", 0),
              0u);
    ASSERT_EQ(SysFileOpen(dir.file("orva.ini").c_str()), 0);
    EXPECT_EQ(std::memcmp(&written, &SYSINFO, sizeof SYSINFO), 0);
}

TEST(SystemConfiguration, SetByKeyAndDefaults) {
    SYSINFO.ROWS = 3;
    SysFileDefaults();
    EXPECT_EQ(SYSINFO.ROWS, 8);
    EXPECT_EQ(SysInfoSet("ROWS", "14"), 0);
    EXPECT_EQ(SYSINFO.ROWS, 14);
    EXPECT_EQ(SysInfoSet("BACK_GIF", "back.gif"), 0);
    EXPECT_STREQ(SYSINFO.BACK_GIF, "back.gif");
    // What the file could not hold is refused whole, never cut.
    EXPECT_EQ(SysInfoSet("BACK_GIF", std::string(sizeof SYSINFO.BACK_GIF, 'b').c_str()), -2);
    EXPECT_EQ(SysInfoSet("BACK_GIF", "a,b"), -2);
    EXPECT_EQ(SysInfoSet("BACK_GIF", "a\nb"), -2);
    EXPECT_STREQ(SYSINFO.BACK_GIF, "back.gif");
    EXPECT_EQ(SysInfoSet("ROWS", "12x"), -2);
    EXPECT_EQ(SysInfoSet("ROWS", ""), -2);
    EXPECT_EQ(SysInfoSet("rows", "20"), -1);
    EXPECT_EQ(SysInfoSet("NO_SUCH_KEY", "1"), -1);
    EXPECT_EQ(SYSINFO.ROWS, 14);
    char value[40];
    EXPECT_EQ(SysInfoGet("ROWS", value, sizeof value), 0);
    EXPECT_STREQ(value, "14");
    EXPECT_EQ(SysInfoGet("BACK_GIF", value, sizeof value), 0);
    EXPECT_STREQ(value, "back.gif");
    EXPECT_EQ(SysInfoGet("rows", value, sizeof value), -1);
    int keys = 0;
    while (SysInfoKey(keys) != nullptr) ++keys;
    EXPECT_EQ(keys, 20);
    EXPECT_STREQ(SysInfoKey(0), "SITE_ID");
}

class MessageTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        write_file(path,
                   "; comment line\n"
                   "[English] (default)\r\n"
                   "001 <TITLE>en</TITLE>\r\n"
                   "002\tsecond\n"
                   "002 second again\n"
                   "000 zero\n"
                   "abc letters\n"
                   "7\n"
                   "  4 blank first\n"
                   "+05 signed\n"
                   "-06 negative\n"
                   "0099 three digits\n"
                   "010 " + std::string(250, 'm') + "\n"
                   "[Japanese]\n"
                   "001 jp\n"
                   "003 only here\n");
    }
    TempDir dir;
    std::string path = dir.file("wbbs.lng");
};

TEST_F(MessageTableTest, LoadsOneSection) {
    ASSERT_EQ(StrdefFileOpen(path.c_str(), "English"), 0);
    EXPECT_STREQ(STRDEF.Message[1], "<TITLE>en</TITLE>");
    EXPECT_STREQ(STRDEF.Message[2], "second again");
    EXPECT_STREQ(STRDEF.Message[0], "");
    EXPECT_STREQ(STRDEF.Message[3], "");  // the next section is never read
    EXPECT_STREQ(STRDEF.Message[7], "");
    // The number is read as strtol reads the first three bytes.
    EXPECT_STREQ(STRDEF.Message[4], "blank first");
    EXPECT_STREQ(STRDEF.Message[5], "signed");
    EXPECT_STREQ(STRDEF.Message[6], "");
    EXPECT_STREQ(STRDEF.Message[9], " three digits");
    EXPECT_STREQ(STRDEF.Message[99], "");
    EXPECT_EQ(std::string(STRDEF.Message[10]), std::string(201, 'm'));
}

TEST_F(MessageTableTest, ReloadingEmptiesTheTableFirst) {
    ASSERT_EQ(StrdefFileOpen(path.c_str(), "English"), 0);
    ASSERT_EQ(StrdefFileOpen(path.c_str(), "Japanese"), 0);
    EXPECT_STREQ(STRDEF.Message[1], "jp");
    EXPECT_STREQ(STRDEF.Message[2], "");
    EXPECT_STREQ(STRDEF.Message[3], "only here");
    ASSERT_EQ(StrdefFileOpen(path.c_str(), "French"), 0);
    EXPECT_STREQ(STRDEF.Message[1], "");
    EXPECT_EQ(StrdefFileOpen(dir.file("none.lng").c_str(), "English"), -1);
}

// The texts share one area: redefining every message many times over (more
// than the area holds) still leaves each with its last text.
TEST_F(MessageTableTest, EndlessRedefinitionsKeepTheLastText) {
    std::string file = "[English]\n";
    for (int round = 0; round < 3; ++round) {
        for (int n = 1; n < STRDEF_COUNT; ++n) {
            char head[8];
            std::snprintf(head, sizeof head, "%03d ", n);
            file += head + std::string(210, static_cast<char>('a' + round)) + std::to_string(n) + "\n";
        }
    }
    file += "002 short\n";
    write_file(path, file);
    ASSERT_EQ(StrdefFileOpen(path.c_str(), "English"), 0);
    EXPECT_EQ(std::string(STRDEF.Message[1]), std::string(201, 'c'));
    EXPECT_STREQ(STRDEF.Message[2], "short");
    EXPECT_EQ(std::string(STRDEF.Message[999]), std::string(201, 'c'));
    EXPECT_STREQ(STRDEF.Message[-1], "");
    EXPECT_STREQ(STRDEF.Message[STRDEF_COUNT], "");
}

TEST_F(MessageTableTest, ListsSectionNames) {
    char names[100];
    write_file(path, "[English]\n001 a\n[Japanese]\n001 b\n");
    ASSERT_EQ(StrdefLanguageRes(path.c_str(), names, sizeof names), 0);
    EXPECT_STREQ(names, "English,Japanese");
}

}  // namespace
