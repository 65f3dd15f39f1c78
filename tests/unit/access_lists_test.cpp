#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/access_lists.h"
#include "store/line_file_engine.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class AccessListsTest : public ::testing::Test {
protected:
    AccessListsTest() {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        mkdir(dir.file("4").c_str(), 0700);
        mkdir(dir.file("5").c_str(), 0700);
        mkdir(dir.file("user").c_str(), 0700);
        mkdir(dir.file("user/taro").c_str(), 0700);
    }

    // The access check's calls: a fresh record for the folder before each.
    static void for_folder(long folder) {
        sACL_MST = ACL_MST{};
        sACL_MST.FOLDER_NO = static_cast<int32_t>(folder);
    }
    static int select_user_entry(long folder, const char* user) {
        for_folder(folder);
        copy_field(sACL_MST.U_OR_G, "U");
        copy_field(sACL_MST.USER_ID, user);
        return Fio_ACL_MST(0, 1, 1);
    }
    static int is_member(const char* user, long group) {
        sUSER_GROUP_MST = USER_GROUP_MST{};
        copy_field(sUSER_GROUP_MST.USER_ID, user);
        sUSER_GROUP_MST.GROUP_ID = static_cast<int32_t>(group);
        return Fio_USER_GROUP_MST(group, 1, 1);
    }
    static int write_group_of(const char* user, int mode, int search, long where, long group) {
        sUSER_GROUP_MST = USER_GROUP_MST{};
        copy_field(sUSER_GROUP_MST.USER_ID, user);
        sUSER_GROUP_MST.GROUP_ID = static_cast<int32_t>(group);
        return Fio_USER_GROUP_MST(where, mode, search);
    }

    std::vector<std::string> all_files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
            names.push_back(entry.path().string());
        }
        return names;
    }

    TempDir dir;
    FakeClock clock;
    std::string acl = dir.file("4/acl.mst");
    std::string user_groups = dir.file("user/taro/user_g.mst");
};

TEST_F(AccessListsTest, UserEntryIsFoundByKindAndExactId) {
    write_file(acl, "G,7,5,\nU,taro,3,\nU,TARO,6,\nU,short,\nU,hanako,8,\n");
    ASSERT_EQ(select_user_entry(4, "taro"), STORE_OK);
    EXPECT_EQ(sACL_MST.PERMIT, 3);
    ASSERT_EQ(select_user_entry(4, "hanako"), STORE_OK);
    EXPECT_EQ(sACL_MST.PERMIT, 8);
    EXPECT_EQ(select_user_entry(4, "short"), STORE_NOT_FOUND);  // a line of two commas is no entry
    EXPECT_EQ(select_user_entry(4, "jiro"), STORE_NOT_FOUND);
    EXPECT_EQ(sACL_MST.PERMIT, 0);
    EXPECT_EQ(select_user_entry(4, "7"), STORE_NOT_FOUND);  // a group number is no user id

    for_folder(4);
    copy_field(sACL_MST.U_OR_G, "G");
    sACL_MST.GROUP_ID = 7;
    ASSERT_EQ(Fio_ACL_MST(0, 1, 1), STORE_OK);
    EXPECT_EQ(sACL_MST.PERMIT, 5);
}

TEST_F(AccessListsTest, WalkingByPositionYieldsEachEntryWithOnlyItsKindsId) {
    write_file(acl, "G,5,4,\nbroken\nU,taro,2,\n");
    for_folder(4);
    ASSERT_EQ(Fio_ACL_MST(1, 1, 2), STORE_OK);
    EXPECT_STREQ(sACL_MST.U_OR_G, "G");
    EXPECT_EQ(sACL_MST.GROUP_ID, 5);
    EXPECT_STREQ(sACL_MST.USER_ID, "");
    EXPECT_EQ(sACL_MST.PERMIT, 4);
    EXPECT_EQ(sACL_MST.FOLDER_NO, 4);

    for_folder(4);
    ASSERT_EQ(Fio_ACL_MST(2, 1, 2), STORE_OK);
    EXPECT_STREQ(sACL_MST.U_OR_G, "U");
    EXPECT_STREQ(sACL_MST.USER_ID, "taro");
    EXPECT_EQ(sACL_MST.GROUP_ID, 0);
    EXPECT_EQ(sACL_MST.PERMIT, 2);

    for_folder(4);
    EXPECT_EQ(Fio_ACL_MST(3, 1, 2), STORE_NOT_FOUND);
}

// The access check's one read must find what its two selects found.
TEST_F(AccessListsTest, OneReadForTheAccessCheckMatchesTheSelects) {
    write_file(acl, "G,7,5,\nU,TARO,6,\nbroken\nU,taro,3,\nU,taro,8,\nG,9,2,\nU,hanako,8,\n");
    FolderAccessEntries entries;
    ASSERT_EQ(Fio_ACL_MST_access(4, "taro", entries), STORE_OK);
    ASSERT_EQ(select_user_entry(4, "taro"), STORE_OK);
    EXPECT_TRUE(entries.user_found);
    EXPECT_EQ(entries.user_permit, sACL_MST.PERMIT);
    ASSERT_EQ(entries.groups.size(), 2u);
    EXPECT_EQ(entries.groups[0].group_id, 7);
    EXPECT_EQ(entries.groups[0].permit, 5);
    EXPECT_EQ(entries.groups[1].group_id, 9);
    EXPECT_EQ(entries.groups[1].permit, 2);

    ASSERT_EQ(Fio_ACL_MST_access(4, "jiro", entries), STORE_OK);
    EXPECT_FALSE(entries.user_found);
    EXPECT_EQ(entries.groups.size(), 2u);

    write_file(dir.file("4/acl.chk"), "");
    clock.age(dir.file("4/acl.chk"), 30);
    EXPECT_EQ(Fio_ACL_MST_access(4, "taro", entries), STORE_LOCK_BUSY);
    EXPECT_FALSE(entries.user_found);
    EXPECT_TRUE(entries.groups.empty());
}

TEST_F(AccessListsTest, AMissingListIsCreatedEmptyAndALockedOneIsNotRead) {
    EXPECT_EQ(select_user_entry(4, "taro"), STORE_NOT_FOUND);
    EXPECT_TRUE(exists(acl));
    for_folder(4);
    EXPECT_EQ(Fio_ACL_MST(1, 1, 2), STORE_NOT_FOUND);

    write_file(acl, "U,taro,3,\n");
    write_file(dir.file("4/acl.chk"), "");
    clock.age(dir.file("4/acl.chk"), 30);
    EXPECT_EQ(select_user_entry(4, "taro"), STORE_LOCK_BUSY);
    EXPECT_EQ(sACL_MST.PERMIT, 0);
    clock.age(dir.file("4/acl.chk"), 61);  // a crashed writer's lock is swept
    EXPECT_EQ(select_user_entry(4, "taro"), STORE_OK);
}

TEST_F(AccessListsTest, EntriesAreWrittenInTheirKindsFormat) {
    write_file(acl, "U,taro,3,\nU,bad\n");
    for_folder(4);
    copy_field(sACL_MST.U_OR_G, "G");
    sACL_MST.GROUP_ID = 12;
    sACL_MST.PERMIT = 8;
    ASSERT_EQ(Fio_ACL_MST(0, 2, 1), STORE_OK);
    EXPECT_EQ(Fio_ACL_MST(0, 2, 1), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(read_file(acl), "U,taro,3,\nG,12,8,\n");

    ASSERT_EQ(select_user_entry(4, "taro"), STORE_OK);
    sACL_MST.PERMIT = 1;
    ASSERT_EQ(Fio_ACL_MST(0, 4, 1), STORE_OK);
    for_folder(4);
    copy_field(sACL_MST.U_OR_G, "U");
    copy_field(sACL_MST.USER_ID, "a,b");
    sACL_MST.PERMIT = 2;
    ASSERT_EQ(Fio_ACL_MST(0, 2, 1), STORE_OK);
    EXPECT_EQ(read_file(acl), "U,taro,1,\nG,12,8,\nU,a b,2,\n");
    EXPECT_EQ(Fio_ACL_MST(0, 2, 1), STORE_NOTHING_TO_CHANGE);  // the same entry as written

    ASSERT_EQ(Fio_ACL_MST(0, 3, 1), STORE_OK);
    EXPECT_EQ(Fio_ACL_MST(0, 3, 1), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(Fio_ACL_MST(0, 4, 1), STORE_NOTHING_TO_CHANGE);
    copy_field(sACL_MST.U_OR_G, "X");
    EXPECT_EQ(Fio_ACL_MST(0, 2, 1), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(read_file(acl), "U,taro,1,\nG,12,8,\n");
}

TEST_F(AccessListsTest, MembershipReliesOnAscendingOrder) {
    write_file(user_groups, "3,\n7,\n12,\n");
    EXPECT_EQ(is_member("taro", 7), STORE_OK);
    EXPECT_EQ(sUSER_GROUP_MST.GROUP_ID, 7);
    EXPECT_EQ(is_member("taro", 5), STORE_NOT_FOUND);
    EXPECT_EQ(is_member("taro", 20), STORE_NOT_FOUND);
    EXPECT_EQ(is_member("taro", 12), STORE_OK);

    sUSER_GROUP_MST = USER_GROUP_MST{};
    copy_field(sUSER_GROUP_MST.USER_ID, "taro");
    ASSERT_EQ(Fio_USER_GROUP_MST(3, 1, 2), STORE_OK);
    EXPECT_EQ(sUSER_GROUP_MST.GROUP_ID, 12);
    EXPECT_EQ(Fio_USER_GROUP_MST(4, 1, 2), STORE_NOT_FOUND);

    write_file(user_groups, "12,\n3,\n");  // out of order: 3 lies behind a larger number
    EXPECT_EQ(is_member("taro", 3), STORE_NOT_FOUND);
}

TEST_F(AccessListsTest, GroupListWritesKeepTheOrder) {
    EXPECT_EQ(is_member("taro", 1), STORE_NOT_FOUND);  // created empty
    EXPECT_TRUE(exists(user_groups));
    ASSERT_EQ(write_group_of("taro", 2, 1, 0, 7), STORE_OK);
    ASSERT_EQ(write_group_of("taro", 2, 1, 0, 3), STORE_OK);
    ASSERT_EQ(write_group_of("taro", 2, 1, 0, 12), STORE_OK);
    EXPECT_EQ(write_group_of("taro", 2, 1, 0, 7), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(read_file(user_groups), "3,\n7,\n12,\n");
    ASSERT_EQ(write_group_of("taro", 2, 2, 2, 5), STORE_OK);
    EXPECT_EQ(read_file(user_groups), "3,\n5,\n7,\n12,\n");
    ASSERT_EQ(write_group_of("taro", 4, 1, 12, 14), STORE_OK);
    ASSERT_EQ(write_group_of("taro", 3, 2, 1, 0), STORE_OK);
    EXPECT_EQ(read_file(user_groups), "5,\n7,\n14,\n");
    EXPECT_EQ(write_group_of("taro", 3, 1, 99, 0), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(read_file(user_groups), "5,\n7,\n14,\n");
}

TEST_F(AccessListsTest, UnsafeUserIdsTouchNoFile) {
    const std::vector<std::string> before = all_files();
    for (const char* id : {"", ".", "..", "../4", "a/b", "a\\b", "tab\there", "del\x7f"}) {
        EXPECT_EQ(is_member(id, 1), STORE_NOT_FOUND) << id;
        EXPECT_EQ(write_group_of(id, 2, 1, 0, 1), STORE_NOT_FOUND) << id;
    }
    EXPECT_EQ(all_files(), before);
}

TEST_F(AccessListsTest, GroupMasterSelectsAndKeepsOrder) {
    sGROUP_MST = GROUP_MST{20, "Sales, east"};
    ASSERT_EQ(Fio_GROUP_MST(20, 2, 1), STORE_OK);
    sGROUP_MST = GROUP_MST{10, "Board"};
    ASSERT_EQ(Fio_GROUP_MST(10, 2, 1), STORE_OK);
    EXPECT_EQ(Fio_GROUP_MST(10, 2, 1), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(read_file(dir.file("group.mst")), "10,Board,\n20,Sales  east,\n");

    sGROUP_MST = GROUP_MST{};
    ASSERT_EQ(Fio_GROUP_MST(20, 1, 1), STORE_OK);
    EXPECT_STREQ(sGROUP_MST.GROUP_NAME, "Sales  east");
    ASSERT_EQ(Fio_GROUP_MST(1, 1, 2), STORE_OK);
    EXPECT_EQ(sGROUP_MST.GROUP_ID, 10);
    EXPECT_EQ(Fio_GROUP_MST(15, 1, 1), STORE_NOT_FOUND);
    EXPECT_EQ(sGROUP_MST.GROUP_ID, 10);
}

TEST_F(AccessListsTest, CopyReplacesTheDestinationListAsRead) {
    const std::string source = "U,taro,3,\r\nG,5,2,\nodd line\n";
    write_file(acl, source);
    write_file(dir.file("5/acl.mst"), "U,old,9,\n");
    ASSERT_EQ(Fio_ACL_MST_copy(4, 5), STORE_OK);
    EXPECT_EQ(read_file(dir.file("5/acl.mst")), source);
    EXPECT_FALSE(exists(dir.file("5/acl.chk")));
    EXPECT_EQ(Fio_ACL_MST_copy(4, 4), STORE_OK);
    EXPECT_EQ(read_file(acl), source);

    std::filesystem::remove(acl);
    EXPECT_EQ(Fio_ACL_MST_copy(4, 5), STORE_CANNOT_OPEN);
    EXPECT_EQ(read_file(dir.file("5/acl.mst")), source);
    EXPECT_FALSE(exists(acl));
}

}  // namespace
