// The lock-file protocol that serialises writers of a data file across
// processes. A lock file beside the data means a writer is at work; one older
// than a minute belongs to a crashed writer and is swept away.
//
// A lock found held is waited for, not refused at once: the waiter polls
// (a few milliseconds at first, growing with jitter to a few tens) and gives
// up only after its bound, a writer after LOCK_WRITER_WAIT_MS, a reader after
// LOCK_READER_WAIT_MS. Every poll sweeps, so a lock that turns stale while
// waited for is broken and taken. Nothing is done while waiting and the order
// in which locks nest is fixed, so waits cannot deadlock.
//
// A stale lock is broken by one process only: the removal happens under a
// short guard, the lock's path with ".brk" appended, created exclusively; the
// lock's age is checked again inside it. Only a guard holder ever removes a
// lock file it did not create itself. A reader counts a stale lock as free
// even when a guard keeps it from removing it.
#pragma once

// Result of a test (mode 0) or a take (mode 1) when another process holds the lock.
constexpr int LOCK_BUSY = 1;

constexpr int LOCK_STALE_MINUTES = 1;        // age after which a lock file is removed
constexpr int LOCK_WRITER_WAIT_MS = 9000;    // a take waits this long for a held lock
constexpr int LOCK_READER_WAIT_MS = 1000;    // a test waits this long for a held lock
constexpr unsigned LOCK_POLL_FIRST_MS = 2;   // first pause between polls
constexpr unsigned LOCK_POLL_MAX_MS = 30;    // the pauses double up to this; each is jittered +-50%
// A guard lives for one stat and one unlink. One seen unchanged for this long
// by a waiting process was left by a process killed inside it and is removed.
constexpr int LOCK_GUARD_STALE_MS = 3000;
constexpr const char* LOCK_GUARD_SUFFIX = ".brk";
constexpr int LOCK_TRIES = 3;                      // tries of a release
constexpr unsigned LOCK_RELEASE_WAIT_SECONDS = 1;  // pause after each failed removal

// mode 0 test (1 busy, 0 free), 1 take (0 taken, 1 busy), 2 release (0),
// anything else only sweeps a stale lock (0). A test and a take wait for a
// held lock as above. The path is converted in place.
int Fio_xor_control(char* chkfilename, int mode);

// Holds a lock for the lifetime of the object: taken (waiting as a writer) in
// the constructor, released in the destructor, so every return path releases it.
class FileLock {
public:
    explicit FileLock(const char* chkfilename);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return held_; }

private:
    char path_[1200];
    bool held_ = false;
    bool created_ = false;
    // The lock file this process made, to release only that one.
    unsigned long long made_dev_ = 0;
    unsigned long long made_ino_ = 0;
    long long made_ctime_ns_ = 0;
};

// A reader's check: true when a writer still holds the lock after the
// reader's wait (the reader reports -9).
bool lock_is_busy(const char* chkfilename);
