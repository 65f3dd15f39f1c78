// Users, groups, folders, grants and the index commands of wbbs-admin, each
// judged by what the real wbbs.cgi then does or by the files left behind.
#include <gtest/gtest.h>

#include <cstring>

#include "admin/admin_harness.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace {

class AdminCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin_ok(install, {"init", install.data_dir(), "--force"});
        admin_ok(install, {"group", "add", "5", "Sales"});
        admin_ok(install, {"user", "add", "taro", "--password", "secret", "--name", "Taro Yamada", "--level", "10"});
        admin_ok(install, {"folder", "add", "1", "Notices", "--access", "1", "--write", "2", "--set", "ATTACH_MAX=2"});
    }
    // The header frame of the folder after a password login, or "" when refused.
    std::string header(const std::string& uid, const std::string& password, int folder) {
        return install.get("FOLDER_NO=" + std::to_string(folder) + "&uid=" + uid + "&upw=" + password + "&JOB=FRM221")
            .out;
    }
    bool enters(const std::string& uid, const std::string& password, int folder, const std::string& name) {
        return header(uid, password, folder).find("<B>" + name + "</B>") != std::string::npos;
    }
    // Three messages in folder 1 through the store itself.
    void post_three() {
        install.use_store();
        for (int answer : {0, 1, 0}) {
            std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
            sBBS_IDX.FOLDER_NO = 1;
            sBBS_IDX.SEL_NO = answer;
            copy_field(sBBS_IDX.WRITE_TITLE, "hello");
            ASSERT_EQ(Fio_BBS_IDX(2), 0);
        }
    }
    CgiInstallation install;
};

TEST_F(AdminCommandsTest, UsersFoldersAndGrantsDecideWhoEntersWhichFolder) {
    EXPECT_TRUE(enters("taro", "secret", 1, "Notices"));
    admin_ok(install, {"folder", "add", "2", "Staff", "--parent", "1", "--access", "50", "--write", "50",
                       "--info", "<B>staff</B>\nonly"});
    EXPECT_FALSE(enters("taro", "secret", 2, "Staff"));
    admin_ok(install, {"member", "add", "taro", "5"});
    admin_ok(install, {"grant", "2", "group", "5", "3"});
    EXPECT_TRUE(enters("taro", "secret", 2, "Staff"));
    admin_ok(install, {"revoke", "2", "group", "5"});
    EXPECT_FALSE(enters("taro", "secret", 2, "Staff"));
    admin_ok(install, {"grant", "2", "user", "TARO", "8"});  // stored as the user list spells it
    EXPECT_NE(header("taro", "secret", 2).find("FOLDER_ACCESS"), std::string::npos);  // administers it now
    EXPECT_EQ(install.read_data_file("2/acl.mst"), "U,taro,8,\n");
    EXPECT_EQ(install.read_data_file("2/info.txt"), "<B>staff</B>\nonly");
    EXPECT_EQ(install.read_data_file("tree.mst").substr(0, 2), "1,");
    EXPECT_NE(install.read_data_file("tree.mst").find("\n 2,Staff,3,wbbs.cgi,50,50,"), std::string::npos);

    admin_ok(install, {"user", "set", "taro", "--password", "new", "--frames", "2", "--kind", "shared"});
    EXPECT_FALSE(enters("taro", "secret", 1, "Notices"));
    EXPECT_TRUE(enters("taro", "new", 1, "Notices"));
    const std::string personal = install.read_data_file("user/taro/personal.mst");
    EXPECT_NE(personal.find("BBS_FRAME_MODE,1\n"), std::string::npos);
    EXPECT_NE(personal.find("MODE,2\n"), std::string::npos);
    EXPECT_NE(personal.find("USER_NAME,Taro Yamada\n"), std::string::npos);  // untouched settings stay
    admin_ok(install, {"setting", "1", "SHARE_USER_PERMIT", "1"});
    EXPECT_FALSE(enters("taro", "new", 1, "Notices"));  // shared accounts are kept out now
}

TEST_F(AdminCommandsTest, SubFoldersFollowTheirParentsSubtreeAndSettingsChangeInPlace) {
    admin_ok(install, {"folder", "add", "2", "Sub", "--parent", "1"});
    admin_ok(install, {"folder", "add", "5", "Top"});
    admin_ok(install, {"folder", "add", "3", "Deep", "--parent", "2"});
    admin_ok(install, {"folder", "add", "4", "Second", "--parent", "1", "--mode", "1"});
    EXPECT_EQ(admin_ok(install, {"folder", "list"}),
              "1\tNotices\tmode 3\taccess 1\twrite 2\n"
              "  2\tSub\tmode 3\taccess 0\twrite 0\n"
              "    3\tDeep\tmode 3\taccess 0\twrite 0\n"
              "  4\tSecond\tmode 1\taccess 0\twrite 0\n"
              "5\tTop\tmode 3\taccess 0\twrite 0\n");

    admin_ok(install, {"folder", "set", "1", "--name", "News", "--unset", "ATTACH_MAX", "--set", "CONFIRM=2",
                       "--set", "RES_HEADER=Re", "--default-text", "Hello,\n"});
    admin_ok(install, {"setting", "1", "LINE_RES", "1"});
    admin_ok(install, {"grant", "1", "user", "taro", "8"});
    EXPECT_EQ(admin_ok(install, {"folder", "show", "1"}),
              "folder 1\nname News\nmode 3\naccess 1\nwrite 2\ncgi wbbs.cgi\nicon \n"
              "setting CONFIRM 2\nsetting RES_HEADER Re\nsetting LINE_RES 1\ngrant user taro 8\n");
    EXPECT_EQ(install.read_data_file("1/defo.txt"), "Hello,\n");
    EXPECT_TRUE(enters("taro", "secret", 1, "News"));
}

TEST_F(AdminCommandsTest, PersonalSettingsLanguageAndConfiguration) {
    admin_ok(install, {"personal", "taro", "UNREAD_LISTMODE", "1"});
    admin_ok(install, {"personal", "taro", "NOTE", "a, b"});
    EXPECT_NE(install.read_data_file("user/taro/personal.mst").find("UNREAD_LISTMODE,1\nNOTE,a, b\n"),
              std::string::npos);
    admin_ok(install, {"personal", "taro", "NOTE", "--remove"});
    EXPECT_EQ(install.read_data_file("user/taro/personal.mst").find("NOTE"), std::string::npos);

    EXPECT_NE(header("taro", "secret", 1).find("VALUE=\"Reload\""), std::string::npos);
    admin_ok(install, {"user", "set", "taro", "--language", "Japanese"});
    EXPECT_EQ(header("taro", "secret", 1).find("VALUE=\"Reload\""), std::string::npos);
    EXPECT_TRUE(enters("taro", "secret", 1, "Notices"));
    EXPECT_EQ(admin_ok(install, {"user", "list"}), "taro\tlevel 10\tpersonal\tgroup 0\tTaro Yamada\n");

    // The data directory is kept absolute and ending with a separator.
    install.write_data_file("moved/keep", "");
    const std::string moved = install.data_dir() + "moved";
    admin_ok(install, {"config", "DATA_FILE_PATH", moved});
    EXPECT_EQ(admin_ok(install, {"config", "DATA_FILE_PATH"}), moved + "/\n");
    EXPECT_NE(admin_ok(install, {"config"}).find("\nROWS=8\n"), std::string::npos);
}

TEST_F(AdminCommandsTest, RemovedUsersAndFoldersLeaveNothingBehind) {
    admin_ok(install, {"folder", "add", "2", "Sub", "--parent", "1"});
    admin_ok(install, {"folder", "add", "3", "Other"});
    admin_ok(install, {"grant", "1", "user", "taro", "3"});
    admin_ok(install, {"grant", "3", "user", "taro", "3"});
    install.write_data_file("user/taro/r2.idx", std::string(4, '\1'));

    const AdminResult refused = run_admin(install, {"folder", "remove", "1"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("has 1 sub-folders (--recursive"), std::string::npos) << refused.err;
    admin_ok(install, {"folder", "remove", "1", "--recursive"});
    EXPECT_EQ(install.read_data_file("tree.mst"), "3,Other,3,wbbs.cgi,0,0,,0,0,0,0,\n");
    EXPECT_FALSE(install.data_file_exists("1"));
    EXPECT_FALSE(install.data_file_exists("2"));
    EXPECT_FALSE(install.data_file_exists("user/taro/r2.idx"));

    admin_ok(install, {"user", "remove", "taro"});
    EXPECT_EQ(install.read_data_file("user.mst"), "");
    EXPECT_FALSE(install.data_file_exists("user/taro"));
    EXPECT_EQ(install.read_data_file("3/acl.mst"), "");
    EXPECT_EQ(header("taro", "secret", 3).find("<B>Other</B>"), std::string::npos);

    admin_ok(install, {"user", "add", "hana", "--password", "pw"});
    admin_ok(install, {"user", "add", "ken", "--password", "pw", "--group", "5"});
    admin_ok(install, {"member", "add", "hana", "5"});
    admin_ok(install, {"grant", "3", "group", "5", "2"});
    admin_ok(install, {"group", "remove", "5"});
    EXPECT_EQ(install.read_data_file("group.mst"), "");
    EXPECT_EQ(install.read_data_file("user/hana/user_g.mst"), "");
    EXPECT_EQ(install.read_data_file("3/acl.mst"), "");
    // A new group of the same number does not take in the old group's users.
    admin_ok(install, {"group", "add", "5", "Other"});
    admin_ok(install, {"grant", "3", "group", "5", "2"});
    admin_ok(install, {"folder", "set", "3", "--access", "50", "--write", "50"});
    EXPECT_FALSE(enters("ken", "pw", 3, "Other"));
}

TEST_F(AdminCommandsTest, WrongArgumentsExitTwoAndChangeNothing) {
    install.write_data_file("user/left/password.mst", "00");
    const std::string before = snapshot(install);
    const std::vector<std::vector<std::string>> wrong = {
        {"user", "add", "taro"},                       // exists
        {"user", "add", "TARO"},                       // exists, in another case
        {"user", "add", "../x", "--password", "p"},
        {"user", "add", "a,b", "--password", "p"},
        {"user", "add", "jiro", "--password", std::string(21, 'p')},
        {"user", "add", "jiro", "--level", "ten"},
        {"user", "add", "jiro", "--kind", "team"},
        {"user", "add", "jiro", "--group", "6"},       // no such group
        {"user", "add", "jiro", "--display", "6"},
        {"user", "add", "jiro", "--name", "a\nb"},
        {"user", "add", "jiro", "--password"},
        {"user", "add", "left"},  // a directory with a password file
        {"user", "set", "nobody", "--level", "3"},
        {"user", "set", "taro", "--level", "3", "--frames", "4"},  // one bad option: the good one waits too
        {"user", "remove", "nobody"},
        {"member", "add", "taro", "6"},
        {"member", "remove", "taro", "5"},             // not a member
        {"group", "add", "5", "Again"},
        {"group", "rename", "6", "None"},
        {"folder", "add", "1", "Again"},
        {"folder", "add", "2", "Sub", "--parent", "9"},
        {"folder", "add", "2", "Bad,name"},
        {"folder", "add", "2", "Sub", "--set", "ATTACH_MAX=many"},
        {"folder", "add", "0", "Zero"},
        {"folder", "set", "1", "--set", "NO_SUCH=1"},
        {"folder", "set", "9", "--name", "x"},
        {"folder", "remove", "9"},
        {"grant", "1", "user", "nobody", "3"},
        {"grant", "1", "group", "6", "3"},
        {"grant", "1", "user", "taro", "10"},
        {"grant", "1", "users", "taro", "3"},
        {"grant", "9", "user", "taro", "3"},
        {"revoke", "1", "user", "taro"},
        {"setting", "1", "FONTCOLOR1", "#1F4E79FF"},
        {"setting", "9", "ATTACH_MAX", "1"},
        {"personal", "nobody", "KEY", "v"},
        {"personal", "taro", "A,B", "v"},
        {"check", "9"},
        {"rebuild"},
        {"sweep", "x"},
        {"user", "frobnicate"},
    };
    for (const auto& args : wrong) {
        const AdminResult result = run_admin(install, args);
        std::string typed;
        for (const std::string& arg : args) typed += " " + arg;
        EXPECT_EQ(result.status, 2) << typed << "\n" << result.err;
        EXPECT_FALSE(result.err.empty()) << typed;
    }
    EXPECT_EQ(snapshot(install), before);
}

TEST_F(AdminCommandsTest, NoUserIsAddedThatAnEmptyPasswordLetsIn) {
    const std::string before = snapshot(install);
    EXPECT_EQ(run_admin(install, {"user", "add", "jiro"}).status, 2);
    // No password, an empty one, or one longer than the 20 bytes the password
    // file keeps (stored cut, it would never match).
    for (const char* description :
         {"user jiro\n", "user jiro password=\"\"\n", "user jiro password=abcdefghijklmnopqrstu\n"}) {
        EXPECT_EQ(run_admin(install, {"apply", "-"}, description).status, 2) << description;
    }
    EXPECT_EQ(snapshot(install), before);
    EXPECT_FALSE(enters("jiro", "", 1, "Notices"));

    admin_ok(install, {"apply", "-"}, "user jiro password=abcdefghijklmnopqrst\n");
    EXPECT_TRUE(enters("jiro", "abcdefghijklmnopqrst", 1, "Notices"));
    EXPECT_FALSE(enters("jiro", "", 1, "Notices"));
}

TEST_F(AdminCommandsTest, CheckReportsADamagedIndexAndRebuildMakesItClean) {
    post_three();
    EXPECT_EQ(admin_ok(install, {"check"}), "1 folder checked, 0 with problems\n");

    // The reply's record in bbs4.idx claims to answer message 3.
    std::string list = install.read_data_file("1/bbs4.idx");
    BBS_IDX record;
    std::memcpy(&record, list.data() + sizeof record, sizeof record);
    ASSERT_EQ(record.SEL_NO, 2);
    record.UP_NO = 3;
    std::memcpy(list.data() + sizeof record, &record, sizeof record);
    install.write_data_file("1/bbs4.idx", list);

    for (const std::vector<std::string>& args : {std::vector<std::string>{"check"}, {"check", "1"}}) {
        const AdminResult damaged = run_admin(install, args);
        EXPECT_EQ(damaged.status, 1);
        EXPECT_NE(damaged.out.find("folder 1: bbs4.idx: message 2 differs from its record in bbs1.idx\n"),
                  std::string::npos)
            << damaged.out;
        EXPECT_NE(damaged.out.find("1 folder checked, 1 with problems\n"), std::string::npos);
    }
    const std::string rebuilt = admin_ok(install, {"rebuild", "1"});
    EXPECT_NE(rebuilt.find("folder 1: 3 messages, 3 listed in 2 threads"), std::string::npos) << rebuilt;
    EXPECT_EQ(admin_ok(install, {"check", "1"}), "1 folder checked, 0 with problems\n");
    std::memcpy(&record, install.read_data_file("1/bbs4.idx").data() + sizeof record, sizeof record);
    EXPECT_EQ(record.UP_NO, 1);
}

TEST_F(AdminCommandsTest, RebuildKeepsMessagesPastACutMasterFile) {
    post_three();
    const std::string master = install.read_data_file("1/bbs1.idx");
    install.write_data_file("1/bbs1.idx", master.substr(0, 2 * sizeof(BBS_IDX)));
    EXPECT_EQ(run_admin(install, {"check", "1"}).status, 1);
    const std::string rebuilt = admin_ok(install, {"rebuild", "1"});
    EXPECT_NE(rebuilt.find("folder 1: 3 messages, 3 listed in 2 threads"), std::string::npos) << rebuilt;
    EXPECT_TRUE(install.read_data_file("1/bbs1.idx") == master);
}

TEST_F(AdminCommandsTest, SweepDeletesExpiredMessagesAtOnce) {
    post_three();
    install.use_store();
    sBBS_IDX.FOLDER_NO = 1;
    sBBS_IDX.SEL_NO = 3;
    ASSERT_EQ(Fio_BBS_IDX(1), 0);
    copy_field(sBBS_IDX.TIME_LIMIT_DATE, "2001/01/01");
    ASSERT_EQ(Fio_BBS_IDX(4), 0);
    admin_ok(install, {"sweep", "1"});
    EXPECT_EQ(install.read_data_file("1/bbs1.idx").size(), 2 * sizeof(BBS_IDX));
    EXPECT_TRUE(install.data_file_exists("1/chkdate.txt"));
}

}  // namespace
