// Many processes meeting one stale lock at once, round after round: one of
// them breaks it, and never are two of them inside the lock together.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "store/lock.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

constexpr int kProcesses = 16;
constexpr int kRounds = 300;
constexpr long long kStaleNs = LOCK_STALE_MINUTES * 60 * 1000000000LL;

struct Shared {
    // The wall clock every process sees: just past the stale age of the lock
    // file the round starts with, and short of that of any file made after it.
    std::atomic<long long> now_ns{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> refused{0};
};
Shared* g_shared = nullptr;

long long shared_now_ns() { return g_shared->now_ns.load(); }
// Polls a hundred times as often as in production, so that sixteen holders in
// a row cost milliseconds; the bound on the wait stays real. (Second sleeps
// come only from a release that found its lock gone: after an overlap.)
void fast_sleep_ms(unsigned ms) { usleep(ms * 100); }
void fast_sleep(unsigned seconds) { usleep(seconds * 1000); }

long long change_time_ns(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
}

// Takes the lock once per byte read from go; inside, a marker made with an
// exclusive create shows whether another holder is inside too.
void take_rounds(const std::string& lock, const std::string& marker, int go, int done) {
    clock_replace({nullptr, fast_sleep, shared_now_ns, nullptr, fast_sleep_ms});
    char byte;
    while (read(go, &byte, 1) == 1) {
        {
            FileLock guard(lock.c_str());
            if (!guard.held()) {
                ++g_shared->refused;
            } else {
                const int fd = open(marker.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
                if (fd < 0) {
                    ++g_shared->overlaps;
                } else {
                    usleep(200);
                    close(fd);
                    unlink(marker.c_str());
                }
            }
        }
        if (write(done, "x", 1) != 1) break;
    }
}

TEST(LockRace, AStaleLockMetBySixteenTakersLetsOneInAtATime) {
    TempDir dir;
    const std::string lock = dir.file("bbs.chk");
    const std::string marker = dir.file("inside");
    const std::string probe = dir.file("probe");
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    g_shared = new (memory) Shared;

    int done[2];
    ASSERT_EQ(pipe(done), 0);
    std::vector<int> go;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipe_fds[1]);
            close(done[0]);
            for (int fd : go) close(fd);
            take_rounds(lock, marker, pipe_fds[0], done[1]);
            _exit(0);
        }
        close(pipe_fds[0]);
        go.push_back(pipe_fds[1]);
        children.push_back(pid);
    }
    close(done[1]);

    write_file(probe, "");
    int rounds = 0;
    for (; rounds < kRounds; ++rounds) {
        write_file(lock, "");
        const long long stale_ctime = change_time_ns(lock);
        // Files made from now on must be younger than the stale one: wait
        // for the file system's clock to move on (a tick at most).
        while (utimensat(AT_FDCWD, probe.c_str(), nullptr, 0) == 0 && change_time_ns(probe) <= stale_ctime) {
            usleep(200);
        }
        g_shared->now_ns = stale_ctime + kStaleNs + 1;
        for (int fd : go) ASSERT_EQ(write(fd, "g", 1), 1);
        char byte;
        for (int p = 0; p < kProcesses; ++p) ASSERT_EQ(read(done[0], &byte, 1), 1);
        ASSERT_FALSE(exists(lock));
        ASSERT_FALSE(exists(lock + LOCK_GUARD_SUFFIX));
        if (g_shared->overlaps > 0) break;
    }
    for (int fd : go) close(fd);
    for (pid_t pid : children) waitpid(pid, nullptr, 0);
    close(done[0]);

    EXPECT_EQ(g_shared->overlaps.load(), 0) << "two holders at once in round " << rounds;
    EXPECT_EQ(g_shared->refused.load(), 0);
    munmap(memory, sizeof(Shared));
}

}  // namespace
