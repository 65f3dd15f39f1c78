// The lock-file protocol that serialises writers of a data file across
// processes. A lock file beside the data means a writer is at work; one older
// than a minute belongs to a crashed writer and is swept away.
#pragma once

// Result of a test (mode 0) or a take (mode 1) when another process holds the lock.
constexpr int LOCK_BUSY = 1;

constexpr int LOCK_STALE_MINUTES = 1;      // age after which a lock file is removed
constexpr int LOCK_TRIES = 3;              // tries of a test, a take and a release
constexpr unsigned LOCK_TAKE_WAIT_SECONDS = 3;     // pause after each busy take
constexpr unsigned LOCK_RELEASE_WAIT_SECONDS = 1;  // pause after each failed removal

// mode 0 test (1 busy, 0 free), 1 take (0 taken, 1 busy), 2 release (0),
// anything else only sweeps a stale lock (0). The path is converted in place.
int Fio_xor_control(char* chkfilename, int mode);

// Holds a lock for the lifetime of the object: tested and taken in the
// constructor, released in the destructor, so every return path releases it.
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
};

// A reader's check: true when a writer holds the lock (the reader reports -9).
bool lock_is_busy(const char* chkfilename);
