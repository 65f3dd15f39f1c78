// A writer of a folder's five message index files may die at any instant (a
// killed request, a crash) between the first file it changes and the last.
// Every such writer works inside an IndexWriteSession: under the folder lock
// "bbs.chk" it appends to an undo journal, "bbs.jnl" beside the lock, how to
// take back each change before it makes it, and removes the journal when the
// last file is done. The next writer that takes the lock and finds a journal
// takes the changes back, newest first, before it does its own work.
//
// Rolled back rather than forward: the journal then only needs what is already
// on disk (old bytes, old lengths, the old file kept under a second name),
// every operation gets it by the same three calls, and a writer that died never
// gave its caller a result, so undoing its change is what that caller was
// told (nothing). Taking back is idempotent: a recovery killed itself is run
// again whole by the next writer with the same outcome.
//
// Readers take no lock and may still see a half-changed folder until the next
// writer; they are not slowed by any of this.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include "store/lock.h"

// Points of a writer's and of a recovery's progress, in the order they occur,
// for the tests' hook below.
enum class IndexJournalPoint {
    locked,         // the lock is held; nothing recovered or changed yet
    before_change,  // a change is announced (the one before it is complete)
    linked,         // a file to be replaced is kept under its second name
    entry_written,  // the change's undo entry is in the journal, the change not begun
    all_changed,    // every change is done; the journal is still there
    committed,      // the commit entry is written: the changes stand; second
                    // names and the journal are not yet removed
    unlocking,      // about to release the lock
    undone,         // a recovery took back one entry
};

// Test-only: called at every point above (nullptr: none). Set by tests that
// stop a writer at each point in turn; nothing in the program sets it.
void index_journal_set_test_hook(void (*hook)(IndexJournalPoint point));

class IndexWriteSession {
public:
    // Takes the folder's lock and, when a journal is found, rolls the five
    // files back to the state before the writer that left it.
    explicit IndexWriteSession(long folder_no);
    // Removes the journal (the changes stand), then releases the lock.
    ~IndexWriteSession();
    IndexWriteSession(const IndexWriteSession&) = delete;
    IndexWriteSession& operator=(const IndexWriteSession&) = delete;

    // 0: go ahead; -9 the lock is held; -2 the paths do not fit or a journal
    // found could not be taken back (it stays for the next writer).
    int status() const { return status_; }

    // Called right before index file n (1..5) is changed. False when the undo
    // entry could not be written: the change must not be made then.
    // size bytes at offset are written (in place or past the end);
    bool before_write(int file_no, int fd, long long offset, std::size_t size);
    // the file is cut to new_length bytes;
    bool before_truncate(int file_no, int fd, long long new_length);
    // the file is replaced by another one by rename().
    bool before_replace(int file_no);

    // Lets every change of this session stand now, with the lock still held
    // (work that must follow the change but come before any other writer).
    // False when the journal could be neither closed nor removed: the next
    // writer will take the changes back.
    bool commit_now() { return commit(0, nullptr); }
    // The same for a change that takes message sel_no's directory with it:
    // remove_files runs once the change stands, while the journal still names
    // the message, so that the next writer removes the directory again should
    // this one die part way. Not run when the commit fails.
    bool commit_removing(long sel_no, const std::function<void()>& remove_files) {
        return commit(sel_no, remove_files);
    }

    // Takes back every change of this session now (its caller gives up part
    // way); the lock stays held until the session ends. False when that
    // failed: the journal then stays for the next writer.
    bool take_back();

private:
    static constexpr std::size_t PATH_SIZE = 1200;
    static constexpr int FILES = 5;

    bool open_journal();
    bool save_range(int file_no, int fd, long long offset, long long length);
    bool append_entry(const void* header, const char* payload, std::size_t payload_size);
    int recover();
    void remove_message_dir_of(long long sel_no);
    bool commit(long removed_message, const std::function<void()>& remove_files);

    long folder_no_ = 0;
    char lock_path_[PATH_SIZE] = {};
    char journal_path_[PATH_SIZE] = {};
    char index_path_[FILES + 1][PATH_SIZE] = {};
    char side_path_[FILES + 1][PATH_SIZE] = {};
    std::optional<FileLock> lock_;
    int status_ = 0;
    int journal_fd_ = -1;
    long long journal_size_ = 0;
    bool broken_ = false;               // a failed append could not be cut off again
    bool saved_whole_[FILES + 1] = {};  // the file's old version is kept whole
};
