#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "store/downloads.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

class DownloadsTest : public ::testing::Test {
protected:
    void SetUp() override { write_file(map, "txt,text/plain,\ngif,image/gif,\n"); }
    std::string mime(const std::string& file, int* result) {
        return capture_stdout([&] { *result = Fio_MimeDownload(file.c_str(), map.c_str()); });
    }

    TempDir dir;
    std::string map = dir.file("mimemap.txt");
    int result = 0;
};

TEST_F(DownloadsTest, MimeTypeComesFromTheLastDotOfTheBareName) {
    const std::string file = dir.file("a.txt.gif");
    const std::string bytes = std::string("GIF89a\0\r\n", 9) + std::string(1500, 'p');
    write_file(file, bytes);
    EXPECT_EQ(mime(file, &result), "Content-type: image/gif\n\n" + bytes);
    EXPECT_EQ(result, 0);
}

TEST_F(DownloadsTest, MimeLookupFailuresPrintNothingSoTheCallerCanFallBack) {
    for (const char* name : {"x.GIF", ".gif", "noext", "trailing.", "x.png"}) {
        const std::string file = dir.file(name);
        write_file(file, "data");
        EXPECT_EQ(mime(file, &result), "") << name;
        EXPECT_EQ(result, -2) << name;
    }
    // A dot in a directory name is not the file's extension.
    mkdir(dir.file("v1.gif").c_str(), 0700);
    write_file(dir.file("v1.gif/README"), "data");
    EXPECT_EQ(mime(dir.file("v1.gif/README"), &result), "");
    EXPECT_EQ(result, -2);

    EXPECT_EQ(mime("", &result), "");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(mime(dir.file("missing.gif"), &result), "");
    EXPECT_EQ(result, -1);

    write_file(dir.file("a.gif"), "data");
    EXPECT_EQ(capture_stdout([&] {
                  result = Fio_MimeDownload(dir.file("a.gif").c_str(), dir.file("none.txt").c_str());
              }),
              "");
    EXPECT_EQ(result, -2);
}

TEST_F(DownloadsTest, MimeMapLinesWithoutTheSecondCommaArePassedOver) {
    write_file(map, "gif,\ngif,,\npng,image/png,\n");
    write_file(dir.file("a.gif"), "g");
    write_file(dir.file("a.png"), "p");
    // "gif," is passed over; "gif,," is the first whole line and its type is empty.
    EXPECT_EQ(mime(dir.file("a.gif"), &result), "");
    EXPECT_EQ(result, -2);
    write_file(map, "png\ngif,\ngif,image/gif,\n");
    EXPECT_EQ(mime(dir.file("a.gif"), &result), "Content-type: image/gif\n\ng");
}

TEST_F(DownloadsTest, MimeTypeCannotBreakTheHeader) {
    write_file(dir.file("a.gif"), "g");
    write_file(map, "gif,image/gif\rX: 1,\n");
    EXPECT_EQ(mime(dir.file("a.gif"), &result), "Content-type: image/gifX: 1\n\ng");
}

TEST_F(DownloadsTest, PlainDownloadNamesTheBareFile) {
    const std::string head =
        "Content-Type: application/bin-stream\n"
        "Content-Disposition: attachment; filename=report.bin\n\n";
    mkdir(dir.file("sub").c_str(), 0700);
    write_file(dir.file("sub/report.bin"), std::string("\x00\x01", 2));
    // A data path with either kind of separator.
    std::string out = capture_stdout([&] { result = Fio_file_DL((dir.path() + "sub\\report.bin").c_str()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, head + std::string("\x00\x01", 2));

    // A missing file: the two header lines only.
    out = capture_stdout([&] { result = Fio_file_DL(dir.file("gone/report.bin").c_str()); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, head);
}

TEST_F(DownloadsTest, PlainDownloadKeepsControlCharactersOutOfTheHeader) {
    const std::string name = "evil\r\nSet-Cookie: s=1\x01\t.txt";
    write_file(dir.file(name), "x");
    const std::string out = capture_stdout([&] { result = Fio_file_DL(dir.file(name).c_str()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out,
              "Content-Type: application/bin-stream\n"
              "Content-Disposition: attachment; filename=evilSet-Cookie: s=1.txt\n\nx");
}

}  // namespace
