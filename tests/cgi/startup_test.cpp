// The start of every request: configuration, messages, the version page and
// JOB routing, through the real program.
#include <gtest/gtest.h>

#include "cgi/cgi_harness.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">"
    "<TITLE>Board</TITLE>\n"
    "002 board module\n"
    "003 No user\n"
    "004 Please log in first.\n"
    "[Japanese]\n"
    "001 <TITLE>JP</TITLE>\n"
    "002 jp\n";

const char* const kErrorPageTail =
    "<FORM METHOD=POST >\n"
    "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
    "</FORM>\n"
    "</CENTER>\n"
    "</BODY>\n"
    "</HTML>\n";

std::string error_page(const std::string& body_tag, const std::string& title,
                       const std::string& text) {
    // The messages are not loaded when these pages appear: the head texts are empty.
    return expected_page_head("", "", body_tag) +
           "<CENTER>\n<BR><FONT SIZE=\"5\"><B>" + title + "</B></FONT>\n" +
           "<P><BR><HR><P><BR>\n<FONT COLOR=\"RED\"><B>" + text + "</B></FONT>\n" +
           kErrorPageTail;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { install.write_messages(kMessages); }
    CgiInstallation install;
};

TEST_F(StartupTest, VersionPageNeedsNoSessionOrFolder) {
    const CgiResult result = install.get("help=ver");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out,
              expected_page_head("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                                 "charset=Shift_JIS\"><TITLE>Board</TITLE>",
                                 "board module", "<BODY BACKGROUND=\"/orva/img/back.gif\" >") +
                  "ORVA BBS-PlugIn version:[Ver3.19], OS:[WWW ServerOS Linux(x86)]\n"
                  "</BODY>\n</HTML>\n");
}

TEST_F(StartupTest, VersionPageUsesTheConfiguredLanguageSection) {
    install.write_config({{"LANGUAGE", "Japanese"}, {"BACK_GIF", ""}});
    const CgiResult result = install.get("uid=&help=ver&FOLDER_NO=abc");
    EXPECT_EQ(result.out, expected_page_head("<TITLE>JP</TITLE>", "jp",
                                             "<BODY BACKGROUND=\"/orva/img/\" >") +
                              "ORVA BBS-PlugIn version:[Ver3.19], OS:[WWW ServerOS "
                              "Linux(x86)]\n</BODY>\n</HTML>\n");
}

TEST_F(StartupTest, VersionIsAlsoAnsweredForAPostedForm) {
    const CgiResult result = install.post_form("help=ver");
    EXPECT_NE(result.out.find("ORVA BBS-PlugIn version:[Ver3.19]"), std::string::npos);
}

TEST_F(StartupTest, HelpMustBeExactlyVer) {
    EXPECT_EQ(install.get("help=VER").out, "");
    EXPECT_EQ(install.get("help=ver2").out, "");
}

TEST_F(StartupTest, MissingConfigurationPrintsItsErrorPage) {
    install.remove_install_file("orva.ini");
    const CgiResult result = install.get("help=ver");
    EXPECT_EQ(result.exit_status, 0);
    // Without the configuration the background has neither prefix nor name.
    EXPECT_EQ(result.out,
              error_page("<BODY BACKGROUND=\"\" >", "orva.ini", "read failure(file not open)"));
}

TEST_F(StartupTest, MissingMessageFilePrintsItsErrorPage) {
    install.remove_install_file("wbbs.lng");
    const CgiResult result = install.get("help=ver");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, error_page("<BODY BACKGROUND=\"/orva/img/back.gif\" >", ".lng",
                                     "read failure(file not open)"));
}

TEST_F(StartupTest, UnknownJobPrintsNothingAfterALogin) {
    install.build("folder 1\nuser u1 password=pw\n");
    const CgiResult result = install.get("JOB=room&FOLDER_NO=1&uid=u1&upw=pw");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "");
}

}  // namespace
