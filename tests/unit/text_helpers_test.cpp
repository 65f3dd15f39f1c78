#include "util/text_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "util/bytes.h"

namespace {

// Two-byte characters used below. HYO's second byte is a backslash.
#define HIRA_A "\x82\xA0"
#define HIRA_I "\x82\xA2"
#define HYO "\x95\x5C"

// Runs an in-place helper on a copy of text held in a body-sized buffer.
template <class Helper>
std::string in_body(const char* text, Helper helper) {
    auto buff = std::make_unique<char[]>(INPLACE_TEXT_SIZE);
    copy_field(buff.get(), INPLACE_TEXT_SIZE, text);
    helper(buff.get());
    return buff.get();
}

// A heap copy exactly as large as the text, so that the sanitizer sees any
// read or write past its terminator.
std::unique_ptr<char[]> exact(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    auto buff = std::make_unique<char[]>(size);
    std::memcpy(buff.get(), text, size);
    return buff;
}

TEST(TextHelpersTest, StrFindFindsEveryOccurrence) {
    EXPECT_EQ(G_StrFind("xab", "ab"), 1);
    EXPECT_EQ(G_StrFind("aab", "ab"), 1);
    EXPECT_EQ(G_StrFind("aaab", "aab"), 1);
    EXPECT_EQ(G_StrFind("abab", "ab"), 0);
    EXPECT_EQ(G_StrFind("a\\b", "\\"), 1);
    EXPECT_EQ(G_StrFind("xa", "ab"), -1);
    EXPECT_EQ(G_StrFind("abc", ""), -1);
    EXPECT_EQ(G_StrFind("", "a"), -1);
}

TEST(TextHelpersTest, StrFindNeverStartsOnASecondByte) {
    EXPECT_EQ(G_StrFind(HYO, "\\"), -1);
    EXPECT_EQ(G_StrFind(HYO "\\", "\\"), 2);
    EXPECT_EQ(G_StrFind("\x82" "ab", "ab"), -1);  // 'a' is the second byte of 0x82 0x61
    EXPECT_EQ(G_StrFind("x" HIRA_A HIRA_I, HIRA_I), 3);
    // A keyword ending in half a character does not match a whole one.
    EXPECT_EQ(G_StrFind(HIRA_A, "\x82"), -1);
    // The bytes stand first where no character starts, then where one does.
    EXPECT_EQ(G_StrFind("\x82" "ab" "ab", "ab"), 3);
    // A run of lead bytes pairs from its start: 82 82 | 82 61 | 62.
    EXPECT_EQ(G_StrFind("\x82\x82\x82" "ab", "ab"), -1);
    EXPECT_EQ(G_StrFind("\x82\x82\x82" "ab", "b"), 4);
    EXPECT_EQ(G_StrFind("\x82\x82" "ab", "ab"), 2);
}

TEST(TextHelpersTest, TextEndingInsideATwoByteCharacterIsNotReadPastItsEnd) {
    auto text = exact("a \x82");
    EXPECT_EQ(G_StrFind(text.get(), "\x82"), 2);
    EXPECT_EQ(G_StrFind(text.get(), "b"), -1);
    G_ToUppers(text.get());
    G_TrimRight(text.get());
    G_setStrlength(text.get(), 10);
    EXPECT_STREQ(text.get(), "A \x82");
    char field[8];
    EXPECT_EQ(G_StrGetCSV(text.get(), field, sizeof field), 3);
    EXPECT_STREQ(field, "A \x82");
    G_CrLf_to_BR(text.get(), 4);
    G_Add_a_href(text.get(), "", "", 4);
    EXPECT_STREQ(text.get(), "A \x82");
}

TEST(TextHelpersTest, StrGetCsvReadsQuotedAndPlainFields) {
    char field[32];
    EXPECT_EQ(G_StrGetCSV("\"a,\"\"b\",c", field), 7);
    EXPECT_STREQ(field, "a,\"b");
    EXPECT_EQ(G_StrGetCSV("abc,d", field), 3);
    EXPECT_STREQ(field, "abc");
    EXPECT_EQ(G_StrGetCSV("ab\r\n", field), 2);
    EXPECT_STREQ(field, "ab");
    // The second byte of a two-byte character is no separator.
    EXPECT_EQ(G_StrGetCSV("\x82,x,y", field), 3);
    EXPECT_STREQ(field, "\x82,x");
    // A small field is cut, the stop offset stays the same.
    char small[3];
    EXPECT_EQ(G_StrGetCSV("abcdef,g", small, sizeof small), 6);
    EXPECT_STREQ(small, "ab");
}

TEST(TextHelpersTest, SetStrlengthNeverSplitsACharacter) {
    EXPECT_EQ(in_body("a" HIRA_A HIRA_I, [](char* b) { G_setStrlength(b, 4); }), "a" HIRA_A);
    EXPECT_EQ(in_body("a" HIRA_A HIRA_I, [](char* b) { G_setStrlength(b, 3); }), "a");
    EXPECT_EQ(in_body("abc", [](char* b) { G_setStrlength(b, 4); }), "abc");
    EXPECT_EQ(in_body("abcd", [](char* b) { G_setStrlength(b, 4); }), "abc");
}

TEST(TextHelpersTest, GetUrlStopsAtItsTerminators) {
    char url[64];
    G_get_url("http://a.jp/x?y='1'&z=\xB1<b>", url);
    EXPECT_STREQ(url, "http://a.jp/x?y='1'&z=\xB1");
    G_get_url("http://a.jp/" HIRA_A, url);
    EXPECT_STREQ(url, "http://a.jp/");
    G_get_url("http://a.jp/ b", url);
    EXPECT_STREQ(url, "http://a.jp/");
    char small[8];
    G_get_url("http://a.jp/", small, sizeof small);
    EXPECT_STREQ(small, "http://");
}

std::string linked(const char* body, const char* target = "", const char* prefix = "") {
    return in_body(body, [=](char* b) { G_Add_a_href(b, target, prefix); });
}

TEST(TextHelpersTest, AddAHrefLinksUrlsThroughTheJumpPrefix) {
    EXPECT_EQ(linked("see http://a.jp/x<br>", "_blank", "J?URL="),
              "see <A HREF=\"J?URL=http%3A%2F%2Fa.jp%2Fx\" TARGET=\"_blank\">http://a.jp/x</A><br>");
    // The address is one value of the jump's query, whatever it holds.
    EXPECT_EQ(linked("http://a.jp/?x=1&y=2#z", "", "J?URL="),
              "<A HREF=\"J?URL=http%3A%2F%2Fa.jp%2F%3Fx%3D1%26y%3D2%23z\">http://a.jp/?x=1&y=2#z</A>");
    EXPECT_EQ(linked("xhttps://a.jp y"), "x<A HREF=\"https://a.jp\">https://a.jp</A> y");
    EXPECT_EQ(linked("HTTP://A.JP"), "<A HREF=\"HTTP://A.JP\">HTTP://A.JP</A>");
    EXPECT_EQ(linked("mailto:me@a.jp,", "_blank", "J?URL="),
              "<A HREF=\"mailto:me@a.jp\">me@a.jp</A>,");
}

TEST(TextHelpersTest, AddAHrefLeavesOtherTextAlone) {
    EXPECT_EQ(linked("Http://a.jp hTTP://a.jp"), "Http://a.jp hTTP://a.jp");
    EXPECT_EQ(linked("\x82http://a.jp"), "\x82http://a.jp");
    EXPECT_EQ(linked("<A HREF=\"http://a.jp\">http://a.jp</a> http://b.jp"),
              "<A HREF=\"http://a.jp\">http://a.jp</A> <A HREF=\"http://b.jp\">http://b.jp</A>");
    EXPECT_EQ(linked("<a href=\"http://a.jp\">no end"), "<a href=\"http://a.jp\">no end");
    EXPECT_EQ(linked("<IMG SRC=\"http://a.jp/p.gif\">http://b.jp"),
              "<IMG SRC=\"http://a.jp/p.gif\"><A HREF=\"http://b.jp\">http://b.jp</A>");
}

TEST(TextHelpersTest, AddAHrefCannotCloseTheAttributeEarly) {
    EXPECT_EQ(linked("http://a.jp/\"onmouseover=x", "t\"x"),
              "<A HREF=\"http://a.jp/&quot;onmouseover=x\" TARGET=\"t&quot;x\">"
              "http://a.jp/\"onmouseover=x</A>");
}

TEST(TextHelpersTest, AddAHrefCutsAtAWholeAnchor) {
    char small[24] = "ab http://a.jp/x";
    G_Add_a_href(small, "", "", sizeof small);
    EXPECT_STREQ(small, "ab ");
}

std::string bold(const char* body, const char* token) {
    return in_body(body, [=](char* b) { G_Add_Bold(b, token); });
}

TEST(TextHelpersTest, AddBoldMarksEveryOccurrenceOutsideTags) {
    EXPECT_EQ(bold("aab", "ab"), "a<B>ab</B>");
    EXPECT_EQ(bold("ab ab", "ab"), "<B>ab</B> <B>ab</B>");
    EXPECT_EQ(bold("aaab", "aab"), "a<B>aab</B>");
    EXPECT_EQ(bold("<A HREF=\"ab\">ab</A>", "ab"), "<A HREF=\"ab\"><B>ab</B></A>");
    EXPECT_EQ(bold("a<b>b", "ab"), "a<b>b");
    EXPECT_EQ(bold("AB xa", "ab"), "AB xa");
    EXPECT_EQ(bold("ab", ""), "ab");
}

TEST(TextHelpersTest, AddBoldNeverStartsAMatchOnASecondByte) {
    // 'a' is the second byte of 0x82 0x61: marking it would split the character.
    EXPECT_EQ(bold("\x82" "ab", "ab"), "\x82" "ab");
    EXPECT_EQ(bold("x" HIRA_A "y", HIRA_A), "x<B>" HIRA_A "</B>y");
    // A '<' after a stray lead byte still opens a tag.
    EXPECT_EQ(bold("\xE9<b>ab", "b"), "\xE9<b>a<B>b</B>");
}

TEST(TextHelpersTest, LineBreakConversions) {
    EXPECT_EQ(in_body("a\r\nb\nc", [](char* b) { G_CrLf_to_BR(b); }), "a<BR>\nbc");
    EXPECT_EQ(in_body("a\r\nb\n", G_CrLf_to_Cr), "a\rb");
    EXPECT_EQ(in_body("a<BR>b<br>", G_BR_to_CrLf), "a\rb<br>");
    // A small buffer keeps whole breaks and never overruns.
    char small[12] = "\r\r\r";
    G_CrLf_to_BR(small, sizeof small);
    EXPECT_STREQ(small, "<BR>\n<BR>\n");
}

TEST(TextHelpersTest, HtmlConvert2EscapesFourCharacters) {
    EXPECT_EQ(in_body("<a href=\"x\">&'", [](char* b) { G_HtmlConvert2(b); }),
              "&lt;a href=&quot;x&quot;&gt;&amp;'");
}

TEST(TextHelpersTest, AddResQuotesEveryLine) {
    EXPECT_EQ(in_body("a\r\n\r\nb", [](char* b) { G_Add_Res(b); }), ">a\r>\r>b");
    EXPECT_EQ(in_body(HIRA_A "\r\n", [](char* b) { G_Add_Res(b); }), ">" HIRA_A "\r");
}

std::string blue(const char* body) {
    return in_body(body, [](char* b) { G_Add_Blue(b, "0000FF"); });
}

TEST(TextHelpersTest, AddBlueColoursRunsOfQuotedLines) {
    EXPECT_EQ(blue(">x\r\n>y\r\nz"), "<FONT COLOR=\"#0000FF\">>x\r\n>y\r\n</FONT>z");
    EXPECT_EQ(blue(">x\r\n\r\n>y"), "<FONT COLOR=\"#0000FF\">>x\r\n\r\n>y</FONT>");
    EXPECT_EQ(blue("a>b\r\n>q\r\n"), "a>b\r\n<FONT COLOR=\"#0000FF\">>q\r\n</FONT>");
}

TEST(TextHelpersTest, AddBlueClosesItsElementWhenTheTextIsCut) {
    char small[40] = ">0123456789012345678901";
    G_Add_Blue(small, "0000FF", sizeof small);
    const std::string result = small;
    EXPECT_LE(result.size(), sizeof small - 1);
    EXPECT_EQ(result.rfind("</FONT>"), result.size() - 7);
}

TEST(TextHelpersTest, AddBlueKeepsRoomForItsClosingTagOnlyWhileAnElementIsOpen) {
    // Nothing quoted: a text that fills its buffer stays whole.
    char plain[12] = "plain text!";
    G_Add_Blue(plain, "0000FF", sizeof plain);
    EXPECT_STREQ(plain, "plain text!");
    // After the element is closed, the plain text may use the room again.
    char after[40] = ">a\rbcdefgh";
    G_Add_Blue(after, "0000FF", sizeof after);
    EXPECT_STREQ(after, "<FONT COLOR=\"#0000FF\">>a\r</FONT>bcdefgh");
}

TEST(TextHelpersTest, CutNameKeepsWhatFollowsTheLastSeparator) {
    EXPECT_EQ(in_body("C:\\dir\\file.txt", [](char* b) { G_cut_name(b, '\\'); }), "file.txt");
    EXPECT_EQ(in_body("dir\\" HYO "x", [](char* b) { G_cut_name(b, '\\'); }), HYO "x");
    EXPECT_EQ(in_body("plain", [](char* b) { G_cut_name(b, '/'); }), "plain");
}

TEST(TextHelpersTest, CutFilenameSplitsAtTheFirstComma) {
    char name[64];
    char rest[64];
    G_cut_filename("C:\\x\\a,b.txt,/tmp/CGI1", name, rest);
    EXPECT_STREQ(name, "a");
    EXPECT_STREQ(rest, "b.txt,/tmp/CGI1");
    G_cut_filename("/home/u/" HYO ".txt,/tmp/CGI2", name, rest);
    EXPECT_STREQ(name, HYO ".txt");
    EXPECT_STREQ(rest, "/tmp/CGI2");
    G_cut_filename("3,17", name, rest);
    EXPECT_STREQ(name, "3");
    EXPECT_STREQ(rest, "17");
    G_cut_filename("C:/d/a.txt", name, rest);
    EXPECT_STREQ(name, "a.txt");
    EXPECT_STREQ(rest, "");
    char small[4];
    G_cut_filename("long-name.txt,tmp", small, sizeof small, rest, sizeof rest);
    EXPECT_STREQ(small, "lon");
}

TEST(TextHelpersTest, ApostrophesAreEscapedWithinTheBufferSize) {
    EXPECT_EQ(in_body("it's", [](char* b) { G_ApostropheAddYen(b); }), "it\\'s");
    EXPECT_EQ(in_body("it's", [](char* b) { G_AddQuart(b); }), "it''s");
    // A 202-byte message entry full of apostrophes stays inside its buffer.
    char entry[202];
    std::memset(entry, '\'', sizeof entry - 1);
    entry[sizeof entry - 1] = '\0';
    G_ApostropheAddYen(entry, sizeof entry);
    EXPECT_EQ(std::strlen(entry), 200u);
    EXPECT_EQ(std::string(entry, 4), "\\'\\'");
}

TEST(TextHelpersTest, ToUppersSkipsTwoByteCharacters) {
    EXPECT_EQ(in_body("ab\x82" "az", G_ToUppers), "AB\x82" "aZ");
}

std::string grouped(const char* number, std::size_t size = KETADORI_TEXT_SIZE) {
    auto buff = std::make_unique<char[]>(size);
    copy_field(buff.get(), size, number);
    G_ketadori(buff.get(), size);
    return buff.get();
}

TEST(TextHelpersTest, KetadoriGroupsThousands) {
    EXPECT_EQ(grouped("1000"), "1,000");
    EXPECT_EQ(grouped("999"), "999");
    EXPECT_EQ(grouped("1000000000"), "1,000,000,000");
    EXPECT_EQ(grouped("1234567"), "1,234,567");
    EXPECT_EQ(grouped("0"), "0");
    EXPECT_EQ(grouped("-1234567"), "-1,234,567");
    EXPECT_EQ(grouped("-9223372036854775808"), "-9,223,372,036,854,775,808");
    EXPECT_EQ(grouped("1000", 5), "1000");  // would not fit: unchanged
}

TEST(TextHelpersTest, TrailingBlanksAndLineEndsAreCut) {
    EXPECT_EQ(in_body("a b  ", G_TrimRight), "a b");
    EXPECT_EQ(in_body("a\t", G_TrimRight), "a\t");
    EXPECT_EQ(in_body("ab\r\n\r\n", G_CutCrLf), "ab");
    EXPECT_EQ(in_body("a\rb\n", G_CutCrLf), "a\rb");
}

TEST(TextHelpersTest, Org2CsvQuotesOnlyWhenNeeded) {
    EXPECT_EQ(in_body("a\"b", [](char* b) { G_org2csv(b); }), "\"a\"\"b\"");
    EXPECT_EQ(in_body("a,b", [](char* b) { G_org2csv(b); }), "\"a,b\"");
    EXPECT_EQ(in_body("ab", [](char* b) { G_org2csv(b); }), "ab");
}

}  // namespace
