#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgi/kanji.h"

namespace {

std::string to_sjis(std::string text) {
    text.push_back('\0');
    AutoConvertToShiftJis(text.data());
    return std::string(text.c_str());
}

std::string euc(const std::string& in) {
    std::string text = in + '\0';
    EucToShiftJisWithLen(text.data(), in.size());
    return std::string(text.c_str());
}

std::string jis(const std::string& in) {
    std::string text = in + '\0';
    JisToShiftJisWithLen(text.data(), in.size());
    return std::string(text.c_str());
}

TEST(KanjiCode, ClassifiesByTheFirstDecidingByte) {
    EXPECT_EQ(whatKanjiCode(""), 0);
    EXPECT_EQ(whatKanjiCode("plain ascii 123"), 0);
    EXPECT_EQ(whatKanjiCode("abc\x1B$Bxx"), 2);
    EXPECT_EQ(whatKanjiCode("abc\x1B(J"), 2);
    EXPECT_EQ(whatKanjiCode("a\x0E"), 2);
    // A Shift_JIS-only lead byte before the escape decides first.
    EXPECT_EQ(whatKanjiCode("a\x88\x9F\x1B$B"), 1);
    EXPECT_EQ(whatKanjiCode("\x88\x9F\x89\x40"), 1);
    EXPECT_EQ(whatKanjiCode("\xE0\x40"), 1);
    EXPECT_EQ(whatKanjiCode("\x8E\x40"), 1);
    EXPECT_EQ(whatKanjiCode("\xB0\xA1\xB0\xA2"), 3);
    EXPECT_EQ(whatKanjiCode("\x8E\xB1"), 3);
    EXPECT_EQ(whatKanjiCode("x\xFD"), 3);
    // Readable as EUC-JP or as two half-width katakana: EUC-JP wins.
    EXPECT_EQ(whatKanjiCode("\xB1\xB1"), 3);
    // An EUC-compatible pair, then a Shift_JIS lead byte: Shift_JIS.
    EXPECT_EQ(whatKanjiCode("\xB0\xA1\x88\x9F"), 1);
    // Unknown escapes are stepped over; a lone last lead byte decides nothing.
    EXPECT_EQ(whatKanjiCode("\x1B$Aab\x1B" "x"), 0);
    EXPECT_EQ(whatKanjiCode("ab\xB0"), 0);
    EXPECT_EQ(whatKanjiCode("\xB0\xA1\x1B$"), 3);
}

TEST(KanjiCode, Jis2SjisArithmetic) {
    struct Case {
        unsigned char j1, j2, s1, s2;
    } cases[] = {
        {0x30, 0x21, 0x88, 0x9F},  // even row
        {0x31, 0x21, 0x89, 0x40},  // odd row, low cell
        {0x31, 0x60, 0x89, 0x80},  // odd row: 0x7F is skipped
        {0x5F, 0x21, 0xE0, 0x40},  // first row above the 0x9F lead bytes
        {0x74, 0x26, 0xEA, 0xA4},
    };
    for (const Case& c : cases) {
        unsigned char a = c.j1;
        unsigned char b = c.j2;
        jis2sjis(&a, &b);
        EXPECT_EQ(a, c.s1) << std::hex << int(c.j1) << int(c.j2);
        EXPECT_EQ(b, c.s2) << std::hex << int(c.j1) << int(c.j2);
    }
}

TEST(KanjiCode, AutoConversionTouchesOnlyJisAndEuc) {
    EXPECT_EQ(to_sjis(""), "");
    EXPECT_EQ(to_sjis("abc=1&x"), "abc=1&x");
    EXPECT_EQ(to_sjis("\x88\x9F\x89\x40"), "\x88\x9F\x89\x40");
    EXPECT_EQ(to_sjis("x\xB0\xA1y\xB0\xA1"), "x\x88\x9Fy\x88\x9F");  // pair at the very end too
    EXPECT_EQ(to_sjis("a\x1B$B\x30\x21\x1B(Bb"), "a\x88\x9F" "b");
}

TEST(KanjiCode, EucToShiftJis) {
    EXPECT_EQ(euc("\xB0\xA1"), "\x88\x9F");
    EXPECT_EQ(euc("\x8E\xB1" "a"), "\xB1" "a");
    EXPECT_EQ(euc("\x8E\x41"), "\x8E\x41");
    EXPECT_EQ(euc("a\x0C" "b"), "ab");
    EXPECT_EQ(euc("\xB0" "Ab"), "b");  // lead byte with a non-EUC partner: both go
    EXPECT_EQ(euc("ab\xB0"), "ab");    // a lead byte at the end leaves nothing behind
    EXPECT_EQ(euc("ab\x8E"), "ab");
}

TEST(KanjiCode, JisToShiftJis) {
    EXPECT_EQ(jis("\x1B$B\x30\x21\x1B(B"), "\x88\x9F");
    EXPECT_EQ(jis("\x1B$@\x30\x21\x1B(Jz"), "\x88\x9Fz");
    EXPECT_EQ(jis("\x1B(I\x31\x1B(Ba"), "\xB1" "a");
    EXPECT_EQ(jis("\x1BK\x30\x21\x1BHa"), "\x88\x9F" "a");
    EXPECT_EQ(jis("a\x0E" "b\x0F" "c\x0C" "d"), "abcd");
    // Unknown designation: ESC and its second byte go, the third is ordinary input.
    EXPECT_EQ(jis("\x1B$Xa"), "Xa");
    EXPECT_EQ(jis("\x1BZab"), "Zab");
    // Ending in kanji mode keeps every complete pair; half a pair is dropped.
    EXPECT_EQ(jis("\x1B$B\x30\x21\x31\x21"), "\x88\x9F\x89\x40");
    EXPECT_EQ(jis("\x1B$B\x30\x21\x31"), "\x88\x9F");
    EXPECT_EQ(jis("ab\x1B"), "ab");
}

TEST(KanjiCode, ConversionsStayInsideTheGivenLength) {
    char text[] = "\xB0\xA1\xB0\xA1";
    EucToShiftJisWithLen(text, 2);
    EXPECT_STREQ(text, "\x88\x9F\xB0\xA1");  // nothing shrank, so the rest stays
    char none[] = "\x1B$B";
    JisToShiftJisWithLen(none, 0);
    EXPECT_STREQ(none, "\x1B$B");
}

TEST(KanjiCode, ShiftJisToJisRoundTrips) {
    const std::string sjis = "a\x88\x9F\x89\x40\xB1" "b";
    const std::string expected = "a\x1B$B\x30\x21\x31\x21\x1B(I\x31\x1B(Bb";
    char buf[64];
    std::memcpy(buf, sjis.c_str(), sjis.size() + 1);
    ASSERT_EQ(ShiftJisToJisWithLen(buf, sjis.size(), sizeof buf), 0);
    EXPECT_EQ(std::string(buf), expected);
    EXPECT_EQ(jis(buf), sjis);

    char euc_text[64] = "a\xB0\xA1\xB1\xA1\x8E\xB1" "b";
    ASSERT_EQ(AutoConvertToJis(euc_text, sizeof euc_text), 0);
    EXPECT_EQ(std::string(euc_text), expected);

    // A result that would not fit leaves the text as it was.
    char small[8] = "\x88\x9F";
    EXPECT_EQ(AutoConvertToJis(small, sizeof small), -1);
    EXPECT_STREQ(small, "\x88\x9F");
    char plain[8] = "abc";
    EXPECT_EQ(AutoConvertToJis(plain, sizeof plain), 0);
    EXPECT_STREQ(plain, "abc");
}

}  // namespace
