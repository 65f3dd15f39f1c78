#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "config/sysinfo.h"
#include "store/folder_files.h"
#include "store/line_file_engine.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class FolderFilesTest : public ::testing::Test {
protected:
    FolderFilesTest() {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        mkdir(dir.file("4").c_str(), 0700);
    }

    int store_setting(const char* key, const char* value) {
        char buffer[100];
        copy_field(buffer, value);
        return Fio_DIR_CONFIG(4, 4, key, buffer) == STORE_OK ? STORE_OK : Fio_DIR_CONFIG(4, 2, key, buffer);
    }

    TempDir dir;
    FakeClock clock;
    std::string config = dir.file("4/dir.cnf");
    std::string info = dir.file("4/info.txt");
};

TEST_F(FolderFilesTest, SettingsAreFoundByExactKey) {
    write_file(config, "ATTACH_MAX,3,\nLINK_TARGET,_blank,\nHALF,value\nSHARE_USER_PERMIT,1,\n");
    char value[100] = "junk";
    ASSERT_EQ(Fio_DIR_CONFIG(4, 1, "LINK_TARGET", value), STORE_OK);
    EXPECT_STREQ(value, "_blank");
    EXPECT_EQ(Fio_DIR_CONFIG(4, 1, "link_target", value), STORE_NOT_FOUND);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(Fio_DIR_CONFIG(4, 1, "HALF", value), STORE_NOT_FOUND);  // no second comma
    ASSERT_EQ(Fio_DIR_CONFIG(4, 1, "SHARE_USER_PERMIT", value), STORE_OK);
    EXPECT_STREQ(value, "1");
}

TEST_F(FolderFilesTest, UpdateOfAMissingKeyChangesNothingAndInsertAppends) {
    const std::string content = "ATTACH_MAX,3,\nHALF,value\n";
    write_file(config, content);
    char value[100] = "5";
    EXPECT_EQ(Fio_DIR_CONFIG(4, 4, "CONFIRM", value), STORE_NOT_FOUND);
    EXPECT_EQ(Fio_DIR_CONFIG(4, 3, "CONFIRM", value), STORE_NOT_FOUND);
    EXPECT_EQ(read_file(config), content);
    ASSERT_EQ(Fio_DIR_CONFIG(4, 2, "CONFIRM", value), STORE_OK);
    // The line without its second comma goes at this first rewrite.
    EXPECT_EQ(read_file(config), "ATTACH_MAX,3,\nCONFIRM,5,\n");
    EXPECT_EQ(Fio_DIR_CONFIG(4, 2, "CONFIRM", value), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(read_file(config), "ATTACH_MAX,3,\nCONFIRM,5,\n");
}

TEST_F(FolderFilesTest, UpdateAndDeleteTouchEveryLineOfTheKey) {
    write_file(config, "A,1,\nB,2,\nA,3,\n");
    char value[100] = "9";
    ASSERT_EQ(Fio_DIR_CONFIG(4, 4, "A", value), STORE_OK);
    EXPECT_EQ(read_file(config), "A,9,\nB,2,\nA,9,\n");
    ASSERT_EQ(Fio_DIR_CONFIG(4, 3, "A", value), STORE_OK);
    EXPECT_EQ(read_file(config), "B,2,\n");
}

TEST_F(FolderFilesTest, StoredValuesKeepTheLineShape) {
    ASSERT_EQ(store_setting("RES_HEADER", "Re:, again\r\nand"), STORE_OK);
    ASSERT_EQ(store_setting("LINK_TARGET", "top"), STORE_OK);
    ASSERT_EQ(store_setting("RES_HEADER", "Re,"), STORE_OK);
    EXPECT_EQ(read_file(config), "RES_HEADER,Re ,\nLINK_TARGET,top,\n");
    char value[100];
    ASSERT_EQ(Fio_DIR_CONFIG(4, 1, "RES_HEADER", value), STORE_OK);
    EXPECT_STREQ(value, "Re ");
}

TEST_F(FolderFilesTest, ALongValueIsCutToTheCallersBufferWithoutSplittingACharacter) {
    // "ab" then two-byte characters: a cut at 6 bytes would split the third one.
    write_file(config, "K,ab\x82\xa0\x82\xa1\x82\xa2,\n");
    char small[6];
    ASSERT_EQ(Fio_DIR_CONFIG(4, 1, "K", small), STORE_OK);
    EXPECT_STREQ(small, "ab\x82\xa0");
    char value[10];
    ASSERT_EQ(Fio_DIR_CONFIG(4, 1, "K", value, 5), STORE_OK);
    EXPECT_STREQ(value, "ab\x82\xa0");
}

TEST_F(FolderFilesTest, ConfigurationRefusesWhileLockedAndWithoutItsDirectory) {
    write_file(dir.file("4/dir_cnf.chk"), "");
    clock.age(dir.file("4/dir_cnf.chk"), 10);
    char value[100] = "1";
    EXPECT_EQ(Fio_DIR_CONFIG(4, 1, "A", value), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_DIR_CONFIG(4, 2, "A", value), STORE_LOCK_BUSY);
    EXPECT_FALSE(exists(config));
    EXPECT_EQ(Fio_DIR_CONFIG(5, 1, "A", value), STORE_CANNOT_OPEN);  // no folder directory 5
}

TEST_F(FolderFilesTest, TextsAreReadWholeAndReplacedWhole) {
    char text[FOLDER_TEXT_SIZE] = "junk";
    ASSERT_EQ(Fio_INFO_TXT(4, 1, text), STORE_OK);  // missing: created empty
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(exists(info));

    copy_field(text, "line one\r\nline, two\n");
    ASSERT_EQ(Fio_INFO_TXT(4, 4, text), STORE_OK);
    EXPECT_EQ(read_file(info), "line one\r\nline, two\n");
    text[0] = '\0';
    ASSERT_EQ(Fio_INFO_TXT(4, 1, text), STORE_OK);
    EXPECT_STREQ(text, "line one\r\nline, two\n");

    // An insert over a longer text leaves nothing of the old one behind.
    copy_field(text, "short");
    ASSERT_EQ(Fio_INFO_TXT(4, 2, text), STORE_OK);
    EXPECT_EQ(read_file(info), "short");

    text[0] = '\0';
    ASSERT_EQ(Fio_INFO_TXT(4, 4, text), STORE_OK);
    EXPECT_EQ(read_file(info), "");
    ASSERT_EQ(Fio_INFO_TXT(4, 1, text), STORE_OK);
    EXPECT_STREQ(text, "");

    ASSERT_EQ(Fio_INFO_TXT(4, 3, text), STORE_OK);
    EXPECT_FALSE(exists(info));
    EXPECT_FALSE(exists(dir.file("4/info.chk")));
}

TEST_F(FolderFilesTest, ALongTextIsCutToTheField) {
    std::string long_text;
    for (int i = 0; long_text.size() < 5000; ++i) long_text += "line " + std::to_string(i) + "\n";
    write_file(dir.file("4/defo.txt"), long_text);
    char text[FOLDER_TEXT_SIZE];
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(Fio_DEFO_TXT(4, 1, text), STORE_OK);
    EXPECT_EQ(std::strlen(text), FOLDER_TEXT_SIZE - 1);
    EXPECT_EQ(std::string(text), long_text.substr(0, FOLDER_TEXT_SIZE - 1));

    // A text is no list of lines: a paragraph longer than any line buffer is
    // read like the rest, and cut only by the field.
    const std::string paragraph = std::string(1500, 'p') + "\nend";
    write_file(dir.file("4/defo.txt"), paragraph);
    ASSERT_EQ(Fio_DEFO_TXT(4, 1, text), STORE_OK);
    EXPECT_EQ(std::string(text), paragraph);
    write_file(dir.file("4/defo.txt"), std::string(6000, 'q'));
    ASSERT_EQ(Fio_DEFO_TXT(4, 1, text), STORE_OK);
    EXPECT_EQ(std::string(text), std::string(FOLDER_TEXT_SIZE - 1, 'q'));

    write_file(dir.file("4/defo.txt"), "a\x82\xa0\x82\xa1");
    char small[5];
    ASSERT_EQ(Fio_DEFO_TXT(4, 1, small, sizeof small), STORE_OK);
    EXPECT_STREQ(small, "a\x82\xa0");
}

TEST_F(FolderFilesTest, TextsRefuseWhileLocked) {
    write_file(info, "kept");
    write_file(dir.file("4/info.chk"), "");
    clock.age(dir.file("4/info.chk"), 10);
    char text[FOLDER_TEXT_SIZE] = "new";
    EXPECT_EQ(Fio_INFO_TXT(4, 4, text), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_INFO_TXT(4, 3, text), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_INFO_TXT(4, 1, text), STORE_LOCK_BUSY);
    EXPECT_EQ(read_file(info), "kept");
    EXPECT_EQ(Fio_DEFO_TXT(4, 4, text), STORE_OK);  // its own lock
}

}  // namespace

TEST_F(FolderFilesTest, TheFolderDirectoryIsMadeAndRemovedWithAllItHolds) {
    EXPECT_EQ(make_folder_directory(7), STORE_OK);
    EXPECT_EQ(make_folder_directory(7), STORE_OK);  // already there
    mkdir(dir.file("7/x1").c_str(), 0700);
    write_file(dir.file("7/x1/body.txt"), "hello");
    write_file(dir.file("7/dir.cnf"), "ATTACH_MAX,1,\n");
    EXPECT_EQ(remove_folder_directory(7), STORE_OK);
    EXPECT_FALSE(exists(dir.file("7")));
    EXPECT_TRUE(exists(dir.file("4")));
    EXPECT_EQ(remove_folder_directory(7), STORE_OK);
}

TEST_F(FolderFilesTest, SettingsAreCheckedAgainstWhatTheBoardReads) {
    EXPECT_EQ(DIR_CONFIG_check("ATTACH_MAX", "3"), 0);
    EXPECT_EQ(DIR_CONFIG_check("SHARE_USER_PERMIT", "-1"), 0);
    EXPECT_EQ(DIR_CONFIG_check("ATTACH_MAX", "three"), -2);
    EXPECT_EQ(DIR_CONFIG_check("ATTACH_MAX", ""), -2);
    EXPECT_EQ(DIR_CONFIG_check("ATTACH_MAX", "99999999999"), -2);
    EXPECT_EQ(DIR_CONFIG_check("FONTCOLOR1", "1F4E79"), 0);
    EXPECT_EQ(DIR_CONFIG_check("FONTCOLOR1", "#1F4E79FF"), -2);  // longer than its field
    EXPECT_EQ(DIR_CONFIG_check("RES_HEADER", "Re,"), -2);
    EXPECT_EQ(DIR_CONFIG_check("LINK_TARGET", "_blank\n"), -2);
    EXPECT_EQ(DIR_CONFIG_check("LINK_TARGET", "_blank"), 0);
    EXPECT_EQ(DIR_CONFIG_check("attach_max", "1"), -1);
    EXPECT_EQ(DIR_CONFIG_check("COLOUR", "1"), -1);
}
