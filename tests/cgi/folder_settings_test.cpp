// The folder settings form and its save, through the real program.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "cgi/cgi_harness.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "008 Not allowed.\n"
    "009 New:\n"
    "021 Back\n"
    "200 Name please.\n"
    "201 Settings\n"
    "210 On\n"
    "211 Off\n"
    "219 Delete\n";

const char* const kInstallation =
    "folder 1 name=\"Notices\" access=1 write=2\n"
    "user admin password=pw level=10\n"
    "user clerk password=pw level=10\n"
    "grant 1 user admin 8\n"
    "grant 1 user clerk 7\n";

const char* const kTree = "tree.mst";
const char* const kDirCnf = "1/dir.cnf";

bool has(const std::string& page, const std::string& part) {
    return page.find(part) != std::string::npos;
}

class FolderSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
    }

    CgiResult form(const std::string& user = "admin") {
        CgiResult result = install.get("FOLDER_NO=1&JOB=SET_CONFIG&uid=" + user + "&upw=pw");
        EXPECT_EQ(result.exit_status, 0) << result.err;
        return result;
    }
    // A save request (a login on the way); the caller adds the form's values.
    static MultipartBody save(const std::string& user = "admin") {
        MultipartBody body;
        body.field("uid", user).field("upw", "pw").field("FOLDER_NO", "1").field("JOB", "SET_CONFIGWR");
        return body;
    }
    CgiResult post(const MultipartBody& body) {
        CgiResult result = install.post_multipart(body);
        EXPECT_EQ(result.exit_status, 0) << result.err;
        return result;
    }
    // The value of a dir.cnf line, or "-" when there is none.
    std::string setting(const std::string& key) {
        const std::string cnf = "\n" + install.read_data_file(kDirCnf);
        const std::size_t at = cnf.find("\n" + key + ",");
        if (at == std::string::npos) return "-";
        const std::size_t start = at + key.size() + 2;
        return cnf.substr(start, cnf.find(',', start) - start);
    }

    CgiInstallation install;
};

TEST_F(FolderSettingsTest, DefaultsAndTheSettingsFileAsRead) {
    const std::string page = form().out;
    EXPECT_EQ(install.read_data_file(kDirCnf), "");  // created
    EXPECT_TRUE(has(page, "\"FRAMESET1\" VALUE=\"10%\""));
    EXPECT_TRUE(has(page, "\"FRAMESET2\" VALUE=\"40%\""));
    EXPECT_TRUE(has(page, "\"FRAMESET3\" VALUE=\"50%\""));
    EXPECT_TRUE(has(page, "\"RESFONTCOLOR3\" VALUE=\"0000FF\""));
    // Editing by the writer is offered as off while it is unset.
    EXPECT_TRUE(has(page, "<SELECT NAME=\"REWRITE_FLG\">\n<OPTION VALUE=\"1\" SELECTED>Off\n"
                          "<OPTION VALUE=\"2\">On\n</SELECT>\n</TD>\n"));

    install.write_data_file(kDirCnf, "ATTACH_MAX,3,\n");
    EXPECT_TRUE(has(form().out, "\"ATTACH_MAX\" VALUE=\"3\""));
    install.write_data_file(kDirCnf, "ATTACH_MAX,3\n");  // no second comma: no setting
    EXPECT_TRUE(has(form().out, "\"ATTACH_MAX\" VALUE=\"0\""));
}

TEST_F(FolderSettingsTest, AdministratorGetsTheFormOthersTheRefusal) {
    install.write_data_file(kDirCnf, "TITLEPIC,top.gif,\n");
    const std::string page = form().out;
    EXPECT_TRUE(has(page, "<FONT SIZE=\"5\"><B>(Notices) Settings</B></FONT>\n"
                          "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" "
                          "ACTION=\"wbbs.cgi\" METHOD=POST >\n"));
    EXPECT_TRUE(has(page, "<INPUT TYPE=\"hidden\" name=\"uid\" value=\"admin\">\n"
                          "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"1\">\n"
                          "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"SET_CONFIGWR\">\n"));
    EXPECT_TRUE(has(page, "ALIGN=\"LEFT\">top.gif<INPUT TYPE=\"checkbox\" NAME=\"TITLEPIC_DEL\" "
                          "VALUE=\"DEL\">Delete<BR>\nNew:<INPUT TYPE=\"FILE\" NAME=\"TITLEPIC\">\n"
                          "</TD>\n"));

    const std::string tree = install.read_data_file(kTree);
    EXPECT_EQ(form("clerk").out,
              expected_page_head("<TITLE>Board</TITLE>", "board",
                                 "<BODY BACKGROUND=\"/orva/img/back.gif\" >") +
                  "<SCRIPT Language=\"JavaScript\">\n<!--\nfunction title_chk(){\n"
                  "if ( document.INPUT.NAME.value==\"\" ) {\nwindow.alert( \"Name please.\" );\n"
                  "return false }\n}\n// -->\n</SCRIPT>\n"
                  "Not allowed.\n<FORM>\n"
                  "<INPUT TYPE=\"button\" VALUE=\"Back\" onClick=\"history.back()\">\n"
                  "</FORM>\n</BODY>\n</HTML>\n");
    post(save("clerk").field("NAME", "Taken").field("ATTACH_MAX", "5").file("BACKPIC1", "b", "G"));
    EXPECT_EQ(install.read_data_file(kTree), tree);
    EXPECT_EQ(install.read_data_file(kDirCnf), "TITLEPIC,top.gif,\n");
    EXPECT_FALSE(install.data_file_exists("1/fcg"));
}

TEST_F(FolderSettingsTest, SaveWritesEverySettingNameAndTexts) {
    const std::pair<const char*, const char*> values[] = {
        {"ATTACH_MAX", "4"},      {"REWRITE_FLG", "2"},     {"RES_PERMIT_FLG", "1"},
        {"TIME_LIMIT_FLG", "6"},  {"DATETIME", "1"},        {"WRITER_ID", "1"},
        {"HTML_MODE", "2"},       {"CONFIRM", "2"},         {"LINE_RES", "1"},
        {"NICK_NAME", "1"},       {"RES_HEADER", "Re"},     {"LINK_TARGET", "_blank"},
        {"FONTCOLOR1", "111111"}, {"FONTCOLOR2", "222222"}, {"RESFONTCOLOR2", ""},
        {"FONTCOLOR3", "333333"}, {"RESFONTCOLOR3", "F00"}, {"FRAMESET1", "20%"},
        {"FRAMESET2", "30%"},     {"FRAMESET3", "*"}};
    MultipartBody body = save().field("NAME", "News, old").field("INFO", std::string(4100, 'i'))
                             .field("DEFO", "Hello");
    std::string expected;  // in the order they are written
    for (const auto& [key, value] : values) {
        body.field(key, value);
        expected += std::string(key) + "," + value + ",\n";
    }
    const CgiResult result = post(body);
    EXPECT_EQ(install.read_data_file(kDirCnf), expected);
    EXPECT_EQ(install.read_data_file("1/info.txt"), std::string(3999, 'i'));
    EXPECT_EQ(install.read_data_file("1/defo.txt"), "Hello");
    // The comma would split the tree line: it is stored as a space.
    EXPECT_TRUE(has(install.read_data_file(kTree), "1,News  old,"));
    // The form that follows shows what was stored; an empty colour stays empty.
    EXPECT_TRUE(has(result.out, "<B>(News  old) Settings</B>"));
    EXPECT_TRUE(has(result.out, "<OPTION VALUE=\"6\" SELECTED>"));
    EXPECT_TRUE(has(result.out, "NAME=\"RESFONTCOLOR2\" VALUE=\"\""));
}

TEST_F(FolderSettingsTest, PictureIsReplacedDeletedAndUploadWinsOverDelete) {
    post(save().file("TITLEPIC", "a.gif", "AAA"));
    EXPECT_EQ(install.read_data_file("1/fcg/a.gif"), "AAA");
    EXPECT_EQ(setting("TITLEPIC"), "a.gif");

    post(save().file("TITLEPIC", "C:\\pics\\b.gif", "BBB"));
    EXPECT_FALSE(install.data_file_exists("1/fcg/a.gif"));
    EXPECT_EQ(install.read_data_file("1/fcg/b.gif"), "BBB");
    EXPECT_EQ(setting("TITLEPIC"), "b.gif");

    post(save().field("TITLEPIC_DEL", "DEL").file("TITLEPIC", "c.gif", "CCC"));
    EXPECT_FALSE(install.data_file_exists("1/fcg/b.gif"));
    EXPECT_EQ(setting("TITLEPIC"), "c.gif");

    post(save().field("TITLEPIC_DEL", "DEL").file("TITLEPIC", "", ""));
    EXPECT_FALSE(install.data_file_exists("1/fcg/c.gif"));
    EXPECT_EQ(setting("TITLEPIC"), "");

    // The folder icon lives in the folder tree.
    post(save().file("PIC_FILENAME", "icon.gif", "I"));
    EXPECT_TRUE(has(install.read_data_file(kTree), ",icon.gif,"));
}

TEST_F(FolderSettingsTest, UnsafePictureNamesAndForeignPathsStoreNothing) {
    install.write_data_file(kDirCnf, "BACKPIC1,old.gif,\n");
    install.write_data_file("1/fcg/old.gif", "OLD");
    for (const char* name : {"..", "dir/", "bad\x01.gif"}) {
        post(save().file("BACKPIC1", name, "X"));
        EXPECT_EQ(setting("BACKPIC1"), "old.gif") << name;
    }
    EXPECT_EQ(install.read_data_file("1/fcg/old.gif"), "OLD");
    // Refused uploads do not wait for the sweep.
    for (const std::string& entry : install.data_dir_entries()) {
        EXPECT_EQ(entry.rfind("CGI", 0), std::string::npos) << entry;
    }

    // A directory part is dropped: the picture lands inside the folder's
    // directory. A kanji whose second byte is a backslash is no separator.
    post(save().file("BACKPIC1", "../x.gif", "X").file("BACKPIC3", "\x83\x5C.gif", "K"));
    EXPECT_EQ(setting("BACKPIC1"), "x.gif");
    EXPECT_TRUE(install.data_file_exists("1/fcg/x.gif"));
    EXPECT_FALSE(install.data_file_exists("1/x.gif"));
    EXPECT_EQ(install.read_data_file("1/fcg/\x83\x5C.gif"), "K");

    // A comma of the client's name is no split of the field: the picture is
    // stored with '_' for it, as a settings line can hold it.
    post(save().file("TITLEPIC", "a,b.gif", "AB"));
    EXPECT_EQ(setting("TITLEPIC"), "a_b.gif");
    EXPECT_EQ(install.read_data_file("1/fcg/a_b.gif"), "AB");

    // A plain field that names another file is no upload: that file stays put.
    post(save().field("BACKPIC2", "p.gif," + install.data_dir() + kTree));
    EXPECT_TRUE(install.data_file_exists(kTree));
    EXPECT_EQ(setting("BACKPIC2"), "-");
}

TEST_F(FolderSettingsTest, HostileValuesNeverBecomeMarkup) {
    post(save().field("NAME", "\"><script>alert(1)</script>")
             .field("INFO", "</TEXTAREA><script>x()</script>")
             .field("FONTCOLOR1", "\"><b a=").field("FRAMESET2", "\" onx=\"")
             .file("TITLEPIC", "<img src=x onerror=y()>.gif", "P"));
    const std::string page = form().out;
    EXPECT_FALSE(has(page, "<script"));
    EXPECT_FALSE(has(page, "<img"));
    EXPECT_FALSE(has(page, "\" onx="));
    EXPECT_TRUE(has(page, "(&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;) Settings"));
    EXPECT_TRUE(has(page, ">&lt;/TEXTAREA&gt;&lt;script&gt;x()&lt;/script&gt;</TEXTAREA>"));
}

}  // namespace
