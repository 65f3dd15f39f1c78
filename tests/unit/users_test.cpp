#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/line_file_engine.h"
#include "store/users.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class UsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        sUSER_MST = USER_MST{};
    }
    std::string user_file(const std::string& id, const std::string& name) const {
        return dir.path() + "user/" + id + "/" + name;
    }
    void add_user_dir(const char* id) { ASSERT_EQ(make_user_directory(id), STORE_OK); }
    std::string list() const { return read_file(dir.file("user.mst")); }

    TempDir dir;
    FakeClock clock;
};

TEST_F(UsersTest, SelectIgnoresCaseAndReturnsTheStoredSpellingWithSettings) {
    write_file(dir.file("user.mst"), "ali\nAlice\ncarol\r\n");
    add_user_dir("Alice");
    write_file(user_file("Alice", "personal.mst"), "USER_NAME,Alice Smith\nUSER_LEVEL,10\n");

    ASSERT_EQ(Fio_USER_MST("ALICE", 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_ID, "Alice");
    EXPECT_STREQ(sUSER_MST.USER_NAME, "Alice Smith");
    EXPECT_EQ(sUSER_MST.USER_LEVEL, 10);
    EXPECT_EQ(sUSER_MST.USER_DISP_DEF, 5);
    EXPECT_EQ(sUSER_MST.MODE, 1);

    ASSERT_EQ(Fio_USER_MST("Ali", 1), STORE_OK);  // a prefix of another id finds its own line
    EXPECT_STREQ(sUSER_MST.USER_ID, "ali");
    EXPECT_STREQ(sUSER_MST.USER_NAME, "");
    ASSERT_EQ(Fio_USER_MST("CAROL", 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_ID, "carol");

    EXPECT_EQ(Fio_USER_MST("alic", 1), STORE_NOT_FOUND);
    EXPECT_EQ(Fio_USER_MST("alicex", 1), STORE_NOT_FOUND);
    EXPECT_STREQ(sUSER_MST.USER_ID, "");
    EXPECT_EQ(sUSER_MST.USER_DISP_DEF, 0);
    EXPECT_EQ(Fio_USER_MST("alice", 0), STORE_NOT_FOUND);
}

TEST_F(UsersTest, SelectCreatesAMissingListAndRefusesWhileLocked) {
    EXPECT_EQ(Fio_USER_MST("alice", 1), STORE_NOT_FOUND);
    EXPECT_TRUE(exists(dir.file("user.mst")));
    write_file(dir.file("user.mst"), "alice\n");
    write_file(dir.file("user.chk"), "");
    EXPECT_EQ(Fio_USER_MST("alice", 1), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_USER_MST2(1, 1), STORE_LOCK_BUSY);
}

TEST_F(UsersTest, IdsThatCannotNameADirectoryAreRefusedWithoutTouchingAFile) {
    for (const char* id : {"", ".", "..", "../x", "a/b", "a\\b", "a\nb", "a\tb",
                           "abcdefghijklmnopqrstuv"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Fio_USER_MST(id, 1), STORE_NOT_FOUND);
        EXPECT_EQ(Fio_USER_MST(id, 3), STORE_NOT_FOUND);
        if (std::strlen(id) < sizeof sUSER_MST.USER_ID) {
            copy_field(sUSER_MST.USER_ID, id);
            EXPECT_EQ(Fio_USER_MST(nullptr, 2), STORE_NOT_FOUND);
            copy_field(sUSER_MST.USER_ID, id);
            EXPECT_EQ(Fio_USER_MST(nullptr, 4), STORE_NOT_FOUND);
        }
        EXPECT_EQ(Fio_MST_PASSWORD(id, 1), STORE_NOT_FOUND);
        EXPECT_EQ(Fio_MST_PASSWORD(id, 2), STORE_NOT_FOUND);
        EXPECT_EQ(make_user_directory(id), STORE_NOT_FOUND);
        EXPECT_EQ(remove_user_directory(id), STORE_NOT_FOUND);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(UsersTest, WalkByPositionReadsOneLineAfterAnother) {
    write_file(dir.file("user.mst"), "amy\nbob\ncy\n");
    write_file(dir.file("user3.mst"), "cy\n");
    add_user_dir("bob");
    write_file(user_file("bob", "personal.mst"), "USER_NAME,Bob\n");

    ASSERT_EQ(Fio_USER_MST2(1, 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_ID, "amy");
    ASSERT_EQ(Fio_USER_MST2(0, 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_ID, "amy");
    ASSERT_EQ(Fio_USER_MST2(2, 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_NAME, "Bob");
    ASSERT_EQ(Fio_USER_MST2(3, 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_ID, "cy");
    EXPECT_STREQ(sUSER_MST.USER_NAME, "");
    EXPECT_EQ(Fio_USER_MST2(4, 1), STORE_NOT_FOUND);
    EXPECT_STREQ(sUSER_MST.USER_ID, "");

    ASSERT_EQ(Fio_USER_MST2(1, 3), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_ID, "cy");
    EXPECT_EQ(Fio_USER_MST2(1, 5), STORE_NOT_FOUND);
}

TEST_F(UsersTest, IdWalkReadsTheListOnceUpToTheFirstEmptyLine) {
    write_file(dir.file("user.mst"), "Amy\r\nbob\nabcdefghijklmnopqrstuvwxyz\n\ncy\n");
    std::vector<std::string> ids;
    auto collect = [&](const char* id) { ids.emplace_back(id); };
    ASSERT_EQ(for_each_user_id(collect), STORE_OK);
    // Spelled as stored, cut to the width of an id, as the walk by position gives them.
    EXPECT_EQ(ids, (std::vector<std::string>{"Amy", "bob", "abcdefghijklmnopqrstu"}));

    ids.clear();
    write_file(dir.file("user.chk"), "");
    EXPECT_EQ(for_each_user_id(collect), STORE_LOCK_BUSY);
    EXPECT_TRUE(ids.empty());
}

TEST_F(UsersTest, InsertAppendsTheIdAndStoresTheSettings) {
    write_file(dir.file("user.mst"), "alice");  // a last line without its line feed
    add_user_dir("Dave");
    copy_field(sUSER_MST.USER_ID, "Dave");
    copy_field(sUSER_MST.USER_NAME, "Dave, Jr.");
    sUSER_MST.USER_LEVEL = 20;
    sUSER_MST.MODE = 2;
    copy_field(sUSER_MST.USER_PASS, "pw");
    ASSERT_EQ(Fio_USER_MST(nullptr, 2), STORE_OK);
    ASSERT_EQ(Fio_MST_PASSWORD("Dave", 2), STORE_OK);
    EXPECT_EQ(list(), "alice\nDave\n");
    EXPECT_FALSE(exists(dir.file("user.chk")));

    sUSER_MST = USER_MST{};
    ASSERT_EQ(Fio_USER_MST("DAVE", 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_NAME, "Dave, Jr.");
    EXPECT_EQ(sUSER_MST.USER_LEVEL, 20);
    EXPECT_EQ(sUSER_MST.MODE, 2);
    ASSERT_EQ(Fio_MST_PASSWORD(sUSER_MST.USER_ID, 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_PASS, "pw");

    copy_field(sUSER_MST.USER_ID, "dAVE");
    EXPECT_EQ(Fio_USER_MST(nullptr, 2), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(list(), "alice\nDave\n");
}

TEST_F(UsersTest, InsertThatCannotStoreTheSettingsLeavesTheListAsItWas) {
    write_file(dir.file("user.mst"), "alice\n");
    copy_field(sUSER_MST.USER_ID, "nodir");
    EXPECT_EQ(Fio_USER_MST(nullptr, 2), STORE_CANNOT_OPEN);
    EXPECT_EQ(list(), "alice\n");
    EXPECT_FALSE(exists(dir.file("user.mst.tmp")));
    EXPECT_FALSE(exists(dir.file("user.chk")));
}

TEST_F(UsersTest, UpdateKeepsTheLineAndStoresUnderTheStoredSpelling) {
    write_file(dir.file("user.mst"), "Erin\nfred\n");
    add_user_dir("Erin");
    copy_field(sUSER_MST.USER_ID, "ERIN");
    sUSER_MST.USER_LEVEL = 50;
    ASSERT_EQ(Fio_USER_MST(nullptr, 4), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_ID, "Erin");
    EXPECT_EQ(list(), "Erin\nfred\n");
    EXPECT_NE(read_file(user_file("Erin", "personal.mst")).find("USER_LEVEL,50\n"), std::string::npos);

    copy_field(sUSER_MST.USER_ID, "gina");
    EXPECT_EQ(Fio_USER_MST(nullptr, 4), STORE_NOT_FOUND);
    EXPECT_STREQ(sUSER_MST.USER_ID, "gina");
}

TEST_F(UsersTest, DeleteLeavesOutTheLineOfTheId) {
    write_file(dir.file("user.mst"), "amy\nBob\ncy\n");
    ASSERT_EQ(Fio_USER_MST("bob", 3), STORE_OK);
    EXPECT_EQ(list(), "amy\ncy\n");
    EXPECT_EQ(Fio_USER_MST("bob", 3), STORE_NOT_FOUND);
    EXPECT_EQ(list(), "amy\ncy\n");
}

// The settings lock is only ever looked at while user.chk is held: the two
// locks nest in this order only. (The stale-lock sweep asks the clock about
// every lock file it finds, which lets the test see when that happens.)
std::string g_user_lock;
std::string g_personal_lock;
int g_personal_looks = 0;
int g_personal_looks_under_user_lock = 0;
time_t watching_now() {
    if (exists(g_personal_lock)) {
        ++g_personal_looks;
        if (exists(g_user_lock)) ++g_personal_looks_under_user_lock;
    }
    return time(nullptr);
}
void no_sleep(unsigned) {}
long long g_waited_ms = 0;
long long waited_ms() { return g_waited_ms; }
void wait_ms(unsigned ms) { g_waited_ms += ms; }

TEST_F(UsersTest, WritingAUserHoldsTheListLockWhileLookingAtTheSettingsLock) {
    write_file(dir.file("user.mst"), "alice\n");
    add_user_dir("alice");
    g_user_lock = dir.file("user.chk");
    g_personal_lock = user_file("alice", "personal.chk");
    write_file(g_personal_lock, "");
    g_personal_looks = g_personal_looks_under_user_lock = 0;
    clock_replace({watching_now, no_sleep, nullptr, waited_ms, wait_ms});  // lock waits cost no time

    copy_field(sUSER_MST.USER_ID, "alice");
    EXPECT_EQ(Fio_USER_MST(nullptr, 4), STORE_LOCK_BUSY);
    EXPECT_GT(g_personal_looks, 0);
    EXPECT_EQ(g_personal_looks_under_user_lock, g_personal_looks);
    EXPECT_FALSE(exists(dir.file("user.chk")));
    EXPECT_EQ(list(), "alice\n");
}

TEST(PasswordScramble, KnownPairsAndTheKeyReadBackwards) {
    char text[F03_SCRAMBLED_SIZE] = "a";
    f03_encryption(text, 1, "b");  // ~0x61 ^ 0x62
    EXPECT_STREQ(text, "fc");
    f03_encryption(text, 2, "b");
    EXPECT_STREQ(text, "a");

    copy_field(text, "abc");
    f03_encryption(text, 1, "xy");  // keys 'y', 'x', then 'y' again
    EXPECT_STREQ(text, "e7e5e5");
    f03_encryption(text, 2, "xy");
    EXPECT_STREQ(text, "abc");
}

TEST(PasswordScramble, TwentyOneCharactersComeBackAsTheFirstTwenty) {
    char text[F03_SCRAMBLED_SIZE] = "abcdefghijklmnopqrstu";
    f03_encryption(text, 1, "Alice");
    EXPECT_EQ(std::strlen(text), 40u);
    f03_encryption(text, 2, "Alice");
    EXPECT_STREQ(text, "abcdefghijklmnopqrst");

    char small[5] = "abcd";  // only whole pairs that fit
    f03_encryption(small, 1, "k");
    EXPECT_EQ(std::strlen(small), 4u);
}

TEST(PasswordScramble, HexPairsReadCaseBlindAndOthersCountZero) {
    EXPECT_EQ(f03_atocx("ff"), 255);
    EXPECT_EQ(f03_atocx("A0"), 160);
    EXPECT_EQ(f03_atocx("9g"), 144);
    EXPECT_EQ(f03_atocx("zz"), 0);
    char odd[F03_SCRAMBLED_SIZE] = "fcf";  // the last digit pairs with the terminator
    f03_encryption(odd, 2, "b");
    EXPECT_EQ(std::strlen(odd), 2u);
}

TEST_F(UsersTest, PasswordFileHoldsTheScrambleWithoutALineBreak) {
    add_user_dir("Alice");
    copy_field(sUSER_MST.USER_PASS, "secret");
    ASSERT_EQ(Fio_MST_PASSWORD("Alice", 2), STORE_OK);
    char expected[F03_SCRAMBLED_SIZE] = "secret";
    f03_encryption(expected, 1, "Alice");
    EXPECT_EQ(read_file(user_file("Alice", "password.mst")), expected);

    sUSER_MST.USER_PASS[0] = '\0';
    ASSERT_EQ(Fio_MST_PASSWORD("Alice", 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_PASS, "secret");

    // Written by another tool with a line break: one extra byte comes back.
    write_file(user_file("Alice", "password.mst"), std::string(expected) + "\n");
    ASSERT_EQ(Fio_MST_PASSWORD("Alice", 1), STORE_OK);
    EXPECT_EQ(std::strlen(sUSER_MST.USER_PASS), 7u);
    EXPECT_EQ(std::string(sUSER_MST.USER_PASS, 6), "secret");

    write_file(user_file("Alice", "password.chk"), "");
    EXPECT_EQ(Fio_MST_PASSWORD("Alice", 1), STORE_LOCK_BUSY);
}

TEST_F(UsersTest, MissingPasswordFileReadsEmptyAndRemovalReportsItsResult) {
    add_user_dir("bob");
    copy_field(sUSER_MST.USER_PASS, "stale");
    ASSERT_EQ(Fio_MST_PASSWORD("bob", 1), STORE_OK);
    EXPECT_STREQ(sUSER_MST.USER_PASS, "");
    EXPECT_TRUE(exists(user_file("bob", "password.mst")));

    EXPECT_EQ(Fio_MST_PASSWORD("bob", 3), 0);
    EXPECT_FALSE(exists(user_file("bob", "password.mst")));
    EXPECT_EQ(Fio_MST_PASSWORD("bob", 3), -1);
    EXPECT_EQ(Fio_MST_PASSWORD("bob", 5), STORE_NOT_FOUND);
    EXPECT_FALSE(exists(user_file("bob", "password.mst")));
}

}  // namespace

TEST_F(UsersTest, RemovingAUserDirectoryTakesEverythingInItAndOnlyIt) {
    add_user_dir("amy");
    add_user_dir("amy2");
    write_file(user_file("amy", "personal.mst"), "USER_LEVEL,5\n");
    write_file(user_file("amy", "r3.idx"), std::string(8, '\1'));
    EXPECT_EQ(remove_user_directory("amy"), STORE_OK);
    EXPECT_FALSE(exists(dir.path() + "user/amy"));
    EXPECT_TRUE(exists(dir.path() + "user/amy2"));
    EXPECT_EQ(remove_user_directory("amy"), STORE_OK);  // nothing left to remove
}
