#include <gtest/gtest.h>

#include <string>

#include "config/sysinfo.h"
#include "request/request_state.h"
#include "request/session.h"
#include "store/installation_builder.h"
#include "store/users.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class AccessLevelTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        build(R"(
folder 1 access=5 write=20
folder 2 access=5 write=10
folder 3 access=50 write=90
folder 4 access=0 write=0
user plain password=pw level=10 group=7
user member password=pw level=1 group=7
user admin password=pw level=100
user shared password=pw level=10 mode=2
group 5 name=Five
group 6 name=Six
member member 6
grant 3 user plain 1
grant 3 group 7 5
grant 4 user shared 9
setting 4 SHARE_USER_PERMIT 1
grant 2 user member 3
grant 1 group 6 8
grant 1 group 7 2
)");
    }
    void build(const char* description) {
        std::string error;
        ASSERT_EQ(build_installation(description, &error), 0) << error;
    }
    long level(const char* user, long folder) {
        Fio_USER_MST(user, 1);
        G_USER_MST = sUSER_MST;
        return G_chk_ACL(folder);
    }
    TempDir dir;
};

TEST_F(AccessLevelTest, FolderThresholdsGiveReadThenWrite) {
    EXPECT_EQ(level("plain", 1), 2);  // group 7 grants 2 as primary group
    EXPECT_EQ(level("plain", 2), 2);  // level 10 reaches WRITE_LEVEL 10
    EXPECT_EQ(level("plain", 99), 0);  // no such folder, no entries
}

TEST_F(AccessLevelTest, EntriesRaiseButNeverLower) {
    EXPECT_EQ(level("plain", 3), 5);   // user entry 1, primary group 5: the higher wins
    EXPECT_EQ(level("member", 2), 3);  // entry 3 where the thresholds alone give nothing
    EXPECT_EQ(level("member", 1), 8);  // membership of group 6 grants 8 and ends the search
}

TEST_F(AccessLevelTest, AdministratorsAndSharedAccounts) {
    EXPECT_EQ(level("admin", 3), 9);
    EXPECT_EQ(level("admin", 99), 9);
    EXPECT_EQ(level("shared", 4), 0);  // banned although a user entry grants 9
    EXPECT_EQ(level("shared", 2), 2);
}

TEST_F(AccessLevelTest, AFolderRecordJustReadIsUsedAndLeftInPlace) {
    Fio_USER_MST("plain", 1);
    G_USER_MST = sUSER_MST;
    ASSERT_EQ(Fio_TREE_DATA(2, 1, 1), 0);
    TREE_DATA record = sTREE_DATA;
    record.WRITE_LEVEL = 50;  // as the request read it, not as the file now says
    ASSERT_EQ(Fio_TREE_DATA(3, 1, 1), 0);
    EXPECT_EQ(G_chk_ACL(2, &record), 1);
    EXPECT_EQ(sTREE_DATA.FOLDER_NO, 2);
    EXPECT_EQ(sTREE_DATA.WRITE_LEVEL, 50);
}

TEST_F(AccessLevelTest, BusyAccessListGrantsNothing) {
    write_file(dir.file("1/acl.chk"), "");
    FakeClock clock;
    EXPECT_EQ(level("plain", 1), 1);  // the group grant is not read: only the thresholds remain
}

TEST(SessionKeys, DrawnInTheirRange) {
    for (int i = 0; i < 1000; ++i) {
        const long key = draw_session_key();
        ASSERT_GE(key, 1);
        ASSERT_LE(key, 2147483647L);
    }
    EXPECT_NE(draw_session_key(), draw_session_key());
}

}  // namespace

namespace {

TEST_F(AccessLevelTest, ASharedAccountWhoseSettingsAreBusyIsNotLetIn) {
    write_file(dir.file("user/shared/personal.chk"), "");
    FakeClock clock;
    EXPECT_EQ(Fio_USER_MST("shared", 1), -9);
    G_USER_MST = sUSER_MST;
    EXPECT_EQ(G_chk_ACL(4), 0);
    EXPECT_EQ(G_chk_ACL(2), 0);
}

}  // namespace

#include "request/request_state.h"

namespace {

TEST_F(AccessLevelTest, ABusyPasswordFileIsNoEmptyPassword) {
    build("user locked password=secret\n");
    FakeClock clock;
    write_file(dir.file("user/locked/password.chk"), "");
    // Busy, not a wrong password, and nobody in meanwhile.
    EXPECT_EQ(G_LoginChk("locked", ""), -9);
    EXPECT_STREQ(cgi_SKEY1, "");
    EXPECT_EQ(G_LoginChk("locked", "secret"), -9);
    EXPECT_STREQ(cgi_SKEY1, "");
    clock.age(dir.file("user/locked/password.chk"), 61);  // the stale lock goes
    EXPECT_EQ(G_LoginChk("locked", "secret"), 0);
    EXPECT_STRNE(cgi_SKEY1, "");
}

}  // namespace
