#include "store/lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "store/file_primitives.h"
#include "util/bytes.h"
#include "util/clock.h"

namespace {

constexpr long long kNanosPerSecond = 1000000000LL;

long long change_time_ns(const struct stat& st) {
    return static_cast<long long>(st.st_ctim.tv_sec) * kNanosPerSecond + st.st_ctim.tv_nsec;
}

// At nanosecond resolution, so that a lock made a moment after a stale one is
// told apart from it; the rule itself is the one-minute age.
bool is_stale(const struct stat& st) {
    return change_time_ns(st) < clock_now_ns() - LOCK_STALE_MINUTES * 60 * kNanosPerSecond;
}

// What one waiting process has seen of a guard, to tell a guard left behind by
// a killed process (the same file all along) from a series of short ones.
struct GuardWatch {
    bool seen = false;
    dev_t dev = 0;
    ino_t ino = 0;
    long long changed_ns = 0;
    long long since_ms = 0;
};

// The guard stays for seconds only when its holder died inside it: a waiter
// that has seen the same guard for LOCK_GUARD_STALE_MS removes it. That is
// judged on the waiter's monotonic clock, not by the guard's age, which a
// wall clock set forward or back would misjudge. The guard is removed by
// name, so if its holder is merely stalled that long, or the guard was renewed
// between the stat below and the unlink, two processes can be inside guards at
// once: a window of one stalled process or a few instructions, left open
// because closing it would need a lock of its own.
void watch_guard(const char* guard, GuardWatch& watch) {
    struct stat st;
    if (::stat(guard, &st) != 0) {
        watch.seen = false;
        return;
    }
    const long long now = clock_monotonic_ms();
    if (!watch.seen || st.st_dev != watch.dev || st.st_ino != watch.ino ||
        change_time_ns(st) != watch.changed_ns) {
        watch = {true, st.st_dev, st.st_ino, change_time_ns(st), now};
        return;
    }
    if (now - watch.since_ms >= LOCK_GUARD_STALE_MS) {
        ::unlink(guard);
        watch.seen = false;
    }
}

// A writer that died holding a lock may have left a half-written ".tmp" copy
// beside it. Its data file's next writer would remove it, but a message that
// is never written again (its body, its attachment list) would keep it for
// good. The copy of a live writer is younger than a minute (a writer holding
// its lock longer has lost it already), so only older ones go.
void remove_stale_temporaries(const char* lock_path) {
    char directory[1200];
    copy_field(directory, lock_path);
    char* slash = std::strrchr(directory, '/');
    if (slash == nullptr) {
        copy_field(directory, ".");
    } else {
        slash[slash == directory ? 1 : 0] = '\0';
    }
    DIR* dir = ::opendir(directory);
    if (dir == nullptr) return;
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::size_t length = std::strlen(entry->d_name);
        if (length <= 4 || std::strcmp(entry->d_name + length - 4, ".tmp") != 0) continue;
        struct stat st;
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (is_stale(st)) ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Removes a stale lock under the guard. The lock's age is asked again inside
// it: another sweeper may have removed the stale lock and a writer made a
// fresh one since this process looked. True when no lock file is left.
bool break_stale(const char* path, GuardWatch& watch) {
    char guard[1220];
    const int length = std::snprintf(guard, sizeof guard, "%s%s", path, LOCK_GUARD_SUFFIX);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof guard) return false;
    const int fh = ::open(guard, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fh < 0) {
        // Another process is breaking it: poll on. Any other failure (a
        // directory not writable) leaves the stale lock for a writer to meet.
        if (errno == EEXIST) watch_guard(guard, watch);
        return false;
    }
    ::close(fh);
    struct stat st;
    bool gone = true;
    bool broken = false;
    if (::stat(path, &st) == 0) {
        broken = is_stale(st) && ::unlink(path) == 0;
        gone = broken || (is_stale(st) && errno == ENOENT);
    }
    ::unlink(guard);
    if (broken) remove_stale_temporaries(path);
    return gone;
}

// The stale-lock sweep; true when no lock file is there (none was, or a stale
// one was removed). A lock file that cannot be examined counts as none, as a
// failed open did before: the data file's own open reports a bad directory.
bool sweep_finds_none(const char* path, GuardWatch& watch) {
    struct stat st;
    if (::stat(path, &st) != 0) return true;
    return is_stale(st) && break_stale(path, watch);
}

enum class Take { created, unguarded, busy };

// One exclusive create: of two processes racing for a free lock, one wins.
// The winner's file is described in made, so that its release can tell it
// from a lock file another writer made in its place.
Take try_take(const char* path, struct stat& made) {
    const int fh = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fh >= 0) {
        if (::fstat(fh, &made) != 0) made = {};
        ::close(fh);
        return Take::created;
    }
    // Unless the file is there, nothing holds the lock: the directory itself is
    // unusable, which the data file's open reports to the caller.
    return errno == EEXIST ? Take::busy : Take::unguarded;
}

// Jitter keeps processes that met at one lock from polling in step. The
// generator is seeded per process, also in a child forked after a wait.
unsigned jittered(unsigned pause_ms) {
    static uint64_t state = 0;
    static pid_t seeded_for = 0;
    if (seeded_for != getpid()) {
        seeded_for = getpid();
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        state = (static_cast<uint64_t>(seeded_for) << 32) ^ static_cast<uint64_t>(ts.tv_nsec) ^ 0x9E3779B97F4A7C15ULL;
    }
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return pause_ms / 2 + static_cast<unsigned>(state % (pause_ms + 1));
}

// Calls attempt until it reports success or wait_ms have passed; the last
// attempt is made at the end of the wait, so busy means busy then.
template <typename Attempt>
bool poll_until(int wait_ms, Attempt attempt) {
    const long long deadline = clock_monotonic_ms() + wait_ms;
    unsigned step = LOCK_POLL_FIRST_MS;
    for (;;) {
        if (attempt()) return true;
        const long long left = deadline - clock_monotonic_ms();
        if (left <= 0) return false;
        unsigned pause = jittered(step);
        if (pause > left) pause = static_cast<unsigned>(left);
        clock_sleep_ms(pause);
        step = step * 2 < LOCK_POLL_MAX_MS ? step * 2 : LOCK_POLL_MAX_MS;
    }
}

Take take_lock(const char* path, struct stat& made) {
    GuardWatch watch;
    Take take = Take::busy;
    poll_until(LOCK_WRITER_WAIT_MS, [&] {
        take = try_take(path, made);
        if (take != Take::busy) return true;
        if (!sweep_finds_none(path, watch)) return false;
        take = try_take(path, made);  // swept, or released meanwhile
        return take != Take::busy;
    });
    return take;
}

// A stale lock counts as free for a reader even when it cannot be removed
// now: the guard may have been left by a process killed inside it, and only
// a waiting writer removes that. Refusing readers until a writer of this
// very file comes could last days for a file that is rarely written.
int test_lock(const char* path) {
    GuardWatch watch;
    return poll_until(LOCK_READER_WAIT_MS, [&] {
               struct stat st;
               if (::stat(path, &st) != 0) return true;
               if (!is_stale(st)) return false;
               break_stale(path, watch);
               return true;
           })
               ? 0
               : LOCK_BUSY;
}

int release_lock(const char* path) {
    for (int i = 0; i < LOCK_TRIES; ++i) {
        if (::unlink(path) == 0) return 0;
        clock_sleep(LOCK_RELEASE_WAIT_SECONDS);
    }
    return 0;
}

}  // namespace

int Fio_xor_control(char* chkfilename, int mode) {
    yen_to_sura(chkfilename);
    GuardWatch watch;
    switch (mode) {
        case 0: return test_lock(chkfilename);
        case 1: {
            struct stat made;
            return take_lock(chkfilename, made) == Take::busy ? LOCK_BUSY : 0;
        }
        case 2:
            sweep_finds_none(chkfilename, watch);
            return release_lock(chkfilename);
        default:
            sweep_finds_none(chkfilename, watch);
            return 0;
    }
}

FileLock::FileLock(const char* chkfilename) {
    copy_field(path_, chkfilename);
    yen_to_sura(path_);
    struct stat made {};
    const Take take = take_lock(path_, made);
    held_ = take != Take::busy;
    created_ = take == Take::created;
    made_dev_ = made.st_dev;
    made_ino_ = made.st_ino;
    made_ctime_ns_ = change_time_ns(made);
}

FileLock::~FileLock() {
    // A lock that could not be created (its directory is missing) has nothing
    // to remove: releasing it would only wait for the retries. The lock is this
    // process's own, so no sweep first: were it held past the stale age, the
    // sweep would remove it and the release wait for nothing.
    if (!created_) return;
    // Held past the stale age, the lock may have been broken and taken by
    // another writer: that writer's file is not this one's to remove, or a
    // third would be let in beside it. Inode numbers are reused at once, so
    // the change time tells the files apart too.
    struct stat st;
    if (::stat(path_, &st) == 0 &&
        (st.st_dev != made_dev_ || st.st_ino != made_ino_ || change_time_ns(st) != made_ctime_ns_)) {
        return;
    }
    release_lock(path_);
}

bool lock_is_busy(const char* chkfilename) {
    char path[1200];
    copy_field(path, chkfilename);
    return Fio_xor_control(path, 0) == LOCK_BUSY;
}
