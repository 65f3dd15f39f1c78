// The search of one folder and of chosen folders, through the real program:
// keywords, any or all, the writer, case, the bold matches, links and access.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "cgi/cgi_harness.h"
#include "store/file_primitives.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "312 No.\n"
    "314 Writer\n"
    "420 Sending\n"
    "434 Search\n"
    "435 Find messages\n"
    "436 Keywords\n"
    "437 Blanks between them\n"
    "438 Match\n"
    "439 any\n"
    "440 all\n"
    "441 Found\n"
    "443 message(s)\n"
    "451 Folders\n";

// Folder 6 and the folder below it are closed to taro; 9 is no board.
const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=2
folder 6 name="Secret" access=50 write=50
folder 8 name="Inner" access=1 write=2 class=1
folder 7 name="Later" access=1 write=2
folder 9 name="Files" access=1 write=2 mode=1
user taro password=t level=10
user wide password=w level=10 frame_mode=1
user boss password=b level=100
)";

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
        install.use_store();
    }
    int post(int folder, const std::string& title, const std::string& body, const std::string& writer = "Taro",
             bool with_body = true) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = folder;
        copy_field(sBBS_IDX.WRITE_TITLE, title.c_str());
        copy_field(sBBS_IDX.WRITER_NAME, writer.c_str());
        copy_field(sBBS_IDX.WRITER_ID, "taro");
        EXPECT_EQ(Fio_BBS_IDX(2), 0);
        const int sel_no = sBBS_IDX.SEL_NO;
        char dir[1024];
        EXPECT_TRUE(message_dir_path(dir, sizeof dir, folder, sel_no));
        Cu_mkdir(dir);
        std::string text = body;
        if (with_body) {
            EXPECT_EQ(Fio_BODY_TXT(folder, sel_no, 2, text.data()), 0);
        }
        return sel_no;
    }
    std::string search(const std::string& rest, const std::string& uid = "taro", int folder = 5) {
        return install.get(install.session(uid) + "&FOLDER_NO=" + std::to_string(folder) + "&JOB=SEARCH&" + rest)
            .out;
    }
    // The numbers of the hits, in page order, as "folder:number ...".
    static std::string hits(const std::string& out) {
        std::string found;
        const std::string mark = "JOB=FRM223&FOLDER_NO=";
        for (std::size_t at = out.find(mark); at != std::string::npos; at = out.find(mark, at + 1)) {
            const std::size_t folder = at + mark.size();
            const std::size_t amp = out.find('&', folder);
            const std::size_t sel = out.find("SEL_NO=", amp) + 7;
            const std::size_t end = out.find('"', sel);
            if (!found.empty()) found += ' ';
            found += out.substr(folder, amp - folder) + ":" + out.substr(sel, end - sel);
        }
        return found;
    }
    static bool has(const std::string& out, const std::string& piece) {
        return out.find(piece) != std::string::npos;
    }
    CgiInstallation install;
};

TEST_F(SearchTest, FormAloneWithoutKeywordsAndValuesEchoedEscaped) {
    const std::string out = search("");
    const std::size_t script = out.find("<SCRIPT");
    ASSERT_NE(script, std::string::npos) << out;
    EXPECT_EQ(out.substr(script),
              "<SCRIPT Language=\"JavaScript\">\n<!--\nfunction onLoad(){\ndocument.INPUT.CONDITION.focus();\n}\n"
              "var count=0;\nfunction title_chk(){\nif ( document.INPUT.CONDITION.value==\"\" ) {\n"
              "window.alert( \"Keywords\" );\nreturn false }\ncount++;\ndocument.INPUT.SUB.value=\"Sending\";\n"
              "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n// -->\n</SCRIPT>\n"
              "<FONT SIZE=\"5\"><B>Search</B></FONT>\nFind messages<BR>\n<HR>\n"
              "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"wbbs.cgi\" METHOD=POST >\n"
              "<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"1234567\">\n"
              "<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"7654321\">\n"
              "<INPUT TYPE=\"hidden\" name=\"uid\" value=\"taro\">\n"
              "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"SEARCH\">\n"
              "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"5\">\n"
              "Keywords<BR>\nBlanks between them<BR>\n"
              "<INPUT TYPE=\"text\" NAME=\"CONDITION\" SIZE=\"40\" MAXLENGTH=\"250\" VALUE=\"\">\n"
              "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"Search\" onClick=\"return title_chk()\"> \n<P>\n"
              "Writer<BR>\n<INPUT TYPE=\"text\" NAME=\"WRITER\" SIZE=\"30\" MAXLENGTH=\"80\" VALUE=\"\">\n<P>\n"
              "<DT>Match\n<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"1\" checked>any\n"
              "<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"2\">all\n<P>\n</FORM>\n"
              "<HR>\n</BODY>\n</HTML>\n");

    post(5, "apple", "");
    const std::string echoed = search("CONDITION=%22%3E%3Cb%3E&WRITER=a%26%22b&STAT=7");
    EXPECT_TRUE(has(echoed, "NAME=\"CONDITION\" SIZE=\"40\" MAXLENGTH=\"250\" VALUE=\"&quot;&gt;&lt;b&gt;\">"));
    EXPECT_TRUE(has(echoed, "NAME=\"WRITER\" SIZE=\"30\" MAXLENGTH=\"80\" VALUE=\"a&amp;&quot;b\">"));
    EXPECT_TRUE(has(echoed, "VALUE=\"2\" checked>all"));  // above 2 is "all"
    EXPECT_TRUE(has(echoed, "<HR>\nFound<P>\n<B>total hit 0message(s)</B><P>\n<HR>\n</BODY>"));
    EXPECT_TRUE(has(search("CONDITION=apple&STAT=-3"), "VALUE=\"1\" checked>any"));
}

TEST_F(SearchTest, KeywordsSplitAtBlanksAndTheEleventhIgnored) {
    post(5, "apple pie", "");
    post(5, "pear", "with apple");
    post(5, "plum", "");
    post(5, "ka kb kc kd ke kf kg kh ki kj", "");
    // Leading, doubled and trailing blanks make no empty keyword: "all" still finds.
    EXPECT_EQ(hits(search("CONDITION=++apple++pear+&STAT=1")), "5:1 5:2");
    EXPECT_EQ(hits(search("CONDITION=++apple++pear+&STAT=2")), "5:2");
    // Ten found, the eleventh would match nothing.
    EXPECT_EQ(hits(search("CONDITION=ka+kb+kc+kd+ke+kf+kg+kh+ki+kj+zz&STAT=2")), "5:4");
    EXPECT_EQ(hits(search("CONDITION=zz+ka+kb+kc+kd+ke+kf+kg+kh+ki+kj&STAT=2")), "");
    // Blanks only: no keyword at all; with "all" every live message is a hit.
    EXPECT_EQ(hits(search("CONDITION=+++&STAT=1")), "");
    EXPECT_EQ(hits(search("CONDITION=+++&STAT=2")), "5:1 5:2 5:3 5:4");
    // Two-byte characters: split at the blank between them, never matched
    // from a second byte.
    post(5, "\x82\xA0\x82\xA2", "");
    EXPECT_EQ(hits(search("CONDITION=%82%A0+%82%A2&STAT=2")), "5:5");
    EXPECT_EQ(hits(search("CONDITION=%A0%82&STAT=1")), "");
}

TEST_F(SearchTest, AnyAndAllWithAndWithoutWriterCaseSensitive) {
    post(5, "alpha", "nothing", "Taro");                  // 1: a only
    post(5, "alpha", "and beta here", "Hanako Sato");     // 2: a in title, b in body
    post(5, "gamma", "no keyword", "Hanako Sato");        // 3: writer only
    const int gone = post(5, "alpha beta", "", "Hanako");  // 4: deleted
    post(5, "Alpha", "Beta", "Jiro", false);              // 5: body never written
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = 5;
    sBBS_IDX.SEL_NO = gone;
    ASSERT_EQ(Fio_BBS_IDX(3), 0);
    post(5, "delta", "");                                 // 6

    EXPECT_EQ(hits(search("CONDITION=alpha+beta&STAT=1")), "5:1 5:2");
    EXPECT_EQ(hits(search("CONDITION=alpha+beta&STAT=2")), "5:2");
    // Case counts.
    EXPECT_EQ(hits(search("CONDITION=Alpha&STAT=1")), "5:5");
    EXPECT_EQ(hits(search("CONDITION=ALPHA&STAT=1")), "");
    // Any: the writer alone makes the hit, each shown with its own body.
    const std::string by_writer = search("CONDITION=zzz&WRITER=Hanako&STAT=1");
    EXPECT_EQ(hits(by_writer), "5:2 5:3");
    EXPECT_TRUE(has(by_writer, "[<B>Hanako</B> Sato]<BR>\nand beta here<P>\n")) << by_writer;
    EXPECT_TRUE(has(by_writer, "no keyword<P>\n"));
    // All: the writer must match and every keyword be found.
    EXPECT_EQ(hits(search("CONDITION=zzz&WRITER=Hanako&STAT=2")), "");
    EXPECT_EQ(hits(search("CONDITION=alpha+beta&WRITER=Hanako&STAT=2")), "5:2");
    EXPECT_EQ(hits(search("CONDITION=alpha+beta&WRITER=Jiro&STAT=2")), "");
    // A body never written is empty: only the title is searched.
    EXPECT_EQ(hits(search("CONDITION=Beta&STAT=1")), "");
    EXPECT_TRUE(has(search("CONDITION=alpha&STAT=1"), "<B>total hit 2message(s)</B>"));
}

TEST_F(SearchTest, MatchesBoldInTitleAndBodyEscapedAndSanitized) {
    post(5, "<i>pear</i> & pear", "a pear<script>alert('pear')</script><A HREF=\"x?pear\">pear</A>");
    const std::string out = search("CONDITION=pear+ea&STAT=1");
    EXPECT_TRUE(has(out,
                    "<A HREF=\"wbbs.cgi?SKEY1=1234567&SKEY2=7654321&uid=taro&JOB=FRM223&FOLDER_NO=5&SEL_NO=1\""
                    " TARGET=\"FRM223SEL5\">No.[1]"
                    "&lt;i&gt;<B>p<B>ea</B>r</B>&lt;/i&gt; &amp; <B>p<B>ea</B>r</B></A> [Taro]<BR>\n"))
        << out;
    // Bold outside tags only, the script dropped by the sanitizer.
    EXPECT_TRUE(has(out, "a <B>p<B>ea</B>r</B><A HREF=\"x?pear\"><B>p<B>ea</B>r</B></A><P>\n")) << out;
    EXPECT_FALSE(has(out, "alert('"));
    EXPECT_TRUE(has(out, "<B>total hit 1message(s)</B>"));
    // In two frames the link takes no target.
    const std::string wide = search("CONDITION=pear&STAT=1", "wide");
    EXPECT_TRUE(has(wide, "&SEL_NO=1\">No.[1]")) << wide;
    EXPECT_FALSE(has(wide, "TARGET="));
}

TEST_F(SearchTest, FolderPictureAndColourAndALongBodyNotCut) {
    install.build("setting 5 BACKPIC2 back2.gif\nsetting 5 FONTCOLOR2 112233\n");
    post(5, "long", std::string(30000, 'a'));
    const std::string out = search("CONDITION=a&STAT=1");
    EXPECT_TRUE(has(out, "<BODY BACKGROUND=\"wbbs.cgi?JOB=BG2_DL&SKEY1=1234567&SKEY2=7654321&uid=taro&FOLDER_NO=5\" >"))
        << out.substr(0, 400);
    EXPECT_TRUE(has(out, "</SCRIPT>\n<FONT COLOR=\"#112233\"><FONT SIZE=\"5\">"));
    EXPECT_TRUE(has(out, "<HR>\n</FONT></BODY>\n</HTML>\n"));
    std::size_t bold = 0;
    for (std::size_t at = out.find("<B>a</B>"); at != std::string::npos; at = out.find("<B>a</B>", at + 1)) ++bold;
    EXPECT_EQ(bold, 30000u);
    // The search across folders shows no folder's picture or colour.
    const std::string all =
        install.get(install.session("taro") + "&FOLDER_NO=5&JOB=ALLSEARCH&CONDITION=a&ROOM_NO=5").out;
    EXPECT_FALSE(has(all, "BG2_DL"));
    EXPECT_FALSE(has(all, "112233"));
    EXPECT_TRUE(has(all, "<B>total hit 1message(s)</B>"));
}

TEST_F(SearchTest, ChosenFoldersOnlyThoseTheUserMayOpen) {
    post(5, "apple five", "");
    post(6, "apple secret", "secret body");
    post(7, "apple later", "");
    post(8, "apple inner", "");
    post(9, "apple files", "");  // index files left in a folder that is no board
    const std::string base = install.session("taro") + "&FOLDER_NO=5&JOB=ALLSEARCH&";
    // The closed folder and the one below it are neither offered nor searched.
    const std::string out = install.get(base + "CONDITION=apple&ROOM_NO=7&ROOM_NO=6&ROOM_NO=5&ROOM_NO=9").out;
    EXPECT_EQ(hits(out), "7:1 5:1") << out;
    EXPECT_FALSE(has(out, "secret"));
    EXPECT_FALSE(has(out, "Secret"));
    EXPECT_FALSE(has(out, "Inner"));
    EXPECT_TRUE(has(out, "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"ALLSEARCH\">\n"));
    EXPECT_TRUE(has(out,
                    "<P>\n<DT>Folders\n<DD><SELECT NAME=\"ROOM_NO\" SIZE=5 MULTIPLE>\n"
                    "<OPTION VALUE=\"5\" SELECTED >5:Notices\n<OPTION VALUE=\"7\" SELECTED >7:Later\n"
                    "</SELECT>\n</FORM>\n"))
        << out;
    EXPECT_TRUE(has(out, "<B>total hit 2message(s)</B>"));
    // A list ends at its first 0; a folder named twice is searched once.
    EXPECT_EQ(hits(install.get(base + "CONDITION=apple&ROOM_NO=5&ROOM_NO=0&ROOM_NO=7").out), "5:1");
    EXPECT_EQ(hits(install.get(base + "CONDITION=apple&ROOM_NO=5&ROOM_NO=5").out), "5:1");
    // Nor is a folder that is no board, not even for the administrator, and
    // a number that names no folder writes nothing.
    const std::string boss = install.session("boss");
    const auto before = install.all_paths();
    EXPECT_EQ(hits(install.get(boss + "&FOLDER_NO=5&JOB=ALLSEARCH&CONDITION=apple&ROOM_NO=9"
                                                         "&ROOM_NO=12345&ROOM_NO=-1&ROOM_NO=6")
                       .out),
              "6:1");
    EXPECT_EQ(install.all_paths(), before);
    // A folder whose index is locked is passed over; the others are searched.
    install.write_data_file("5/bbs.chk", "");
    EXPECT_EQ(hits(install.get(base + "CONDITION=apple&ROOM_NO=5&ROOM_NO=7").out), "7:1");
    std::filesystem::remove(install.data_dir() + "5/bbs.chk");
    const std::string none = install.get(base + "CONDITION=apple").out;
    EXPECT_TRUE(has(none, "<OPTION VALUE=\"5\" >5:Notices\n"));
    EXPECT_TRUE(has(none, "<B>total hit 0message(s)</B>"));
}

}  // namespace
