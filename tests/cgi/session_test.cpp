// Who gets in: password logins, session keys, access levels and the login
// record, through the real program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "cgi/cgi_harness.h"
#include "store/session_keys.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "003 No user\n"
    "004 Please log in first.\n"
    "005 Login failed\n"
    "006 Wrong user or password.\n"
    "007 Identification error\n"
    "019 Busy, try again.\n";

const char* const kInstallation = R"(
folder 1 name="Notices" access=1 write=2
folder 2 name="Board room" access=50 write=50
folder 3 name="Staff only" access=90 write=90
user taro password=secret level=10 name="Taro Yamada"
user hanako password=pw2 level=10
user guest password=guest level=10 mode=2
user boss password=chief level=100
group 5 name=Sales
member hanako 5
grant 2 group 5 3
setting 3 SHARE_USER_PERMIT 1
grant 3 user guest 9
)";

struct Keys {
    std::string key1, key2;
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
    }

    CgiResult login(const std::string& uid, const std::string& password, int folder = 1) {
        return install.get("FOLDER_NO=" + std::to_string(folder) + "&uid=" + uid + "&upw=" + password);
    }
    // The pair stored for a user, as the next request would carry it.
    Keys stored_keys(const std::string& uid) {
        const std::string bytes = install.read_data_file("user/" + uid + "/skey.mst");
        if (bytes.size() < sizeof(MST_SKEY)) return {};
        MST_SKEY record;
        std::memcpy(&record, bytes.data(), sizeof record);
        return {std::to_string(record.SKEY1), std::to_string(record.SKEY2)};
    }
    CgiResult with_keys(const std::string& uid, const Keys& keys, int folder = 1) {
        return install.get("FOLDER_NO=" + std::to_string(folder) + "&uid=" + uid +
                           "&SKEY1=" + keys.key1 + "&SKEY2=" + keys.key2);
    }
    bool is_identification_error(const CgiResult& result) {
        return result.out.find("<B>Identification error</B>") != std::string::npos;
    }

    CgiInstallation install;
};

TEST_F(SessionTest, PasswordLoginCreatesTheKeyRecordAndItsKeysPass) {
    CgiResult result = login("taro", "secret");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "");  // no JOB: nothing to show, but no error either
    const Keys keys = stored_keys("taro");
    ASSERT_FALSE(keys.key1.empty());
    EXPECT_GT(std::stol(keys.key1), 0);
    EXPECT_GT(std::stol(keys.key2), 0);
    const std::string record = install.read_data_file("user/taro/skey.mst");
    ASSERT_EQ(record.size(), sizeof(MST_SKEY));
    EXPECT_STREQ(record.c_str() + 8, "TARO");  // stored ids are upper case
    EXPECT_STREQ(record.c_str() + 30, "192.0.2.10");

    EXPECT_EQ(with_keys("taro", keys).out, "");
    EXPECT_EQ(with_keys("taro", {"0" + keys.key1, "00" + keys.key2}).out, "");  // compared as numbers
}

TEST_F(SessionTest, AWrongKeyGivesTheIdentificationErrorPage) {
    login("taro", "secret");
    const Keys keys = stored_keys("taro");
    const CgiResult result =
        with_keys("taro", {keys.key1, std::to_string(std::stol(keys.key2) + 1)});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out,
              expected_page_head("<TITLE>Board</TITLE>", "board",
                                 "<BODY BACKGROUND=\"/orva/img/back.gif\" >") +
                  "<CENTER>\n<BR><FONT SIZE=\"5\"><B>Identification error</B></FONT>\n"
                  "<P><BR><HR><P><BR>\n</CENTER>\n</BODY>\n</HTML>\n");
}

TEST_F(SessionTest, ASecondLoginEndsTheFirstSession) {
    login("taro", "secret");
    const Keys first = stored_keys("taro");
    login("taro", "secret");
    const Keys second = stored_keys("taro");
    EXPECT_TRUE(is_identification_error(with_keys("taro", first)));
    EXPECT_EQ(with_keys("taro", second).out, "");
}

TEST_F(SessionTest, OneKeyAloneIsALoginAttempt) {
    login("taro", "secret");
    const Keys keys = stored_keys("taro");
    const CgiResult result = install.get("FOLDER_NO=1&uid=taro&SKEY1=" + keys.key1);
    EXPECT_NE(result.out.find("<B>Login failed</B>"), std::string::npos);
}

TEST_F(SessionTest, MissingUserIdAndWrongPasswordHaveTheirPages) {
    const CgiResult no_user = install.get("FOLDER_NO=1&JOB=ROOM");
    EXPECT_NE(no_user.out.find("<B>No user</B></FONT>"), std::string::npos);
    EXPECT_NE(no_user.out.find("<B>Please log in first.</B>"), std::string::npos);

    const CgiResult wrong = login("taro", "Secret");
    EXPECT_NE(wrong.out.find("<B>Login failed</B></FONT>"), std::string::npos);
    EXPECT_NE(wrong.out.find("<B>Wrong user or password.</B>"), std::string::npos);
    EXPECT_FALSE(install.data_file_exists("user/taro/skey.mst"));

    EXPECT_NE(login("nobody", "x").out.find("Login failed"), std::string::npos);
}

// Settings being rewritten past the reader's wait are no wrong password.
TEST_F(SessionTest, LoginWhileTheUsersSettingsStayLockedSaysBusy) {
    install.write_data_file("user/taro/personal.chk", "");
    const CgiResult busy = login("taro", "secret");
    EXPECT_NE(busy.out.find("<B>Login failed</B></FONT>"), std::string::npos);
    EXPECT_NE(busy.out.find("<B>Busy, try again.</B>"), std::string::npos);
    EXPECT_EQ(busy.out.find("Wrong user or password."), std::string::npos);
    EXPECT_FALSE(install.data_file_exists("user/taro/skey.mst"));
    // Once the settings are written, the same login goes in.
    ASSERT_EQ(std::remove((install.data_dir() + "user/taro/personal.chk").c_str()), 0);
    EXPECT_EQ(login("taro", "secret").out.find("Login failed"), std::string::npos);
    EXPECT_TRUE(install.data_file_exists("user/taro/skey.mst"));
}

TEST_F(SessionTest, LoginInOtherCaseYieldsKeysForTheStoredId) {
    install.write_config({{"LOG_DATE", "1"}});
    EXPECT_EQ(login("TARO", "secret").out, "");
    const Keys keys = stored_keys("taro");
    ASSERT_FALSE(keys.key1.empty());
    EXPECT_EQ(with_keys("taro", keys).out, "");
    EXPECT_NE(install.read_data_file("system.log").find(",taro,Taro Yamada,login,"), std::string::npos);
}

TEST_F(SessionTest, NoAccessAndMissingFolderGiveEmptyResponses) {
    install.write_config({{"LOG_DATE", "1"}});
    const CgiResult no_access = login("taro", "secret", 2);
    EXPECT_EQ(no_access.exit_status, 0);
    EXPECT_EQ(no_access.out, "");
    EXPECT_FALSE(install.data_file_exists("system.log"));  // ended before the login record

    EXPECT_EQ(login("taro", "secret", 99).out, "");
    EXPECT_EQ(install.get("uid=taro&upw=secret").out, "");  // folder 0 does not exist
    EXPECT_EQ(install.get("FOLDER_NO=abc&uid=taro&upw=secret").out, "");
    EXPECT_FALSE(install.data_file_exists("system.log"));
}

TEST_F(SessionTest, AccessComesFromGroupsLevelsAndAdministrators) {
    install.write_config({{"LOG_DATE", "1"}});
    login("hanako", "pw2", 2);  // member of group 5, which folder 2 grants 3
    login("boss", "chief", 3);  // level 100 enters everywhere
    login("guest", "guest", 3);  // shared accounts are banned from folder 3
    const std::string log = install.read_data_file("system.log");
    EXPECT_NE(log.find(",hanako,"), std::string::npos);
    EXPECT_NE(log.find(",boss,"), std::string::npos);
    EXPECT_EQ(log.find(",guest,"), std::string::npos);
}

TEST_F(SessionTest, LoginRecordAndCountersOnlyForPasswordLoginsWithLogging) {
    install.write_config({{"LOG_DATE", "1"}});
    CgiRequest request;
    request.query = "FOLDER_NO=1&uid=taro&upw=secret";
    request.user_agent = "Mozilla/5.0 (Windows NT 10.0; Win64, x64)\r\nX-Forged: 1";
    install.run(request);
    login("taro", "secret");
    const std::string log = install.read_data_file("system.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    // The browser text keeps its words, never the line's shape.
    EXPECT_NE(log.find(",login,192.0.2.10,Mozilla/5.0 (Windows NT 10.0; Win64  x64)  X-Forged: 1,\n"),
              std::string::npos);
    const std::string personal = install.read_data_file("user/taro/personal.mst");
    EXPECT_NE(personal.find("TOTAL_LOGIN_COUNT,2\n"), std::string::npos);
    EXPECT_NE(personal.find("LAST_LOGIN_DATE,"), std::string::npos);

    with_keys("taro", stored_keys("taro"));  // a key request is no login
    EXPECT_EQ(install.read_data_file("system.log"), log);
    EXPECT_NE(install.read_data_file("user/taro/personal.mst").find("TOTAL_LOGIN_COUNT,2\n"),
              std::string::npos);
}

TEST_F(SessionTest, ALoginCounterAtItsLimitStaysThere) {
    install.write_config({{"LOG_DATE", "1"}});
    install.build("personal taro TOTAL_LOGIN_COUNT 99999999999999999999\n");
    login("taro", "secret");
    EXPECT_NE(install.read_data_file("user/taro/personal.mst").find("TOTAL_LOGIN_COUNT,9223372036854775807\n"),
              std::string::npos);
}

TEST_F(SessionTest, NoLoginRecordWithoutLogging) {
    for (const char* off : {"0", ""}) {
        install.write_config({{"LOG_DATE", off}});
        login("taro", "secret");
        EXPECT_FALSE(install.data_file_exists("system.log"));
        EXPECT_EQ(install.read_data_file("user/taro/personal.mst").find("TOTAL_LOGIN_COUNT"),
                  std::string::npos);
    }
}

TEST_F(SessionTest, SharedAccountLoginsShareOnePair) {
    login("guest", "guest");
    const Keys first = stored_keys("guest");
    login("guest", "guest");
    const Keys second = stored_keys("guest");
    EXPECT_EQ(first.key1, second.key1);
    EXPECT_EQ(first.key2, second.key2);
    EXPECT_EQ(with_keys("guest", first).out, "");
}

TEST_F(SessionTest, AUserIdThatIsAPathTouchesNoFile) {
    login("taro", "secret");
    const std::vector<std::string> before = install.all_paths();
    for (const char* uid : {"..%2F..%2Ftmp%2Fx", "../../tmp/x", "..", "a%5Cb", "x%0Ay"}) {
        const CgiResult result = install.get(std::string("FOLDER_NO=1&uid=") + uid + "&SKEY1=1&SKEY2=2");
        EXPECT_TRUE(is_identification_error(result)) << uid;
        EXPECT_NE(login(uid, "x").out.find("Login failed"), std::string::npos) << uid;
    }
    EXPECT_EQ(install.all_paths(), before);
}

}  // namespace
