// The list frame: pages, orders, read marks and the choice of order, through
// the real program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "cgi/cgi_harness.h"
#include "store/message_index.h"
#include "store/personal_settings.h"
#include "util/bytes.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "301 By number\n"
    "302 Threads\n"
    "303 Active threads\n"
    "304 Tree\n"
    "305 Active tree\n"
    "306 Prev\n"
    "307 No previous page\n"
    "308 Next\n"
    "309 No next page\n"
    "319 (deleted)\n"
    "320 NEW\n";

const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=2
user taro password=t level=10 disp=1
user guest password=g level=10 mode=2 disp=1
user wide password=w level=10 disp=1 frame_mode=1
)";

class MessageListTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
        install.use_store();
    }
    // Posts a message (a reply when reply_to is not 0) and returns its number.
    int post(const std::string& title, int reply_to = 0, const std::string& writer = "Taro") {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 5;
        sBBS_IDX.SEL_NO = reply_to;
        copy_field(sBBS_IDX.WRITE_TITLE, title.c_str());
        copy_field(sBBS_IDX.WRITER_NAME, writer.c_str());
        copy_field(sBBS_IDX.WRITER_ID, "taro");
        EXPECT_EQ(Fio_BBS_IDX(2), 0);
        return sBBS_IDX.SEL_NO;
    }
    void post_many(int n) {
        for (int i = 1; i <= n; ++i) post("Topic " + std::to_string(i));
    }
    // The user's marks of folder 5: one 4-byte mark per message number.
    void write_marks(const std::string& uid, const std::vector<int32_t>& marks) {
        std::string bytes(marks.size() * 4, '\0');
        std::memcpy(bytes.data(), marks.data(), bytes.size());
        install.write_data_file("user/" + uid + "/r5.idx", bytes);
    }
    std::string list(const std::string& rest, const std::string& uid = "taro") {
        return install.get(install.session(uid) + "&FOLDER_NO=5&JOB=FRM222&" + rest).out;
    }
    static bool has(const std::string& out, const std::string& piece) {
        return out.find(piece) != std::string::npos;
    }
    static int rows(const std::string& out) {
        int n = 0;
        for (std::size_t at = out.find("JOB=FRM223"); at != std::string::npos; at = out.find("JOB=FRM223", at + 1)) ++n;
        return n;
    }
    CgiInstallation install;
};

TEST_F(MessageListTest, EmptyFolderIsOnePageWithHeadingsOnly) {
    const std::string out = list("");
    EXPECT_TRUE(has(out, "By number [1/1]<BR>\n"));
    EXPECT_TRUE(has(out, "<INPUT TYPE=\"button\" VALUE=\"Prev\" onClick=\"alert('No previous page')\">\n"));
    EXPECT_TRUE(has(out, "<INPUT TYPE=\"button\" VALUE=\"Next\" onClick=\"alert('No next page')\">\n"));
    EXPECT_EQ(rows(out), 0);
    EXPECT_TRUE(has(out, "PPage=1&AC_MODE=1\" SELECTED>1 Page\n</SELECT>"));
}

TEST_F(MessageListTest, PagesOfTwentyWithTheLastShownByDefault) {
    post_many(41);
    std::string out = list("");
    EXPECT_TRUE(has(out, "By number [3/3]<BR>\n"));
    EXPECT_EQ(rows(out), 1);
    EXPECT_TRUE(has(out, "&SEL_NO=41&PPage=3\" TARGET=\"FRM223SEL5\">Topic 41</A></TD>\n"));
    EXPECT_TRUE(has(out, "<SELECT NAME=\"PPage\" onChange=\"setPage(this.options[this.selectedIndex].value)\">\n"
                         "<OPTION VALUE=\"wbbs.cgi?uid=taro&SKEY1=1234567&SKEY2=7654321&JOB=FRM222&FOLDER_NO=5"
                         "&PPage=3&AC_MODE=1\" SELECTED>3 Page\n<OPTION VALUE=\"wbbs.cgi?uid=taro&SKEY1=1234567"
                         "&SKEY2=7654321&JOB=FRM222&FOLDER_NO=5&PPage=2&AC_MODE=1\">2 Page\n"));
    EXPECT_TRUE(has(out, "onClick=\"alert('No next page')\""));
    EXPECT_TRUE(has(out, "name=\"PPage\" value=\"2\">\n<INPUT TYPE=\"hidden\" name=\"AC_MODE\" value=\"1\">\n"
                         "<TD>\n<INPUT TYPE=\"submit\" VALUE=\"Prev\" onClick=\"return postcheck()\" >\n"));

    out = list("PPage=2");
    EXPECT_EQ(rows(out), 20);
    EXPECT_TRUE(has(out, "[2/3]"));
    EXPECT_EQ(rows(list("PPage=99")), 0);  // beyond the last: no rows
    // Whatever a hand-made URL holds stays a page number.
    EXPECT_TRUE(has(list("PPage=99999999999999999999"), "[2147483647/3]"));
}

TEST_F(MessageListTest, FortyMessagesMakeTwoPagesAndTheActiveOrderStartsAtPageOne) {
    post_many(40);
    EXPECT_TRUE(has(list(""), "[2/2]"));
    const std::string active = list("AC_MODE=3");
    EXPECT_TRUE(has(active, "Active threads [1/2]<BR>\n"));
    EXPECT_TRUE(has(active, "&SEL_NO=40&PPage=1\""));  // the latest thread first
    EXPECT_TRUE(has(active, "&AC_MODE=3\" SELECTED>Active threads\n"));
    // A mode number that is none of the five shows nothing (and wraps into none).
    const std::string odd = list("AC_MODE=4294967297");
    EXPECT_TRUE(has(odd, "</SCRIPT>\n [1/1]<BR>\n"));
    EXPECT_EQ(rows(odd), 0);
    EXPECT_FALSE(has(odd, "SELECTED>By number"));
}

TEST_F(MessageListTest, RowShowsMarksCountsAndTheDeletedTitle) {
    const int root = post("Root <b>&", 0, "<script>x()</script>");
    post("Reply", root);
    post("<i>Second</i>");
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = 5;
    sBBS_IDX.SEL_NO = root;
    ASSERT_EQ(Fio_BBS_IDX(3), 0);  // kept as a place holder for its reply
    write_marks("taro", {0, 1, 1});

    const std::string out = list("AC_MODE=2&PPage=1");
    const std::string first_row =
        "<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">NEW</TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">1</TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">0</TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><BR></TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">1</TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\"><A HREF=\"wbbs.cgi?SKEY1=1234567&SKEY2=7654321&uid=taro"
        "&JOB=FRM223&FOLDER_NO=5&SEL_NO=1&PPage=1\" TARGET=\"FRM223SEL5\">(deleted)</A></TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">&lt;script&gt;x()&lt;/script&gt;</TD>\n";
    EXPECT_TRUE(has(out, first_row)) << out;
    EXPECT_TRUE(has(out, "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><BR></TD>\n"
                         "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">0</TD>\n"));  // the read root
    // By number, the reply is indented one level and the hostile title is text.
    const std::string tree = list("AC_MODE=4&PPage=1");
    EXPECT_TRUE(has(tree, "ALIGN=\"LEFT\">&nbsp;&nbsp;<A HREF="));
    EXPECT_TRUE(has(tree, ">&lt;i&gt;Second&lt;/i&gt;</A>"));
}

TEST_F(MessageListTest, UnreadTwentySecondMessageMarksItsThreadInTheThreadOrders) {
    const int root = post("Long thread");
    for (int i = 0; i < 21; ++i) post("Re", root);
    std::vector<int32_t> marks(22, 1);
    write_marks("taro", marks);
    const std::string white = "<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><BR></TD>\n";
    EXPECT_TRUE(has(list("AC_MODE=2"), white));
    marks[21] = 0;
    write_marks("taro", marks);
    EXPECT_TRUE(has(list("AC_MODE=2"), "<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">NEW</TD>\n"));
    EXPECT_TRUE(has(list("AC_MODE=3"), "<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">NEW</TD>\n"));
    // Only the thread orders look into the thread: by number the read root stays white.
    EXPECT_TRUE(has(list("AC_MODE=1&PPage=1"), white));

    // Marks are checked a hundred at a time: the 105th message decides too.
    for (int i = 0; i < 84; ++i) post("Re", root);
    marks.assign(106, 1);
    write_marks("taro", marks);
    EXPECT_TRUE(has(list("AC_MODE=2"), white));
    marks[104] = 0;
    write_marks("taro", marks);
    EXPECT_TRUE(has(list("AC_MODE=2"), "<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">NEW</TD>\n"));
}

TEST_F(MessageListTest, SharedAccountSeesNoMarksAndTouchesNoMarkFile) {
    post_many(3);
    const std::string out = list("", "guest");
    EXPECT_EQ(rows(out), 3);
    EXPECT_FALSE(has(out, "#FFB6C1"));
    EXPECT_FALSE(install.data_file_exists("user/guest/r5.idx"));
    EXPECT_FALSE(install.data_file_exists("user/guest/r5.chk"));
    // In two frames the message takes the list's place: no target.
    EXPECT_TRUE(has(list("", "wide"), "&SEL_NO=3&PPage=1\">Topic 3</A>"));
}

TEST_F(MessageListTest, ChosenOrderBecomesThePersonalDefault) {
    post_many(2);
    auto disp_def = [&](const std::string& uid) {
        char value[40] = "";
        install.use_store();
        Fio_PERSONAL_MST(uid.c_str(), 1, "USER_DISP_DEF", value);
        return std::string(value);
    };
    const std::string out =
        install.get(install.session("taro") + "&FOLDER_NO=5&JOB=USER_DISP_DEFWR&AC_MODE=4").out;
    EXPECT_TRUE(has(out, "Tree [1/1]<BR>\n"));
    EXPECT_EQ(disp_def("taro"), "4");
    EXPECT_TRUE(has(list(""), "Tree [1/1]"));
    install.get(install.session("taro") + "&FOLDER_NO=5&JOB=USER_DISP_DEFWR&AC_MODE=9");
    EXPECT_EQ(disp_def("taro"), "4");  // no such order: the default stays
    install.get(install.session("guest") + "&FOLDER_NO=5&JOB=USER_DISP_DEFWR&AC_MODE=2");
    EXPECT_EQ(disp_def("guest"), "1");  // a shared account keeps its default
}

}  // namespace
