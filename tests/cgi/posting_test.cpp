// Posting, replying, editing and deleting messages through the real program:
// the index records, the message directory, attachments, read marks, the log
// line and the write count, and every refusal with its page.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cgi/cgi_harness.h"
#include "store/index_consistency.h"
#include "store/message_index.h"
#include "store/personal_settings.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "008 You may not do this.\n"
    "011 Not found.\n"
    "012 Cannot write.\n"
    "013 Already there.\n"
    "019 Busy, try again.\n"
    "400 Give a title.\n"
    "417 Done\n"
    "418 Stored.\n"
    "419 Back\n"
    "420 Sending\n"
    "431 Bad date.\n"
    "433 Give a name.\n"
    "450 Too large.\n";

const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=50
user taro password=t name="Taro Yamada" level=10
user hanako password=h name=Hanako level=10
user seven password=s level=10
user boss password=b level=10
user shared password=x level=10 mode=2
user reader password=r level=10
user popup password=p level=10 write_mode=2
grant 5 user taro 5
grant 5 user hanako 5
grant 5 user seven 7
grant 5 user boss 8
grant 5 user shared 5
grant 5 user popup 5
setting 5 ATTACH_MAX 3
setting 5 REWRITE_FLG 2
setting 5 NICK_NAME 1
setting 5 TIME_LIMIT_FLG 1
setting 5 CONFIRM 1
)";

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Upload {
    std::string name;  // client file name; empty: a file field sent without a file
    std::string content;
};

class PostingTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
        install.use_store();
    }

    CgiResult send(const std::string& uid, const std::string& job, const Fields& fields,
                   const std::vector<Upload>& uploads = {}) {
        install.session(uid);
        MultipartBody body;
        body.field("uid", uid).field("SKEY1", "1234567").field("SKEY2", "7654321");
        body.field("FOLDER_NO", "5").field("JOB", job);
        for (const auto& [name, value] : fields) body.field(name, value);
        for (const Upload& upload : uploads) body.file("ATFILE", upload.name, upload.content);
        return install.post_multipart(body);
    }
    CgiResult post_new(const std::string& uid, const std::string& title,
                       const std::vector<Upload>& uploads = {}) {
        return send(uid, "BWRITE_NEWWR",
                    {{"SEL_NO", "0"}, {"WRITE_TITLE", title}, {"WRITER_NAME", uid}, {"WRITE_DATA", "body"}},
                    uploads);
    }
    CgiResult remove(const std::string& uid, int sel_no) {
        return send(uid, "BWRITE_DELWR", {{"SEL_NO", std::to_string(sel_no)}});
    }

    static std::string error_page(const std::string& text) {
        return expected_page_head("<TITLE>Board</TITLE>", "board", "<BODY BACKGROUND=\"/orva/img/back.gif\" >") +
               "<CENTER>\n<BR><FONT SIZE=\"5\"><B></B></FONT>\n<P><BR><HR><P><BR>\n"
               "<FONT COLOR=\"RED\"><B>" + text + "</B></FONT>\n<FORM METHOD=POST >\n"
               "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n</FORM>\n</CENTER>\n"
               "</BODY>\n</HTML>\n";
    }
    static bool done(const CgiResult& result) {
        return result.out.find("<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"ROOM\">\n") != std::string::npos;
    }

    // The record of sel_no in index file `file` (1 to 5); SEL_NO 0 when it is not there.
    BBS_IDX record(int file, int sel_no) {
        for (long page = 1; Fio_BBS_IDX20(5, file, page) == 0; ++page) {
            for (const BBS_IDX& r : sBBS_IDX20) {
                if (r.SEL_NO == sel_no) return r;
            }
        }
        return BBS_IDX{};
    }
    // What a post decides: "title|name|id|limit|up group class|html priority confirm files deleted".
    static std::string summary(const BBS_IDX& r) {
        auto numbers = [](std::initializer_list<int32_t> values) {
            std::string out;
            for (int32_t v : values) {
            if (!out.empty()) out += ' ';
            out += std::to_string(v);
        }
            return out;
        };
        return std::string(r.WRITE_TITLE) + "|" + r.WRITER_NAME + "|" + r.WRITER_ID + "|" + r.TIME_LIMIT_DATE +
               "|" + numbers({r.UP_NO, r.BBS_G_NO, r.CLASS}) + "|" +
               numbers({r.HTML_MODE, r.WRITE_PRIORITY, r.CONFIRM, r.ADD_FILE, r.DEL_FLG});
    }
    std::vector<int32_t> marks(const std::string& uid) {
        const std::string bytes = install.read_data_file("user/" + uid + "/r5.idx");
        std::vector<int32_t> out(bytes.size() / 4);
        std::memcpy(out.data(), bytes.data(), out.size() * 4);
        return out;
    }
    void write_marks(const std::string& uid, const std::vector<int32_t>& values) {
        std::string bytes(values.size() * 4, '\0');
        std::memcpy(bytes.data(), values.data(), bytes.size());
        install.write_data_file("user/" + uid + "/r5.idx", bytes);
    }
    std::string personal(const std::string& uid, const char* key) {
        char value[40] = "";
        Fio_PERSONAL_MST(uid.c_str(), 1, key, value);
        return value;
    }
    bool temporary_files_left() {
        for (const std::string& name : install.data_dir_entries()) {
            if (name.rfind("CGI", 0) == 0) return true;
        }
        return false;
    }
    void expect_index_clean() {
        std::vector<std::string> problems;
        EXPECT_EQ(check_message_index(5, problems), 0);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }

    CgiInstallation install;
};

TEST_F(PostingTest, NewPostReplyAndEditWriteEveryFile) {
    install.write_config({{"LOG_DATE", "1"}});
    const CgiResult posted = send(
        "taro", "BWRITE_NEWWR",
        {{"SEL_NO", "0"}, {"HTML_MODE", "1"}, {"WRITE_PRIORITY", "2"}, {"WRITE_TITLE", "First <b>"},
         {"WRITER_NAME", "Taro"}, {"WRITE_DATA", "Hello\r\nworld"}, {"CONFIRM", "1"},
         {"TIME_LIMIT_DATE", "2026/02/31"}},
        {{"a.txt", "AAA"}, {"b.bin", std::string("B\0B", 3)}, {"", ""}});
    EXPECT_TRUE(done(posted)) << posted.out;

    for (int file = 1; file <= 5; ++file) {
        EXPECT_EQ(summary(record(file, 1)), "First <b>|Taro|taro|2026/02/31|0 1 0|1 2 1 2 0") << file;
    }
    EXPECT_EQ(install.read_data_file("5/x1/body.txt"), "Hello\r\nworld");
    EXPECT_EQ(install.read_data_file("5/x1/atfile01/a.txt"), "AAA");
    EXPECT_EQ(install.read_data_file("5/x1/atfile02/b.bin"), std::string("B\0B", 3));
    EXPECT_FALSE(install.data_file_exists("5/x1/atfile03"));
    EXPECT_EQ(install.read_data_file("5/x1/add_file.txt"), "1,1,a.txt,\n1,2,b.bin,\n");
    EXPECT_EQ(marks("taro"), std::vector<int32_t>({1}));
    EXPECT_EQ(personal("taro", "TOTAL_WRITE_COUNT"), "1");
    EXPECT_FALSE(temporary_files_left());
    EXPECT_NE(install.get(install.session("taro") + "&FOLDER_NO=5&JOB=FRM222").out.find("First &lt;b&gt;"),
              std::string::npos);

    ASSERT_TRUE(done(send("hanako", "BWRITE_RESWR",
                          {{"SEL_NO", "1"}, {"WRITE_TITLE", "Re: First"}, {"WRITER_NAME", "H"},
                           {"WRITE_DATA", "reply"}})));
    EXPECT_EQ(summary(record(4, 2)), "Re: First|H|hanako||1 1 1|0 0 0 0 0");
    EXPECT_EQ(marks("hanako"), std::vector<int32_t>({0, 1}));
    EXPECT_EQ(personal("hanako", "TOTAL_WRITE_COUNT"), "1");

    // The edit: slot 1 gets a new file, slot 2's box is cleared, slot 3 stays empty.
    write_marks("hanako", {1, 1});
    install.write_data_file("5/x1/confirm.txt", "hanako,Hanako,2024/01/01 10:00,\n");
    ASSERT_TRUE(done(send("taro", "BWRITE_REWWR",
                          {{"SEL_NO", "1"}, {"WRITE_TITLE", "First, edited"}, {"WRITER_NAME", "Taro"},
                           {"WRITE_DATA", "Changed"}, {"CONFIRM", "0"}},
                          {{"c.txt", "CCC"}, {"", ""}, {"", ""}})));
    for (int file = 1; file <= 5; ++file) {
        EXPECT_EQ(summary(record(file, 1)), "First, edited|Taro|taro||0 1 0|0 0 0 1 0") << file;
    }
    EXPECT_EQ(record(2, 1).RES_COUNT, 1);
    EXPECT_EQ(install.read_data_file("5/x1/body.txt"), "Changed");
    EXPECT_EQ(install.read_data_file("5/x1/atfile01/c.txt"), "CCC");
    EXPECT_FALSE(install.data_file_exists("5/x1/atfile01/a.txt"));
    EXPECT_FALSE(install.data_file_exists("5/x1/atfile02"));
    EXPECT_EQ(install.read_data_file("5/x1/add_file.txt"), "1,1,c.txt,\n");
    EXPECT_FALSE(install.data_file_exists("5/x1/confirm.txt"));
    EXPECT_EQ(marks("hanako"), std::vector<int32_t>({0, 1}));
    EXPECT_EQ(marks("taro")[0], 1);
    EXPECT_EQ(marks("seven"), std::vector<int32_t>({0}));
    EXPECT_EQ(personal("taro", "TOTAL_WRITE_COUNT"), "1");  // an edit is no new write

    const std::string log = install.read_data_file("system.log");
    const std::string tail = ",192.0.2.10,Mozilla/5.0 (X11; Linux x86_64) TestBrowser/1.0,\n";
    for (const char* line : {",taro,Taro Yamada,new write folder_no[5] sel_no[1]",
                             ",hanako,Hanako,res write folder_no[5] sel_no[2]",
                             ",taro,Taro Yamada,edit write folder_no[5] sel_no[1]"}) {
        EXPECT_NE(log.find(line + tail), std::string::npos) << line << "\n" << log;
    }

    // The count goes on from whatever the file holds.
    char stored_count[40] = "-5";
    ASSERT_EQ(Fio_PERSONAL_MST("hanako", 4, "TOTAL_WRITE_COUNT", stored_count), 0);
    ASSERT_TRUE(done(post_new("hanako", "another")));
    EXPECT_EQ(personal("hanako", "TOTAL_WRITE_COUNT"), "-4");
    EXPECT_FALSE(temporary_files_left());
    expect_index_clean();
}

TEST_F(PostingTest, DeletionByWriterOrAdministratorOnly) {
    ASSERT_TRUE(done(post_new("taro", "one", {{"a.txt", "A"}})));
    ASSERT_TRUE(done(post_new("hanako", "two")));
    ASSERT_TRUE(done(post_new("shared", "three")));

    // Level 7 may not delete another's message; an account of MODE 2 may not
    // edit even its own.
    EXPECT_EQ(remove("seven", 1).out, error_page("You may not do this."));
    EXPECT_EQ(send("shared", "BWRITE_REWWR", {{"SEL_NO", "3"}, {"WRITE_TITLE", "x"}, {"WRITER_NAME", "x"}}).out,
              error_page("You may not do this."));
    EXPECT_STREQ(record(1, 3).WRITE_TITLE, "three");
    EXPECT_TRUE(install.data_file_exists("5/x1/atfile01/a.txt"));

    // A number beyond the folder writes no marks for it.
    write_marks("seven", {0});
    EXPECT_EQ(remove("taro", 2000000000).out, error_page("Not found."));
    EXPECT_EQ(send("taro", "BWRITE_REWWR", {{"SEL_NO", "2000000000"}, {"WRITE_TITLE", "x"}, {"WRITER_NAME", "x"}}).out,
              error_page("Not found."));
    EXPECT_EQ(marks("seven"), std::vector<int32_t>({0}));

    // The writer deletes the first (an empty title is no obstacle), level 8 the last.
    EXPECT_TRUE(done(remove("taro", 1)));
    EXPECT_FALSE(install.data_file_exists("5/x1"));
    EXPECT_EQ(record(4, 1).SEL_NO, 0);
    EXPECT_EQ(marks("seven"), std::vector<int32_t>({1, 0, 0}));
    EXPECT_TRUE(done(remove("boss", 3)));
    EXPECT_FALSE(install.data_file_exists("5/x3"));
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(5, 1), 2);
    EXPECT_EQ(marks("seven"), std::vector<int32_t>({1, 0}));
    EXPECT_EQ(marks("boss"), std::vector<int32_t>({1, 0}));
    EXPECT_EQ(personal("taro", "TOTAL_WRITE_COUNT"), "1");  // a deletion counts nothing
    // A deleted message cannot be deleted, edited or answered again.
    EXPECT_EQ(remove("taro", 1).out, error_page("Not found."));
    const Fields again = {{"SEL_NO", "1"}, {"WRITE_TITLE", "x"}, {"WRITER_NAME", "x"}};
    EXPECT_EQ(send("taro", "BWRITE_REWWR", again).out, error_page("Not found."));
    EXPECT_EQ(send("taro", "BWRITE_RESWR", again).out, error_page("Not found."));
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(5, 1), 2);

    // Number 3 is given again; what an earlier message left there is not taken over.
    install.write_data_file("5/x3/add_file.txt", "3,1,old.txt,\n");
    install.write_data_file("5/x3/atfile01/old.txt", "old");
    ASSERT_TRUE(done(post_new("taro", "three again")));
    EXPECT_EQ(record(1, 3).SEL_NO, 3);
    EXPECT_FALSE(install.data_file_exists("5/x3/add_file.txt"));
    EXPECT_FALSE(install.data_file_exists("5/x3/atfile01"));
    expect_index_clean();
}

TEST_F(PostingTest, EveryRefusalShowsItsMessageAndWritesNothing) {
    ASSERT_TRUE(done(post_new("taro", "one")));
    const Fields good = {{"WRITE_TITLE", "t"}, {"WRITER_NAME", "w"}, {"WRITE_DATA", "b"}};
    auto with = [&](Fields fields, const Fields& more) {
        fields.insert(fields.end(), more.begin(), more.end());
        return fields;
    };
    EXPECT_EQ(send("reader", "BWRITE_NEWWR", good).out, error_page("You may not do this."));
    EXPECT_EQ(send("taro", "BWRITE_NEWWR", {{"WRITER_NAME", "w"}}).out, error_page("Give a title."));
    EXPECT_EQ(send("taro", "BWRITE_NEWWR", {{"WRITE_TITLE", "t"}}).out, error_page("Give a name."));
    EXPECT_EQ(send("taro", "BWRITE_NEWWR", with(good, {{"TIME_LIMIT_DATE", "1998/12/31"}})).out,
              error_page("Bad date."));
    EXPECT_EQ(send("taro", "BWRITE_RESWR", with(good, {{"SEL_NO", "99"}})).out, error_page("Not found."));
    EXPECT_EQ(send("taro", "BWRITE_REWWR", with(good, {{"SEL_NO", "99"}})).out, error_page("Not found."));
    EXPECT_EQ(send("taro", "BWRITE_NEWWR", good, {{"..", "x"}}).out, error_page("Cannot write."));
    install.build("setting 5 RES_PERMIT_FLG 1\n");
    EXPECT_EQ(send("taro", "BWRITE_RESWR", with(good, {{"SEL_NO", "1"}})).out, error_page("You may not do this."));
    // A new message never answers another, so the ban on replies holds for it too.
    ASSERT_TRUE(done(send("taro", "BWRITE_NEWWR", with(good, {{"SEL_NO", "1"}}))));
    EXPECT_EQ(record(1, 2).UP_NO, 0);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(5, 1), 2);

    // The index lock held by another process: an edit's read of the message
    // gives up after as long as a writer waits (nine seconds), and a post
    // waits for a holder that lets go in time.
    install.write_data_file("5/bbs.chk", "");
    EXPECT_EQ(send("taro", "BWRITE_REWWR", with(good, {{"SEL_NO", "1"}})).out, error_page("Busy, try again."));
    EXPECT_FALSE(temporary_files_left());
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        usleep(300000);
        std::remove((install.data_dir() + "5/bbs.chk").c_str());
        _exit(0);
    }
    EXPECT_TRUE(done(send("taro", "BWRITE_NEWWR", good)));
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(5, 1), 3);
}

// A body that cannot be written (here: beyond the largest file the process
// may write, as on a full disk) refuses the post whole: the message is not
// listed, and nothing of it is left.
TEST_F(PostingTest, APostWhoseBodyCannotBeWrittenIsNotListed) {
    ASSERT_TRUE(done(post_new("taro", "one")));
    install.session("taro");
    MultipartBody body;
    body.field("uid", "taro").field("SKEY1", "1234567").field("SKEY2", "7654321").field("FOLDER_NO", "5");
    body.field("JOB", "BWRITE_NEWWR").field("SEL_NO", "0").field("WRITE_TITLE", "long");
    body.field("WRITER_NAME", "taro").field("WRITE_DATA", std::string(60000, 'b'));
    body.file("ATFILE", "a.txt", "attached");
    CgiRequest request;
    request.method = "POST";
    request.content_type = body.content_type();
    request.body = body.body();
    request.file_size_limit = 30000;
    EXPECT_EQ(install.run(request).out, error_page("Cannot write."));
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(5, 1), 1);
    EXPECT_FALSE(install.data_file_exists("5/x2"));
    EXPECT_FALSE(install.data_file_exists("5/bbs.jnl"));
    EXPECT_FALSE(temporary_files_left());
    expect_index_clean();
    ASSERT_TRUE(done(post_new("taro", "two")));
    EXPECT_EQ(record(4, 2).SEL_NO, 2);
}

TEST_F(PostingTest, OversizeRequestIsRefusedWithoutTemporaryFiles) {
    install.write_config({{"ATTACHED_FILE_LIMIT", "100"}});
    EXPECT_EQ(post_new("taro", "big", {{"big.bin", std::string(300, 'x')}}).out, error_page("Too large."));
    EXPECT_FALSE(temporary_files_left());
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(5, 1), 0);
}

TEST_F(PostingTest, FolderSettingsDecideNameLimitDateAndConfirmation) {
    install.build("setting 5 NICK_NAME 0\nsetting 5 TIME_LIMIT_FLG 0\nsetting 5 CONFIRM 2\n");
    ASSERT_TRUE(done(send("taro", "BWRITE_NEWWR",
                          {{"WRITE_TITLE", "t"}, {"WRITER_NAME", "Someone else"}, {"CONFIRM", "0"},
                           {"TIME_LIMIT_DATE", "2030/01/01"}})));
    EXPECT_EQ(summary(record(1, 1)), "t|Taro Yamada|taro||0 1 0|0 0 2 0 0");
}

TEST_F(PostingTest, UploadNamesAreStoredBareAndSafeOrRefused) {
    const std::vector<std::string> before = install.all_paths();
    ASSERT_TRUE(done(post_new("taro", "one", {{"C:\\dir\\a.txt", "1"}, {"../x", "2"}, {"a,b.txt", "3"}})));
    ASSERT_TRUE(done(post_new("taro", "two", {{"it's <q>.txt", "4"}, {"line\r\nbreak.txt", "5"}})));
    EXPECT_EQ(install.read_data_file("5/x1/add_file.txt"), "1,1,a.txt,\n1,2,x,\n1,3,a_b.txt,\n");
    EXPECT_EQ(install.read_data_file("5/x2/add_file.txt"), "2,1,it's <q>.txt,\n2,2,line__break.txt,\n");
    EXPECT_EQ(install.read_data_file("5/x2/atfile02/line__break.txt"), "5");

    // A name with nothing safe left refuses the post and removes every upload.
    EXPECT_EQ(post_new("taro", "three", {{"ok.txt", "6"}, {"C:\\dir\\..", "7"}}).out, error_page("Cannot write."));
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(5, 1), 2);
    EXPECT_FALSE(temporary_files_left());

    // Everything new lies in the two messages' directories or is a store file.
    const std::string folder = install.data_dir() + "5/";
    for (const std::string& path : install.all_paths()) {
        if (std::find(before.begin(), before.end(), path) != before.end()) continue;
        const bool in_message = path.rfind(folder + "x1", 0) == 0 || path.rfind(folder + "x2", 0) == 0;
        const std::string in_folder = path.rfind(folder, 0) == 0 ? path.substr(folder.size()) : "";
        const bool store_file = in_folder.rfind("bbs", 0) == 0 || in_folder == "info.txt" ||
                                in_folder == "defo.txt" || path.rfind(install.data_dir() + "user/", 0) == 0;
        EXPECT_TRUE(in_message || store_file) << path;
    }
    expect_index_clean();
}

TEST_F(PostingTest, ComposeWindowPostReloadsTheFolderAndClosesTheWindow) {
    const std::string out = post_new("popup", "from the window").out;
    const std::string head = expected_page_head("<TITLE>Board</TITLE>", "board", " ");
    EXPECT_EQ(out.substr(0, out.find("<FRAMESET")),
              head + "<SCRIPT Language=\"JavaScript\">\n<!--\n"
                     "window.open(\"wbbs.cgi?JOB=BWRITEWR_FIX2\",\"WBWRITE5\")\n// -->\n</SCRIPT>\n");
    // A deletion from the same user ends on the page with the button back.
    EXPECT_TRUE(done(remove("popup", 1)));
}

}  // namespace
