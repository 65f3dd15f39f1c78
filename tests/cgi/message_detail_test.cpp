// The message frame: neighbours, the message, its one-line replies, thread,
// confirmations and buttons, and the two actions posted from it, through the
// real program; the unread list's renderers in this process.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cgi/cgi_harness.h"
#include "config/message_table.h"
#include "config/sysinfo.h"
#include "request/request_state.h"
#include "screens/message_detail.h"
#include "screens/page_output.h"
#include "store/file_primitives.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "008 No right\n"
    "011 No such message\n"
    "019 Busy, try again\n"
    "219 Delete\n"
    "233 One line\n"
    "234 Write something\n"
    "300 New\n"
    "310 Read\n"
    "312 No.\n"
    "313 Title\n"
    "314 Writer\n"
    "315 Date\n"
    "319 (deleted)\n"
    "320 NEW\n"
    "402 Reply\n"
    "403 Edit\n"
    "407 Attachment\n"
    "413 Gone 1\n"
    "414 Gone 2\n"
    "415 Gone 3\n"
    "416 Gone 4\n"
    "420 Sending\n"
    "422 Delete it?\n"
    "424 Here\n"
    "425 *\n"
    "426 Read by\n"
    "427 Confirm\n"
    "428 Did you read it?\n"
    "429 people\n"
    "452 Move\n"
    "454 Next\n"
    "455 Prev\n"
    "456 No next\n"
    "457 No previous\n";

const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=2
user taro password=t name="Taro" level=10 disp=1 mail=taro@example.com
user hanako password=h name="Hanako" level=10 disp=1
user guest password=g name="Guest" level=10 mode=2 disp=1
user boss password=b name="Boss" level=10 disp=1
grant 5 user boss 8
setting 5 LINE_RES 1
setting 5 CONFIRM 1
setting 5 REWRITE_FLG 2
setting 5 ATTACH_MAX 3
setting 5 RESFONTCOLOR3 8B0000
)";

const std::string kSession = "uid=taro&SKEY1=1234567&SKEY2=7654321";

struct Post {
    std::string title = "Topic";
    std::string body;
    int reply_to = 0;
    std::string writer = "taro";
    int html_mode = 0;
    int confirm = 0;
    int add_file = 0;
};

class MessageDetailTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
        install.use_store();
    }
    // Posts the way the posting screen does: the index record, the message
    // directory and the body. Returns the new number.
    int post(const Post& p) {
        install.use_store();
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 5;
        sBBS_IDX.SEL_NO = p.reply_to;
        sBBS_IDX.HTML_MODE = p.html_mode;
        sBBS_IDX.CONFIRM = p.confirm;
        sBBS_IDX.ADD_FILE = p.add_file;
        copy_field(sBBS_IDX.WRITE_TITLE, p.title.c_str());
        copy_field(sBBS_IDX.WRITER_NAME, p.writer == "taro" ? "Taro" : "Someone");
        copy_field(sBBS_IDX.WRITER_ID, p.writer.c_str());
        EXPECT_EQ(Fio_BBS_IDX(2), 0);
        const int sel_no = sBBS_IDX.SEL_NO;
        char dir[1024];
        EXPECT_TRUE(message_dir_path(dir, sizeof dir, 5, sel_no));
        Cu_mkdir(dir);
        std::string body = p.body;
        EXPECT_EQ(Fio_BODY_TXT(5, sel_no, 2, body.data()), 0);
        return sel_no;
    }
    int post(const std::string& title, int reply_to = 0) {
        Post p;
        p.title = title;
        p.reply_to = reply_to;
        return post(p);
    }
    std::string view(const std::string& rest, const std::string& uid = "taro") {
        return install.get(install.session(uid) + "&FOLDER_NO=5&JOB=FRM223&" + rest).out;
    }
    CgiResult action(const std::string& job, const std::vector<std::pair<std::string, std::string>>& fields,
                     const std::string& uid = "taro") {
        install.session(uid);
        MultipartBody form;
        form.field("SKEY1", "1234567").field("SKEY2", "7654321").field("uid", uid).field("JOB", job);
        form.field("FOLDER_NO", "5");
        for (const auto& [name, value] : fields) form.field(name, value);
        return install.post_multipart(form);
    }
    static bool has(const std::string& out, const std::string& piece) {
        return out.find(piece) != std::string::npos;
    }
    static int count(const std::string& out, const std::string& piece) {
        int n = 0;
        for (std::size_t at = out.find(piece); at != std::string::npos; at = out.find(piece, at + 1)) ++n;
        return n;
    }
    static std::string hidden(const std::string& uid, const std::string& job) {
        return "<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"1234567\">\n"
               "<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"7654321\">\n"
               "<INPUT TYPE=\"hidden\" name=\"uid\" value=\"" + uid + "\">\n"
               "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"" + job + "\">\n"
               "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"5\">\n";
    }
    // A navigation button's form: to message sel_no on page page, or (sel_no
    // 0) the button that only says there is none.
    static std::string nav(int sel_no, int page, const std::string& caption, const std::string& refusal) {
        std::string form = "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"wbbs.cgi\" METHOD=POST >\n" +
                           hidden("taro", "FRM223") + "<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"" +
                           std::to_string(sel_no) + "\">\n<INPUT TYPE=\"hidden\" name=\"PPage\" value=\"" +
                           std::to_string(page) + "\">\n<TD NOWRAP>\n";
        form += sel_no != 0 ? "<INPUT TYPE=\"submit\" VALUE=\"" + caption + "\" > \n"
                            : "<INPUT TYPE=\"button\" VALUE=\"" + caption + "\" onClick=\"alert('" + refusal +
                                  "')\">\n";
        return form + "</FORM>\n</TD>\n";
    }
    static std::string buttons(int first, int first_page, int second, int second_page) {
        return "<TABLE>\n<TR>\n" + nav(first, first_page, "Prev", "No previous") +
               nav(second, second_page, "Next", "No next") + "</TR>\n</TABLE>\n";
    }
    // The part of the page between the message head and the rule after the body.
    static std::string body_part(const std::string& out) {
        const std::string start = "</TABLE>\n<HR>\n";
        const std::size_t from = out.find(start);
        if (from == std::string::npos) return "";
        const std::size_t begin = from + start.size();
        return out.substr(begin, out.find("<HR>\n", begin) - begin);
    }
    // True when a tag carries an attribute named on...: quoted values are
    // passed over, they are text.
    static bool has_event_handler(const std::string& html) {
        for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
            char quote = 0;
            for (std::size_t i = at + 1; i < html.size() && (quote != 0 || html[i] != '>'); ++i) {
                if (quote != 0) {
                    if (html[i] == quote) quote = 0;
                } else if (html[i] == '"' || html[i] == '\'') {
                    quote = html[i];
                } else if ((html[i] == ' ' || html[i] == '\t' || html[i] == '\n' || html[i] == '/') &&
                           html.compare(i + 1, 2, "on") == 0) {
                    return true;
                }
            }
        }
        return false;
    }
    static std::string lower(std::string s) {
        for (char& c : s) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return s;
    }
    CgiInstallation install;
};

TEST_F(MessageDetailTest, NeighboursCrossPageBoundaries) {
    for (int i = 1; i <= 45; ++i) post("Topic " + std::to_string(i));
    // By number, the first of page 2: back to the 20th of page 1, on to the 2nd of page 2.
    EXPECT_TRUE(has(view("SEL_NO=21&PPage=2&AC_MODE=1"), buttons(20, 1, 22, 2)));
    // The 20th of page 2 goes on to the first of page 3.
    EXPECT_TRUE(has(view("SEL_NO=40&PPage=2&AC_MODE=1"), buttons(39, 2, 41, 3)));
    // The last message of the last page: nothing follows.
    EXPECT_TRUE(has(view("SEL_NO=45&PPage=3"), buttons(44, 3, 0, 3)));
    // Latest activity first (45 ... 26 on page 1): the 20th record of page 1
    // leads first to the first of page 2, then to the 19th of page 1.
    EXPECT_TRUE(has(view("SEL_NO=26&PPage=1&AC_MODE=3"), buttons(25, 2, 27, 1)));
    EXPECT_TRUE(has(view("SEL_NO=25&PPage=2&AC_MODE=3"), buttons(24, 2, 26, 1)));
    EXPECT_TRUE(has(view("SEL_NO=45&PPage=1&AC_MODE=3"), buttons(44, 1, 0, 1)));
    // A message not on the page: the page's last record on one side only.
    EXPECT_TRUE(has(view("SEL_NO=3&PPage=2&AC_MODE=1"), buttons(40, 2, 0, 2)));

    // A reply to topic 1 (message 46) sets the thread orders apart. Threads by
    // posting (1, 46, 2 ... 45): the 20th of page 1, the first of page 2, the last.
    post("Re", 1);
    EXPECT_TRUE(has(view("SEL_NO=19&PPage=1&AC_MODE=4"), buttons(18, 1, 20, 2)));
    EXPECT_TRUE(has(view("SEL_NO=20&PPage=2&AC_MODE=4"), buttons(19, 1, 21, 2)));
    EXPECT_TRUE(has(view("SEL_NO=45&PPage=3&AC_MODE=4"), buttons(44, 3, 0, 3)));
    // Roots only: the last root ends the list; a reply stands on no page of roots.
    EXPECT_TRUE(has(view("SEL_NO=45&PPage=3&AC_MODE=2"), buttons(44, 3, 0, 3)));
    EXPECT_TRUE(has(view("SEL_NO=46&PPage=3&AC_MODE=2"), buttons(45, 3, 0, 3)));
    // Threads by activity (1, 46, 45 ... 2), newest first.
    EXPECT_TRUE(has(view("SEL_NO=28&PPage=1&AC_MODE=5"), buttons(27, 2, 29, 1)));
    EXPECT_TRUE(has(view("SEL_NO=27&PPage=2&AC_MODE=5"), buttons(26, 2, 28, 1)));
    EXPECT_TRUE(has(view("SEL_NO=2&PPage=3&AC_MODE=5"), buttons(0, 3, 3, 3)));
}

TEST_F(MessageDetailTest, ThreadTableOnlyForThreadsAndEveryRowOnce) {
    const int alone = post("Alone");
    std::string out = view("SEL_NO=" + std::to_string(alone) + "&PPage=1");
    EXPECT_FALSE(has(out, "<TABLE BORDER>\n<TR>\n\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">Read</TD>"));
    EXPECT_EQ(count(out, "&JOB=FRM223&"), 0);

    const int root = post("Root");
    std::vector<int> thread = {root};
    for (int i = 0; i < 44; ++i) thread.push_back(post("Re " + std::to_string(i), i % 3 == 0 ? root : thread.back()));
    out = view("SEL_NO=" + std::to_string(thread[30]) + "&PPage=7");
    EXPECT_TRUE(has(out, "<TABLE BORDER>\n<TR>\n\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">Read</TD>\n"
                         "\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">Here</TD>\n"));
    EXPECT_EQ(count(out, "&JOB=FRM223&"), 45);
    for (int sel_no : thread) {
        EXPECT_EQ(count(out, "&SEL_NO=" + std::to_string(sel_no) + "&PPage=7\" TARGET=\"FRM223SEL5\">"), 1) << sel_no;
    }
    // The message shown is marked as the current one and has just been read;
    // the others are unread.
    EXPECT_EQ(count(out, "ALIGN=\"CENTER\">*<BR></TD>\n"), 1);
    EXPECT_EQ(count(out, "<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">NEW</TD>\n"), 44);
    EXPECT_TRUE(has(out, "<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><BR></TD>\n"
                         "\t<TD NOWRAP BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">*<BR></TD>\n"));
}

// A writer that keeps the folder past the reader's wait: both frames say the
// board is busy instead of showing an empty message or an empty folder.
TEST_F(MessageDetailTest, FolderLockedPastTheWaitShowsBusyNotEmpty) {
    const int sel_no = post("Topic");
    install.write_data_file("5/bbs.chk", "");
    std::string out = view("SEL_NO=" + std::to_string(sel_no) + "&PPage=1");
    EXPECT_TRUE(has(out, "Busy, try again<HR>\n"));
    EXPECT_FALSE(has(out, ">Topic<"));
    out = install.get(install.session("taro") + "&FOLDER_NO=5&JOB=FRM222&AC_MODE=1").out;
    EXPECT_TRUE(has(out, "</TABLE>\nBusy, try again<BR>\n"));
    // Once the lock is gone, the message is there again.
    ASSERT_EQ(std::remove((install.data_dir() + "5/bbs.chk").c_str()), 0);
    EXPECT_TRUE(has(view("SEL_NO=" + std::to_string(sel_no) + "&PPage=1"), ">Topic<"));
}

TEST_F(MessageDetailTest, ConfirmationsOnViewAndByButton) {
    Post asks;
    asks.confirm = 2;
    const int on_view = post(asks);
    view("SEL_NO=1&PPage=1");
    const std::string out = view("SEL_NO=1&PPage=1");
    EXPECT_EQ(install.read_data_file("5/x1/confirm.txt"), "taro,1,Taro,\n");
    EXPECT_TRUE(has(out, hidden("taro", "CONFIRMWR") + "<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"1\">\n<P>\n"
                         "<TABLE BORDER>\n<TR>\n<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"LEFT\">Read by</TD>\n"
                         "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">\n<SELECT>\n<OPTION>1 people\n<OPTION>Taro\n"
                         "</SELECT>\n</TD>\n</FORM>\n"));  // reading confirms: no button
    EXPECT_EQ(on_view, 1);

    asks.confirm = 1;
    post(asks);
    const std::string button =
        "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">\n<INPUT TYPE=\"submit\" VALUE=\"Confirm\" "
        "onClick=\"return confirm('Did you read it?')\" > \n</TD>\n";
    EXPECT_TRUE(has(view("SEL_NO=2&PPage=1"), "<OPTION>0 people\n</SELECT>\n</TD>\n" + button));
    EXPECT_FALSE(install.data_file_exists("5/x2/confirm.txt") &&
                 !install.read_data_file("5/x2/confirm.txt").empty());
    const std::string shared = view("SEL_NO=2&PPage=1", "guest");
    EXPECT_TRUE(has(shared, "<OPTION>0 people\n"));
    EXPECT_FALSE(has(shared, "VALUE=\"Confirm\""));
    EXPECT_FALSE(has(view("SEL_NO=3&PPage=1"), "CONFIRMWR"));  // no such message: no list

    // The button's action: the confirmation, then the frame again.
    const CgiResult confirmed = action("CONFIRMWR", {{"SEL_NO", "2"}});
    EXPECT_EQ(install.read_data_file("5/x2/confirm.txt"), "taro,1,Taro,\n");
    EXPECT_TRUE(has(confirmed.out, "<OPTION>1 people\n<OPTION>Taro\n"));
    action("CONFIRMWR", {{"SEL_NO", "2"}}, "guest");  // a shared account does not confirm
    EXPECT_EQ(install.read_data_file("5/x2/confirm.txt"), "taro,1,Taro,\n");

    // A long list is read 100 names at a time: each name once, in order.
    std::string lines;
    for (int i = 0; i < 150; ++i) {
        const std::string n = std::to_string(i);
        lines += "u" + n + ",1,Name" + n + ",\n";
    }
    install.write_data_file("5/x2/confirm.txt", lines);
    const std::string many = view("SEL_NO=2&PPage=1");
    EXPECT_TRUE(has(many, "<OPTION>150 people\n<OPTION>Name0\n"));
    EXPECT_TRUE(has(many, "<OPTION>Name99\n<OPTION>Name100\n"));
    EXPECT_TRUE(has(many, "<OPTION>Name149\n</SELECT>\n"));
    EXPECT_EQ(count(many, "<OPTION>Name"), 150);
}

TEST_F(MessageDetailTest, OneLineRepliesAreCutWholeAndMakeTheMessageUnread) {
    post("Topic");
    view("SEL_NO=1&PPage=1", "hanako");
    EXPECT_EQ(install.read_data_file("user/hanako/r5.idx"), std::string("\x01\0\0\0", 4));

    // 249 bytes and a two-byte character at 250 and 251: the character goes whole.
    const std::string split = std::string(249, 'a') + "\x82\xa0" + std::string(49, 'z');
    CgiResult result = action("LINE_RESWR", {{"SEL_NO", "1"}, {"LINE_RES", split}});
    EXPECT_EQ(install.read_data_file("5/x1/lineres.txt"), "taro,Taro," + std::string(249, 'a') + "\n");
    result = action("LINE_RESWR", {{"SEL_NO", "1"}, {"LINE_RES", std::string(300, 'b')}});
    EXPECT_EQ(install.read_data_file("5/x1/lineres.txt"),
              "taro,Taro," + std::string(249, 'a') + "\ntaro,Taro," + std::string(250, 'b') + "\n");
    // The frame follows, with the replies in the folder's colour for names.
    EXPECT_TRUE(has(result.out, "<FONT COLOR=\"#8B0000\">Taro</FONT>&nbsp;" + std::string(250, 'b') + "<BR>\n"));
    EXPECT_TRUE(has(result.out, "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"wbbs.cgi\" "
                                "METHOD=POST >\n" + hidden("taro", "LINE_RESWR") +
                                "<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"1\">\n<P>\n"));
    // Unread again for everyone; the writer has read it again in the frame.
    EXPECT_EQ(install.read_data_file("user/hanako/r5.idx"), std::string(4, '\0'));
    EXPECT_EQ(install.read_data_file("user/taro/r5.idx"), std::string("\x01\0\0\0", 4));

    // Refusals: the error page titled by message 233, nothing stored.
    result = action("LINE_RESWR", {{"SEL_NO", "1"}, {"LINE_RES", ""}});
    EXPECT_TRUE(has(result.out, "<FONT SIZE=\"5\"><B>One line</B></FONT>\n<P><BR><HR><P><BR>\n"
                                "<FONT COLOR=\"RED\"><B>Write something</B></FONT>\n"));
    result = action("LINE_RESWR", {{"SEL_NO", "2"}, {"LINE_RES", "hello"}});
    EXPECT_TRUE(has(result.out, "<FONT COLOR=\"RED\"><B>No such message</B></FONT>\n"));
    EXPECT_FALSE(install.data_file_exists("5/x2"));
    EXPECT_EQ(count(install.read_data_file("5/x1/lineres.txt"), "\n"), 2);

    // Replies are read 20 at a time: each one once, in order.
    std::string replies;
    for (int i = 0; i < 45; ++i) {
        const std::string n = std::to_string(i);
        replies += "u" + n + ",N" + n + ",r" + n + "\n";
    }
    install.write_data_file("5/x1/lineres.txt", replies);
    const std::string out = view("SEL_NO=1&PPage=1");
    EXPECT_EQ(count(out, "</FONT>&nbsp;r"), 45);
    EXPECT_TRUE(has(out, ">N19</FONT>&nbsp;r19<BR>\n<FONT COLOR=\"#8B0000\">N20</FONT>&nbsp;r20<BR>\n"));
    EXPECT_TRUE(has(out, ">N44</FONT>&nbsp;r44<BR>\n<FORM NAME=\"INPUT\""));
}

TEST_F(MessageDetailTest, AttachmentSizeIsGroupedInThousands) {
    Post p;
    p.add_file = 1;
    const int sel_no = post(p);
    install.write_data_file("5/x1/atfile02/report.pdf", std::string(1234567, 'x'));
    std::memset(&sADD_FILE, 0, sizeof sADD_FILE);
    sADD_FILE.SEL_NO = sel_no;
    sADD_FILE.SUB_NO = 2;
    copy_field(sADD_FILE.FILE_NAME, "report.pdf");
    ASSERT_EQ(Fio_ADD_FILE_TXT(5, 2), 0);
    EXPECT_TRUE(has(view("SEL_NO=1&PPage=1"),
                    "<HR>\nAttachment 2:<A HREF=\"wbbs.cgi?JOB=ATDL&SKEY1=1234567&SKEY2=7654321&uid=taro&FOLDER_NO=5"
                    "&SEL_NO=1&SUB_NO=2\">report.pdf (1,234,567 byte)</A><P>\n<HR>\n"));
}

TEST_F(MessageDetailTest, ButtonsFollowTheReaderAndTheWriter) {
    post("Topic");
    const std::string reply_form =
        "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"wbbs.cgi\" METHOD=POST >\n" + hidden("hanako", "BWRITE_RES") +
        "<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"1\">\n<TD>\n<INPUT TYPE=\"submit\" VALUE=\"Reply\" > \n"
        "</FORM>\n</TD>\n";
    std::string out = view("SEL_NO=1&PPage=1", "hanako");
    EXPECT_TRUE(has(out, "<TABLE>\n<TR>\n<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"wbbs.cgi\" METHOD=POST >\n" +
                             hidden("hanako", "BWRITE_NEW") + "<TD>\n<INPUT TYPE=\"submit\" VALUE=\"New\" > \n"
                             "</FORM>\n</TD>\n" + reply_form + "</TR>\n</TABLE>\n</BODY>\n</HTML>\n"));
    // The head: number, title, the writer with mail link and id, the date.
    EXPECT_TRUE(has(out, "<TR>\n\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"LEFT\">Writer</TD>\n"
                         "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\"><A HREF=\"mailto:taro@example.com\">Taro "
                         "[taro]</A>\n</TD>\n</TR>\n"));

    out = view("SEL_NO=1&PPage=1");
    EXPECT_TRUE(has(out, "BWRITE_REW"));
    EXPECT_TRUE(has(out, hidden("taro", "BWRITE_DELWR") + "<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"1\">\n"
                         "<TD>\n<INPUT TYPE=\"submit\" VALUE=\"Delete\" onClick=\"return confirm('Delete it?')\" > \n"));
    EXPECT_FALSE(has(out, "WRITE_MOVE"));
    out = view("SEL_NO=1&PPage=1", "boss");
    EXPECT_FALSE(has(out, "BWRITE_REW"));
    EXPECT_TRUE(has(out, "BWRITE_DELWR"));
    EXPECT_TRUE(has(out, hidden("boss", "WRITE_MOVE") + "<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"1\">\n"
                         "<INPUT TYPE=\"hidden\" name=\"BBS_G_NO\" value=\"1\">\n<TD>\n"
                         "<INPUT TYPE=\"submit\" VALUE=\"Move\"> \n"));
}

TEST_F(MessageDetailTest, DeletedMessageShowsTheNoticeAndTheDeleteButtonOnly) {
    Post p;
    p.confirm = 1;
    const int root = post(p);
    post("Reply", root);
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = 5;
    sBBS_IDX.SEL_NO = root;
    ASSERT_EQ(Fio_BBS_IDX(3), 0);  // kept as a place holder for its reply

    std::string out = view("SEL_NO=1&PPage=1");
    EXPECT_TRUE(has(out, "</TABLE>\nGone 1<BR>\nGone 2<BR>\nGone 3<BR>\nGone 4<P>\n<TABLE BORDER>\n"));
    for (const char* absent : {"LINE_RESWR", "CONFIRMWR", "BWRITE_RES", "BWRITE_REW", "LEFT\">Title</TD>"}) {
        EXPECT_FALSE(has(out, absent)) << absent;
    }
    EXPECT_TRUE(has(out, "BWRITE_DELWR"));
    EXPECT_TRUE(has(out, ">(deleted)</A></TD>\n"));  // its row in the thread
    EXPECT_FALSE(has(view("SEL_NO=1&PPage=1", "hanako"), "BWRITE_DELWR"));
    // A hand-made reply to it is refused as no message.
    const CgiResult refused = action("LINE_RESWR", {{"SEL_NO", "1"}, {"LINE_RES", "hi"}});
    EXPECT_TRUE(has(refused.out, "<FONT COLOR=\"RED\"><B>No such message</B></FONT>\n"));
    EXPECT_FALSE(install.data_file_exists("5/x1/lineres.txt"));
}

TEST_F(MessageDetailTest, HostileBodiesNeverRunInAnyTextMode) {
    const std::string hostile =
        "<B>bold</B> <script>alert(1)</script><img src=x onerror=alert(2)>"
        "<a href=\"javascript:alert(3)\">x</a><A HREF=\"http://example.com/\">fine</A>"
        "<div><div><span>nested</PRE></div><iframe src=\"http://evil/\"></iframe>"
        "<b onmouseover=alert(4)>y</b><table><tr><td>cell</td></tr>"
        "<svg><script>alert(5)</script></svg><style>*{}</style></TEXTAREA><scr<script>ipt>alert(6)</script>\r\n"
        "> quoted line\r\nvisit http://example.org/a\"onmouseover=\"alert(7) now";
    for (int mode : {0, 1, 2}) {
        Post p;
        p.body = hostile;
        p.html_mode = mode;
        const int sel_no = post(p);
        const std::string out = view("SEL_NO=" + std::to_string(sel_no) + "&PPage=1");
        const std::string body = body_part(out);
        const std::string lowered = lower(body);
        for (const char* bad : {"<script", "javascript:", "<iframe", "<svg", "<style", "<textarea"}) {
            EXPECT_FALSE(has(lowered, bad)) << "mode " << mode << ": " << bad << "\n" << body;
        }
        EXPECT_FALSE(has_event_handler(lowered)) << "mode " << mode << "\n" << body;
        EXPECT_TRUE(has(body, "<B>bold</B>")) << body;
        EXPECT_TRUE(has(body, "<A HREF=\"http://example.com/\">fine</A>")) << body;
        EXPECT_TRUE(has(body, "<FONT COLOR=\"#8B0000\">")) << body;  // the quoted line
        EXPECT_EQ(count(out, "<SCRIPT"), 1);  // the frame's own
        if (mode == 1) {
            EXPECT_EQ(body.rfind("<PRE>", 0), 0u) << body;
            EXPECT_EQ(count(body, "</PRE>"), 1) << body;
            EXPECT_EQ(body.substr(body.size() - 6), "</PRE>");
        }
        if (mode == 0) {  // addresses go through the jump handler, line breaks become <BR>
            EXPECT_TRUE(has(body, "<A HREF=\"wbbs.cgi?JOB=JUMPLINK&amp;FOLDER_NO=5&amp;uid=taro")) << body;
            EXPECT_TRUE(has(body, "<BR>")) << body;
        }
    }
}

TEST_F(MessageDetailTest, DeeplyNestedBodyShowsItsRestAsText) {
    Post p;
    p.html_mode = 2;
    p.body = "<B>start</B>";
    for (int i = 0; i < 20000; ++i) p.body += "<div>";
    post(p);
    std::string body = body_part(view("SEL_NO=1&PPage=1"));
    EXPECT_TRUE(has(body, "<B>start</B>"));
    EXPECT_TRUE(has(body, "&lt;div&gt;&lt;div&gt;"));
    // Thousands of levels stay markup, far more than any browser nests.
    EXPECT_GT(count(body, "<DIV>"), 2000);
    EXPECT_LT(count(body, "<DIV>"), 10000);

    // Ordinary markup, however long, is all HTML.
    p.body.clear();
    while (p.body.size() < 100000) p.body += "<P>Hello <B>world</B><DIV><FONT COLOR=\"red\">x</FONT></DIV>\r\n";
    post(p);
    body = body_part(view("SEL_NO=2&PPage=1"));
    EXPECT_FALSE(has(body, "&lt;"));
    EXPECT_EQ(count(body, "<B>world</B>"), count(p.body, "<B>world</B>"));
}

TEST_F(MessageDetailTest, NumbersBeyondTheFolderWriteNothing) {
    post("Topic");
    const std::string out = view("SEL_NO=2000000000&PPage=1");
    EXPECT_TRUE(has(out, "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">2000000000</TD>\n"));
    EXPECT_TRUE(has(out, "</TR>\n</TABLE>\n<HR>\n<HR>\n"));  // empty fields, empty body
    EXPECT_FALSE(install.data_file_exists("user/taro/r5.idx"));
    action("CONFIRMWR", {{"SEL_NO", "2000000000"}});
    action("LINE_RESWR", {{"SEL_NO", "2000000000"}, {"LINE_RES", "hi"}});
    EXPECT_FALSE(install.data_file_exists("user/taro/r5.idx"));
    EXPECT_FALSE(install.data_file_exists("user/hanako/r5.idx"));
    EXPECT_FALSE(install.data_file_exists("5/x2000000000"));
    // No number: the empty frame.
    EXPECT_TRUE(has(view("PPage=1"), "</SCRIPT>\n</BODY>\n</HTML>\n"));
}

// The unread list shows messages with the same renderers; they are driven
// here in this process, with the request state an unread list would have.
TEST_F(MessageDetailTest, UnreadListRenderersRowAndFullView) {
    Post p;
    p.title = "Root <i>";
    p.body = "Hello";
    const int root = post(p);
    post("Re", root);
    copy_field(JOB_EXE, "wbbs.cgi");
    copy_field(cgi_uid, "taro");
    copy_field(cgi_SKEY1, "1");
    copy_field(cgi_SKEY2, "2");
    copy_field(SYSINFO.SITE_ID, "T1");
    STRDEF.Message.set(312, "No.");
    std::memset(&G_DIR_CONFIG, 0, sizeof G_DIR_CONFIG);
    std::memset(&G_USER_MST, 0, sizeof G_USER_MST);
    copy_field(G_USER_MST.USER_ID, "taro");
    G_USER_MST.MODE = 2;
    cgi_FOLDER_NO = 5;
    auto render = [&](int sel_no, int mode) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 5;
        sBBS_IDX.SEL_NO = sel_no;
        EXPECT_EQ(Fio_BBS_IDX(1), 0);
        std::string out;
        page_format_detail::begin_capture(&out);
        if (mode >= 0) {
            b_DETAILS_sub(5, sel_no, mode);
        } else {
            b_DETAILS_sub3(5, 1, 1);
        }
        page_format_detail::end_capture();
        return out;
    };
    const std::string row =
        "<TR>\n\t<TD><INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"5,2\"></TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">0</TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><BR></TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">2</TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">&nbsp;&nbsp;<A HREF=\"wbbs.cgi?SKEY1=1&SKEY2=2&uid=taro"
        "&JOB=NRROOM&FOLDER_NO=5&SEL_NO=2\" TARGET=\"FRM22T1\">Re</A></TD>\n"
        "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">Taro</TD>\n";
    const std::string row2 = render(2, 2);
    EXPECT_EQ(row2.substr(0, row.size()), row);
    EXPECT_EQ(row2.substr(row.size()).find("<BR></TD>\n</TR>\n"), row2.size() - row.size() - 16);
    // The list of all folders keeps an empty expiry cell where a folder has none.
    EXPECT_EQ(count(render(2, 3), "<TD NOWRAP"), count(row2, "<TD NOWRAP") + 1);

    const std::string full = render(root, 1);
    EXPECT_TRUE(has(full, "\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"LEFT\"><INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" "
                          "VALUE=\"5,1\">No.</TD>\n"));
    EXPECT_TRUE(has(full, "<A HREF=\"wbbs.cgi?JOB=NRROOM&uid=taro&SKEY1=1&SKEY2=2&FOLDER_NO=5&SEL_NO=1\" "
                          "TARGET=\"FRM22T1\">Root &lt;i&gt;</A></TD>\n"));
    EXPECT_TRUE(has(full, "</TABLE>\nHello<P>\n"));
    EXPECT_FALSE(has(full, "<HR>"));

    const std::string thread = render(root, -1);
    EXPECT_TRUE(has(thread, "&JOB=NRROOM&FOLDER_NO=5&SEL_NO=2&PPage=1\" TARGET=\"FRM22T1\">Re</A>"));
    EXPECT_EQ(sBBS_IDX.SEL_NO, root);  // left as it was
}

}  // namespace
