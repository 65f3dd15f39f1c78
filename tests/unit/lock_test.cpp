#include <gtest/gtest.h>
#include <sys/stat.h>

#include "store/lock.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

class LockTest : public ::testing::Test {
protected:
    int control(int mode) {
        char buffer[1200];
        std::snprintf(buffer, sizeof buffer, "%s", lock_path.c_str());
        return Fio_xor_control(buffer, mode);
    }
    TempDir dir;
    FakeClock clock;
    std::string lock_path = dir.file("bbs.chk");
};

TEST_F(LockTest, TakeCreatesThe0600LockAndASecondTakeWaitsNineSeconds) {
    EXPECT_EQ(control(0), 0);
    EXPECT_EQ(control(1), 0);
    struct stat st;
    ASSERT_EQ(stat(lock_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);

    EXPECT_EQ(control(0), LOCK_BUSY);
    EXPECT_EQ(clock.slept(), 0u);  // a test never waits
    EXPECT_EQ(control(1), LOCK_BUSY);
    EXPECT_EQ(clock.slept(), LOCK_TRIES * LOCK_TAKE_WAIT_SECONDS);
}

TEST_F(LockTest, ALockOlderThanAMinuteIsSweptAway) {
    write_file(lock_path, "");
    clock.age(lock_path, 59);
    EXPECT_EQ(control(0), LOCK_BUSY);
    clock.age(lock_path, 61);
    EXPECT_EQ(control(0), 0);
    EXPECT_FALSE(exists(lock_path));
}

TEST_F(LockTest, AStaleLockCanBeTakenAtOnce) {
    write_file(lock_path, "");
    clock.age(lock_path, 61);
    EXPECT_EQ(control(1), 0);
    EXPECT_EQ(clock.slept(), 0u);
    EXPECT_TRUE(exists(lock_path));
}

TEST_F(LockTest, ReleaseRemovesTheLockAndRetriesWhenThereIsNone) {
    ASSERT_EQ(control(1), 0);
    EXPECT_EQ(control(2), 0);
    EXPECT_FALSE(exists(lock_path));
    EXPECT_EQ(clock.slept(), 0u);
    EXPECT_EQ(control(2), 0);
    EXPECT_EQ(clock.slept(), LOCK_TRIES * LOCK_RELEASE_WAIT_SECONDS);
}

TEST_F(LockTest, OtherModesOnlySweep) {
    write_file(lock_path, "");
    EXPECT_EQ(control(7), 0);
    EXPECT_TRUE(exists(lock_path));
    clock.age(lock_path, 61);
    EXPECT_EQ(control(7), 0);
    EXPECT_FALSE(exists(lock_path));
}

TEST_F(LockTest, GuardReleasesOnEveryPath) {
    {
        FileLock guard(lock_path.c_str());
        EXPECT_TRUE(guard.held());
        EXPECT_TRUE(lock_is_busy(lock_path.c_str()));
        FileLock second(lock_path.c_str());  // a test finds it busy: no waiting
        EXPECT_FALSE(second.held());
        EXPECT_EQ(clock.slept(), 0u);
    }
    EXPECT_FALSE(exists(lock_path));
    EXPECT_FALSE(lock_is_busy(lock_path.c_str()));
}

TEST_F(LockTest, AGuardHeldPastTheStaleAgeIsReleasedAtOnce) {
    {
        FileLock guard(lock_path.c_str());
        ASSERT_TRUE(guard.held());
        clock.age(lock_path, 120);
    }
    EXPECT_FALSE(exists(lock_path));
    EXPECT_EQ(clock.slept(), 0u);
}

}  // namespace

namespace {

TEST(LockGuard, AMissingDirectoryNeitherBlocksNorWaitsOnRelease) {
    TempDir dir;
    FakeClock clock;
    const std::string path = dir.file("no-such-dir/skey.chk");
    {
        FileLock guard(path.c_str());
        EXPECT_TRUE(guard.held());  // the data file's own open reports the problem
    }
    EXPECT_EQ(clock.slept(), 0u);
}

}  // namespace
