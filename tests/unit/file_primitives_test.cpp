#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/file_primitives.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

struct Path {
    explicit Path(const std::string& text) { std::snprintf(buffer, sizeof buffer, "%s", text.c_str()); }
    char buffer[1200];
};

TEST(PathConversion, BackslashesBecomeSlashesInTheCallersBuffer) {
    char path[] = "data\\12\\x3\\body.txt";
    yen_to_sura(path);
    EXPECT_STREQ(path, "data/12/x3/body.txt");
    char plain[] = "data/ok.txt";
    yen_to_sura(plain);
    EXPECT_STREQ(plain, "data/ok.txt");
    // 0x95 0x5C is one two-byte character: its second byte is not a separator.
    char kanji[] = "a\\\x95\\b";
    yen_to_sura(kanji);
    EXPECT_STREQ(kanji, "a/\x95\\b");
}

// LineFile must hand out exactly the pieces fgets does, across its buffer's
// edges, for lines longer than the caller's buffer, and at a missing last newline.
TEST(LineFileTest, ReadsWhatFgetsReads) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 700; ++i) text += "line " + std::to_string(i) + (i % 3 == 0 ? "\r\n" : "\n");
    text += std::string(5000, 'x') + "\n\n" + "no newline at the end";
    for (const std::string& content :
         {text, std::string(), std::string(4096, 'y'), std::string("ab\0cd\nef\n", 9)}) {
        const std::string path = dir.file("lines.txt");
        write_file(path, content);
        for (const std::size_t size : {std::size_t{10}, std::size_t{1002}}) {
            FILE* stream = std::fopen(path.c_str(), "r");
            ASSERT_NE(stream, nullptr);
            Path converted(path);
            LineFile file(converted.buffer);
            ASSERT_TRUE(file.is_open());
            std::vector<char> expected(size), got(size);
            for (;;) {
                const bool more = std::fgets(expected.data(), static_cast<int>(size), stream) != nullptr;
                ASSERT_EQ(file.read_line(got.data(), size), more);
                if (!more) break;
                ASSERT_STREQ(got.data(), expected.data());
            }
            std::fclose(stream);
        }
    }
    Path missing(dir.file("missing.txt"));
    EXPECT_FALSE(LineFile(missing.buffer).is_open());
}

TEST(PathConversion, EditpathAddsOneSeparator) {
    char out[64];
    editpath("f.txt", "/d", out, sizeof out);
    EXPECT_STREQ(out, "/d/f.txt");
    editpath("f.txt", "/d/", out, sizeof out);
    EXPECT_STREQ(out, "/d/f.txt");
}

TEST(PatternMatch, OneKindOfWildcard) {
    EXPECT_EQ(check_name("CGI*", "CGI"), 0);
    EXPECT_EQ(check_name("CGI*", "CGI12"), 0);
    EXPECT_EQ(check_name("CGI*", "XCGI"), -1);
    EXPECT_EQ(check_name("*.chk", ".chk"), -1);
    EXPECT_EQ(check_name("*.chk", "bbs.chk"), 0);
    EXPECT_EQ(check_name("*bs*", "bbs.chk"), 0);
    EXPECT_EQ(check_name("*zz*", "bbs.chk"), -1);
    EXPECT_EQ(check_name("a*b", "ab"), -1);
    EXPECT_EQ(check_name("a*b", "axb"), -1);
    EXPECT_EQ(check_name("tree.mst", "tree.mst"), 0);
    EXPECT_EQ(check_name("tree.mst", "tree.ms"), -1);
}

TEST(FileFind, ListsBareNamesJoinedByCommas) {
    TempDir dir;
    write_file(dir.file("CGI0"), "");
    write_file(dir.file("CGI12"), "");
    write_file(dir.file("other"), "");
    Path pattern(dir.path() + "CGI*");
    Cu_filefind(pattern.buffer, sizeof pattern.buffer);
    const std::string found = pattern.buffer;
    EXPECT_TRUE(found == "CGI0,CGI12" || found == "CGI12,CGI0") << found;

    Path none(dir.path() + "zz*");
    Cu_filefind(none.buffer, sizeof none.buffer);
    EXPECT_STREQ(none.buffer, "");

    Path missing(dir.path() + "nodir\\CGI*");
    Cu_filefind(missing.buffer, sizeof missing.buffer);
    EXPECT_STREQ(missing.buffer, "");
}

TEST(FileFind, NamesThatDoNotFitAreLeftOutWhole) {
    TempDir dir;
    for (int i = 0; i < 200; ++i) write_file(dir.file("CGI" + std::to_string(i)), "");
    Path pattern(dir.path() + "CGI*");
    Cu_filefind(pattern.buffer, sizeof pattern.buffer);
    const std::string found = pattern.buffer;
    EXPECT_LT(found.size(), 1000u);
    EXPECT_NE(found.back(), ',');
    for (std::size_t start = 0; start < found.size();) {
        const std::size_t end = std::min(found.find(',', start), found.size());
        EXPECT_EQ(found.compare(start, 3, "CGI"), 0);
        EXPECT_TRUE(exists(dir.file(found.substr(start, end - start))));
        start = end + 1;
    }
    int visited = 0;
    Path all(dir.path() + "CGI*");
    Cu_forEachFile(all.buffer, [&](const char*) { ++visited; });
    EXPECT_EQ(visited, 200);
}

TEST(StaleFiles, RemovedOnlyWhenOlderThanTheGivenMinutes) {
    TempDir dir;
    FakeClock clock;
    write_file(dir.file("lock.chk"), "");
    Path path(dir.file("lock.chk"));
    clock.age(dir.file("lock.chk"), 60);  // exactly the limit: still young
    EXPECT_EQ(Cu_removefile1h(path.buffer, 1), 0);
    EXPECT_TRUE(exists(dir.file("lock.chk")));
    clock.age(dir.file("lock.chk"), 61);
    EXPECT_EQ(Cu_removefile1h(path.buffer, 1), 0);
    EXPECT_FALSE(exists(dir.file("lock.chk")));
    EXPECT_EQ(Cu_removefile1h(path.buffer, 1), -1);
}

TEST(Directories, MakeCopyChmodAndRemoveWithoutAShell) {
    TempDir dir;
    Path made(dir.path() + "x1");
    Cu_mkdir(made.buffer);
    Path nested(dir.path() + "x1\\atfile01");
    Cu_mkdir(nested.buffer);
    ASSERT_TRUE(std::filesystem::is_directory(dir.file("x1/atfile01")));

    // A name holding shell syntax is only a name.
    const std::string odd = dir.file("x1/atfile01/a b;touch $(echo pwned)'\".txt");
    write_file(odd, "content");
    Path dst(dir.file("x1/copy.txt"));
    Path src(odd);
    Cu_cpfile(dst.buffer, src.buffer);
    EXPECT_EQ(read_file(dir.file("x1/copy.txt")), "content");
    EXPECT_FALSE(exists(dir.file("pwned")));

    Path mode_path(dir.file("x1/copy.txt"));
    Cu_chmod(mode_path.buffer, "640");
    struct stat st;
    ASSERT_EQ(stat(dir.file("x1/copy.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    Path length(dir.file("x1/copy.txt"));
    EXPECT_EQ(Cu_get_filelength(length.buffer), 7);
    Path no_file(dir.file("nothing"));
    EXPECT_EQ(Cu_get_filelength(no_file.buffer), 0);

    Path full(dir.path() + "x1");
    Cu_DelDIR(full.buffer);
    EXPECT_FALSE(exists(dir.file("x1")));
    Path gone(dir.path() + "x1");
    EXPECT_EQ(Cu_rmdir(gone.buffer), -1);
}

TEST(Directories, DurableReplacementTakesTheNameOrLeavesBothAlone) {
    TempDir dir;
    write_file(dir.file("a.mst"), "old");
    write_file(dir.file("a.mst.tmp"), "new");
    Path temp(dir.path() + "a.mst.tmp");
    Path target(dir.path() + "a.mst");
    EXPECT_EQ(Cu_replace_durably(temp.buffer, target.buffer), 0);
    EXPECT_EQ(read_file(dir.file("a.mst")), "new");
    EXPECT_FALSE(exists(dir.file("a.mst.tmp")));

    Path missing(dir.path() + "a.mst.tmp");
    Path kept(dir.path() + "a.mst");
    EXPECT_EQ(Cu_replace_durably(missing.buffer, kept.buffer), -1);
    EXPECT_EQ(read_file(dir.file("a.mst")), "new");
}

TEST(Descriptors, OpenCreatesOnlyWhenAskedWith0600) {
    TempDir dir;
    Path path(dir.file("f.bin"));
    EXPECT_EQ(Cu_b_open(path.buffer, 0), -1);
    Path create(dir.file("f.bin"));
    const int fh = Cu_b_open(create.buffer, 1);
    ASSERT_GE(fh, 0);
    EXPECT_EQ(Cu_b_write(fh, "abcdef", 6), 6);
    EXPECT_EQ(Cu_b_lseek(fh, 2, 0), 2);
    char got[4] = {};
    EXPECT_EQ(Cu_b_read(fh, got, 3), 3);
    EXPECT_STREQ(got, "cde");
    EXPECT_EQ(Cu_b_close(fh), 0);
    struct stat st;
    ASSERT_EQ(stat(dir.file("f.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Path again(dir.file("f.bin"));
    EXPECT_EQ(Cu_b_create_new(again.buffer), -1);  // never reuses an existing name
}

}  // namespace

#include "config/sysinfo.h"
#include "store/data_paths.h"

namespace {

TEST(DataPaths, UnsafeNamesNeverReachAPath) {
    for (const char* bad : {"", ".", "..", "../../tmp/x", "a/b", "a\\b", "a\nb", "a\x7f"}) {
        EXPECT_FALSE(is_safe_path_component(bad)) << bad;
    }
    EXPECT_TRUE(is_safe_path_component("taro.yamada"));
    EXPECT_TRUE(is_safe_path_component("..x"));
    EXPECT_TRUE(is_safe_path_component("\x95\\.txt"));    // a kanji whose second byte is 0x5C
    EXPECT_FALSE(is_safe_path_component("name\x95"));      // would swallow the next separator
    EXPECT_FALSE(is_safe_path_component("\x95/"));          // '/' is no second byte of anything
    EXPECT_FALSE(is_safe_path_component("\x95\n"));
    std::snprintf(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, "/d/");
    char path[64] = "junk";
    EXPECT_FALSE(user_file_path(path, sizeof path, "../x", "skey.mst"));
    EXPECT_STREQ(path, "");
    ASSERT_TRUE(user_file_path(path, sizeof path, "u1", "skey.mst"));
    EXPECT_STREQ(path, "/d/user\\u1\\skey.mst");
    char small[12];
    EXPECT_FALSE(user_file_path(small, sizeof small, "u1", "skey.mst"));
    EXPECT_STREQ(small, "");
    ASSERT_TRUE(folder_file_path(path, sizeof path, 12, "bbs1.idx"));
    EXPECT_STREQ(path, "/d/12\\bbs1.idx");
    EXPECT_STREQ(make_path("/d/x", ".tmp").text, "/d/x.tmp");
    // A path with no room for its suffix is no path, never the file's own name.
    const std::string fits(DATA_PATH_SIZE - 5, 'a');
    EXPECT_EQ(std::string(make_path(fits.c_str(), ".tmp").text), fits + ".tmp");
    const std::string longer(DATA_PATH_SIZE - 4, 'a');
    EXPECT_STREQ(make_path(longer.c_str(), ".tmp").text, "");
}

}  // namespace
