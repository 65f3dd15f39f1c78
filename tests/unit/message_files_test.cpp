#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "config/sysinfo.h"
#include "store/line_file_engine.h"
#include "store/message_files.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class MessageFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, data.path().c_str());
        mkdir(data.file("1").c_str(), 0700);
        mkdir(message_dir.c_str(), 0700);
        sADD_FILE = ADD_FILE{};
    }
    int store_slot(int sel_no, int sub_no, const char* name, int mode) {
        sADD_FILE = ADD_FILE{};
        sADD_FILE.SEL_NO = sel_no;
        sADD_FILE.SUB_NO = sub_no;
        copy_field(sADD_FILE.FILE_NAME, name);
        return Fio_ADD_FILE_TXT(1, mode);
    }
    std::string slot_name(int sel_no, int sub_no, int* result = nullptr) {
        sADD_FILE = ADD_FILE{};
        sADD_FILE.SEL_NO = sel_no;
        sADD_FILE.SUB_NO = sub_no;
        copy_field(sADD_FILE.FILE_NAME, "stale");
        const int got = Fio_ADD_FILE_TXT(1, 1);
        if (result != nullptr) *result = got;
        return sADD_FILE.FILE_NAME;
    }

    TempDir data;
    FakeClock clock;
    std::string message_dir = data.file("1/x3");
    std::string body = message_dir + "/body.txt";
    std::string list = message_dir + "/add_file.txt";
    char text[BODY_TEXT_SIZE];
};

TEST_F(MessageFilesTest, PathsKeepUploadNamesInsideTheirSlot) {
    char path[1200];
    ASSERT_TRUE(attachment_file_path(path, sizeof path, 1, 3, 2, "photo.gif"));
    EXPECT_EQ(std::string(path), data.path() + "1\\x3\\atfile02\\photo.gif");
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "x\ny", "tab\t"}) {
        EXPECT_FALSE(attachment_file_path(path, sizeof path, 1, 3, 2, bad)) << bad;
        EXPECT_STREQ(path, "");
        EXPECT_FALSE(folder_picture_path(path, sizeof path, 1, bad)) << bad;
    }
    ASSERT_TRUE(folder_picture_path(path, sizeof path, 7, "back.jpg"));
    EXPECT_EQ(std::string(path), data.path() + "7\\fcg\\back.jpg");
}

TEST_F(MessageFilesTest, BodyRoundTripsAndAShorterTextLeavesNoOldTail) {
    char long_text[] = "a long first version of the body";
    ASSERT_EQ(Fio_BODY_TXT(1, 3, 2, long_text), STORE_OK);
    char short_text[] = "short";
    ASSERT_EQ(Fio_BODY_TXT(1, 3, 2, short_text), STORE_OK);  // insert over an old file
    EXPECT_EQ(read_file(body), "short");
    ASSERT_EQ(Fio_BODY_TXT(1, 3, 1, text), STORE_OK);
    EXPECT_STREQ(text, "short");

    char empty[] = "";
    ASSERT_EQ(Fio_BODY_TXT(1, 3, 4, empty), STORE_OK);
    EXPECT_TRUE(exists(body));
    EXPECT_EQ(read_file(body), "");
    ASSERT_EQ(Fio_BODY_TXT(1, 3, 1, text), STORE_OK);
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(exists(body + ".tmp"));
    EXPECT_FALSE(exists(message_dir + "/body.chk"));

    ASSERT_EQ(Fio_BODY_TXT(1, 3, 3, text), STORE_OK);
    EXPECT_FALSE(exists(body));
}

TEST_F(MessageFilesTest, BodySelectCreatesAMissingFileAndNeverOverrunsTheBuffer) {
    ASSERT_EQ(Fio_BODY_TXT(1, 3, 1, text), STORE_OK);
    EXPECT_TRUE(exists(body));
    EXPECT_STREQ(text, "");

    write_file(body, std::string(BODY_TEXT_SIZE + 500, 'b'));
    std::memset(text, 0, sizeof text);
    ASSERT_EQ(Fio_BODY_TXT(1, 3, 1, text), STORE_OK);
    EXPECT_EQ(std::strlen(text), BODY_TEXT_SIZE - 1);

    char small[8];
    ASSERT_EQ(Fio_BODY_TXT(1, 3, 1, small, sizeof small), STORE_OK);
    EXPECT_STREQ(small, "bbbbbbb");

    // No message directory: nothing can be opened.
    EXPECT_EQ(Fio_BODY_TXT(1, 9, 1, text), STORE_CANNOT_OPEN);
    EXPECT_EQ(Fio_BODY_TXT(1, 9, 4, small), STORE_CANNOT_OPEN);
}

TEST_F(MessageFilesTest, BodyRefusesWhileItsLockIsHeld) {
    write_file(body, "kept");
    write_file(message_dir + "/body.chk", "");
    EXPECT_EQ(Fio_BODY_TXT(1, 3, 1, text), STORE_LOCK_BUSY);
    char other[] = "new";
    EXPECT_EQ(Fio_BODY_TXT(1, 3, 4, other), STORE_LOCK_BUSY);
    EXPECT_EQ(read_file(body), "kept");
}

TEST_F(MessageFilesTest, AttachmentListIsKeyedBySelNoAndSlot) {
    ASSERT_EQ(store_slot(3, 1, "a.txt", 2), STORE_OK);
    ASSERT_EQ(store_slot(3, 2, "b.txt", 2), STORE_OK);
    EXPECT_EQ(store_slot(3, 1, "again.txt", 2), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(store_slot(3, 3, "c.txt", 4), STORE_NOT_FOUND);  // the caller then inserts
    ASSERT_EQ(store_slot(3, 1, "new a.txt", 4), STORE_OK);
    EXPECT_EQ(read_file(list), "3,1,new a.txt,\n3,2,b.txt,\n");

    int result = 0;
    EXPECT_EQ(slot_name(3, 2, &result), "b.txt");
    EXPECT_EQ(result, STORE_OK);
    EXPECT_EQ(slot_name(3, 5, &result), "");
    EXPECT_EQ(result, STORE_NOT_FOUND);

    ASSERT_EQ(store_slot(3, 1, "", 3), STORE_OK);
    EXPECT_EQ(store_slot(3, 1, "", 3), STORE_NOT_FOUND);
    EXPECT_EQ(read_file(list), "3,2,b.txt,\n");

    // Update, else insert, in one rewrite.
    copy_field(sADD_FILE.FILE_NAME, "c.txt");
    sADD_FILE.SUB_NO = 3;
    ASSERT_EQ(store_add_file(1), STORE_OK);
    copy_field(sADD_FILE.FILE_NAME, "new b.txt");
    sADD_FILE.SUB_NO = 2;
    ASSERT_EQ(store_add_file(1), STORE_OK);
    EXPECT_EQ(read_file(list), "3,2,new b.txt,\n3,3,c.txt,\n");
}

TEST_F(MessageFilesTest, AttachmentListLinesKeepTheirShape) {
    // A name whose field lacks its comma is passed over by a select and
    // dropped by the next write.
    write_file(list, "3,1,torn.txt\n3,1,whole.txt,\n");
    EXPECT_EQ(slot_name(3, 1), "whole.txt");

    // A comma in a name cannot add a field.
    ASSERT_EQ(store_slot(3, 2, "x,y.txt", 2), STORE_OK);
    EXPECT_EQ(read_file(list), "3,1,whole.txt,\n3,2,x y.txt,\n");

    // Nor can a line break add a line, and a name that could climb out of its
    // slot is never stored.
    const std::string before = read_file(list);
    EXPECT_EQ(store_slot(3, 3, "x\r\n3,9,forged.txt", 2), STORE_CANNOT_OPEN);
    EXPECT_EQ(store_slot(3, 4, "../../user.mst", 2), STORE_CANNOT_OPEN);
    EXPECT_EQ(store_slot(3, 1, "..", 4), STORE_CANNOT_OPEN);
    EXPECT_EQ(read_file(list), before);
}

TEST_F(MessageFilesTest, AnOverlongLineIsNeverSplitNorGluedToItsNeighbour) {
    const std::string huge = "3,1," + std::string(LINE_SIZE_LARGE + 200, 'n') + ",\n";
    write_file(list, huge + "3,2,b.txt,\n");
    EXPECT_EQ(slot_name(3, 1), "");
    EXPECT_EQ(slot_name(3, 2), "b.txt");
    ASSERT_EQ(store_slot(3, 3, "c.txt", 2), STORE_OK);
    // The line engine decides whether a writer keeps such a line; either way it
    // stays whole or goes whole.
    const std::string after = read_file(list);
    EXPECT_TRUE(after == "3,2,b.txt,\n3,3,c.txt,\n" || after == huge + "3,2,b.txt,\n3,3,c.txt,\n")
        << after.substr(0, 80);
    EXPECT_EQ(slot_name(3, 1), "");
}

TEST_F(MessageFilesTest, FileMoveLeavesNoSourceAndAnOpenDestination) {
    const std::string upload = data.file("upload.tmp");
    const std::string bytes = std::string("\0\x01\xff", 3) + std::string(2500, 'z');
    write_file(upload, bytes);
    mkdir((message_dir + "/atfile01").c_str(), 0700);
    const std::string target = message_dir + "/atfile01/photo.gif";
    write_file(target, "an older, longer file that must go entirely");

    ASSERT_EQ(Fio_filemove(upload.c_str(), target.c_str()), 0);
    EXPECT_FALSE(exists(upload));
    EXPECT_EQ(read_file(target), bytes);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777u);
}

// An upload on another file system (here one in /dev/shm) is copied instead.
TEST_F(MessageFilesTest, FileMoveAcrossFileSystemsCopies) {
    struct stat shm;
    struct stat here;
    if (stat("/dev/shm", &shm) != 0 || stat(message_dir.c_str(), &here) != 0 || shm.st_dev == here.st_dev) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    const std::string upload = "/dev/shm/wbbs-move-" + std::to_string(getpid());
    const std::string bytes = std::string(2500, 'q') + std::string("\0end", 4);
    write_file(upload, bytes);
    const std::string target = message_dir + "/moved.bin";
    ASSERT_EQ(Fio_filemove(upload.c_str(), target.c_str()), 0);
    EXPECT_FALSE(exists(upload));
    EXPECT_EQ(read_file(target), bytes);
}

TEST_F(MessageFilesTest, FileMoveOfAMissingUploadCreatesNothing) {
    const std::string upload = data.file("gone.tmp");
    const std::string target = message_dir + "/photo.gif";
    EXPECT_EQ(Fio_filemove(upload.c_str(), target.c_str()), -1);
    EXPECT_FALSE(exists(upload));
    EXPECT_FALSE(exists(target));

    write_file(upload, "data");
    EXPECT_EQ(Fio_filemove(upload.c_str(), data.file("no/such/dir/f").c_str()), -1);
    EXPECT_EQ(read_file(upload), "data");  // the upload stays for a retry or the sweep
}

}  // namespace
