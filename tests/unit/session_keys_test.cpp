#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/line_file_engine.h"
#include "store/session_keys.h"
#include "store/users.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class SessionKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        ASSERT_EQ(make_user_directory("alice"), STORE_OK);
    }
    std::string key_file() const { return dir.path() + "user/alice/skey.mst"; }

    static MST_SKEY record(const char* id, int32_t k1, int32_t k2) {
        MST_SKEY r;
        std::memset(&r, 0, sizeof r);
        r.SKEY1 = k1;
        r.SKEY2 = k2;
        copy_field(r.USER_ID, id);
        return r;
    }
    void put(const std::vector<MST_SKEY>& records) {
        write_file(key_file(), std::string(reinterpret_cast<const char*>(records.data()),
                                           records.size() * sizeof(MST_SKEY)));
    }
    std::vector<MST_SKEY> stored() const {
        const std::string bytes = read_file(key_file());
        std::vector<MST_SKEY> records(bytes.size() / sizeof(MST_SKEY));
        std::memcpy(records.data(), bytes.data(), records.size() * sizeof(MST_SKEY));
        return records;
    }

    TempDir dir;
    FakeClock clock;
};

TEST_F(SessionKeysTest, SelectWithoutAKeyFileCreatesItEmpty) {
    EXPECT_EQ(Fio_MST_SKEY("alice", 1), STORE_NOT_FOUND);
    EXPECT_TRUE(exists(key_file()));
    EXPECT_EQ(read_file(key_file()), "");
    write_file(dir.path() + "user/alice/skey.chk", "");
    EXPECT_EQ(Fio_MST_SKEY("alice", 1), STORE_LOCK_BUSY);
}

TEST_F(SessionKeysTest, InsertWritesOneZeroPaddedRecordInUpperCase) {
    // Left-overs of an earlier use of the module record never reach the file.
    std::memset(&sMST_SKEY, 'x', sizeof sMST_SKEY);
    sMST_SKEY.SKEY1 = 0x01020304;
    sMST_SKEY.SKEY2 = -2;
    copy_field(sMST_SKEY.USER_ID, "Alice");
    copy_field(sMST_SKEY.REMOTE_ADDR, "192.0.2.1");
    copy_field(sMST_SKEY.USER_AGENT, "Browser/1.0 (a, b)");
    ASSERT_EQ(Fio_MST_SKEY("alice", 2), STORE_OK);

    const std::string bytes = read_file(key_file());
    ASSERT_EQ(bytes.size(), 536u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(bytes.substr(4, 4), std::string("\xfe\xff\xff\xff", 4));
    EXPECT_EQ(bytes.substr(8, 22), std::string("ALICE") + std::string(17, '\0'));
    EXPECT_EQ(bytes.substr(30, 252), std::string("192.0.2.1") + std::string(243, '\0'));
    EXPECT_EQ(bytes.substr(282, 252), std::string("Browser/1.0 (a, b)") + std::string(234, '\0'));
    EXPECT_EQ(bytes.substr(534, 2), std::string(2, '\0'));

    sMST_SKEY = record("ALICE", 9, 9);
    EXPECT_EQ(Fio_MST_SKEY("alice", 2), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(read_file(key_file()), bytes);
}

TEST_F(SessionKeysTest, SelectFindsTheRecordWhateverTheCase) {
    put({record("bob", 1, 2), record("aLIce", 3, 4)});
    std::memset(&sMST_SKEY, 0, sizeof sMST_SKEY);
    ASSERT_EQ(Fio_MST_SKEY("alice", 1), STORE_OK);
    EXPECT_EQ(sMST_SKEY.SKEY1, 3);
    EXPECT_EQ(sMST_SKEY.SKEY2, 4);
    EXPECT_STREQ(sMST_SKEY.USER_ID, "ALICE");
    put({record("alicex", 1, 2), record("alic", 3, 4)});  // no prefix matches
    EXPECT_EQ(Fio_MST_SKEY("alice", 1), STORE_NOT_FOUND);
}

TEST_F(SessionKeysTest, UpdateReplacesEveryRecordOfTheIdAndLeavesAllIdsInUpperCase) {
    put({record("alice", 1, 2), record("bob", 5, 6), record("Alice", 7, 8)});
    sMST_SKEY = record("alice", 11, 12);
    ASSERT_EQ(Fio_MST_SKEY("alice", 4), STORE_OK);
    const auto records = stored();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_STREQ(records[0].USER_ID, "ALICE");
    EXPECT_EQ(records[0].SKEY1, 11);
    EXPECT_STREQ(records[1].USER_ID, "BOB");
    EXPECT_EQ(records[1].SKEY2, 6);
    EXPECT_EQ(records[2].SKEY2, 12);

    const std::string before = read_file(key_file());
    sMST_SKEY = record("carol", 1, 1);
    EXPECT_EQ(Fio_MST_SKEY("alice", 4), STORE_NOT_FOUND);
    EXPECT_EQ(read_file(key_file()), before);
    EXPECT_FALSE(exists(key_file() + ".tmp"));
}

TEST_F(SessionKeysTest, DeleteLeavesOutEveryRecordOfTheId) {
    put({record("Alice", 1, 2), record("bob", 5, 6), record("ALICE", 7, 8)});
    write_file(key_file(), read_file(key_file()) + "torn");
    ASSERT_EQ(Fio_MST_SKEY("alice", 3), STORE_OK);
    const auto records = stored();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(read_file(key_file()).size(), 536u);  // the torn tail went too
    EXPECT_STREQ(records[0].USER_ID, "BOB");
    EXPECT_EQ(Fio_MST_SKEY("alice", 3), STORE_NOT_FOUND);
}

TEST_F(SessionKeysTest, IdsThatCannotNameADirectoryTouchNoFile) {
    sMST_SKEY = record("x", 1, 1);
    for (const char* id : {"", ".", "..", "../alice", "alice/..", "a\\b", "a\rb",
                           "abcdefghijklmnopqrstuv"}) {
        SCOPED_TRACE(id);
        for (int mode = 1; mode <= 4; ++mode) EXPECT_EQ(Fio_MST_SKEY(id, mode), STORE_NOT_FOUND);
    }
    EXPECT_EQ(Fio_MST_SKEY("alice", 0), STORE_NOT_FOUND);
    EXPECT_FALSE(exists(dir.path() + "skey.mst"));
    EXPECT_FALSE(exists(dir.path() + "user/skey.mst"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() + "user/alice"));
}

}  // namespace
