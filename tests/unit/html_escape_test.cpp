#include "util/html_escape.h"

#include <gtest/gtest.h>

namespace {

TEST(HtmlEscapeTest, TextEscapesMarkupAndBothQuotes) {
    EXPECT_EQ(html_text("<a href=\"x\" title='y'>&amp;"),
              "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;amp;");
    EXPECT_EQ(html_text("line\r\nnext"), "line\r\nnext");
    EXPECT_EQ(html_text(nullptr), "");
}

TEST(HtmlEscapeTest, AttributeAlsoEscapesLineBreaks) {
    EXPECT_EQ(html_attr("a\"b'c\r\nd<>&"), "a&quot;b&#39;c&#13;&#10;d&lt;&gt;&amp;");
    EXPECT_EQ(html_attr(nullptr), "");
}

TEST(HtmlEscapeTest, WorksByteByByteSoALeadByteCannotHideMarkup) {
    // A stray lead byte must not swallow the '<' or quote after it.
    EXPECT_EQ(html_text("\x82<script>"), "\x82&lt;script&gt;");
    EXPECT_EQ(html_attr("\xE0\"x"), "\xE0&quot;x");
    // Valid two-byte characters (second byte 0x40 or above) pass unchanged.
    EXPECT_EQ(html_text("\x82\xA0\x95\x5C"), "\x82\xA0\x95\x5C");
}

TEST(HtmlEscapeTest, UrlArgumentKeepsOnlyUnreservedBytes) {
    EXPECT_EQ(url_arg("AZaz09-_.~"), "AZaz09-_.~");
    EXPECT_EQ(url_arg("a b&c=d/e?f#g+h%"), "a%20b%26c%3Dd%2Fe%3Ff%23g%2Bh%25");
    EXPECT_EQ(url_arg("\x82\xA0\r\n\""), "%82%A0%0D%0A%22");
    EXPECT_EQ(url_arg(nullptr), "");
}

}  // namespace
