// The screens' output layer: formats, escapers and captured pieces.
#include <gtest/gtest.h>

#include "screens/page_output.h"

namespace {

TEST(PageOutputTest, ComposeFillsTheFormatWithEscapedValues) {
    EXPECT_EQ(compose("<A HREF=\"x?u=%s&n=%d\">%s</A> 100%%", url("a b&\"c"), -42L, text("<i>")).html,
              "<A HREF=\"x?u=a%20b%26%22c&n=-42\">&lt;i&gt;</A> 100%");
    EXPECT_EQ(compose("%s", attr("\"\r\n")).html, "&quot;&#13;&#10;");
    EXPECT_EQ(compose("no values").html, "no values");
}

TEST(PageOutputTest, ScriptStringsKeepTwoByteCharactersWhole) {
    // 0x95 0x5C is one kanji: its second byte is no backslash.
    EXPECT_EQ(js("a\x95\x5C" "b").html, "a\x95\x5C" "b");
    // A lead byte before a quote is no character: the quote is still escaped.
    EXPECT_EQ(js("\x95\"x").html, "\x95\\x22x");
    EXPECT_EQ(js("</script>'\\\n").html, "\\x3C/script\\x3E\\x27\\x5C\\x0A");
}

TEST(PageOutputTest, RecordFieldsStopAtTheirWidth) {
    const char field[4] = {'a', '<', 'c', 'd'};  // no terminator, as a damaged file may hold
    EXPECT_EQ(field_text(field).html, "a&lt;cd");
}

}  // namespace
