#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <optional>

#include "store/lock.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

long long change_time_ns(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
}

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

TEST_F(LockTest, ATakeWaitsNineSecondsForAHeldLockAndATestOne) {
    EXPECT_EQ(control(0), 0);
    EXPECT_EQ(control(1), 0);
    struct stat st;
    ASSERT_EQ(stat(lock_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(clock.waited_ms(), 0);

    EXPECT_EQ(control(0), LOCK_BUSY);
    EXPECT_EQ(clock.waited_ms(), LOCK_READER_WAIT_MS);
    EXPECT_EQ(control(1), LOCK_BUSY);
    EXPECT_EQ(clock.waited_ms(), LOCK_READER_WAIT_MS + LOCK_WRITER_WAIT_MS);
    EXPECT_EQ(clock.slept(), 0u);
}

// The first polls come within milliseconds, so a short writer costs little.
TEST_F(LockTest, ALockReleasedDuringTheWaitIsTakenWithinAFewPolls) {
    write_file(lock_path, "");
    clock.during_waits([&](long long waited) {
        if (waited >= 20) std::remove(lock_path.c_str());
    });
    EXPECT_EQ(control(1), 0);
    EXPECT_TRUE(exists(lock_path));
    EXPECT_GE(clock.waited_ms(), 20);
    EXPECT_LE(clock.waited_ms(), 20 + 3 * LOCK_POLL_MAX_MS / 2);

    clock.during_waits([&](long long waited) {
        if (waited >= 500) std::remove(lock_path.c_str());
    });
    EXPECT_FALSE(lock_is_busy(lock_path.c_str()));
    EXPECT_LT(clock.waited_ms(), LOCK_READER_WAIT_MS);
}

TEST_F(LockTest, ALockOlderThanAMinuteIsSweptAway) {
    write_file(lock_path, "");
    clock.age(lock_path, 58);
    EXPECT_EQ(control(0), LOCK_BUSY);  // 59 s old at the end of the wait
    clock.age(lock_path, 61);
    EXPECT_EQ(control(0), 0);
    EXPECT_FALSE(exists(lock_path));
    EXPECT_FALSE(exists(lock_path + LOCK_GUARD_SUFFIX));
}

TEST_F(LockTest, BreakingAStaleLockRemovesTheDeadWritersTemporaryCopies) {
    write_file(lock_path, "");
    write_file(dir.file("body.txt.tmp"), "half a bo");
    write_file(dir.file("body.txt"), "whole body");
    clock.age(lock_path, 30);
    EXPECT_EQ(control(0), LOCK_BUSY);  // a live writer's copy stays
    EXPECT_TRUE(exists(dir.file("body.txt.tmp")));
    clock.age(lock_path, 61);
    EXPECT_EQ(control(0), 0);
    EXPECT_FALSE(exists(dir.file("body.txt.tmp")));
    EXPECT_EQ(read_file(dir.file("body.txt")), "whole body");
}

TEST_F(LockTest, AStaleLockIsTakenAtOnceAndOneTurningStaleWhileWaited) {
    write_file(lock_path, "");
    clock.age(lock_path, 61);
    EXPECT_EQ(control(1), 0);
    EXPECT_EQ(clock.waited_ms(), 0);
    EXPECT_TRUE(exists(lock_path));

    clock.age(lock_path, 55);
    EXPECT_EQ(control(1), 0);
    EXPECT_GE(clock.waited_ms(), 5000);
    EXPECT_LE(clock.waited_ms(), 6000 + 3 * LOCK_POLL_MAX_MS / 2);  // a pause is at most 1.5 x the grain
    EXPECT_FALSE(exists(lock_path + LOCK_GUARD_SUFFIX));
}

// Another process breaking the stale lock holds the guard: a waiter leaves the
// lock alone until the guard goes. A guard that stays was left by a killed
// process and is removed after a few seconds of a writer's waiting; readers
// never remove it, but a stale lock does not refuse them meanwhile.
TEST_F(LockTest, AStaleLockIsBrokenOnlyUnderItsGuard) {
    const std::string guard = lock_path + LOCK_GUARD_SUFFIX;
    write_file(lock_path, "");
    write_file(guard, "");
    clock.age(lock_path, 61);
    clock.during_waits([&](long long waited) {
        if (waited >= 100) std::remove(guard.c_str());
    });
    EXPECT_EQ(control(1), 0);
    EXPECT_GE(clock.waited_ms(), 100);
    EXPECT_EQ(control(2), 0);

    write_file(lock_path, "");
    write_file(guard, "");
    clock.age(lock_path, 61);
    clock.during_waits(nullptr);
    const long long start = clock.waited_ms();
    EXPECT_FALSE(lock_is_busy(lock_path.c_str()));
    EXPECT_EQ(clock.waited_ms(), start);
    EXPECT_TRUE(exists(guard));
    EXPECT_TRUE(exists(lock_path));
    const long long before = clock.waited_ms();
    EXPECT_EQ(control(1), 0);
    EXPECT_GE(clock.waited_ms() - before, LOCK_GUARD_STALE_MS);
    EXPECT_LE(clock.waited_ms() - before, LOCK_GUARD_STALE_MS + 3 * LOCK_POLL_MAX_MS);  // two pauses past it
    EXPECT_FALSE(exists(guard));
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
        FileLock second(lock_path.c_str());  // waits as a writer, then gives up
        EXPECT_FALSE(second.held());
        EXPECT_EQ(clock.waited_ms(), LOCK_READER_WAIT_MS + LOCK_WRITER_WAIT_MS);
    }
    EXPECT_FALSE(exists(lock_path));
    EXPECT_FALSE(lock_is_busy(lock_path.c_str()));
}

// A writer that outlived the stale age lost its lock to the next writer; its
// release must not remove that writer's lock and let a third one in.
TEST_F(LockTest, AGuardWhoseLockWasBrokenLeavesTheNextWritersLock) {
    std::optional<FileLock> late(std::in_place, lock_path.c_str());
    ASSERT_TRUE(late->held());
    // A minute apart the two lock files differ in change time even when the
    // inode is reused: wait for the file system's clock to move on (a tick).
    const std::string probe = dir.file("probe");
    do {
        write_file(probe, "");
    } while (change_time_ns(probe) <= change_time_ns(lock_path));
    clock.age(lock_path, 61);
    FileLock next(lock_path.c_str());
    ASSERT_TRUE(next.held());
    clock.age(lock_path, 0);
    late.reset();
    EXPECT_TRUE(exists(lock_path));
    EXPECT_TRUE(lock_is_busy(lock_path.c_str()));
}

TEST_F(LockTest, AGuardHeldPastTheStaleAgeIsReleasedAtOnce) {
    {
        FileLock guard(lock_path.c_str());
        ASSERT_TRUE(guard.held());
        clock.age(lock_path, 120);
    }
    EXPECT_FALSE(exists(lock_path));
    EXPECT_EQ(clock.slept(), 0u);
    EXPECT_EQ(clock.waited_ms(), 0);
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
    EXPECT_EQ(clock.waited_ms(), 0);
}

}  // namespace
