#include "screens/html_sanitizer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <utility>

#include "util/html_escape.h"

namespace {

// Every two-byte Shift_JIS character, then every half-width kana.
std::string every_shift_jis_character() {
    std::string text;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0) continue;
        for (int second = 0x40; second <= 0xFC; ++second) {
            if (second == 0x7F) continue;
            text += static_cast<char>(lead);
            text += static_cast<char>(second);
        }
    }
    for (int kana = 0xA1; kana <= 0xDF; ++kana) text += static_cast<char>(kana);
    return text;
}

// unit with "%d" replaced by 0, 1, 2 ... until the text holds at least size bytes.
std::string repeated(std::string_view unit, std::size_t size) {
    std::string text;
    const std::size_t at = unit.find("%d");
    for (int i = 0; text.size() < size; ++i) {
        text += at == std::string_view::npos
                    ? std::string(unit)
                    : std::string(unit.substr(0, at)) + std::to_string(i) + std::string(unit.substr(at + 2));
    }
    return text;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(HtmlSanitizerTest, ScriptCarryingElementsGoWithTheirContent) {
    for (const char* payload : {
             "<script>alert(1)</script>", "<SCRIPT SRC=//x.js></SCRIPT>",
             "<style>b{x:expression(alert(1))}</style>", "<iframe src=x>frame</iframe>",
             "<svg onload=alert(1)><script>alert(1)</script></svg>",
             "<math><mi xlink:href=javascript:alert(1)>m</mi></math>",
             "<object data=x.swf>fallback</object>", "<embed src=x.swf>",
             "<noscript><b>n</b></noscript>", "<template><b>t</b></template>",
             "<title>t</title>", "<textarea><b>t</b></textarea>",
             "<!-- <script>alert(1)</script> -->", "<!--[if IE]><b>x</b><![endif]-->"}) {
        EXPECT_EQ(sanitize_html(std::string("a") + payload + "b"), "ab") << payload;
    }
}

TEST(HtmlSanitizerTest, FormattingElementsKeptInUpperCase) {
    for (const char* name :
         {"a", "abbr", "b", "big", "blockquote", "center", "code", "div", "em", "font", "h1",
          "h6", "i", "pre", "s", "small", "span", "strike", "strong", "sub", "sup", "tt", "u"}) {
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(sanitize_html(std::string("<") + name + ">x</" + name + ">"),
                  "<" + upper + ">x</" + upper + ">");
    }
    EXPECT_EQ(sanitize_html("<dl><dt>t<dd>d</dl><ol><li>o</ol>"),
              "<DL><DT>t</DT><DD>d</DD></DL><OL><LI>o</LI></OL>");
    EXPECT_EQ(sanitize_html("<table><caption>c<thead><tr><th>h<tfoot><tr><td>f</table>"),
              "<TABLE><CAPTION>c</CAPTION><THEAD><TR><TH>h</TH></TR></THEAD><TFOOT><TR><TD>f</TD>"
              "</TR></TFOOT></TABLE>");
    // Void elements never get an end tag.
    EXPECT_EQ(sanitize_html("<br></br><img src=a.gif></img><hr/>"), "<BR><BR><IMG SRC=\"a.gif\"><HR>");
}

TEST(HtmlSanitizerTest, OtherElementsLoseOnlyTheirTags) {
    EXPECT_EQ(sanitize_html("<form action=x><input value=v>ok<button>go</button></form>"), "okgo");
    EXPECT_EQ(sanitize_html("<blink><b>x</b></blink><meta http-equiv=refresh><base href=x>"),
              "<B>x</B>");
    EXPECT_EQ(sanitize_html("a<isindex prompt=p>b"), "ab");
}

TEST(HtmlSanitizerTest, RawTextOfDroppedTagsNeverBecomesMarkup) {
    EXPECT_EQ(sanitize_html("<xmp><script>alert(1)</script></xmp>"),
              "&lt;script&gt;alert(1)&lt;/script&gt;");
    EXPECT_EQ(sanitize_html("<noembed><img src=x onerror=alert(1)></noembed>"),
              "&lt;img src=x onerror=alert(1)&gt;");
    EXPECT_EQ(sanitize_html("<noframes><b>x</b></noframes>"), "&lt;b&gt;x&lt;/b&gt;");
    EXPECT_EQ(sanitize_html("x<plaintext></plaintext><script>"), "x&lt;/plaintext&gt;&lt;script&gt;");
    // Raw text is literal: an entity in it stays an entity on the page.
    EXPECT_EQ(sanitize_html("<xmp>&lt;b&gt;</xmp>"), "&amp;lt;b&amp;gt;");
}

TEST(HtmlSanitizerTest, HandlersStyleAndMisplacedAttributesDropped) {
    EXPECT_EQ(sanitize_html("<b onclick=\"x\" style=\"color:red\" ONMOUSEOVER=y id=z>t</b>"),
              "<B>t</B>");
    EXPECT_EQ(sanitize_html("<img src=x.gif onerror=alert(1) target=_top>"), "<IMG SRC=\"x.gif\">");
    EXPECT_EQ(sanitize_html("<span href=http://x/ src=y.gif>t</span>"), "<SPAN>t</SPAN>");
}

TEST(HtmlSanitizerTest, ScriptUrlsAreRefusedHoweverWritten) {
    for (const char* url : {
             "javascript:alert(1)", "JaVaScRiPt:alert(1)", "jAvA&#9;script:alert(1)",
             "java&#x0A;script:x", "java\nscript:x", "  javascript:x", "&#1;javascript:x",
             "\x01 javascript:x", "javascript:x&#13;", "&#106;avascript:x", "javascript&colon;x",
             "data:text/html,<script>alert(1)</script>", "vbscript:msgbox(1)", "about:blank"}) {
        const std::string quoted = std::string("\"") + url + "\"";
        EXPECT_EQ(sanitize_html("<a href=" + quoted + ">x</a>"), "<A>x</A>") << url;
        EXPECT_EQ(sanitize_html("<img src=" + quoted + ">"), "<IMG>") << url;
    }
}

TEST(HtmlSanitizerTest, WebMailAndRelativeLinksKept) {
    EXPECT_EQ(sanitize_html("<a href=\"HTTPS://example.com/?a=1&amp;b=2\" target=_blank>s</a>"),
              "<A HREF=\"HTTPS://example.com/?a=1&amp;b=2\" TARGET=\"_blank\">s</A>");
    EXPECT_EQ(sanitize_html("<a href=' mailto:x@example.com'>m</a><img src=ftp://h/p.gif>"),
              "<A HREF=\" mailto:x@example.com\">m</A><IMG SRC=\"ftp://h/p.gif\">");
    // The board's own jump links carry no scheme.
    EXPECT_EQ(sanitize_html("<a href=\"wbbs.cgi?JOB=JUMPLINK&FOLDER_NO=3&MESSAGE_NO=12\">&gt;&gt;12</a>"),
              "<A HREF=\"wbbs.cgi?JOB=JUMPLINK&amp;FOLDER_NO=3&amp;MESSAGE_NO=12\">&gt;&gt;12</A>");
}

TEST(HtmlSanitizerTest, AttributeValuesEscapedInDoubleQuotes) {
    EXPECT_EQ(sanitize_html("<font face='a\"b<c>&amp;' title=\"it's\nok\">x</font>"),
              "<FONT FACE=\"a&quot;b&lt;c&gt;&amp;\" TITLE=\"it&#39;s&#10;ok\">x</FONT>");
}

TEST(HtmlSanitizerTest, BrokenMarkupResolvedTheWayABrowserDoes) {
    EXPECT_EQ(sanitize_html("a<b title=\"x>y</b>z"), "a");  // the quote never closes
    EXPECT_EQ(sanitize_html("a<b"), "a");
    EXPECT_EQ(sanitize_html("<"), "&lt;");
    EXPECT_EQ(sanitize_html("<b>bold"), "<B>bold</B>");
    EXPECT_EQ(sanitize_html("a</B>b</br>c</p>"), "ab<BR>c<P></P>");
    EXPECT_EQ(sanitize_html("<i>x<b>y</i>z</b>"), "<I>x<B>y</B></I><B>z</B>");
    EXPECT_EQ(sanitize_html("1 < 2 & 3 > 2<br>"), "1 &lt; 2 &amp; 3 &gt; 2<BR>");
    EXPECT_EQ(sanitize_html("<table border=1><tr><td><table><tr><td>in</table>out</td>x</table>"),
              "x<TABLE BORDER=\"1\"><TBODY><TR><TD><TABLE><TBODY><TR><TD>in</TD></TR></TBODY>"
              "</TABLE>out</TD></TR></TBODY></TABLE>");
}

// A reference left open ends at the '<' after it; in the output another text may
// follow it (behind dropped tags, or moved out of a table) and must not complete it.
TEST(HtmlSanitizerTest, OpenReferencesCannotJoinTheTextWrittenAfterThem) {
    EXPECT_EQ(sanitize_html("x&#xF0<blink>000;</blink>"), "x&#240;000;");
    EXPECT_EQ(sanitize_html("a&not<table>in;</table>"), "a&#172;in;<TABLE></TABLE>");
    EXPECT_EQ(sanitize_html("AT&T &copy; <b>x</b>"), "AT&T &copy; <B>x</B>");  // complete ones stay
}

// Trees a browser would not build from the written markup: elements moved out of a
// misplaced table, a line break after <PRE> behind dropped tags, references out of
// range (which the parser decodes into over-long forms or C1 controls).
TEST(HtmlSanitizerTest, WhatIsWrittenReadsBackAsTheSameTree) {
    const std::pair<const char*, const char*> cases[] = {
        {"<li>a<table><li>b</table>", "<LI>a</LI><LI>b</LI><TABLE></TABLE>"},
        {"<h1>a<table><h2>b</table>", "<H1>a</H1><H2>b</H2><TABLE></TABLE>"},
        {"<pre><blink>\nx</blink></pre>", "<PRE>\n\nx</PRE>"},
        {"<img alt=\"&#4294967356;\">", "<IMG ALT=\"&lt;\">"},
        {"<h1>a<blink><h1>b</h1></blink></h1>", "<H1>a</H1><H1>b</H1>"},  // unknown tags left out
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(sanitize_html(in), out) << in;
        EXPECT_EQ(sanitize_html(out), out) << in;
    }
    // The parser's bytes for these are no character a page could hold as it is.
    for (const char* in : {"<img alt=\"&#x09DDDDDDDD\xC2\xC2\">", "&#615111111111111111111155\xB2" "555</ul>x"}) {
        const std::string garbled = sanitize_html(in);
        EXPECT_EQ(sanitize_html(garbled), garbled) << in;
    }
}

// What comes out parses into the tree that was checked: sanitizing it again changes nothing.
TEST(HtmlSanitizerTest, AnAnchorMovedIntoAnotherKeepsOnlyItsContent) {
    const char* moved = "<a href=\"http://a/\">x<table><a href=\"http://b/\">y</a></table>";
    EXPECT_EQ(sanitize_html(moved), "<A HREF=\"http://a/\">xy<TABLE></TABLE></A>");
    const std::string in_cell = "<A HREF=\"http://a/\">x<TABLE><TBODY><TR><TD><A HREF=\"http://b/\">y</A>"
                                "</TD></TR></TBODY></TABLE></A>";
    EXPECT_EQ(sanitize_html(in_cell), in_cell);  // a cell starts afresh
    for (const std::string& text : {std::string(moved), in_cell}) {
        EXPECT_EQ(sanitize_html(sanitize_html(text)), sanitize_html(text));
    }
}

TEST(HtmlSanitizerTest, FormattingSurvives) {
    const std::string board =
        "<B>bold</B><FONT COLOR=\"#FF0000\" SIZE=\"+1\">red</FONT><BR>\r\n\r\n"
        "<CENTER><H2 ALIGN=\"left\">T</H2></CENTER><HR><UL><LI>one</LI></UL>"
        "<TABLE CELLPADDING=\"2\" WIDTH=\"100%\"><TBODY><TR><TD NOWRAP=\"\" COLSPAN=\"2\" "
        "BGCOLOR=\"#EEEEEE\">c</TD></TR></TBODY></TABLE><PRE>\n\ncode &amp; \"q\"</PRE>";
    EXPECT_EQ(sanitize_html(board), board);
    EXPECT_EQ(sanitize_html("<font color=red>r</font><ul><li>1<li>2</ul><p>a<p>b"),
              "<FONT COLOR=\"red\">r</FONT><UL><LI>1</LI><LI>2</LI></UL><P>a</P><P>b</P>");
}

TEST(HtmlSanitizerTest, ShiftJisBytesComeOutAsTheyWentIn) {
    const std::string all = every_shift_jis_character();
    const std::string stray = "\x80\x85\x9F\xA0\xFD\xFF\x7F\x01\x1B";  // C1 and control bytes
    EXPECT_EQ(sanitize_html(all + stray), all + stray);
    EXPECT_EQ(sanitize_html("<B>" + all + stray + "</B>"), "<B>" + all + stray + "</B>");
    EXPECT_EQ(sanitize_html("<SPAN TITLE=\"" + all + stray + "\">x</SPAN>"),
              "<SPAN TITLE=\"" + all + stray + "\">x</SPAN>");
    // Decoded rather than copied: a text that held a stray '<' or raw text.
    EXPECT_EQ(sanitize_html("<B>1 < 2" + all + stray + "</B>"), "<B>1 &lt; 2" + all + stray + "</B>");
    EXPECT_EQ(sanitize_html("<xmp>" + all + stray + "</xmp>"), all + stray);
    // A lead byte right before markup or a closing quote does not hide it.
    EXPECT_EQ(sanitize_html("\x82<script>alert(1)</script>\x82"), "\x82\x82");
    EXPECT_EQ(sanitize_html("<span title=\"\x82\">\x82</span>"), "<SPAN TITLE=\"\x82\">\x82</SPAN>");
    // Past the placeholders for runs of text, bytes are carried one by one.
    std::string many;
    for (int i = 0; i < 140000; ++i) many += "\x82\xa0 ";
    EXPECT_EQ(sanitize_html("<B>" + many + "</B>"), "<B>" + many + "</B>");
    EXPECT_EQ(sanitize_html("<B><" + many + "</B>"), "<B>&lt;" + many + "</B>");
    // Formatting the parser reopens keeps its values.
    EXPECT_EQ(sanitize_html("<b title=\"\x8a\xbf\">x<p>y</b>"),
              "<B TITLE=\"\x8a\xbf\">x</B><P><B TITLE=\"\x8a\xbf\">y</B></P>");
}

TEST(HtmlSanitizerTest, CharactersAShiftJisPageCannotHoldBecomeReferences) {
    EXPECT_EQ(sanitize_html("<b>&#12354; < &eacute;&#0;</b>"), "<B>&#12354; &lt; &#233;&#65533;</B>");
    // A reference into the ranges that carry bytes through the parser never gives
    // back bytes (a '<', another run of text): it shows as U+FFFD.
    EXPECT_EQ(sanitize_html("<b>&#xF73C;script&#63294 <</b>"), "<B>&#65533;script&#65533; &lt;</B>");
    EXPECT_EQ(sanitize_html("<span title=\"\x8a\xbf&#983040;&#x10FFFD\">x</span>"),
              "<SPAN TITLE=\"\x8a\xbf&#65533;&#65533;\">x</SPAN>");
    EXPECT_EQ(sanitize_html("<span title=\"&#x1F600;&amp;\">x</span>"),
              "<SPAN TITLE=\"&#128512;&amp;\">x</SPAN>");
    // Where no '<' forces a decode, entities, CR and quotes stay exactly as written.
    EXPECT_EQ(sanitize_html("<b>&#12354;&amp&quot;\"\r\n</b>\r\n\rx\r"),
              "<B>&#12354;&amp&quot;\"\r\n</B>\r\n\rx\r");
}

TEST(HtmlSanitizerTest, DeepNestingShowsItsRestAsText) {
    const std::string nested = "\x82\xa0<b>x</b>" + repeated("<div>", 100000);
    const std::string out = sanitize_html(nested);
    EXPECT_EQ(out.rfind("\x82\xa0<B>x</B><DIV><DIV>", 0), 0u);
    // Thousands of levels stay markup, far more than any browser nests.
    EXPECT_GT(count(out, "<DIV>"), 2000u);
    EXPECT_LT(count(out, "<DIV>"), 10000u);
    EXPECT_TRUE(out.ends_with("&lt;div&gt;&lt;div&gt;"));
}

TEST(HtmlSanitizerTest, FormattingReopenedWithoutEndShowsAsText) {
    // The parser copies every still active B into each new block: past the
    // parse's memory budget the whole text is shown as text.
    std::string unclosed = "<p>";
    for (int i = 0; i < 36; ++i) unclosed += "<b x=" + std::to_string(i) + ">";
    for (const std::string& hostile :
         {"\x82\xa0" + repeated("<div><b x=%d></div>", 103000), repeated("<p><b x=%d>", 103000),
          unclosed + repeated("<p>x", 100000)}) {
        EXPECT_EQ(sanitize_html(hostile), html_text(hostile.c_str())) << hostile.substr(0, 40);
    }
    // Copies that stay within the memory budget yet multiply the output: past
    // eight times the input the text shows as text too.
    const std::string wide = "<p>" + repeated("<font face='" + std::string(2000, '"') + "'>", 6000) +
                             repeated("<p>x", 800);
    EXPECT_EQ(sanitize_html(wide), html_text(wide.c_str()));
}

TEST(HtmlSanitizerTest, OrdinaryLongBodiesPassTheBudgetsUntouched) {
    const std::string jp = "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x95\xb6\x8f\xcd";  // Japanese words
    const std::string unit =
        "<P>Paragraph with <B>bold</B>, <FONT COLOR=\"#FF0000\">colour</FONT> and a "
        "<A HREF=\"http://example.com/x?a=1&amp;b=2\" TARGET=\"_blank\">link</A>.</P>\r\n"
        "<TABLE BORDER=\"1\"><TBODY><TR><TH>" + jp + "</TH><TD ALIGN=\"right\">12</TD></TR></TBODY></TABLE>"
        "<UL><LI>" + jp + "</LI></UL><BR>\r\n" + jp + "&gt; quoted<BR>\r\n";
    const std::string ordinary = repeated(unit, 100000);
    EXPECT_EQ(sanitize_html(ordinary), ordinary);
    // The densest ordinary shape measured: the most parser memory per byte.
    EXPECT_EQ(sanitize_html(repeated("<p>x", 100000)), repeated("<P>x</P>", 200000));
}

}  // namespace
