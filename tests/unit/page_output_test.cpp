// The screens' output layer: formats, escapers and captured pieces.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

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

// Pieces go into the stream's buffer directly when they fit; whatever the
// buffer's state, the page must come out whole and in order, also where other
// code prints to the same stream.
TEST(PageOutputTest, PiecesAndStdioWritesArriveInOrderAcrossTheBuffer) {
    std::string expected;
    for (int i = 0; i < 400; ++i) {
        expected += std::string(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26));
        expected += "<" + std::to_string(i) + ">";
        if (i % 7 == 0) expected += "[stdio " + std::to_string(i) + "]";
    }
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        // A small buffer, so that pieces meet its end at every offset.
        static char buffer[256];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        for (int i = 0; i < 400; ++i) {
            const std::string run(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26));
            emit("%s<%d>", raw(run.c_str()), i);
            if (i % 7 == 0) std::printf("[stdio %d]", i);
        }
        std::fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char chunk[4096];
    for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) got.append(chunk, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(got, expected);
}

}  // namespace
