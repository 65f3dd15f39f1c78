// The unread list of one folder and of every board folder, marking chosen
// messages read and marking a whole folder read, through the real program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cgi/cgi_harness.h"
#include "store/confirmations.h"
#include "store/file_primitives.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "008 Shared accounts keep no marks\n"
    "230 Expires\n"
    "446 Unread\n"
    "447 Mark read\n"
    "448 Select all\n"
    "449 Clear all\n";

// Tree order: Secret (no access for taro) hides Below and Deeper; Later, after
// them at Secret's own depth, is listed with its own subtree; Category is no
// board folder.
const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=2 class=0
folder 6 name="Secret" access=50 write=60 class=1
folder 7 name="Below" access=1 write=2 class=2
folder 10 name="Deeper" access=1 write=2 class=3
folder 9 name="Later" access=1 write=2 class=1
folder 11 name="Under later" access=1 write=2 class=2
folder 8 name="Category" access=1 write=2 mode=1 class=0
user taro password=t name="Taro" level=10
user table password=t name="Table" level=10
user guest password=g name="Guest" level=10 mode=2
personal table UNREAD_LISTMODE 1
)";

class UnreadListTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
        install.use_store();
    }
    int post(int folder, const std::string& title, int confirm = 0, int reply_to = 0) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = folder;
        sBBS_IDX.SEL_NO = reply_to;
        sBBS_IDX.CONFIRM = confirm;
        copy_field(sBBS_IDX.WRITE_TITLE, title.c_str());
        copy_field(sBBS_IDX.WRITER_NAME, "Taro");
        copy_field(sBBS_IDX.WRITER_ID, "taro");
        EXPECT_EQ(Fio_BBS_IDX(2), 0);
        const int sel_no = sBBS_IDX.SEL_NO;
        if (confirm != 0) {  // a confirmation goes into the message's directory
            char dir[1024];
            EXPECT_TRUE(message_dir_path(dir, sizeof dir, folder, sel_no));
            Cu_mkdir(dir);
        }
        return sel_no;
    }
    void write_marks(const std::string& uid, int folder, const std::vector<int32_t>& marks) {
        std::string bytes(marks.size() * 4, '\0');
        std::memcpy(bytes.data(), marks.data(), bytes.size());
        install.write_data_file("user/" + uid + "/r" + std::to_string(folder) + ".idx", bytes);
    }
    std::vector<int32_t> marks(const std::string& uid, int folder) {
        const std::string path = "user/" + uid + "/r" + std::to_string(folder) + ".idx";
        if (!install.data_file_exists(path)) return {};
        const std::string bytes = install.read_data_file(path);
        std::vector<int32_t> result(bytes.size() / 4);
        std::memcpy(result.data(), bytes.data(), result.size() * 4);
        return result;
    }
    // A sanitizer's report fails the program's run.
    static std::string checked(const CgiResult& result) {
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        return result.out;
    }
    std::string get(const std::string& uid, const std::string& job) {
        return checked(install.get(install.session(uid) + "&FOLDER_NO=5&JOB=" + job));
    }
    CgiResult post_form(const std::string& uid, const std::string& job, const std::vector<std::string>& selected) {
        install.session(uid);
        MultipartBody form;
        form.field("SKEY1", "1234567").field("SKEY2", "7654321").field("uid", uid).field("JOB", job);
        form.field("FOLDER_NO", "5");
        for (const auto& value : selected) form.field("FOLSEL", value);
        const CgiResult result = install.post_multipart(form);
        checked(result);
        return result;
    }
    static bool has(const std::string& out, const std::string& piece) {
        return out.find(piece) != std::string::npos;
    }
    static int count(const std::string& out, const std::string& piece) {
        int n = 0;
        for (std::size_t at = out.find(piece); at != std::string::npos; at = out.find(piece, at + 1)) ++n;
        return n;
    }
    CgiInstallation install;
};

const std::string kButtons =
    "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"Mark read\" onClick=\"return sub_chk()\"> \n"
    "<INPUT TYPE=\"button\" NAME=\"NRFLG\" VALUE=\"Select all\" onClick=\"return nr_chk()\"> \n"
    "</FORM>\n</BODY>\n</HTML>\n";

TEST_F(UnreadListTest, NothingUnreadGivesHeadingsAndButtonsWithoutTheSelectScript) {
    post(5, "Read one");
    write_marks("table", 5, {1});
    const std::string out = get("table", "NRDETAILS");
    EXPECT_TRUE(has(out, "<FONT SIZE=\"5\"><B>Unread</B></FONT>\n<HR>\n"));
    EXPECT_TRUE(has(out, "<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"1234567\">\n"
                         "<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"7654321\">\n"
                         "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"NRDETAILSWR\">\n"
                         "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"5\">\n"
                         "<INPUT TYPE=\"hidden\" name=\"uid\" value=\"table\">\n<TABLE BORDER>\n"));
    // One folder without expiry: seven columns and no expiry heading.
    EXPECT_TRUE(has(out, "COLSPAN=7><B>Notices</B></TD>\n</TR>\n</TABLE>\n<P>\n" + kButtons));
    EXPECT_FALSE(has(out, "Expires"));
    EXPECT_FALSE(has(out, "nrflg"));
    EXPECT_FALSE(has(out, "FOLSEL"));

    // A shared account keeps no marks: message 8 and nothing more.
    const std::string shared = get("guest", "NRDETAILS");
    EXPECT_TRUE(has(shared, "<HR>\nShared accounts keep no marks\n</BODY>\n</HTML>\n"));
    EXPECT_FALSE(has(shared, "<FORM"));
}

TEST_F(UnreadListTest, OneUnreadMessageGetsTheSingleCheckboxScriptTwoTheLoop) {
    post(5, "Seen");
    post(5, "Fresh");
    post(5, "Gone");
    post(5, "Kept");
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = 5;
    sBBS_IDX.SEL_NO = 3;
    ASSERT_EQ(Fio_BBS_IDX(3), 0);  // stays in bbs1.idx as deleted: never listed
    write_marks("table", 5, {1, 0, 0, 1});
    std::string out = get("table", "NRDETAILS");
    EXPECT_EQ(count(out, "NAME=\"FOLSEL\""), 1);
    EXPECT_TRUE(has(out, "<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"5,2\">"));
    EXPECT_TRUE(has(out, ">Fresh</A>"));
    EXPECT_FALSE(has(out, ">Seen</A>"));
    EXPECT_TRUE(has(out, "document.INPUT.NRFLG.value=\"Clear all\";\ndocument.INPUT.FOLSEL.checked=true;\n"));
    EXPECT_FALSE(has(out, "l_loop"));

    write_marks("table", 5, {0});  // the others lie beyond the marks: unread
    out = get("table", "NRDETAILS");
    EXPECT_FALSE(has(out, "Gone"));
    EXPECT_TRUE(has(out, "for ( l_loop=0 ; l_loop<3 ; l_loop++ ) {\n"
                         "document.INPUT.FOLSEL[l_loop].checked=true;\n"));

    // The full view (no setting) shows the folder's name and the message's head with its checkbox.
    out = get("taro", "NRDETAILS");
    EXPECT_EQ(count(out, "<B>Notices</B><BR>\n"), 3);
    EXPECT_TRUE(has(out, "<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"5,1\">"));
    EXPECT_TRUE(has(out, "<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"5,2\">"));
    EXPECT_TRUE(has(out, kButtons));
}

TEST_F(UnreadListTest, FullViewShowsEachThreadAndKeepsThePageMarksAside) {
    post(5, "Root");
    post(5, "Other");
    post(5, "Reply", 0, 1);
    write_marks("taro", 5, {0, 0, 1});
    // The thread table of message 1 reads the marks of 1 and 3 (read): message
    // 2 is still judged by its own mark.
    const std::string out = install.get(install.session("taro") + "&FOLDER_NO=5&JOB=NRDETAILS&PPage=7").out;
    EXPECT_TRUE(has(out, "VALUE=\"5,1\""));
    EXPECT_TRUE(has(out, "VALUE=\"5,2\""));
    EXPECT_FALSE(has(out, "VALUE=\"5,3\""));
    EXPECT_TRUE(has(out, "JOB=NRROOM&FOLDER_NO=5&SEL_NO=3&PPage=7"));
    EXPECT_TRUE(has(out, "l_loop<2 ;"));
}

TEST_F(UnreadListTest, AllFoldersSkipTheSubtreeWithoutAccessButNotALaterSibling) {
    for (int folder : {5, 6, 7, 10, 9, 11, 8}) post(folder, "In " + std::to_string(folder));
    const std::string out = get("table", "NRDETAILSALL");
    for (const char* shown : {">In 5</A>", ">In 9</A>", ">In 11</A>", "<B>Later</B>", "VALUE=\"11,1\""}) {
        EXPECT_TRUE(has(out, shown)) << shown;
    }
    for (const char* hidden : {"In 6", "In 7", "In 10", "In 8", "Secret", "Below", "Deeper", "Category"}) {
        EXPECT_FALSE(has(out, hidden)) << hidden;
    }
    // Every folder's row has eight columns: the expiry heading is there.
    EXPECT_TRUE(has(out, "Expires</TD>\n</TR>\n"));
    EXPECT_EQ(count(out, "COLSPAN=8>"), 3);
    EXPECT_LT(out.find("<B>Notices</B>"), out.find("<B>Later</B>"));
    EXPECT_TRUE(has(out, "l_loop<3 ;"));

    // The full view walks the same folders.
    const std::string full = get("taro", "NRDETAILSALL");
    EXPECT_TRUE(has(full, "<B>Later</B><BR>\n"));
    EXPECT_FALSE(has(full, "Secret"));
    EXPECT_FALSE(has(full, "In 10"));
}

TEST_F(UnreadListTest, MarkingSelectedIgnoresFoldersWithoutAccessAndNumbersBeyondTheFolder) {
    post(5, "One");
    post(5, "Two", 2);
    post(5, "Three");
    post(6, "Secret one");
    const CgiResult result = post_form("table", "NRDETAILSWR", {"5,2", "6,1", "5,99", "x,1", "5,-1", "5,"});
    EXPECT_EQ(marks("table", 5), (std::vector<int32_t>{0, 1}));
    EXPECT_TRUE(marks("table", 6).empty());
    EXPECT_EQ(Fio_CONFIRM_TXT_COUNT(5, 2), 1);  // it asked for a confirmation
    // The answer is the folder's unread list, without the message marked.
    EXPECT_TRUE(has(result.out, "VALUE=\"5,1\""));
    EXPECT_FALSE(has(result.out, "VALUE=\"5,2\""));
    EXPECT_TRUE(has(result.out, "l_loop<2 ;"));

    // A shared account marks nothing.
    post_form("guest", "NRDETAILSWR", {"5,1"});
    EXPECT_TRUE(marks("guest", 5).empty());
}

TEST_F(UnreadListTest, MarkAllReadCoversEveryMessageInBatchesAndShowsTheFrameset) {
    // An empty folder writes nothing.
    EXPECT_TRUE(has(get("taro", "SET_ALLREAD"), "<FRAMESET"));
    EXPECT_TRUE(marks("taro", 5).empty());

    for (int i = 1; i <= 250; ++i) post(5, "Topic " + std::to_string(i));
    write_marks("taro", 5, {1, 0, 1});
    EXPECT_TRUE(has(get("taro", "SET_ALLREAD"), "<FRAMESET"));
    EXPECT_EQ(marks("taro", 5), std::vector<int32_t>(250, 1));
    EXPECT_FALSE(has(get("taro", "NRDETAILS"), "FOLSEL"));

    get("guest", "SET_ALLREAD");
    EXPECT_TRUE(marks("guest", 5).empty());
}


TEST_F(UnreadListTest, OneFolderTakesItsPictureColourAndExpiryColumnTheAllFoldersListNot) {
    install.build("setting 5 BACKPIC2 back.gif\nsetting 5 FONTCOLOR2 ff0000\nsetting 5 TIME_LIMIT_FLG 1\n");
    const std::string out = get("table", "NRDETAILS");
    EXPECT_TRUE(has(out, "<BODY BACKGROUND=\"wbbs.cgi?JOB=BG2_DL&SKEY1=1234567&SKEY2=7654321&uid=table&FOLDER_NO=5\" >\n"));
    EXPECT_TRUE(has(out, "<FONT COLOR=\"#ff0000\"><FONT SIZE=\"5\"><B>Unread</B></FONT>\n<HR>\n"));
    EXPECT_TRUE(has(out, "Expires</TD>\n</TR>\n<TR>\n\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\" COLSPAN=8>"));
    EXPECT_TRUE(has(out, "</TABLE>\n<P>\n</FONT>" + kButtons));

    const std::string all = get("table", "NRDETAILSALL");
    EXPECT_FALSE(has(all, "BACKGROUND=\"wbbs.cgi"));
    EXPECT_FALSE(has(all, "ff0000"));
    EXPECT_TRUE(has(all, "</TABLE>\n<P>\n" + kButtons));
}

}  // namespace
