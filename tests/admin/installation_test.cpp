// init, config and apply through the real wbbs-admin, and the board serving
// what they wrote.
#include <gtest/gtest.h>

#include "admin/admin_harness.h"

namespace {

class AdminInstallationTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin_ok(install, {"init", install.data_dir(), "--site-id", "T5", "--cgi-url", "/orva.cgi", "--force"});
    }
    bool shows_folder(const std::string& uid, const std::string& password, const std::string& name,
                      int folder = 1) {
        const CgiResult page = install.get("FOLDER_NO=" + std::to_string(folder) + "&uid=" + uid + "&upw=" +
                                           password + "&JOB=FRM221");
        return page.exit_status == 0 && page.out.find("<B>" + name + "</B>") != std::string::npos;
    }
    CgiInstallation install;
};

TEST_F(AdminInstallationTest, InitAndApplyMakeAnInstallationTheBoardServes) {
    const std::string ini = install.read_data_file("../www/cgi-bin/bbs/orva.ini");
    EXPECT_NE(ini.find("\nSITE_ID,T5,\nCGI_FILE_NAME,/orva.cgi,\nLANGUAGE,English,\n"), std::string::npos);
    EXPECT_NE(ini.find("\nDATA_FILE_PATH," + install.data_dir() + ",\n"), std::string::npos);
    for (const char* file : {"tree.mst", "user.mst", "group.mst", "mimemap.txt", "user"}) {
        EXPECT_TRUE(install.data_file_exists(file)) << file;
    }
    EXPECT_NE(install.read_data_file("mimemap.txt").find("png,image/png,\n"), std::string::npos);

    admin_ok(install, {"apply", "-"},
             "folder 1 name=\"Notices\" access=1 write=2   # everybody reads\n"
             "user taro password=secret level=10 name=\"Taro Yamada\"\n");
    EXPECT_TRUE(shows_folder("taro", "secret", "Notices"));
    EXPECT_FALSE(shows_folder("taro", "wrong", "Notices"));
    EXPECT_EQ(admin_ok(install, {"config", "SITE_ID"}), "T5\n");
}

TEST_F(AdminInstallationTest, WrongArgumentsExitTwoAndChangeNothing) {
    const std::string before = snapshot(install);
    const std::vector<std::vector<std::string>> wrong = {
        {"init", install.data_dir()},  // orva.ini exists, no --force
        {"init", install.data_dir(), "--force", "--set", "NO_SUCH_KEY=1"},
        {"init", install.data_dir(), "--force", "--set", "ROWS=many"},
        {"init", install.data_dir(), "--force", "--set", "DATA_FILE_PATH=elsewhere"},
        {"init", install.data_dir(), "--force", "--site-id", "a,b"},
        {"init", install.data_dir() + "tree.mst", "--force"},  // not a directory
        {"init"},
        {"init", "a", "b"},
        {"init", install.data_dir(), "--colour", "red"},
        {"config", "ROWS", "x"},
        {"config", "NO_SUCH_KEY"},
        {"apply", install.root() + "/no-such-file"},
        {"no-such-command"},
        {},
    };
    for (const auto& args : wrong) {
        const AdminResult result = run_admin(install, args);
        std::string typed;
        for (const std::string& arg : args) typed += " " + arg;
        EXPECT_EQ(result.status, 2) << typed;
        EXPECT_FALSE(result.err.empty()) << typed;
    }
    // A mistake on the last line keeps the good lines before it from being written.
    const AdminResult bad = run_admin(install, {"apply", "-"},
                                      "folder 1 name=Notices\nuser taro password=x\ngrant 1 user taro high\n");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("line 3: 'high' is not a number"), std::string::npos) << bad.err;
    EXPECT_NE(run_admin(install, {"apply", "-"}, "user taro pasword=x\n").err.find("no attribute 'pasword'"),
              std::string::npos);
    EXPECT_NE(run_admin(install, {"apply", "-"}, "user ../x\n").err.find("cannot be a user id"), std::string::npos);
    EXPECT_EQ(snapshot(install), before);
}

TEST_F(AdminInstallationTest, ADescriptionThatClashesWithTheInstallationWritesNothing) {
    admin_ok(install, {"apply", "-"}, "user taro password=x\nfolder 1 name=One\n");
    const std::string before = snapshot(install);
    const std::vector<std::pair<std::string, std::string>> clashes = {
        {"group 5 name=Sales\nuser TARO password=y\n", "line 2: user TARO exists"},
        {"group 5 name=Sales\nfolder 1 name=Again\n", "line 2: folder 1 exists"},
        {"group 5 name=Sales\ngroup 5 name=Twice\n", "line 2: group 5 exists"},
        {"group 5 name=Sales\nmember jiro 5\n", "line 2: there is no user jiro"},
        {"member taro 5\n", "line 1: there is no group 5"},
        {"group 5 name=Sales\ngrant 2 group 5 3\n", "line 2: there is no folder 2"},
        {"grant 1 user taro 3\ngrant 1 user taro 5\n", "line 2: folder 1 has that grant already"},
        {"group 5 name=Sales\nsetting 2 ATTACH_MAX 1\n", "line 2: there is no folder 2"},
    };
    for (const auto& [description, reason] : clashes) {
        const AdminResult result = run_admin(install, {"apply", "-"}, description);
        EXPECT_EQ(result.status, 2) << description;
        EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    }
    EXPECT_EQ(snapshot(install), before);
    // Items may name what earlier items of the same description add.
    admin_ok(install, {"apply", "-"}, "group 5 name=Sales\nuser jiro password=pw group=5\nmember jiro 5\ngrant 1 group 5 3\n");
}

TEST_F(AdminInstallationTest, HelpNamesTheCommands) {
    const AdminResult help = run_admin(install, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  apply "), std::string::npos);
    const AdminResult init_help = run_admin(install, {"init", "--help"});
    EXPECT_EQ(init_help.status, 0);
    EXPECT_NE(init_help.out.find("--cgi-url URL"), std::string::npos);
}

}  // namespace
