// The suite's stand-in orva.cgi, run as the web server runs it, next to the
// real wbbs.cgi that must accept what it hands out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>

#include "cgi/cgi_harness.h"

namespace {

const char* const kInstallation = R"(
folder 1 name="Notices" icon=notice.gif
folder 2 name="Board room" class=1 access=50 write=50
folder 3 name="Inner room" class=2
folder 4 name="<script>alert(1)</script>" class=1 icon=../acl.mst
folder 5 name="Calendar" mode=1
user taro password=secret level=10 name="Taro Yamada" picture=taro.gif
user hanako password=pw2 level=10 name="<b onmouseover=x>Hanako</b>" picture=../taro/password.mst
user boss password=chief level=10 name="Boss"
user guest password=guest level=10 mode=2
group 5 name=Sales
grant 1 user hanako 3
grant 1 group 5 5
grant 1 user boss 8
grant 3 user taro 8
)";

const std::string kOrva = "orva.cgi";
const std::string kRefusal = "The user ID or the password is incorrect.";

class SuiteTest : public ::testing::Test {
protected:
    void SetUp() override { install.build(kInstallation); }

    CgiResult orva(const std::string& query) const { return checked(install.get(query, kOrva)); }
    CgiResult orva_post(const std::string& body) const { return checked(install.post_form(body, kOrva)); }
    static CgiResult checked(CgiResult result) {
        EXPECT_EQ(result.exit_status, 0) << result.err;
        return result;
    }

    // Logs in through the login form; the session's query text
    // ("uid=..&SKEY1=..&SKEY2=..") from the jump to the main window, or "".
    std::string login(const std::string& uid, const std::string& password) const {
        const CgiResult page = orva_post("JOB=LOGIN&uid=" + uid + "&upw=" + password);
        std::smatch found;
        static const std::regex jump("JOB=MAIN&(uid=[^&]*&SKEY1=[0-9]+&SKEY2=[0-9]+)\"");
        return std::regex_search(page.out, found, jump) ? found[1].str() : "";
    }

    CgiInstallation install;
};

// The value of name in a query text.
std::string value_of(const std::string& query, const std::string& name) {
    const std::size_t start = query.find(name + "=") + name.size() + 1;
    return query.substr(start, query.find('&', start) - start);
}

std::string tree_link(int folder) {
    return "<A ID=\"folder" + std::to_string(folder) + "\" HREF=\"wbbs.cgi?";
}

TEST_F(SuiteTest, LoginGivesKeysTheBoardAcceptsAndRefusesWrongPasswordsAndUnknownUsersAlike) {
    const CgiResult form = orva("");
    EXPECT_NE(form.out.find("<FORM NAME=\"LOGIN\" ID=\"LOGIN\" ACTION=\"/cgi-bin/orva/orva.cgi\" METHOD=POST "
                            "TARGET=\"_top\">"),
              std::string::npos);
    EXPECT_NE(form.out.find("NAME=\"upw\" ID=\"upw\""), std::string::npos);

    // The id typed is offered again, as a value and nothing more.
    const CgiResult hostile = orva_post("JOB=LOGIN&uid=%22%3E%3Cb+onclick%3Dx%3E&upw=x");
    EXPECT_NE(hostile.out.find("VALUE=\"&quot;&gt;&lt;b onclick=x&gt;\""), std::string::npos) << hostile.out;
    EXPECT_EQ(hostile.out.find("<b "), std::string::npos);

    const CgiResult wrong = orva_post("JOB=LOGIN&uid=taro&upw=wrong");
    const CgiResult unknown = orva_post("JOB=LOGIN&uid=nobody&upw=secret");
    EXPECT_NE(wrong.out.find(kRefusal), std::string::npos);
    EXPECT_NE(unknown.out.find(kRefusal), std::string::npos);
    EXPECT_EQ(wrong.out.find("JOB=MAIN"), std::string::npos);
    EXPECT_EQ(install.read_data_file("user/taro/skey.mst"), "");

    // Typed in capitals, the session still names the user's directory.
    const std::string session = login("TARO", "secret");
    ASSERT_EQ(session.rfind("uid=taro&SKEY1=", 0), 0u) << session;
    const CgiResult room = install.get("JOB=ROOM&FOLDER_NO=1&" + session);
    EXPECT_NE(room.out.find("NAME=\"FRM221SEL1\""), std::string::npos);

    // A second login replaces the pair, so the first session ends everywhere.
    const std::string second = login("taro", "secret");
    EXPECT_NE(orva("JOB=TREE&" + session).out.find("Your session has ended."), std::string::npos);
    EXPECT_NE(orva("JOB=TREE&" + second).out.find(tree_link(1)), std::string::npos);
}

TEST_F(SuiteTest, LoginIsRecordedAsTheBoardRecordsIt) {
    install.write_config({{"LOG_DATE", "1"}});
    login("taro", "secret");
    login("taro", "secret");
    EXPECT_NE(install.read_data_file("system.log").find(",taro,Taro Yamada,login,192.0.2.10,"), std::string::npos);
    EXPECT_NE(install.read_data_file("user/taro/personal.mst").find("TOTAL_LOGIN_COUNT,2\n"), std::string::npos);
}

TEST_F(SuiteTest, LogOffForgetsThePairButNotTheOneOfASharedAccount) {
    const std::string session = login("taro", "secret");
    EXPECT_NE(orva("JOB=LOGOFF&" + session).out.find("You have logged off."), std::string::npos);
    EXPECT_EQ(install.get("JOB=ROOM&FOLDER_NO=1&" + session).out.find("FRM221SEL1"), std::string::npos);

    const std::string shared = login("guest", "guest");
    ASSERT_FALSE(shared.empty());
    // A shared account keeps no read marks: its tree offers no unread list.
    const std::string tree = orva("JOB=TREE&" + shared).out;
    EXPECT_NE(tree.find("ID=\"search_all\""), std::string::npos);
    EXPECT_EQ(tree.find("ID=\"unread_all\""), std::string::npos);
    orva("JOB=LOGOFF&" + shared);
    EXPECT_EQ(login("guest", "guest"), shared);
    EXPECT_NE(install.get("JOB=ROOM&FOLDER_NO=1&" + shared).out.find("FRM221SEL1"), std::string::npos);
}

TEST_F(SuiteTest, LogOffAndLoginThatCannotStoreTheKeysSaySo) {
    const std::string session = login("taro", "secret");
    // A directory where the key file's temporary copy goes: no rewrite of it can start.
    install.write_data_file("user/taro/skey.mst.tmp/keep", "");
    const CgiResult off = orva("JOB=LOGOFF&" + session);
    EXPECT_EQ(off.out.find("You have logged off."), std::string::npos);
    EXPECT_NE(off.out.find("You are still logged in"), std::string::npos) << off.out;

    const CgiResult again = orva_post("JOB=LOGIN&uid=taro&upw=secret");
    EXPECT_EQ(again.out.find("JOB=MAIN"), std::string::npos);
    EXPECT_NE(again.out.find("The login could not be completed"), std::string::npos) << again.out;
}

TEST_F(SuiteTest, MainWindowHoldsTheTreeAndTheContentFrame) {
    const std::string session = login("taro", "secret");
    const CgiResult main = orva("JOB=MAIN&" + session);
    EXPECT_NE(main.out.find("<FRAMESET COLS=\"20%,*\" >\n\t<FRAME SRC=\"/cgi-bin/orva/orva.cgi?" + session +
                            "&JOB=TREE\" NAME=\"TREET1\">\n\t<FRAME SRC=\"/cgi-bin/orva/orva.cgi?" + session +
                            "&JOB=HOME\" NAME=\"FRM22T1\">\n</FRAMESET>\n"),
              std::string::npos)
        << main.out;
}

TEST_F(SuiteTest, TreeHidesTheSubtreeOfAFolderWithoutAccessButShowsALaterSibling) {
    const std::string session = login("taro", "secret");
    const std::string tree = orva("JOB=TREE&" + session).out;
    EXPECT_NE(tree.find(tree_link(1) + session + "&JOB=ROOM&FOLDER_NO=1\" TARGET=\"FRM22T1\">Notices</A>"),
              std::string::npos)
        << tree;
    // Folder 3 grants taro administration, but lies below folder 2, closed to him.
    EXPECT_EQ(tree.find("folder2\""), std::string::npos);
    EXPECT_EQ(tree.find("folder3\""), std::string::npos);
    EXPECT_EQ(tree.find("folder5\""), std::string::npos);  // not a board folder
    EXPECT_NE(tree.find("&nbsp;&nbsp;<IMG SRC=\"/cgi-bin/orva/orva.cgi?JOB=ICON_DL&SKEY1=" + value_of(session, "SKEY1") +
                        "&SKEY2=" + value_of(session, "SKEY2") + "&uid=taro&FOLDER_NO=4\" ALT=\"\"><A ID=\"folder4\""),
              std::string::npos)
        << tree;
    EXPECT_NE(tree.find("&lt;script&gt;alert(1)&lt;/script&gt;</A>"), std::string::npos);
    EXPECT_EQ(tree.find("<script>"), std::string::npos);

    const std::string hanako = login("hanako", "pw2");
    for (const char* job : {"JOB=TREE&", "JOB=HOME&"}) {
        const std::string page = orva(job + hanako).out;
        EXPECT_NE(page.find("&lt;b onmouseover=x&gt;Hanako&lt;/b&gt;"), std::string::npos) << job;
        EXPECT_EQ(page.find("<b "), std::string::npos) << job;
    }
    // The board's screens across folders, through the first folder shown.
    EXPECT_NE(tree.find("HREF=\"wbbs.cgi?" + session + "&JOB=NRDETAILSALL&FOLDER_NO=1\" TARGET=\"FRM22T1\""),
              std::string::npos);
    EXPECT_NE(tree.find("HREF=\"wbbs.cgi?" + session + "&JOB=ALLSEARCH&FOLDER_NO=1\""), std::string::npos);
    EXPECT_NE(tree.find("JOB=LOGOFF\" TARGET=\"_top\""), std::string::npos);
}

TEST_F(SuiteTest, AccessListIsReadOnlyForWritersAndChangedByAdministrators) {
    const std::string writer = login("hanako", "pw2");
    // As the header frame's button posts it.
    const CgiResult shown = install.post_multipart(MultipartBody()
                                                       .field("SKEY1", value_of(writer, "SKEY1"))
                                                       .field("SKEY2", value_of(writer, "SKEY2"))
                                                       .field("uid", "hanako")
                                                       .field("JOB", "FOLDER_ACCESS")
                                                       .field("FOLDER_NO", "1"),
                                                   kOrva);
    EXPECT_NE(shown.out.find("<TD>User</TD><TD>hanako</TD><TD>&lt;b onmouseover=x&gt;Hanako&lt;/b&gt;</TD><TD>3 read "
                             "and write</TD>"),
              std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find("<TD>Group</TD><TD>5</TD><TD>Sales</TD><TD>5 read and write</TD>"), std::string::npos);
    EXPECT_EQ(shown.out.find("<FORM"), std::string::npos);
    const CgiResult refused = orva("JOB=FOLDER_ACCESSWR&FOLDER_NO=1&ACL_KIND=U&ACL_ID=taro&ACL_PERMIT=8&" + writer);
    EXPECT_NE(refused.out.find("Only the folder's administrators"), std::string::npos);
    EXPECT_EQ(install.read_data_file("1/acl.mst").find("taro"), std::string::npos);

    const std::string admin = login("boss", "chief");
    const std::string change = "JOB=FOLDER_ACCESSWR&FOLDER_NO=1&" + admin;
    EXPECT_NE(orva("JOB=FOLDER_ACCESS&FOLDER_NO=1&" + admin).out.find("ID=\"grant_add\""), std::string::npos);
    EXPECT_NE(orva(change + "&ACL_KIND=U&ACL_ID=TARO&ACL_PERMIT=2&ACL_ACTION=Add").out.find("Saved."),
              std::string::npos);
    orva(change + "&ACL_KIND=U&ACL_ID=hanako&ACL_PERMIT=1&ACL_ACTION=Change");
    orva(change + "&ACL_KIND=G&ACL_ID=5&ACL_ACTION=Remove");
    EXPECT_EQ(install.read_data_file("1/acl.mst"), "U,hanako,1,\nU,boss,8,\nU,taro,2,\n");

    // Refusals change nothing.
    EXPECT_NE(orva(change + "&ACL_KIND=U&ACL_ID=nobody&ACL_PERMIT=2").out.find("no user with this ID"),
              std::string::npos);
    EXPECT_NE(orva(change + "&ACL_KIND=G&ACL_ID=9&ACL_PERMIT=2").out.find("no group with this number"),
              std::string::npos);
    EXPECT_NE(orva(change + "&ACL_KIND=U&ACL_ID=taro&ACL_PERMIT=9").out.find("from 1 to 8"), std::string::npos);
    EXPECT_EQ(install.read_data_file("1/acl.mst"), "U,hanako,1,\nU,boss,8,\nU,taro,2,\n");

    // A folder closed to the user, and one that does not exist.
    EXPECT_NE(orva("JOB=FOLDER_ACCESS&FOLDER_NO=2&" + admin).out.find("You have no access"), std::string::npos);
    EXPECT_NE(orva("JOB=FOLDER_ACCESS&FOLDER_NO=77&" + admin).out.find("does not exist"), std::string::npos);
}

TEST_F(SuiteTest, AccessListThatCannotBeReadIsNotShownAsEmpty) {
    const std::string admin = login("boss", "chief");
    // A list that cannot be opened: as a writer holding it past a reader's
    // wait does, without the wait.
    std::filesystem::remove(install.data_dir() + "1/acl.mst");
    std::filesystem::create_directory(install.data_dir() + "1/acl.mst");
    const std::string page = orva("JOB=FOLDER_ACCESS&FOLDER_NO=1&" + admin).out;
    EXPECT_NE(page.find("The access list cannot be read just now."), std::string::npos) << page;
    EXPECT_EQ(page.find("grants nobody"), std::string::npos);
}

TEST_F(SuiteTest, PicturesAreSentFromTheirOwnDirectoriesOrABlankOne) {
    install.write_data_file("mimemap.txt", "gif,image/gif,\n");
    install.write_data_file("user/taro/taro.gif", "GIF89a-taro");
    install.write_data_file("1/fcg/notice.gif", "GIF89a-notice");
    const std::string session = login("taro", "secret");
    const std::string blank_start = std::string("Content-type: image/gif\n\nGIF89a\x01\x00\x01\x00", 16);

    EXPECT_EQ(orva("JOB=USER_PIC_DOWNLOAD&USER_ID=taro&" + session).out, "Content-type: image/gif\n\nGIF89a-taro");
    EXPECT_EQ(orva("JOB=ICON_DL&FOLDER_NO=1&" + session).out, "Content-type: image/gif\n\nGIF89a-notice");
    // No picture, a name that leaves the directory, no session.
    for (const std::string& query :
         {"JOB=USER_PIC_DOWNLOAD&USER_ID=boss&" + session, "JOB=USER_PIC_DOWNLOAD&USER_ID=hanako&" + session,
          "JOB=USER_PIC_DOWNLOAD&USER_ID=../taro&" + session, "JOB=ICON_DL&FOLDER_NO=4&" + session,
          "JOB=ICON_DL&FOLDER_NO=2&" + session, std::string("JOB=USER_PIC_DOWNLOAD&USER_ID=taro")}) {
        const CgiResult picture = orva(query);
        EXPECT_EQ(picture.out.substr(0, blank_start.size()), blank_start) << query;
        EXPECT_EQ(picture.out.size(), 25u + 43u) << query;
    }
}

TEST_F(SuiteTest, PreferencesAreStoredAndReadByTheBoard) {
    const std::string session = login("taro", "secret");
    const std::string form = orva("JOB=PREFS&" + session).out;
    EXPECT_NE(form.find("<OPTION VALUE=\"Japanese\">Japanese"), std::string::npos);
    EXPECT_NE(form.find("NAME=\"BBS_FRAME_MODE\" VALUE=\"0\" CHECKED"), std::string::npos);

    const std::string save = "JOB=PREFSWR&" + session + "&BBS_FRAME_MODE=1&WRITE_MODE=2&USER_DISP_DEF=3";
    EXPECT_NE(orva_post(save + "&LANGUAGE=Japanese&UNREAD_LISTMODE=1").out.find("Saved."), std::string::npos);
    const std::string personal = install.read_data_file("user/taro/personal.mst");
    for (const char* line : {"LANGUAGE,Japanese\n", "BBS_FRAME_MODE,1\n", "WRITE_MODE,2\n", "USER_DISP_DEF,3\n",
                             "UNREAD_LISTMODE,1\n"}) {
        EXPECT_NE(personal.find(line), std::string::npos) << line;
    }
    EXPECT_NE(install.get("JOB=ROOM&FOLDER_NO=1&" + session).out.find("<FRAMESET ROWS=\"10%,*\" >"),
              std::string::npos);
    EXPECT_NE(install.get("JOB=NRDETAILSALL&FOLDER_NO=1&" + session).out.find("<TABLE BORDER>"), std::string::npos);
    const std::string header = install.get("JOB=FRM221&FOLDER_NO=1&" + session).out;
    EXPECT_NE(header.find("TARGET=\"WBWRITE1\""), std::string::npos);
    EXPECT_EQ(header.find("VALUE=\"Search\""), std::string::npos);  // in Japanese now
    EXPECT_NE(install.get("JOB=FRM222&FOLDER_NO=1&" + session).out.find("&AC_MODE=3\" SELECTED>"),
              std::string::npos);

    // A value not offered, a wrong current password, differing new ones: nothing changes.
    EXPECT_NE(orva_post(save + "&UNREAD_LISTMODE=0&LANGUAGE=Klingon").out.find("not offered"), std::string::npos);
    EXPECT_NE(orva_post(save + "&UNREAD_LISTMODE=0&OLD_PW=nope&NEW_PW1=n&NEW_PW2=n").out.find("not correct"),
              std::string::npos);
    EXPECT_NE(orva_post(save + "&UNREAD_LISTMODE=0&OLD_PW=secret&NEW_PW1=a&NEW_PW2=b").out.find("differ"),
              std::string::npos);
    EXPECT_EQ(install.read_data_file("user/taro/personal.mst"), personal);

    EXPECT_NE(orva_post(save + "&UNREAD_LISTMODE=1&OLD_PW=secret&NEW_PW1=fresh&NEW_PW2=fresh").out.find("Saved."),
              std::string::npos);
    EXPECT_TRUE(login("taro", "secret").empty());
    EXPECT_FALSE(login("taro", "fresh").empty());

    const std::string shared = login("guest", "guest");
    EXPECT_NE(orva_post("JOB=PREFSWR&" + shared + "&BBS_FRAME_MODE=1&WRITE_MODE=1&USER_DISP_DEF=1&UNREAD_LISTMODE=0")
                  .out.find("shared account cannot"),
              std::string::npos);
    EXPECT_EQ(install.read_data_file("user/guest/personal.mst").find("BBS_FRAME_MODE,1"), std::string::npos);
}

TEST_F(SuiteTest, PreferencesAreStoredWithoutRewritingTheUserList) {
    // While user.mst is rewritten every other request finds it locked, and the
    // user record read beforehand would put back what an administrator changed.
    const std::string session = login("taro", "secret");
    const std::string users = install.data_dir() + "user.mst";
    struct stat before {};
    ASSERT_EQ(stat(users.c_str(), &before), 0);
    const std::string save = "JOB=PREFSWR&" + session + "&BBS_FRAME_MODE=1&WRITE_MODE=2&USER_DISP_DEF=3";
    EXPECT_NE(orva_post(save + "&LANGUAGE=&UNREAD_LISTMODE=1").out.find("Saved."), std::string::npos);
    struct stat after {};
    ASSERT_EQ(stat(users.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_NE(install.read_data_file("user/taro/personal.mst").find("BBS_FRAME_MODE,1\n"), std::string::npos);
}

}  // namespace
