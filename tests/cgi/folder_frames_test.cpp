// Opening a folder: the frameset, the header frame and the downloads of
// folder pictures and attachments, through the real program.
#include <gtest/gtest.h>

#include <cstring>

#include "cgi/cgi_harness.h"
#include "store/message_files.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "100 Mark read\n"
    "101 Mark all as read? It's final\n"
    "102 Settings\n"
    "103 Reload\n"
    "229 Access\n"
    "300 New\n"
    "434 Search\n";

const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=50
user reader password=r level=10
user writer password=w level=60 write_mode=2
user admin password=a level=10
user boss password=b level=100
user shared password=s level=60 mode=2
user twoframes password=t level=60 frame_mode=1
user oddframes password=o level=60 frame_mode=7
grant 5 user admin 8
)";

class FolderFramesTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
    }
    CgiResult page(const std::string& uid, const std::string& rest) {
        return install.get(install.session(uid) + "&FOLDER_NO=5&" + rest);
    }
    static std::string head(const std::string& body_tag) {
        return expected_page_head("<TITLE>Board</TITLE>", "board", body_tag);
    }
    static std::string frame(const std::string& uid, const std::string& job, const std::string& name) {
        return "\t<FRAME SRC = \"wbbs.cgi?uid=" + uid + "&SKEY1=1234567&SKEY2=7654321&JOB=" + job +
               "&FOLDER_NO=5\" NAME=\"" + name + "\">\n";
    }
    static std::string hidden_fields(const std::string& uid, const std::string& job) {
        return "<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"1234567\">\n"
               "<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"7654321\">\n"
               "<INPUT TYPE=\"hidden\" name=\"uid\" value=\"" + uid + "\">\n"
               "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"" + job + "\">\n"
               "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"5\">\n";
    }
    CgiInstallation install;
};

TEST_F(FolderFramesTest, ThreeFrameFramesetShowsTheAskedMessageInTheDetailFrame) {
    EXPECT_EQ(page("reader", "JOB=NRROOM&SEL_NO=12").out,
              head(" ") + "<FRAMESET ROWS=\"10%,40%,50%\" >\n" + frame("reader", "FRM221", "FRM221SEL5") +
                  frame("reader", "FRM222", "FRM222SEL5") +
                  "\t<FRAME SRC = \"wbbs.cgi?uid=reader&SKEY1=1234567&SKEY2=7654321&JOB=FRM223&FOLDER_NO=5"
                  "&SEL_NO=12\" NAME=\"FRM223SEL5\">\n"
                  "</FRAMESET>\n</HTML>\n");
    // ROOM ignores SEL_NO: the detail frame opens empty.
    EXPECT_NE(page("reader", "JOB=ROOM&SEL_NO=12").out.find(frame("reader", "FRM223", "FRM223SEL5")),
              std::string::npos);
}

TEST_F(FolderFramesTest, TwoFrameFramesetShowsTheMessageInTheListFrame) {
    install.build("setting 5 FRAMESET1 15%\n");
    const std::string expected_head = head(" ") + "<FRAMESET ROWS=\"15%,*\" >\n" +
                                      frame("twoframes", "FRM221", "FRM221SEL5");
    EXPECT_EQ(page("twoframes", "JOB=NRROOM&SEL_NO=12").out,
              expected_head +
                  "\t<FRAME SRC = \"wbbs.cgi?uid=twoframes&SKEY1=1234567&SKEY2=7654321&JOB=FRM223"
                  "&FOLDER_NO=5&SEL_NO=12\" NAME=\"FRM222SEL5\">\n</FRAMESET>\n</HTML>\n");
    EXPECT_EQ(page("twoframes", "JOB=ROOM").out,
              expected_head + frame("twoframes", "FRM222", "FRM222SEL5") + "</FRAMESET>\n</HTML>\n");
    // A layout number the board does not know gets the usual three frames.
    EXPECT_NE(page("oddframes", "JOB=ROOM").out.find(frame("oddframes", "FRM223", "FRM223SEL5")),
              std::string::npos);
}

TEST_F(FolderFramesTest, HeaderFrameOfAFolderAdministratorHasEveryButton) {
    const std::string form = "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"wbbs.cgi\" METHOD=POST ";
    EXPECT_EQ(page("admin", "JOB=FRM221").out,
              head("<BODY BACKGROUND=\"/orva/img/back.gif\" >") +
                  "<SCRIPT Language=\"JavaScript\">\n<!--\nvar count=0;\nfunction postcheck(){\ncount++;\n"
                  "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n// -->\n</SCRIPT>\n"
                  "<TABLE>\n<TR>\n<TD NOWRAP>\n<FONT SIZE=\"5\"><B>Notices</B></FONT>\n</TD>\n"
                  "<TD>\n" + form + "TARGET=\"FRM222SEL5\">\n" + hidden_fields("admin", "SEARCH") +
                  "<INPUT TYPE=\"submit\" VALUE=\"Search\" > \n</FORM>\n</TD>\n" +
                  form + "TARGET=\"FRM223SEL5\">\n" + hidden_fields("admin", "BWRITE_NEW") +
                  "<TD>\n<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"New\" >\n</FORM>\n</TD>\n"
                  "<TD>\n" + form + "TARGET=\"FRM22T1\">\n" + hidden_fields("admin", "ROOM") +
                  "<INPUT TYPE=\"submit\" VALUE=\"Reload\" > \n</FORM>\n</TD>\n"
                  "<TD>\n" + form + "TARGET=\"FRM22T1\">\n" + hidden_fields("admin", "SET_ALLREAD") +
                  "<INPUT TYPE=\"submit\" VALUE=\"Mark read\" onClick=\"return confirm('Mark all as read? "
                  "It\\'s final')\"> \n</FORM>\n</TD>\n"
                  "<TD>\n" + form + " TARGET=\"FRM22T1\">\n" + hidden_fields("admin", "SET_CONFIG") +
                  "<INPUT TYPE=\"submit\" VALUE=\"Settings\" onClick=\"return postcheck()\" >\n</FORM>\n</TD>\n"
                  "<TD>\n<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"/cgi-bin/orva/orva.cgi\" METHOD=POST "
                  " TARGET=\"FRM22T1\">\n" + hidden_fields("admin", "FOLDER_ACCESS") +
                  "<INPUT TYPE=\"submit\" VALUE=\"Access\" onClick=\"return postcheck()\" >\n</FORM>\n</TD>\n"
                  "</TR>\n</TABLE>\n</BODY>\n</HTML>\n");
}

TEST_F(FolderFramesTest, HeaderFrameButtonsFollowAccessLevelAndAccountKind) {
    auto has = [](const CgiResult& r, const std::string& job) {
        return r.out.find("name=\"JOB\" value=\"" + job + "\"") != std::string::npos;
    };
    const CgiResult reader = page("reader", "JOB=FRM221");  // level 1
    EXPECT_TRUE(has(reader, "SEARCH") && has(reader, "ROOM") && has(reader, "SET_ALLREAD"));
    EXPECT_FALSE(has(reader, "BWRITE_NEW") || has(reader, "SET_CONFIG") || has(reader, "FOLDER_ACCESS"));

    const CgiResult writer = page("writer", "JOB=FRM221");  // level 2, composes in a window
    EXPECT_TRUE(has(writer, "BWRITE_NEW"));
    EXPECT_NE(writer.out.find("METHOD=POST TARGET=\"WBWRITE5\">\n"), std::string::npos);
    EXPECT_FALSE(has(writer, "SET_CONFIG") || has(writer, "FOLDER_ACCESS"));

    const CgiResult boss = page("boss", "JOB=FRM221");  // level 9
    EXPECT_TRUE(has(boss, "SET_CONFIG") && has(boss, "FOLDER_ACCESS"));

    const CgiResult shared = page("shared", "JOB=FRM221");  // a shared account keeps no marks
    EXPECT_TRUE(has(shared, "BWRITE_NEW"));
    EXPECT_FALSE(has(shared, "SET_ALLREAD"));

    EXPECT_NE(page("twoframes", "JOB=FRM221").out.find("METHOD=POST TARGET=\"FRM222SEL5\">\n"),
              std::string::npos);
}

TEST_F(FolderFramesTest, HeaderFrameShowsPicturesColourAndSanitizedInformation) {
    install.build("setting 5 FONTCOLOR1 FF0000\nsetting 5 TITLEPIC title.gif\nsetting 5 BACKPIC1 back.png\n");
    install.write_data_file("5/info.txt", "<B>Hours</B>\rOpen <A HREF=\"http://x.test/\">now</A>"
                                          "<SCRIPT>alert(1)</SCRIPT><IMG SRC=\"javascript:alert(2)\">");
    const std::string out = page("reader", "JOB=FRM221").out;
    EXPECT_NE(out.find(head("<BODY BACKGROUND=\"wbbs.cgi?JOB=BG1_DL&SKEY1=1234567&SKEY2=7654321&uid=reader"
                            "&FOLDER_NO=5\" >\n")),
              std::string::npos);
    EXPECT_NE(out.find("<FONT SIZE=\"5\" COLOR=\"#FF0000\"><B>Notices</B></FONT>\n"), std::string::npos);
    EXPECT_NE(out.find("<IMG SRC=\"wbbs.cgi?JOB=BG4_DL&SKEY1=1234567&SKEY2=7654321&uid=reader&FOLDER_NO=5\" "
                       "><BR>\n<FONT COLOR=\"#FF0000\"><B>Hours</B><BR>\nOpen <A HREF=\"http://x.test/\">now</A>"),
              std::string::npos);
    EXPECT_EQ(out.find("alert"), std::string::npos);
    EXPECT_NE(out.find("</FONT>\n</BODY>\n</HTML>\n"), std::string::npos);

    // A text of many short lines grows fivefold in breaks and still shows whole.
    std::string lines;
    for (int i = 0; i < 1999; ++i) lines += "x\r";
    install.write_data_file("5/info.txt", lines + "END");
    EXPECT_NE(page("reader", "JOB=FRM221").out.find("x<BR>\nEND</FONT>"), std::string::npos);
}

TEST_F(FolderFramesTest, HostileSettingsNeverBecomeMarkup) {
    install.write_data_file("tree.mst", "5,<script>alert(1)</script>,3,wbbs.cgi,1,50,,0,0,0,0,\n");
    install.write_data_file("5/dir.cnf",
                            "FONTCOLOR1,\"><script>x()</script>,\nFRAMESET1,\" onload=\"x(),\n"
                            "TITLEPIC,\"><svg onload=x()>,\n");
    const std::string header = page("reader", "JOB=FRM221").out;
    const std::string frames = page("reader", "JOB=ROOM").out;
    for (const std::string& out : {header, frames}) {
        EXPECT_EQ(out.find("<script"), std::string::npos) << out;
        EXPECT_EQ(out.find("\" onload"), std::string::npos) << out;
        EXPECT_EQ(out.find("<svg"), std::string::npos) << out;
    }
    EXPECT_NE(header.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(frames.find("ROWS=\"&quot; onloa,40%,50%\""), std::string::npos);
}

TEST_F(FolderFramesTest, DownloadsOfAttachmentsAndPictures) {
    install.write_data_file("mimemap.txt", "gif,image/gif,\n");
    install.write_data_file("5/x3/add_file.txt", "3,1,report.xyz,\n3,2,logo.gif,\n");
    install.write_data_file("5/x3/atfile01/report.xyz", "plain bytes");
    install.write_data_file("5/x3/atfile02/logo.gif", "GIF89a");
    install.write_data_file("5/fcg/title.gif", "GIFTITLE");
    install.write_data_file("5/fcg/back.xyz", "unknown");
    install.build("setting 5 TITLEPIC title.gif\nsetting 5 BACKPIC1 back.xyz\nsetting 5 BACKPIC2 gone.gif\n");

    // An unknown type is still downloaded, as a file to save.
    EXPECT_EQ(page("reader", "JOB=ATDL&SEL_NO=3&SUB_NO=1").out,
              "Content-Type: application/bin-stream\nContent-Disposition: attachment; filename=report.xyz\n\n"
              "plain bytes");
    EXPECT_EQ(page("reader", "JOB=ATDL&SEL_NO=3&SUB_NO=2").out, "Content-type: image/gif\n\nGIF89a");
    EXPECT_EQ(page("reader", "JOB=ATDL&SEL_NO=3&SUB_NO=3").out, "");
    EXPECT_EQ(page("reader", "JOB=ATDL&SEL_NO=4294967299&SUB_NO=1").out, "");

    EXPECT_EQ(page("reader", "JOB=BG4_DL").out, "Content-type: image/gif\n\nGIFTITLE");
    EXPECT_EQ(page("reader", "JOB=BG1_DL").out, "");  // a picture of unknown type is not sent
    EXPECT_EQ(page("reader", "JOB=BG2_DL").out, "");  // nor a missing one
    EXPECT_EQ(page("reader", "JOB=BG3_DL").out, "");  // nor one that was never set
}

TEST_F(FolderFramesTest, AttachmentNameCannotAddDispositionParameters) {
    install.write_data_file("5/x3/add_file.txt",
                            "3,1,b c; filename*=UTF-8''evil.html,\n3,2,q\"\x83\\;.txt,\n3,3,plain name.txt,\n");
    install.write_data_file("5/x3/atfile01/b c; filename*=UTF-8''evil.html", "1");
    install.write_data_file("5/x3/atfile02/q\"\x83\\;.txt", "2");
    install.write_data_file("5/x3/atfile03/plain name.txt", "3");
    const std::string type = "Content-Type: application/bin-stream\nContent-Disposition: attachment; filename=";
    EXPECT_EQ(page("reader", "JOB=ATDL&SEL_NO=3&SUB_NO=1").out,
              type + "\"b c; filename*=UTF-8''evil.html\"\n\n1");
    // Quote and backslash escaped; the kanji's second byte is unquoted back into it.
    EXPECT_EQ(page("reader", "JOB=ATDL&SEL_NO=3&SUB_NO=2").out, type + "\"q\\\"\x83\\\\;.txt\"\n\n2");
    EXPECT_EQ(page("reader", "JOB=ATDL&SEL_NO=3&SUB_NO=3").out, type + "plain name.txt\n\n3");
}

}  // namespace
