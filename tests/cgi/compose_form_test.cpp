// The compose form (new message, reply, edit) and the pages after a post,
// through the real program.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgi/cgi_harness.h"
#include "store/file_primitives.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"
#include "util/dates.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "003 Who?\n"
    "004 No user id.\n"
    "008 No right.\n"
    "012 Cannot read it.\n"
    "226 Ask\n"
    "227 Do not ask\n"
    "230 Limit\n"
    "311 Priority\n"
    "313 Title\n"
    "314 Writer\n"
    "400 Title please\n"
    "401 New message\n"
    "402 Reply\n"
    "403 Edit\n"
    "404 High\n"
    "405 Low\n"
    "406 Body\n"
    "407 Files\n"
    "408 Mode\n"
    "409 Text\n"
    "410 HTML\n"
    "411 Links\n"
    "412 Send\n"
    "417 Done\n"
    "418 Stored.\n"
    "419 Back\n"
    "420 Sending\n"
    "421 Closing.\n"
    "423 Keep\n"
    "426 Confirm\n"
    "430 No replies here.\n"
    "432 No limit\n"
    "433 Name please\n";

const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=2
user taro password=t name="Taro Y" level=10
user hanako password=h level=10
user reader password=r level=1
)";

const std::string kHead = "Content-type: text/html\nPragma: no-cache\n\n<HTML>\n<HEAD>\n<TITLE>Board</TITLE></HEAD>\n<!--board-->\n";
const std::string kPlainBody = "<BODY BACKGROUND=\"/orva/img/back.gif\" >\n";

bool has(const std::string& out, const std::string& piece) { return out.find(piece) != std::string::npos; }

std::size_t count(const std::string& out, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t at = out.find(piece); at != std::string::npos; at = out.find(piece, at + 1)) ++n;
    return n;
}

class ComposeFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
        install.use_store();
    }
    // Stores a message with its directory and body; a reply when reply_to is not 0.
    int post(const std::string& title, const std::string& body = "", int reply_to = 0) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 5;
        sBBS_IDX.SEL_NO = reply_to;
        sBBS_IDX.WRITE_PRIORITY = 2;
        sBBS_IDX.HTML_MODE = 1;
        copy_field(sBBS_IDX.WRITE_TITLE, title.c_str());
        copy_field(sBBS_IDX.WRITER_NAME, "Taro <the writer>");
        copy_field(sBBS_IDX.WRITER_ID, "taro");
        EXPECT_EQ(Fio_BBS_IDX(2), 0);
        const int sel_no = sBBS_IDX.SEL_NO;
        char dir[1000];
        EXPECT_TRUE(message_dir_path(dir, sizeof dir, 5, sel_no));
        Cu_mkdir(dir);
        std::string text = body;
        EXPECT_EQ(Fio_BODY_TXT(5, sel_no, 4, text.data()), 0);
        return sel_no;
    }
    std::string form(const std::string& job, const std::string& rest = "", const std::string& uid = "taro",
                     const std::string& agent = "") {
        CgiRequest request;
        request.query = install.session(uid) + "&FOLDER_NO=5&JOB=" + job + rest;
        if (!agent.empty()) request.user_agent = agent;
        const CgiResult result = install.run(request);
        EXPECT_EQ(result.exit_status, 0) << result.err;
        return result.out;
    }
    // The prefilled value of the title field.
    static std::string title_value(const std::string& out) {
        const std::string start = "NAME=\"WRITE_TITLE\" SIZE=\"60\" MAXLENGTH=\"80\" VALUE=\"";
        const std::size_t at = out.find(start);
        if (at == std::string::npos) return "(no title field)";
        const std::size_t from = at + start.size();
        return out.substr(from, out.find('"', from) - from);
    }
    static std::string text_area(const std::string& out) {
        const std::size_t open = out.find("ROWS=\"8\">");
        if (open == std::string::npos) return "(no text area)";
        const std::size_t from = open + 9;
        return out.substr(from, out.find("</TEXTAREA>", from) - from);
    }
    CgiInstallation install;
};

TEST_F(ComposeFormTest, NewMessageFormIsPrintedWhole) {
    install.build(
        "setting 5 NICK_NAME 1\nsetting 5 WRITER_ID 0\nsetting 5 CONFIRM 1\nsetting 5 ATTACH_MAX 1\n"
        "setting 5 FONTCOLOR3 FF0000\nsetting 5 BACKPIC3 back3.gif\nsetting 5 HTML_MODE 2\n");
    install.write_data_file("5/defo.txt", "<b>Hi</b> & \"you\"");
    const std::string row = "<TR>\n\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"LEFT\">";
    const std::string value = "</TD>\n\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">";
    const std::string end = "</TD>\n</TR>\n";
    EXPECT_EQ(form("BWRITE_NEW"),
              kHead +
                  "<BODY BACKGROUND=\"wbbs.cgi?JOB=BG3_DL&SKEY1=1234567&SKEY2=7654321&uid=taro&FOLDER_NO=5\" >\n\n"
                  "<SCRIPT Language=\"JavaScript\">\n<!--\n"
                  "function onLoad(){\ndocument.INPUT.WRITE_TITLE.focus();\n}\n"
                  "var count=0;\nfunction title_chk(){\n"
                  "if ( document.INPUT.WRITER_NAME.value==\"\" ) {\nwindow.alert( \"Name please\" );\nreturn false }\n"
                  "if ( document.INPUT.WRITE_TITLE.value==\"\" ) {\nwindow.alert( \"Title please\" );\nreturn false }\n"
                  "count++;\ndocument.INPUT.SUB.value=\"Sending\";\n"
                  "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n"
                  "function nolimit(){\ndocument.INPUT.TIME_LIMIT_DATE.value=\"\";\n}\n"
                  "// -->\n</SCRIPT>\n"
                  "<FONT SIZE=\"5\" COLOR=\"#FF0000\"><B>New message</B></FONT>\n<HR>\n"
                  "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"wbbs.cgi\" METHOD=POST >\n"
                  "<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"1234567\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"7654321\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"BWRITE_NEWWR\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"5\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"0\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"uid\" value=\"taro\">\n"
                  "<TABLE BORDER>\n" +
                  row + "Writer" + value +
                  "<INPUT TYPE=\"text\" NAME=\"WRITER_NAME\" SIZE=\"60\" MAXLENGTH=\"80\" VALUE=\"Taro Y\"> [taro]" + end +
                  row + "Title" + value +
                  "<INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"60\" MAXLENGTH=\"80\" VALUE=\"\">" + end + row +
                  "Priority" + value +
                  "<SELECT NAME=\"WRITE_PRIORITY\" >\n<OPTION VALUE=\"0\" SELECTED> \n<OPTION VALUE=\"2\">High\n"
                  "<OPTION VALUE=\"1\">Low\n</SELECT>\n" + end +
                  row + "Body" + value +
                  "<TEXTAREA NAME=\"WRITE_DATA\" COLS=\"60\" ROWS=\"8\">&lt;b&gt;Hi&lt;/b&gt; &amp; &quot;you&quot;"
                  "</TEXTAREA>" + end +
                  row + "Files" + value + " No.1 <INPUT TYPE=\"FILE\" NAME=\"ATFILE\"><BR>\n" + end +
                  row + "Confirm" + value +
                  "<SELECT NAME=\"CONFIRM\">\n<OPTION VALUE=\"0\">Do not ask\n<OPTION VALUE=\"1\" SELECTED>Ask\n"
                  "</SELECT>\n" + end +
                  row + "Mode" + value +
                  "<SELECT NAME=\"HTML_MODE\">\n<OPTION VALUE=\"0\">Text\n<OPTION VALUE=\"1\">HTML\n"
                  "<OPTION VALUE=\"2\" SELECTED>Links\n</SELECT>\n" + end +
                  "</TABLE>\n<P>\n"
                  "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"Send\" onClick=\"return title_chk()\"><BR> \n"
                  "</FORM>\n</BODY>\n</HTML>\n");

    // A shared account types its name, starting there; the compose window
    // posts into the folder's frame set.
    install.build("user shared password=s level=10 mode=2 write_mode=2\n");
    const std::string shared = form("BWRITE_NEW", "", "shared");
    EXPECT_TRUE(has(shared, "function onLoad(){\ndocument.INPUT.WRITER_NAME.focus();\n}\n"));
    EXPECT_TRUE(has(shared, "}\nwindow.focus();\n// -->\n"));
    EXPECT_TRUE(has(shared, "METHOD=POST TARGET=\"FRM22T1\" >\n"));
    EXPECT_TRUE(has(shared, "NAME=\"WRITER_NAME\" SIZE=\"60\" MAXLENGTH=\"80\" VALUE=\"\"> [shared]</TD>"));
}

TEST_F(ComposeFormTest, ReplyTitleTakesTheHeaderAndTheNewDepth) {
    const int hello = post("Hello \"you\"", "text");
    EXPECT_EQ(title_value(form("BWRITE_RES", "&SEL_NO=1")), "Hello &quot;you&quot;");  // no header: unchanged
    // Without a header, a title of the full 81 bytes is still cut to 79.
    const int full = post(std::string(81, 'z'));
    EXPECT_EQ(title_value(form("BWRITE_RES", "&SEL_NO=" + std::to_string(full))), std::string(79, 'z'));

    install.build("setting 5 RES_HEADER Re\n");
    const int answer = post("Re1:Hello", "", hello);
    const int report = post("Report", "");
    std::string long_title;
    for (int i = 0; i < 40; ++i) long_title += "\x82\xA0";  // two-byte characters
    const int longest = post(long_title + "y", "");

    const std::string reply = form("BWRITE_RES", "&SEL_NO=" + std::to_string(answer));
    EXPECT_EQ(title_value(reply), "Re2:Hello");
    EXPECT_TRUE(has(reply, "<B>Reply</B>"));
    EXPECT_TRUE(has(reply, "name=\"JOB\" value=\"BWRITE_RESWR\">\n<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" "
                           "value=\"5\">\n<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"" +
                               std::to_string(answer) + "\">\n"));
    // The parent's options come with it.
    EXPECT_TRUE(has(reply, "<OPTION VALUE=\"2\" SELECTED>High\n"));
    EXPECT_TRUE(has(reply, "<OPTION VALUE=\"1\" SELECTED>HTML\n"));
    EXPECT_EQ(title_value(form("BWRITE_RES", "&SEL_NO=" + std::to_string(report))), "Re1:Report");
    // "Re1:" and 81 bytes make 85: cut to 78, since the 79th byte would
    // split a character.
    std::string cut = "Re1:";
    for (int i = 0; i < 37; ++i) cut += "\x82\xA0";
    EXPECT_EQ(title_value(form("BWRITE_RES", "&SEL_NO=" + std::to_string(longest))), cut);
}

TEST_F(ComposeFormTest, ReplyQuotesTheBodySoTheBrowserSendsItBackUnchanged) {
    install.build("setting 5 ATTACH_MAX 1\n");
    const int parent = post("Parent", "a</TEXTAREA>&\"\r\nb");
    std::memset(&sADD_FILE, 0, sizeof sADD_FILE);
    sADD_FILE.SEL_NO = parent;
    sADD_FILE.SUB_NO = 1;
    copy_field(sADD_FILE.FILE_NAME, "kept.txt");
    ASSERT_EQ(Fio_ADD_FILE_TXT(5, 2), 0);
    const std::string out = form("BWRITE_RES", "&SEL_NO=1");
    EXPECT_EQ(text_area(out), "&gt;a&lt;/TEXTAREA&gt;&amp;&quot;\r&gt;b");
    EXPECT_EQ(count(out, "</TEXTAREA>"), 1u);
    // A reply keeps none of the parent's files.
    EXPECT_FALSE(has(out, "kept.txt"));
    EXPECT_TRUE(has(out, " No.1 <INPUT TYPE=\"FILE\" NAME=\"ATFILE\"><BR>\n</TD>"));
}

TEST_F(ComposeFormTest, LimitDateAndFieldWidth) {
    install.build("setting 5 TIME_LIMIT_FLG 3\n");
    auto limit = [] {
        char date[TM_TEXT_SIZE];
        Tm_set_date(date);
        date[10] = '\0';
        Tm_next_month(date, 3);
        return std::string(date);
    };
    const std::string before = limit();
    const std::string out = form("BWRITE_NEW");
    const std::string after = limit();
    const std::string field = "<INPUT TYPE=\"text\" NAME=\"TIME_LIMIT_DATE\" SIZE=\"20\" MAXLENGTH=\"10\" VALUE=\"";
    const std::string button = "\">\n<INPUT TYPE=\"button\" VALUE=\"No limit\" onClick=\"nolimit()\">\n</TD>\n</TR>\n";
    EXPECT_TRUE(has(out, "Limit</TD>\n\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">" + field + before + button) ||
                has(out, field + after + button));
    EXPECT_TRUE(has(out, "COLS=\"60\" ROWS=\"8\">"));

    const std::string ie = form("BWRITE_NEW", "", "taro", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    EXPECT_TRUE(has(ie, "NAME=\"WRITE_TITLE\" SIZE=\"80\" MAXLENGTH=\"80\""));
    EXPECT_TRUE(has(ie, "COLS=\"80\" ROWS=\"8\">"));
}

TEST_F(ComposeFormTest, AttachmentRowsStayWithinTheSlotsAFolderCanStore) {
    EXPECT_FALSE(has(form("BWRITE_NEW"), "ATFILE"));  // ATTACH_MAX 0
    install.build("setting 5 ATTACH_MAX -4\n");
    EXPECT_FALSE(has(form("BWRITE_NEW"), "ATFILE"));
    install.build("setting 5 ATTACH_MAX 2000000000\n");
    const std::string out = form("BWRITE_NEW");
    EXPECT_EQ(count(out, "<INPUT TYPE=\"FILE\" NAME=\"ATFILE\">"), 99u);
    EXPECT_TRUE(has(out, " No.99 <INPUT TYPE=\"FILE\" NAME=\"ATFILE\"><BR>\n</TD>\n</TR>\n"));
}

TEST_F(ComposeFormTest, EditFormOfTheWritersOwnMessage) {
    install.build("setting 5 REWRITE_FLG 2\nsetting 5 ATTACH_MAX 2\nsetting 5 TIME_LIMIT_FLG 1\n");
    const std::string body = "</TEXTAREA>\"q\" & 'x'\r\n<b>";
    const int sel_no = post("Mine & <yours>", body);
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = 5;
    sBBS_IDX.SEL_NO = sel_no;
    ASSERT_EQ(Fio_BBS_IDX(1), 0);
    copy_field(sBBS_IDX.TIME_LIMIT_DATE, "2030/01/02");
    ASSERT_EQ(Fio_BBS_IDX(4), 0);
    std::memset(&sADD_FILE, 0, sizeof sADD_FILE);
    sADD_FILE.SEL_NO = sel_no;
    sADD_FILE.SUB_NO = 1;
    copy_field(sADD_FILE.FILE_NAME, "a&b.txt");
    ASSERT_EQ(Fio_ADD_FILE_TXT(5, 2), 0);

    const std::string out = form("BWRITE_REW", "&SEL_NO=1");
    EXPECT_TRUE(has(out, "<B>Edit</B>"));
    EXPECT_TRUE(has(out, "name=\"JOB\" value=\"BWRITE_REWWR\">"));
    EXPECT_TRUE(has(out, "ALIGN=\"LEFT\">Taro &lt;the writer&gt; [taro]</TD>\n"));
    EXPECT_EQ(title_value(out), "Mine &amp; &lt;yours&gt;");
    EXPECT_EQ(text_area(out), "&lt;/TEXTAREA&gt;&quot;q&quot; &amp; &#39;x&#39;\r\n&lt;b&gt;");
    EXPECT_TRUE(has(out, "Files</TD>\n\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">"
                         " No.1 a&amp;b.txt\n"
                         "<INPUT TYPE=\"checkbox\" NAME=\"ATFILE1\" VALUE=\"ON\" checked >Keep<BR>"
                         " No.1 <INPUT TYPE=\"FILE\" NAME=\"ATFILE\"><BR>\n"
                         " No.2 <INPUT TYPE=\"FILE\" NAME=\"ATFILE\"><BR>\n</TD>\n</TR>\n"));
    EXPECT_TRUE(has(out, "MAXLENGTH=\"10\" VALUE=\"2030/01/02\">"));  // the message's own limit

    // The browser drops a line break right after the tag: one more keeps
    // the body's first empty line.
    post("Second", "\r\nafter a blank line");
    EXPECT_EQ(text_area(form("BWRITE_REW", "&SEL_NO=2")), "\n\r\nafter a blank line");

    // Somebody else's message: title and options, never the body.
    const std::string other = form("BWRITE_REW", "&SEL_NO=1", "hanako");
    EXPECT_EQ(title_value(other), "Mine &amp; &lt;yours&gt;");
    EXPECT_EQ(text_area(other), "");
    EXPECT_TRUE(has(other, "ALIGN=\"LEFT\">hanako [hanako]</TD>\n"));
}

TEST_F(ComposeFormTest, RefusalsPrintTheMessageAndWriteNothing) {
    const int root = post("Root", "r");
    post("Reply", "x", root);
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = 5;
    sBBS_IDX.SEL_NO = root;
    ASSERT_EQ(Fio_BBS_IDX(3), 0);  // kept as a place holder for its reply
    const auto refusal = [](const std::string& message) {
        return kHead + kPlainBody + message + "\n</BODY>\n</HTML>\n";
    };
    // Start-up creates the folder's settings files and the sessions.
    form("BWRITE_NEW", "", "reader");
    form("BWRITE_NEW");
    const auto files = install.all_paths();

    EXPECT_EQ(form("BWRITE_NEW", "", "reader"), refusal("No right."));
    EXPECT_EQ(form("BWRITE_RES", "&SEL_NO=2", "reader"), refusal("No right."));
    EXPECT_EQ(form("BWRITE_RES", "&SEL_NO=1"), refusal("Cannot read it."));  // deleted
    EXPECT_EQ(form("BWRITE_REW", "&SEL_NO=1"), refusal("Cannot read it."));
    EXPECT_EQ(form("BWRITE_RES", "&SEL_NO=2000000000"), refusal("Cannot read it."));
    EXPECT_EQ(form("BWRITE_REW", "&SEL_NO=99999999999999999999"), refusal("Cannot read it."));
    EXPECT_EQ(form("BWRITE_RES", "&SEL_NO=x"), refusal("Cannot read it."));
    EXPECT_EQ(install.all_paths(), files);

    install.build("setting 5 RES_PERMIT_FLG 1\n");
    EXPECT_EQ(form("BWRITE_RES", "&SEL_NO=2"), refusal("No replies here."));
}

TEST_F(ComposeFormTest, PageAfterAPostLeadsBackToTheFolder) {
    install.build("setting 5 FONTCOLOR3 00FF00\nsetting 5 BACKPIC3 b.gif\n");
    install.session("taro");
    MultipartBody body;
    body.field("uid", "taro").field("SKEY1", "1234567").field("SKEY2", "7654321").field("FOLDER_NO", "5");
    body.field("JOB", "BWRITE_NEWWR").field("SEL_NO", "0").field("WRITE_TITLE", "T").field("WRITER_NAME", "W");
    body.field("WRITE_DATA", "b").field("HTML_MODE", "0").field("WRITE_PRIORITY", "0");
    const CgiResult result = install.post_multipart(body);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out,
              kHead +
                  "<BODY BACKGROUND=\"wbbs.cgi?JOB=BG3_DL&SKEY1=1234567&SKEY2=7654321&uid=taro&FOLDER_NO=5\" >\n\n"
                  "<SCRIPT Language=\"JavaScript\">\n<!--\nvar count=0;\nfunction postcheck(){\ncount++;\n"
                  "document.INPUT.SUB.value=\"Sending\";\nif ( count < 2 ){ return true; }\n"
                  "else { return false; }\n}\n// -->\n</SCRIPT>\n"
                  "<FONT SIZE=\"5\" COLOR=\"#00FF00\"><B>Done</B></FONT>\n<HR>\n"
                  "<FONT COLOR=\"#00FF00\">Stored.<P>\n</FONT>\n"
                  "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"wbbs.cgi\" METHOD=POST "
                  "TARGET=\"FRM22T1\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"1234567\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"7654321\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"ROOM\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"5\">\n"
                  "<INPUT TYPE=\"hidden\" name=\"uid\" value=\"taro\">\n"
                  "<P>\n<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"Back\" onClick=\"return postcheck()\"> \n"
                  "</FORM>\n</BODY>\n</HTML>\n");
}

TEST_F(ComposeFormTest, ClosingPageComesBeforeTheSessionCheck) {
    install.build("setting 5 FONTCOLOR3 00FF00\nsetting 5 BACKPIC3 b.gif\n");
    const std::string closing = kHead + kPlainBody +
                                "<SCRIPT Language=\"JavaScript\">\n<!--\nself.close()\n// -->\n</SCRIPT>\n"
                                "<FONT SIZE=\"5\"><B>Done</B></FONT>\n<HR>\nClosing.<P>\n</BODY>\n</HTML>\n";
    EXPECT_EQ(install.get("JOB=BWRITEWR_FIX2&FOLDER_NO=5").out,
              closing + kHead + kPlainBody +
                  "<CENTER>\n<BR><FONT SIZE=\"5\"><B>Who?</B></FONT>\n<P><BR><HR><P><BR>\n"
                  "<FONT COLOR=\"RED\"><B>No user id.</B></FONT>\n<FORM METHOD=POST >\n"
                  "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n</FORM>\n</CENTER>\n"
                  "</BODY>\n</HTML>\n");
    // With a session the closing page stands alone, still without the folder's picture and colour.
    EXPECT_EQ(form("BWRITEWR_FIX2"), closing);
}

}  // namespace
