#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/folder_tree.h"
#include "store/line_file_engine.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class FolderTreeTest : public ::testing::Test {
protected:
    FolderTreeTest() { copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str()); }

    static TREE_DATA folder(int32_t depth, int32_t no, const char* name) {
        TREE_DATA record{};
        record.CLASS = depth;
        record.FOLDER_NO = no;
        copy_field(record.NAME, name);
        record.MODE = 3;
        copy_field(record.CGI_NAME, "wbbs.cgi?x=1");
        record.ACCESS_LEVEL = 5;
        record.WRITE_LEVEL = 20;
        copy_field(record.PIC_FILENAME, "icon.gif");
        record.TARGET = 1;
        record.UPW = 2;
        record.SKEY = 3;
        record.ICON_MODE = 4;
        return record;
    }

    std::vector<int32_t> walk() {
        std::vector<int32_t> numbers;
        for (long position = 1; Fio_TREE_DATA(position, 1, 2) == STORE_OK; ++position) {
            numbers.push_back(sTREE_DATA.FOLDER_NO);
        }
        return numbers;
    }

    TempDir dir;
    FakeClock clock;
    std::string tree = dir.file("tree.mst");
};

TEST_F(FolderTreeTest, SelectReadsIndentationAsClassAndAcceptsShortLines) {
    write_file(tree,
               "0,Top,3,wbbs.cgi,1,2,top.gif,7,8,9,1,\n"
               "  12,Sub,3,wbbs.cgi?a=b,4,5,,\n"
               "    13,Deep,1,x.cgi,1,1,p.gif,6,\n");
    ASSERT_EQ(Fio_TREE_DATA(12, 1, 1), STORE_OK);
    EXPECT_EQ(sTREE_DATA.CLASS, 2);
    EXPECT_EQ(sTREE_DATA.FOLDER_NO, 12);
    EXPECT_STREQ(sTREE_DATA.NAME, "Sub");
    EXPECT_STREQ(sTREE_DATA.CGI_NAME, "wbbs.cgi?a=b");
    EXPECT_EQ(sTREE_DATA.ACCESS_LEVEL, 4);
    EXPECT_EQ(sTREE_DATA.WRITE_LEVEL, 5);
    EXPECT_STREQ(sTREE_DATA.PIC_FILENAME, "");
    EXPECT_EQ(sTREE_DATA.TARGET, 0);
    EXPECT_EQ(sTREE_DATA.UPW, 0);
    EXPECT_EQ(sTREE_DATA.SKEY, 0);
    EXPECT_EQ(sTREE_DATA.ICON_MODE, 0);

    ASSERT_EQ(Fio_TREE_DATA(13, 1, 1), STORE_OK);
    EXPECT_EQ(sTREE_DATA.CLASS, 4);
    EXPECT_EQ(sTREE_DATA.TARGET, 6);
    EXPECT_EQ(sTREE_DATA.UPW, 0);

    ASSERT_EQ(Fio_TREE_DATA(0, 1, 1), STORE_OK);
    EXPECT_EQ(sTREE_DATA.CLASS, 0);
    EXPECT_EQ(sTREE_DATA.ICON_MODE, 1);
}

TEST_F(FolderTreeTest, AMissSelectsNothingAndLeavesTheRecord) {
    write_file(tree, "1,A,3,c,1,1,p,\n2,B,3,c,1,1\n");  // the second lacks PIC_FILENAME's comma
    sTREE_DATA = folder(0, 99, "kept");
    EXPECT_EQ(Fio_TREE_DATA(2, 1, 1), STORE_NOT_FOUND);
    EXPECT_EQ(Fio_TREE_DATA(5, 1, 1), STORE_NOT_FOUND);
    EXPECT_EQ(sTREE_DATA.FOLDER_NO, 99);
    EXPECT_STREQ(sTREE_DATA.NAME, "kept");
}

TEST_F(FolderTreeTest, WalkingPositionsVisitsEveryParsedLineOnceInOrder) {
    write_file(tree, "3,A,3,c,1,1,p,\nbroken\n 1,B,3,c,1,1,p,\n  2,C,3,c,1,1,p,0,0,0,0,\n");
    EXPECT_EQ(walk(), (std::vector<int32_t>{3, 1, 2}));
    EXPECT_EQ(Fio_TREE_DATA(4, 1, 2), STORE_NOT_FOUND);
    EXPECT_EQ(Fio_TREE_DATA(0, 1, 2), STORE_NOT_FOUND);
}

TEST_F(FolderTreeTest, SelectOnAMissingTreeCreatesItEmpty) {
    EXPECT_EQ(Fio_TREE_DATA(1, 1, 1), STORE_NOT_FOUND);
    EXPECT_TRUE(exists(tree));
    EXPECT_EQ(read_file(tree), "");
}

TEST_F(FolderTreeTest, UpdateRewritesOnlyTheFirstMatchAndCopiesTheRestAsRead) {
    const std::string before = "0,Top,3,c,1,1,p,0,0,0,0,\r\n";
    const std::string older = "  7,Old,3,c,1,1,\n";  // short: kept by writers, skipped by selects
    const std::string twin = "  7,Twin,3,c,1,1,p,\n";
    write_file(tree, before + "  7,Sub,3,c,1,1,p,\n" + older + twin + "no comma here\n");
    ASSERT_EQ(Fio_TREE_DATA(7, 1, 1), STORE_OK);
    copy_field(sTREE_DATA.NAME, "New, name\r\nhere");
    copy_field(sTREE_DATA.PIC_FILENAME, "new.gif");
    ASSERT_EQ(Fio_TREE_DATA(7, 4, 1), STORE_OK);
    EXPECT_EQ(read_file(tree), before + "  7,New  name  here,3,c,1,1,new.gif,0,0,0,0,\n" + older + twin);
    EXPECT_FALSE(exists(tree + ".tmp"));
    EXPECT_FALSE(exists(dir.file("tree_mst.chk")));

    ASSERT_EQ(Fio_TREE_DATA(7, 1, 1), STORE_OK);
    EXPECT_EQ(sTREE_DATA.CLASS, 2);
    EXPECT_STREQ(sTREE_DATA.NAME, "New  name  here");
}

TEST_F(FolderTreeTest, WrittenFieldsRoundTrip) {
    sTREE_DATA = folder(3, 40, "Board");
    ASSERT_EQ(Fio_TREE_DATA(40, 2, 1), STORE_OK);
    EXPECT_EQ(read_file(tree), "   40,Board,3,wbbs.cgi?x=1,5,20,icon.gif,1,2,3,4,\n");
    const TREE_DATA written = sTREE_DATA;
    sTREE_DATA = TREE_DATA{};
    ASSERT_EQ(Fio_TREE_DATA(40, 1, 1), STORE_OK);
    EXPECT_EQ(std::memcmp(&sTREE_DATA, &written, sizeof written), 0);
}

TEST_F(FolderTreeTest, FailedWritesLeaveTheFileUnchanged) {
    const std::string content = "1,A,3,c,1,1,p,\n 2,B,3,c,1,1,p,\n";
    write_file(tree, content);
    sTREE_DATA = folder(0, 9, "X");
    EXPECT_EQ(Fio_TREE_DATA(9, 4, 1), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(Fio_TREE_DATA(9, 3, 1), STORE_NOTHING_TO_CHANGE);
    sTREE_DATA = folder(0, 2, "Again");
    EXPECT_EQ(Fio_TREE_DATA(2, 2, 1), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(Fio_TREE_DATA(3, 4, 2), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(Fio_TREE_DATA(1, 9, 1), STORE_NOT_FOUND);
    EXPECT_EQ(Fio_TREE_DATA(1, 1, 3), STORE_NOT_FOUND);
    EXPECT_EQ(read_file(tree), content);
    EXPECT_FALSE(exists(tree + ".tmp"));
}

TEST_F(FolderTreeTest, InsertByPositionGoesBeforeThatLineOrAtTheEnd) {
    write_file(tree, "1,A,3,c,1,1,p,\n2,B,3,c,1,1,p,");  // last line cut short of its line feed
    sTREE_DATA = folder(1, 5, "E");
    ASSERT_EQ(Fio_TREE_DATA(2, 2, 2), STORE_OK);
    EXPECT_EQ(walk(), (std::vector<int32_t>{1, 5, 2}));
    sTREE_DATA = folder(0, 6, "F");
    ASSERT_EQ(Fio_TREE_DATA(10, 2, 2), STORE_OK);
    EXPECT_EQ(walk(), (std::vector<int32_t>{1, 5, 2, 6}));
    sTREE_DATA = folder(0, 8, "G");
    ASSERT_EQ(Fio_TREE_DATA(8, 2, 1), STORE_OK);  // by key: at the end
    EXPECT_EQ(walk(), (std::vector<int32_t>{1, 5, 2, 6, 8}));
}

TEST_F(FolderTreeTest, DeleteLeavesOutTheFirstMatchOnly) {
    write_file(tree, "1,A,3,c,1,1,p,\n 2,B,3,c,1,1,p,\n 2,Twin,3,c,1,1,p,\n3,C,3,c,1,1,p,\n");
    ASSERT_EQ(Fio_TREE_DATA(2, 3, 1), STORE_OK);
    EXPECT_EQ(read_file(tree), "1,A,3,c,1,1,p,\n 2,Twin,3,c,1,1,p,\n3,C,3,c,1,1,p,\n");
    ASSERT_EQ(Fio_TREE_DATA(3, 3, 2), STORE_OK);  // by position
    EXPECT_EQ(read_file(tree), "1,A,3,c,1,1,p,\n 2,Twin,3,c,1,1,p,\n");
}

TEST_F(FolderTreeTest, AHeldLockRefusesEveryMode) {
    write_file(tree, "1,A,3,c,1,1,p,\n");
    write_file(dir.file("tree_mst.chk"), "");
    clock.age(dir.file("tree_mst.chk"), 5);
    EXPECT_EQ(Fio_TREE_DATA(1, 1, 1), STORE_LOCK_BUSY);
    sTREE_DATA = folder(0, 1, "Z");
    EXPECT_EQ(Fio_TREE_DATA(1, 4, 1), STORE_LOCK_BUSY);
    EXPECT_EQ(read_file(tree), "1,A,3,c,1,1,p,\n");
    EXPECT_TRUE(exists(dir.file("tree_mst.chk")));  // someone else's lock stays
}

}  // namespace
