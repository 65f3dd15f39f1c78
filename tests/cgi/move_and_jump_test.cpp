// Moving a thread to another folder and the link jump, through the real program.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cgi/cgi_harness.h"
#include "store/index_consistency.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "003 No address\n"
    "004 Nothing to jump to\n"
    "418 Done\n"
    "419 Back\n"
    "420 Wait\n"
    "452 Move\n"
    "453 Choose the folder\n";

// boss administers 5, 6, 8, 9 and 10; 7 only as a writer, so its sub-folder 8
// is not offered although boss administers it. 10 holds no board.
const char* const kInstallation = R"(
folder 5 name="Source" access=1 write=2
folder 6 name="Target" access=1 write=2
folder 7 name="Closed" access=1 write=2
folder 8 name="Inside" access=1 write=2 class=1
folder 9 name="Later <b>" access=1 write=2
folder 10 name="Links" access=1 write=2 mode=1
user boss password=b level=10
user clerk password=c level=10
user shared password=s level=10 mode=2
grant 5 user boss 8
grant 6 user boss 8
grant 8 user boss 8
grant 9 user boss 8
grant 10 user boss 8
grant 5 user shared 8
grant 6 user shared 8
)";

const std::string kPlainBody = "<BODY BACKGROUND=\"/orva/img/back.gif\" >";

class MoveAndJumpTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
        install.use_store();
    }
    int post(int folder, const std::string& title, int reply_to = 0) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = folder;
        sBBS_IDX.SEL_NO = reply_to;
        copy_field(sBBS_IDX.WRITE_TITLE, title.c_str());
        copy_field(sBBS_IDX.WRITER_ID, "boss");
        EXPECT_EQ(Fio_BBS_IDX(2), 0);
        return sBBS_IDX.SEL_NO;
    }
    BBS_IDX record(int folder, int sel_no) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = folder;
        sBBS_IDX.SEL_NO = sel_no;
        EXPECT_EQ(Fio_BBS_IDX(1), 0);
        return sBBS_IDX;
    }
    std::string run(const std::string& uid, const std::string& rest, int folder = 5) {
        const CgiResult result =
            install.get(install.session(uid) + "&FOLDER_NO=" + std::to_string(folder) + "&" + rest);
        EXPECT_EQ(result.exit_status, 0);
        return result.out;
    }
    std::string move(const std::string& uid, int sel_no, int thread, int room) {
        return run(uid, "JOB=WRITE_MOVEWR&SEL_NO=" + std::to_string(sel_no) +
                            "&BBS_G_NO=" + std::to_string(thread) + "&ROOM_NO=" + std::to_string(room));
    }
    void expect_consistent(int folder) {
        std::vector<std::string> problems;
        EXPECT_EQ(check_message_index(folder, problems), 0);
        EXPECT_TRUE(problems.empty()) << folder << ": " << (problems.empty() ? "" : problems[0]);
    }
    // The live records of a folder's thread lists (bbs4.idx), title -> record.
    std::map<std::string, BBS_IDX> threads(int folder) {
        std::map<std::string, BBS_IDX> found;
        for (long page = 1; Fio_BBS_IDX20(folder, 4, page) == 0; ++page) {
            for (const BBS_IDX& r : sBBS_IDX20) {
                if (r.SEL_NO != 0) found[r.WRITE_TITLE] = r;
            }
            if (sBBS_IDX20[BBS_IDX_PAGE - 1].SEL_NO == 0) break;
        }
        return found;
    }
    static bool has(const std::string& out, const std::string& piece) {
        return out.find(piece) != std::string::npos;
    }
    CgiInstallation install;
};

std::string error_page() {
    return expected_page_head("<TITLE>Board</TITLE>", "board", kPlainBody) +
           "<CENTER>\n<BR><FONT SIZE=\"5\"><B>No address</B></FONT>\n<P><BR><HR><P><BR>\n"
           "<FONT COLOR=\"RED\"><B>Nothing to jump to</B></FONT>\n<FORM METHOD=POST >\n"
           "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n</FORM>\n</CENTER>\n"
           "</BODY>\n</HTML>\n";
}

TEST_F(MoveAndJumpTest, JumpFollowsOnlyWebAddressesEscapedAndWithoutReferrer) {
    const std::string head = expected_page_head("<TITLE>Board</TITLE>", "board", " ");
    EXPECT_EQ(run("clerk", "JOB=JUMPLINK&URL=http%3A%2F%2Fexample.com%2Fa%3Fb%3D1%26c%3D2"),
              head + "<META NAME=\"referrer\" CONTENT=\"no-referrer\">\n"
                     "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=http://example.com/a?b=1&amp;c=2\" >"
                     "</BODY>\n</HTML>\n");
    EXPECT_TRUE(has(run("clerk", "JOB=JUMPLINK&URL=HTTPS://example.com/"),
                    "CONTENT=\"0;URL=HTTPS://example.com/\" >"));
    // Quotes cannot leave the attribute.
    const std::string quoted = run("clerk", "JOB=JUMPLINK&URL=https://x.example/%22%3E%3Cscript%3E'");
    EXPECT_TRUE(has(quoted, "URL=https://x.example/&quot;&gt;&lt;script&gt;&#39;\" >")) << quoted;
    EXPECT_FALSE(has(quoted, "<script>"));

    for (const char* refused :
         {"", "javascript:alert(1)", "JavaScript%3Aalert(1)", "data:text/html,%3Cb%3E", "example.com",
          "http:example.com", "http%3A%2F%2Fa.example%2F%0D%0ASet-Cookie:%20x=1", "http://a.example/%0Ab",
          "%20http://a.example/"}) {
        EXPECT_EQ(run("clerk", std::string("JOB=JUMPLINK&URL=") + refused), error_page()) << refused;
    }
}

TEST_F(MoveAndJumpTest, FormOffersOnlyBoardFoldersTheUserAdministers) {
    const std::string form = run("boss", "JOB=WRITE_MOVE&SEL_NO=3&BBS_G_NO=1");
    EXPECT_TRUE(has(form, "value==\"5\" ) {\nwindow.alert( \"Choose the folder\" );\n")) << form;
    EXPECT_TRUE(has(form, "Choose the folder<P>\n<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" "
                          "ACTION=\"wbbs.cgi\" METHOD=POST >\n"));
    EXPECT_TRUE(has(form, "name=\"JOB\" value=\"WRITE_MOVEWR\">\n<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" "
                          "value=\"5\">\n<INPUT TYPE=\"hidden\" name=\"SEL_NO\" value=\"3\">\n"
                          "<INPUT TYPE=\"hidden\" name=\"BBS_G_NO\" value=\"1\">\n"));
    // 5 is the source, 7 and with it 8 not administered, 10 no board.
    EXPECT_TRUE(has(form, "<SELECT NAME=\"ROOM_NO\">\n<OPTION VALUE=\"6\" >6:Target\n"
                          "<OPTION VALUE=\"9\" >9:Later &lt;b&gt;\n</SELECT>\n"
                          "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"Move\" onClick=\"return postcheck()\" > \n"
                          "</FORM>\n</BODY>\n</HTML>\n"))
        << form;

    // No message, no form; a writer or a shared account gets an empty page.
    EXPECT_FALSE(has(run("boss", "JOB=WRITE_MOVE&SEL_NO=0"), "<FORM"));
    const std::string empty = expected_page_head("<TITLE>Board</TITLE>", "board", kPlainBody) + "</BODY>\n</HTML>\n";
    EXPECT_EQ(run("clerk", "JOB=WRITE_MOVE&SEL_NO=3&BBS_G_NO=1"), empty);
    EXPECT_EQ(run("shared", "JOB=WRITE_MOVE&SEL_NO=3&BBS_G_NO=1"), empty);
}

// A thread of 25 (two batches) with a place holder, bodies, attachments,
// confirmations and one-line replies, between two other threads.
TEST_F(MoveAndJumpTest, ThreadMovesWholeWithItsStructureAndFiles) {
    post(6, "Already there");
    post(6, "Also there");
    const int before = post(5, "Before");
    std::map<int, int> parent_of;  // title number -> title number answered
    std::map<int, int> number;     // title number -> source number
    number[0] = post(5, "M0");
    for (int i = 1; i < 25; ++i) {
        parent_of[i] = i < 4 ? 0 : (i % 3 == 0 ? i - 1 : (i - 1) / 2);
        number[i] = post(5, "M" + std::to_string(i), number[parent_of[i]]);
        if (i == 10) post(5, "Between");  // another thread's message among the numbers
    }
    const int after = post(5, "After");
    for (const auto& [i, n] : number) {
        const std::string dir = "5/x" + std::to_string(n) + "/";
        // M4 is deleted below (its directory with it); M7's body is empty.
        if (i != 4 && i != 7) install.write_data_file(dir + "body.txt", "Body of M" + std::to_string(i));
    }
    install.write_data_file("5/x" + std::to_string(number[7]) + "/body.txt", "");
    install.write_data_file("5/x" + std::to_string(number[2]) + "/lineres.txt", "clerk,Clerk,Nice, really\n");
    install.write_data_file("5/x" + std::to_string(number[22]) + "/confirm.txt", "clerk,1,Clerk,\n");
    for (int i : {1, 23}) {
        const int n = number[i];
        sBBS_IDX = record(5, n);
        sBBS_IDX.ADD_FILE = 2;
        ASSERT_EQ(Fio_BBS_IDX(4), 0);
        for (int slot : {1, 3}) {
            sADD_FILE = ADD_FILE{n, slot, ""};
            const std::string name = "f" + std::to_string(i) + "_" + std::to_string(slot) + ".bin";
            copy_field(sADD_FILE.FILE_NAME, name.c_str());
            ASSERT_EQ(Fio_ADD_FILE_TXT(5, 2), 0);
            install.write_data_file("5/x" + std::to_string(n) + "/atfile0" + std::to_string(slot) + "/" + name,
                                    std::string("data\0") + name);
        }
    }
    // M4 (which has replies) deleted: it stays as a place holder.
    sBBS_IDX = record(5, number[4]);
    ASSERT_EQ(Fio_BBS_IDX(3), 0);
    install.write_data_file("user/clerk/r5.idx", std::string(4 * 40, '\0'));
    expect_consistent(5);

    const std::string page = move("boss", number[0], number[0], 6);
    EXPECT_TRUE(has(page, "Done")) << page;
    expect_consistent(5);
    expect_consistent(6);

    const auto source = threads(5);
    EXPECT_EQ(source.size(), 3u);
    for (const char* other : {"Before", "Between", "After"}) EXPECT_EQ(source.count(other), 1u) << other;
    EXPECT_EQ(source.at("Before").SEL_NO, before);
    EXPECT_EQ(source.at("After").SEL_NO, after);
    for (const auto& [i, n] : number) {
        EXPECT_FALSE(install.data_file_exists("5/x" + std::to_string(n))) << i;
    }
    // The marks follow the folder's numbers, all moved ones read.
    const std::string marks = install.read_data_file("user/clerk/r5.idx");
    EXPECT_EQ(marks.size(), 4u * after);

    const auto target = threads(6);
    ASSERT_EQ(target.size(), 27u);
    for (int i = 0; i < 25; ++i) {
        const BBS_IDX& moved = target.at("M" + std::to_string(i));
        const std::string dir = "6/x" + std::to_string(moved.SEL_NO) + "/";
        EXPECT_GT(moved.SEL_NO, 2) << i;
        EXPECT_EQ(moved.BBS_G_NO, target.at("M0").SEL_NO) << i;
        EXPECT_EQ(moved.DEL_FLG, i == 4 ? 1 : 0) << i;
        if (i == 0) {
            EXPECT_EQ(moved.UP_NO, 0);
        } else {
            EXPECT_EQ(moved.UP_NO, target.at("M" + std::to_string(parent_of[i])).SEL_NO) << i;
        }
        if (i == 7 || i == 4) {
            EXPECT_FALSE(install.data_file_exists(dir + "body.txt")) << i;
        } else {
            EXPECT_EQ(install.read_data_file(dir + "body.txt"), "Body of M" + std::to_string(i));
        }
    }
    const std::string m2 = "6/x" + std::to_string(target.at("M2").SEL_NO) + "/";
    EXPECT_EQ(install.read_data_file(m2 + "lineres.txt"), "clerk,Clerk,Nice, really\n");
    EXPECT_FALSE(install.data_file_exists(m2 + "confirm.txt"));
    EXPECT_EQ(install.read_data_file("6/x" + std::to_string(target.at("M22").SEL_NO) + "/confirm.txt"),
              "clerk,1,Clerk,\n");
    for (int i : {1, 23}) {
        const int n = target.at("M" + std::to_string(i)).SEL_NO;
        EXPECT_EQ(target.at("M" + std::to_string(i)).ADD_FILE, 2);
        for (int slot : {1, 3}) {
            const std::string name = "f" + std::to_string(i) + "_" + std::to_string(slot) + ".bin";
            sADD_FILE = ADD_FILE{n, slot, ""};
            ASSERT_EQ(Fio_ADD_FILE_TXT(6, 1), 0) << i << " " << slot;
            EXPECT_STREQ(sADD_FILE.FILE_NAME, name.c_str());
            EXPECT_EQ(install.read_data_file("6/x" + std::to_string(n) + "/atfile0" + std::to_string(slot) + "/" +
                                             name),
                      std::string("data\0") + name);
        }
    }
}

TEST_F(MoveAndJumpTest, MoveStartedFromAReplyTakesTheWholeThread) {
    const int root = post(5, "Root");
    const int reply = post(5, "Reply", root);
    post(5, "Deeper", reply);
    post(5, "Other");
    move("boss", reply, root, 9);
    expect_consistent(5);
    expect_consistent(9);
    const auto moved = threads(9);
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved.at("Root").SEL_NO, 1);
    EXPECT_EQ(moved.at("Reply").UP_NO, 1);
    EXPECT_EQ(moved.at("Deeper").UP_NO, moved.at("Reply").SEL_NO);
    EXPECT_EQ(moved.at("Deeper").CLASS, 2);
    const auto left = threads(5);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.count("Other"), 1u);
}

TEST_F(MoveAndJumpTest, RefusedMoveChangesNothing) {
    const int root = post(5, "Root");
    post(5, "Reply", root);
    install.write_data_file("5/x1/body.txt", "kept");
    // The messages of every folder: index files and message directories with
    // what they hold (reads may create empty settings files; those do not count).
    auto messages = [&] {
        std::string all;
        for (const std::string& path : install.all_paths()) {
            if (path.rfind(install.data_dir(), 0) != 0) continue;
            const std::string name = path.substr(install.data_dir().size() - 1);
            if (name.find("/bbs") == std::string::npos && name.find("/x") == std::string::npos) continue;
            all += name + "\n";
            if (name.find(".idx") != std::string::npos || name.find(".txt") != std::string::npos) {
                all += install.read_data_file(name.substr(1)) + "\n";
            }
        }
        return all;
    };
    const std::string stored = messages();
    ASSERT_TRUE(has(stored, "/5/bbs4.idx\n")) << stored;
    ASSERT_TRUE(has(stored, "/5/x1/body.txt\nkept\n")) << stored;
    // Not administered, no board, the source itself, no such folder; a writer
    // and a shared account; a thread that is not there.
    move("boss", root, root, 7);
    move("boss", root, root, 10);
    move("boss", root, root, 5);
    move("boss", root, root, 99);
    move("boss", root, root, -6);
    move("clerk", root, root, 6);
    move("shared", root, root, 6);
    move("boss", root, 55, 6);
    move("boss", root, 0, 6);
    EXPECT_EQ(messages(), stored);
    // While a writer holds the source's index the thread cannot be read whole.
    install.write_data_file("5/bbs.chk", "");
    move("boss", root, root, 6);
    std::filesystem::remove(install.data_dir() + "5/bbs.chk");
    EXPECT_EQ(messages(), stored);
}

// A copy that cannot be made whole (here: a file size limit, as a full disk)
// is taken out again, and the message stays in the source with its body.
TEST_F(MoveAndJumpTest, AMessageWhoseFilesCannotBeCopiedStaysWhereItIs) {
    const int root = post(5, "Root");
    const int reply = post(5, "Reply", root);
    const std::string body(60000, 'b');
    install.write_data_file("5/x1/body.txt", body);
    CgiRequest request;
    request.query = install.session("boss") + "&FOLDER_NO=5&JOB=WRITE_MOVEWR&SEL_NO=1&BBS_G_NO=1&ROOM_NO=6";
    request.file_size_limit = 30000;
    EXPECT_EQ(install.run(request).exit_status, 0);
    // Its reply stays with it: a thread is not split.
    EXPECT_EQ(record(5, root).DEL_FLG, 0);
    EXPECT_EQ(record(5, reply).DEL_FLG, 0);
    EXPECT_EQ(install.read_data_file("5/x1/body.txt"), body);
    EXPECT_TRUE(threads(6).empty());
    EXPECT_FALSE(install.data_file_exists("6/x1"));
    expect_consistent(5);
    expect_consistent(6);

    move("boss", root, root, 6);
    EXPECT_EQ(install.read_data_file("6/x1/body.txt"), body);
    EXPECT_EQ(threads(6).at("Reply").UP_NO, 1);
    EXPECT_TRUE(threads(5).empty());
}

// The renumbering grows as the thread needs: no part of it stays behind.
TEST_F(MoveAndJumpTest, ThreadOfMoreThanAThousandMovesWhole) {
    std::vector<int> number{post(5, "M0")};
    for (int i = 1; i <= 1000; ++i) number.push_back(post(5, "M" + std::to_string(i), number[(i - 1) / 2]));
    post(5, "Other");
    move("boss", number[0], number[0], 6);
    expect_consistent(5);
    expect_consistent(6);
    const auto target = threads(6);
    ASSERT_EQ(target.size(), 1001u);
    EXPECT_EQ(target.at("M1000").UP_NO, target.at("M499").SEL_NO);
    EXPECT_EQ(threads(5).size(), 1u);
}

}  // namespace
