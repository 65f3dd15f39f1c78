// The board's main road as people walk it, with nothing but requests: log in,
// post with attachments, read, reply, edit, answer in one line, confirm,
// delete; the session keys are taken from the pages as a browser would.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cgi/cgi_harness.h"
#include "store/index_consistency.h"

namespace {

const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=1
user taro password=t name="Taro Yamada" level=10
user hanako password=h name=Hanako level=10
user seven password=s name=Seven level=10
user boss password=b name=Boss level=10
grant 5 user seven 7
grant 5 user boss 8
setting 5 ATTACH_MAX 2
setting 5 REWRITE_FLG 2
setting 5 CONFIRM 1
setting 5 LINE_RES 1
setting 5 RES_HEADER Re
)";

struct Browser {
    explicit Browser(CgiInstallation& where) : install(where) {}

    CgiInstallation& install;
    std::string uid, key1, key2;

    // A password login opens the folder; the keys come back in its frame addresses.
    void log_in(const std::string& id, const std::string& password) {
        uid = id;
        const std::string page = install.get("FOLDER_NO=5&JOB=ROOM&uid=" + id + "&upw=" + password).out;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(page, m, std::regex("SKEY1=(\\d+)&SKEY2=(\\d+)"))) << page;
        key1 = m[1];
        key2 = m[2];
    }
    std::string get(const std::string& query) const {
        return install.get("uid=" + uid + "&SKEY1=" + key1 + "&SKEY2=" + key2 + "&FOLDER_NO=5&" + query).out;
    }
    MultipartBody form(const std::string& job) const {
        MultipartBody body;
        body.field("uid", uid).field("SKEY1", key1).field("SKEY2", key2).field("FOLDER_NO", "5").field("JOB", job);
        return body;
    }
    std::string post(const MultipartBody& body) const { return install.post_multipart(body).out; }
};

bool has(const std::string& page, const std::string& piece) { return page.find(piece) != std::string::npos; }

TEST(WholeRoadTest, PostReadReplyEditAnswerConfirmAndDelete) {
    CgiInstallation install;
    install.build(kInstallation);
    Browser taro{install}, hanako{install}, seven{install}, boss{install};
    taro.log_in("taro", "t");
    hanako.log_in("hanako", "h");
    seven.log_in("seven", "s");
    boss.log_in("boss", "b");

    // A new message with two attachments and a confirmation asked for.
    std::string page = taro.post(taro.form("BWRITE_NEWWR")
                                     .field("SEL_NO", "0")
                                     .field("WRITE_TITLE", "Lunch")
                                     .field("WRITE_DATA", "Noodles at noon?\r<b>Bring</b> a friend.")
                                     .field("HTML_MODE", "0")
                                     .field("CONFIRM", "1")
                                     .file("ATFILE", "C:\\menus\\menu.txt", "soup")
                                     .file("ATFILE", "map.gif", "GIF89a"));
    EXPECT_TRUE(has(page, "name=\"JOB\" value=\"ROOM\"")) << page;
    EXPECT_EQ(install.read_data_file("5/x1/atfile01/menu.txt"), "soup");
    EXPECT_EQ(install.read_data_file("5/x1/atfile02/map.gif"), "GIF89a");

    // Hanako sees it unread in the list, reads it, and it is read.
    EXPECT_TRUE(has(hanako.get("JOB=FRM222&AC_MODE=1"), "#FFB6C1"));
    page = hanako.get("JOB=FRM223&SEL_NO=1&AC_MODE=1&PPage=1");
    EXPECT_TRUE(has(page, "Noodles at noon?<BR>\n<B>Bring</B> a friend."));
    EXPECT_TRUE(has(page, "JOB=ATDL&SKEY1=" + hanako.key1));
    EXPECT_FALSE(has(hanako.get("JOB=FRM222&AC_MODE=1"), "#FFB6C1"));
    EXPECT_EQ(hanako.get("JOB=ATDL&SEL_NO=1&SUB_NO=1"),
              "Content-Type: application/bin-stream\nContent-Disposition: attachment; filename=menu.txt\n\nsoup");

    // Her reply starts from the numbered title and the quoted body.
    page = hanako.get("JOB=BWRITE_RES&SEL_NO=1");
    EXPECT_TRUE(has(page, "VALUE=\"Re1:Lunch\""));
    EXPECT_TRUE(has(page, "&gt;Noodles at noon?\r&gt;&lt;b&gt;Bring&lt;/b&gt; a friend."));
    page = hanako.post(hanako.form("BWRITE_RESWR")
                           .field("SEL_NO", "1")
                           .field("WRITE_TITLE", "Re1:Lunch")
                           .field("WRITE_DATA", ">Noodles at noon?\rYes!")
                           .field("HTML_MODE", "0"));
    EXPECT_TRUE(has(taro.get("JOB=FRM223&SEL_NO=2&AC_MODE=4&PPage=1"), "Re1:Lunch"));

    // Taro edits: a new menu in slot 1, the map dropped from slot 2.
    taro.post(taro.form("BWRITE_REWWR")
                  .field("SEL_NO", "1")
                  .field("WRITE_TITLE", "Lunch (moved)")
                  .field("WRITE_DATA", "At one.")
                  .field("HTML_MODE", "0")
                  .field("CONFIRM", "1")
                  .file("ATFILE", "menu2.txt", "rice")
                  .file("ATFILE", "", ""));
    EXPECT_EQ(install.read_data_file("5/x1/atfile01/menu2.txt"), "rice");
    EXPECT_FALSE(install.data_file_exists("5/x1/atfile02/map.gif"));
    EXPECT_TRUE(has(hanako.get("JOB=FRM222&AC_MODE=1"), "#FFB6C1"));  // unread again after the edit

    // A one-line answer and a confirmation by the button.
    page = hanako.post(hanako.form("LINE_RESWR").field("SEL_NO", "1").field("LINE_RES", "See you <there>"));
    EXPECT_TRUE(has(page, "Hanako</FONT>&nbsp;See you &lt;there&gt;<BR>"));
    page = hanako.post(hanako.form("CONFIRMWR").field("SEL_NO", "1"));
    EXPECT_TRUE(has(page, "<OPTION>Hanako\n"));

    // Deleting: refused to a level-7 user who did not write it, allowed to the
    // writer and to a folder administrator.
    page = seven.post(seven.form("BWRITE_DELWR").field("SEL_NO", "2"));
    EXPECT_TRUE(has(page, "<FONT COLOR=\"RED\"><B>")) << page;
    EXPECT_TRUE(install.data_file_exists("5/x2/body.txt"));
    boss.post(boss.form("BWRITE_DELWR").field("SEL_NO", "2"));
    EXPECT_FALSE(install.data_file_exists("5/x2/body.txt"));
    taro.post(taro.form("BWRITE_DELWR").field("SEL_NO", "1"));
    EXPECT_FALSE(install.data_file_exists("5/x1"));
    EXPECT_FALSE(has(taro.get("JOB=FRM222&AC_MODE=1"), "Lunch"));

    install.use_store();
    std::vector<std::string> problems;
    EXPECT_EQ(check_message_index(5, problems), 0);
    EXPECT_TRUE(problems.empty()) << problems.front();
}

}  // namespace
