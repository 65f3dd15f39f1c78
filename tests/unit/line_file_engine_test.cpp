#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "store/line_file_engine.h"
#include "store/lock.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

class LineFileEngineTest : public ::testing::Test {
protected:
    std::vector<std::string> select_all() {
        std::vector<std::string> lines;
        result = scan_lines(lock.c_str(), data.c_str(), LINE_SIZE_SMALL, [&](const char* line) {
            lines.emplace_back(line);
            return true;
        });
        return lines;
    }
    // Replaces the line that starts with key, or appends one when none does.
    int store(const std::string& key, const std::string& value) {
        bool matched = false;
        return rewrite_lines(
            lock.c_str(), data.c_str(), LINE_SIZE_SMALL,
            [&](const char* line, LineOutput& out) {
                char field[32];
                LineFields fields(line);
                if (!fields.text(field)) return LineVerdict::drop;  // malformed lines vanish
                if (key != field) return LineVerdict::keep;
                matched = true;
                out.write(LineBuilder().text(key.c_str()).text(value.c_str()).line());
                return LineVerdict::drop;
            },
            [&](LineOutput& out) {
                if (!matched) out.write(LineBuilder().text(key.c_str()).text(value.c_str()).line());
                return STORE_OK;
            });
    }

    TempDir dir;
    FakeClock clock;
    std::string lock = dir.path() + "tree_mst.chk";
    std::string data = dir.path() + "tree.mst";
    int result = 0;
};

TEST_F(LineFileEngineTest, SelectOnAMissingFileCreatesItEmpty) {
    EXPECT_TRUE(select_all().empty());
    EXPECT_EQ(result, STORE_OK);
    EXPECT_TRUE(exists(data));
    EXPECT_FALSE(exists(lock));  // a select never takes the lock
}

TEST_F(LineFileEngineTest, RewriteKeepsOtherLinesAsReadAndDropsMalformedOnes) {
    write_file(data, "a,1,\nnocomma\nb,2,extra,\n\n");
    ASSERT_EQ(store("a", "9"), STORE_OK);
    EXPECT_EQ(read_file(data), "a,9,\nb,2,extra,\n");
    ASSERT_EQ(store("c", "3"), STORE_OK);
    EXPECT_EQ(read_file(data), "a,9,\nb,2,extra,\nc,3,\n");
    EXPECT_FALSE(exists(data + ".tmp"));
    EXPECT_FALSE(exists(lock));
}

TEST_F(LineFileEngineTest, AnAppendAfterALastLineWithoutLineFeedStartsItsOwnLine) {
    write_file(data, "a,1,");
    ASSERT_EQ(store("b", "2"), STORE_OK);
    EXPECT_EQ(read_file(data), "a,1,\nb,2,\n");
}

TEST_F(LineFileEngineTest, OverlongLinesAreNeitherReadInPiecesNorSplit) {
    const std::string overlong = "x," + std::string(LINE_SIZE_SMALL, 'y') + ",\n";
    write_file(data, "a,1,\n" + overlong + "b,2,\n");
    const auto lines = select_all();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "b,2,\n");
    ASSERT_EQ(store("c", "3"), STORE_OK);
    EXPECT_EQ(read_file(data), "a,1,\n" + overlong + "b,2,\nc,3,\n");
    // The longest line that fits is a record like any other.
    const std::string longest = "d," + std::string(LINE_SIZE_SMALL - 5, 'z') + ",\n";
    ASSERT_EQ(longest.size(), LINE_SIZE_SMALL - 1);
    write_file(data, longest);
    EXPECT_EQ(select_all().size(), 1u);
}

TEST_F(LineFileEngineTest, AppendAddsAtTheEndWithoutRewriting) {
    ASSERT_EQ(append_line(lock.c_str(), data.c_str(), "a,1,\n"), STORE_OK);  // creates the file
    EXPECT_EQ(read_file(data), "a,1,\n");
    write_file(data, "a,1,\nb,2,");  // a last line without its line feed
    ASSERT_EQ(append_line(lock.c_str(), data.c_str(), "c,3,\n"), STORE_OK);
    EXPECT_EQ(read_file(data), "a,1,\nb,2,\nc,3,\n");
    EXPECT_FALSE(exists(lock));
    write_file(lock, "");
    EXPECT_EQ(append_line(lock.c_str(), data.c_str(), "d,4,\n"), STORE_LOCK_BUSY);
    EXPECT_EQ(read_file(data), "a,1,\nb,2,\nc,3,\n");
}

TEST_F(LineFileEngineTest, AFailedResultLeavesTheDataFileAsItWas) {
    write_file(data, "a,1,\n");
    const int failed = rewrite_lines(
        lock.c_str(), data.c_str(), LINE_SIZE_SMALL,
        [](const char*, LineOutput&) { return LineVerdict::drop; },
        [](LineOutput&) { return STORE_NOT_FOUND; });
    EXPECT_EQ(failed, STORE_NOT_FOUND);
    EXPECT_EQ(read_file(data), "a,1,\n");
    EXPECT_FALSE(exists(data + ".tmp"));
    EXPECT_FALSE(exists(lock));

    // A missing file stays missing after a change that found nothing to do;
    // the first change that stores something creates it.
    std::remove(data.c_str());
    EXPECT_EQ(rewrite_lines(
                  lock.c_str(), data.c_str(), LINE_SIZE_SMALL,
                  [](const char*, LineOutput&) { return LineVerdict::keep; },
                  [](LineOutput&) { return STORE_NOT_FOUND; }),
              STORE_NOT_FOUND);
    EXPECT_FALSE(exists(data));
    EXPECT_FALSE(exists(data + ".tmp"));
    ASSERT_EQ(store("b", "2"), STORE_OK);
    EXPECT_EQ(read_file(data), "b,2,\n");
}

TEST_F(LineFileEngineTest, BusyLockRefusesReadersAndWriters) {
    write_file(data, "a,1,\n");
    write_file(lock, "");
    EXPECT_TRUE(select_all().empty());
    EXPECT_EQ(result, STORE_LOCK_BUSY);
    EXPECT_EQ(store("a", "2"), STORE_LOCK_BUSY);
    EXPECT_EQ(read_file(data), "a,1,\n");
    EXPECT_TRUE(exists(lock));  // the holder's lock stays
    EXPECT_EQ(clock.waited_ms(), LOCK_READER_WAIT_MS + LOCK_WRITER_WAIT_MS);
}

TEST_F(LineFileEngineTest, ALeftOverTemporaryFileIsReplaced) {
    write_file(data, "a,1,\n");
    write_file(data + ".tmp", "garbage from a crashed writer\n");
    ASSERT_EQ(store("b", "2"), STORE_OK);
    EXPECT_EQ(read_file(data), "a,1,\nb,2,\n");
}

TEST_F(LineFileEngineTest, MissingDirectoryGivesCannotOpen) {
    const std::string nowhere = dir.path() + "no/such/tree.mst";
    const std::string nolock = dir.path() + "no/such/tree_mst.chk";
    const int got = rewrite_lines(
        nolock.c_str(), nowhere.c_str(), LINE_SIZE_SMALL,
        [](const char*, LineOutput&) { return LineVerdict::keep; },
        [](LineOutput&) { return STORE_OK; });
    EXPECT_EQ(got, STORE_CANNOT_OPEN);
    // Also for a change that would find nothing: a missing file reads as
    // empty, a missing directory does not.
    EXPECT_EQ(rewrite_lines(
                  lock.c_str(), nowhere.c_str(), LINE_SIZE_SMALL,
                  [](const char*, LineOutput&) { return LineVerdict::keep; },
                  [](LineOutput&) { return STORE_NOT_FOUND; }),
              STORE_CANNOT_OPEN);
}

TEST(LineFields, CutsFieldsAtCommasOutsideTwoByteCharacters) {
    // 0x81 0x2C would be a comma in second place: it belongs to the character.
    LineFields fields("12,ab\x81,c,,toolongfield,\n");
    long number = 0;
    char text[8];
    ASSERT_TRUE(fields.number(number));
    EXPECT_EQ(number, 12);
    ASSERT_TRUE(fields.text(text));
    EXPECT_STREQ(text, "ab\x81,c");
    ASSERT_TRUE(fields.number(number));
    EXPECT_EQ(number, 0);  // an empty field reads as 0
    ASSERT_TRUE(fields.text(text));
    EXPECT_STREQ(text, "toolong");  // cut to the field's width
    EXPECT_FALSE(fields.text(text));  // no comma before the line feed
}

TEST(LineFields, RestKeepsCommasAndDropsTheLineEnd) {
    LineFields fields("KEY,a, b, c\r\n");
    char key[8], value[32];
    ASSERT_TRUE(fields.text(key));
    fields.rest(value, sizeof value);
    EXPECT_STREQ(value, "a, b, c");
}

TEST(LineBuilder, TextFieldsNeverBreakTheLineShape) {
    LineBuilder builder;
    builder.text("Mozilla/5.0 (X11, Linux)\r\nX").number(-3).text("end\x81");
    EXPECT_STREQ(builder.line(), "Mozilla/5.0 (X11  Linux)  X,-3,end ,\n");
    LineBuilder free_text;
    free_text.text("k").rest("one, two\nforged,line");
    EXPECT_STREQ(free_text.line(), "k,one, two forged,line\n");
}

}  // namespace
