#include <gtest/gtest.h>

#include <cstring>

#include "config/message_table.h"
#include "config/sysinfo.h"
#include "request/page_frame.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

class PageFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        TempDir dir;
        write_file(dir.file("m.lng"), "[en]\n001 <TITLE>t</TITLE>\n002 c\n007 Identification error\n");
        StrdefFileOpen(dir.file("m.lng").c_str(), "en");
        SysFileOpen(dir.file("none.ini").c_str());
        std::snprintf(SYSINFO.CG_FILE_WEB_PATH, sizeof SYSINFO.CG_FILE_WEB_PATH, "/img/");
    }
    const std::string head =
        "Content-type: text/html\nPragma: no-cache\n\n<HTML>\n<HEAD>\n<TITLE>t</TITLE></HEAD>\n"
        "<!--c-->\n";
};

TEST_F(PageFrameTest, StandardAndOwnBodyTags) {
    EXPECT_EQ(capture_stdout([] { G_header_printf(""); }),
              head + "<BODY BACKGROUND=\"/img/\" >\n");
    EXPECT_EQ(capture_stdout([] { G_header_printf("<BODY BGCOLOR=\"#FFFFFF\">"); }),
              head + "<BODY BGCOLOR=\"#FFFFFF\">\n");
}

TEST_F(PageFrameTest, ErrorPageWithEmptyTitle) {
    EXPECT_EQ(capture_stdout([] { G_ErrMessage("", "Lock busy"); }),
              head + "<BODY BACKGROUND=\"/img/\" >\n<CENTER>\n<BR><FONT SIZE=\"5\"><B></B></FONT>\n"
                     "<P><BR><HR><P><BR>\n<FONT COLOR=\"RED\"><B>Lock busy</B></FONT>\n"
                     "<FORM METHOD=POST >\n"
                     "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
                     "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n");
}

TEST_F(PageFrameTest, IdentificationErrorHasNoButton) {
    EXPECT_EQ(capture_stdout([] { G_IDerr(); }),
              head + "<BODY BACKGROUND=\"/img/\" >\n<CENTER>\n<BR><FONT SIZE=\"5\"><B>"
                     "Identification error</B></FONT>\n<P><BR><HR><P><BR>\n</CENTER>\n"
                     "</BODY>\n</HTML>\n");
}

TEST_F(PageFrameTest, RedirectPutsASpaceWhereTheBodyTagWouldBe) {
    EXPECT_EQ(capture_stdout([] { G_URL_Jump("/cgi-bin/x.cgi?a=1"); }),
              head + " \n<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=/cgi-bin/x.cgi?a=1\" >"
                     "</BODY>\n</HTML>\n");
}

}  // namespace
