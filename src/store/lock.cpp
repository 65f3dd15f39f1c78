#include "store/lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "store/file_primitives.h"
#include "util/bytes.h"
#include "util/clock.h"

namespace {

bool lock_file_present(char* path) {
    const int fh = Cu_b_open(path, 0);
    if (fh < 0) return false;
    Cu_b_close(fh);
    return true;
}

int test_lock(char* path) {
    for (int i = 0; i < LOCK_TRIES; ++i) {
        if (!lock_file_present(path)) return 0;
    }
    return LOCK_BUSY;
}

enum class Take { created, unguarded, busy };

// One exclusive create: of two processes racing for a free lock, one wins.
Take try_take(char* path) {
    const int fh = Cu_b_create_new(path);
    if (fh >= 0) {
        Cu_b_close(fh);
        return Take::created;
    }
    // Unless the file is there, nothing holds the lock: the directory itself is
    // unusable, which the data file's open reports to the caller.
    return errno == EEXIST ? Take::busy : Take::unguarded;
}

Take take_lock(char* path) {
    for (int i = 0; i < LOCK_TRIES; ++i) {
        const Take take = try_take(path);
        if (take != Take::busy) return take;
        clock_sleep(LOCK_TAKE_WAIT_SECONDS);
    }
    return Take::busy;
}

int release_lock(char* path) {
    for (int i = 0; i < LOCK_TRIES; ++i) {
        if (::unlink(path) == 0) return 0;
        clock_sleep(LOCK_RELEASE_WAIT_SECONDS);
    }
    return 0;
}

// The stale-lock sweep; true when it found no lock file at all, the common
// answer of a test, which then needs no open to ask again. (The sweep's stat
// failed, or a stale file went meanwhile: either way ENOENT says none is there.)
bool sweep_finds_none(char* path) {
    return Cu_removefile1h(path, LOCK_STALE_MINUTES) != 0 && errno == ENOENT;
}

}  // namespace

int Fio_xor_control(char* chkfilename, int mode) {
    const bool none = sweep_finds_none(chkfilename);
    switch (mode) {
        case 0: return none ? 0 : test_lock(chkfilename);
        case 1: return take_lock(chkfilename) == Take::busy ? LOCK_BUSY : 0;
        case 2: return release_lock(chkfilename);
        default: return 0;
    }
}

FileLock::FileLock(const char* chkfilename) {
    copy_field(path_, chkfilename);
    // A free lock, the common case, is taken by the create alone. Only a lock
    // file that is there already goes through the test, which sweeps a stale
    // one away (the take then follows at once) and finds a held one busy
    // without waiting.
    Take take = try_take(path_);
    if (take == Take::busy) {
        if (Fio_xor_control(path_, 0) == LOCK_BUSY) return;
        take = take_lock(path_);
    }
    held_ = take != Take::busy;
    created_ = take == Take::created;
}

FileLock::~FileLock() {
    // A lock that could not be created (its directory is missing) has nothing
    // to remove: releasing it would only wait for the retries. The lock is this
    // process's own, so no sweep first: were it held past the stale age, the
    // sweep would remove it and the release wait for nothing.
    if (created_) release_lock(path_);
}

bool lock_is_busy(const char* chkfilename) {
    char path[1200];
    copy_field(path, chkfilename);
    return Fio_xor_control(path, 0) == LOCK_BUSY;
}
