#include "store/index_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "store/record_file_engine.h"

namespace {

// One undo entry: this header, then PAYLOAD_SIZE bytes. Native little-endian
// memory image, like the index records.
//   KIND_BYTES: the file was OLD_LENGTH bytes long and held the payload at
//     OFFSET (an in-place write: the old record; an append: nothing, OFFSET the
//     old end; a cut: the bytes cut off). Undone by writing the payload back
//     and cutting the file to OLD_LENGTH.
//   KIND_WHOLE: the file as it was is kept under its second name. Undone by
//     renaming that back over the file.
//   KIND_COMMIT (FILE_NO 0): every change is done and stands; what is left is
//     to remove the second names and the journal, and, when OFFSET is not 0,
//     the directory of message OFFSET (a delete's).
// CHECKSUM covers the header (CHECKSUM itself 0) and the payload, so that an
// entry torn by a kill while it was written is known; its change had not begun.
struct JournalEntryHeader {
    uint32_t MAGIC;
    uint32_t KIND;
    int32_t FILE_NO;
    uint32_t PAYLOAD_SIZE;
    int64_t OFFSET;
    int64_t OLD_LENGTH;
    uint32_t CHECKSUM;
    uint32_t RESERVE;  // 0
};
static_assert(sizeof(JournalEntryHeader) == 40);
static_assert(offsetof(JournalEntryHeader, MAGIC) == 0);
static_assert(offsetof(JournalEntryHeader, KIND) == 4);
static_assert(offsetof(JournalEntryHeader, FILE_NO) == 8);
static_assert(offsetof(JournalEntryHeader, PAYLOAD_SIZE) == 12);
static_assert(offsetof(JournalEntryHeader, OFFSET) == 16);
static_assert(offsetof(JournalEntryHeader, OLD_LENGTH) == 24);
static_assert(offsetof(JournalEntryHeader, CHECKSUM) == 32);
static_assert(offsetof(JournalEntryHeader, RESERVE) == 36);

constexpr uint32_t MAGIC = 0x4C4E4A49;  // "IJNL"
constexpr uint32_t KIND_BYTES = 1;
constexpr uint32_t KIND_WHOLE = 2;
constexpr uint32_t KIND_COMMIT = 3;

void (*test_hook)(IndexJournalPoint) = nullptr;

void reached(IndexJournalPoint point) {
    if (test_hook != nullptr) test_hook(point);
}

// FNV-1a: enough to tell a torn or foreign tail from a whole entry.
uint32_t checksum(uint32_t hash, const void* data, std::size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 16777619u;
    }
    return hash;
}

uint32_t entry_checksum(JournalEntryHeader header, const char* payload) {
    header.CHECKSUM = 0;
    return checksum(checksum(2166136261u, &header, sizeof header), payload, header.PAYLOAD_SIZE);
}

bool gone(const char* path) { return ::unlink(path) == 0 || errno == ENOENT; }

bool converted_path(char* out, std::size_t size, long folder_no, const char* name) {
    if (!folder_file_path(out, size, folder_no, name)) return false;
    yen_to_sura(out);
    return true;
}

// The whole entries of a journal, in order; reading stops at the first entry
// that is torn or not one.
struct Entry {
    JournalEntryHeader header;
    const char* payload;
};

std::vector<Entry> parse(const std::vector<char>& bytes) {
    std::vector<Entry> entries;
    std::size_t at = 0;
    while (bytes.size() - at >= sizeof(JournalEntryHeader)) {
        Entry entry{};
        std::memcpy(&entry.header, bytes.data() + at, sizeof entry.header);
        const JournalEntryHeader& h = entry.header;
        at += sizeof h;
        const bool commit = h.KIND == KIND_COMMIT && h.FILE_NO == 0;
        const bool change =
            (h.KIND == KIND_BYTES || h.KIND == KIND_WHOLE) && h.FILE_NO >= 1 && h.FILE_NO <= 5;
        if (h.MAGIC != MAGIC || !(commit || change) || h.OFFSET < 0 || h.OLD_LENGTH < 0 ||
            h.PAYLOAD_SIZE > bytes.size() - at) {
            break;
        }
        entry.payload = bytes.data() + at;
        if (entry_checksum(h, entry.payload) != h.CHECKSUM) break;
        at += h.PAYLOAD_SIZE;
        entries.push_back(entry);
    }
    return entries;
}

bool undo_bytes(const char* path, const Entry& entry) {
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const JournalEntryHeader& h = entry.header;
    const bool undone = write_exact(fd, entry.payload, h.PAYLOAD_SIZE, static_cast<off_t>(h.OFFSET)) &&
                        ::ftruncate(fd, static_cast<off_t>(h.OLD_LENGTH)) == 0;
    ::close(fd);
    return undone;
}

// No second name: an earlier recovery already put the old file back (the name
// is made before the entry). When the file never was replaced both names are
// links of one file: rename() leaves both, so the second one is removed.
bool undo_whole(const char* path, const char* side) {
    if (::rename(side, path) != 0 && errno != ENOENT) return false;
    return gone(side);
}

// The file under a second name as well. A second name still there (a writer
// killed before its entry, or one that could not clear up) is no one's: no
// entry names it. A file still missing is made empty, as the rewrite would.
bool keep_second_name(const char* path, const char* side) {
    if (::link(path, side) == 0) return true;
    if (errno == EEXIST) {
        if (!gone(side)) return false;
    } else if (errno == ENOENT) {
        const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        ::close(fd);
    } else {
        return false;
    }
    return ::link(path, side) == 0;
}

}  // namespace

void index_journal_set_test_hook(void (*hook)(IndexJournalPoint point)) { test_hook = hook; }

IndexWriteSession::IndexWriteSession(long folder_no) : folder_no_(folder_no) {
    bool composed = folder_file_path(lock_path_, sizeof lock_path_, folder_no, "bbs.chk") &&
                    converted_path(journal_path_, sizeof journal_path_, folder_no, "bbs.jnl");
    for (int n = 1; composed && n <= FILES; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "bbs%d.idx", n);
        composed = converted_path(index_path_[n], sizeof index_path_[n], folder_no, name);
        std::snprintf(name, sizeof name, "bbs%d.idx.undo", n);
        composed = composed && converted_path(side_path_[n], sizeof side_path_[n], folder_no, name);
    }
    if (!composed) {
        status_ = STORE_CANNOT_OPEN;
        return;
    }
    lock_.emplace(lock_path_);
    if (!lock_->held()) {
        status_ = STORE_LOCK_BUSY;
        return;
    }
    reached(IndexJournalPoint::locked);
    status_ = recover();
}

IndexWriteSession::~IndexWriteSession() {
    if (!lock_ || !lock_->held()) return;
    commit(0, nullptr);
    reached(IndexJournalPoint::unlocking);
}

int IndexWriteSession::recover() {
    const int fd = ::open(journal_path_, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? STORE_OK : STORE_CANNOT_OPEN;
    struct stat st;
    std::vector<char> bytes;
    bool read = ::fstat(fd, &st) == 0;
    if (read) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        read = read_exact(fd, bytes.data(), bytes.size(), 0);
    }
    ::close(fd);
    if (!read) return STORE_CANNOT_OPEN;

    const std::vector<Entry> entries = parse(bytes);
    // A writer killed after its commit entry: its changes stand, and the
    // directory of a message it deleted goes, as it would have gone.
    const bool committed = !entries.empty() && entries.back().header.KIND == KIND_COMMIT;
    if (committed && entries.back().header.OFFSET > 0) remove_message_dir_of(entries.back().header.OFFSET);
    for (auto entry = entries.rbegin(); !committed && entry != entries.rend(); ++entry) {
        const int n = entry->header.FILE_NO;
        const bool undone = entry->header.KIND == KIND_BYTES ? undo_bytes(index_path_[n], *entry)
                                                             : undo_whole(index_path_[n], side_path_[n]);
        if (!undone) return STORE_CANNOT_OPEN;  // the journal stays: the next writer tries again
        reached(IndexJournalPoint::undone);
    }
    // An insert taken back: its first change appended a record to bbs1.idx
    // (after the whole records, should the file end in a torn one).
    constexpr long long kRecord = sizeof(BBS_IDX);
    if (!committed && !entries.empty()) {
        const JournalEntryHeader& first = entries.front().header;
        if (first.KIND == KIND_BYTES && first.FILE_NO == 1 && first.OFFSET % kRecord == 0 &&
            first.OLD_LENGTH >= first.OFFSET && first.OLD_LENGTH < first.OFFSET + kRecord) {
            remove_message_dir_of(first.OFFSET / kRecord + 1);
        }
    }
    // Left by the writer that died: the copy of a rewrite killed before its
    // rename, second names no longer needed. None is an index file.
    for (int n = 1; n <= FILES; ++n) {
        char temp[PATH_SIZE + 8];
        std::snprintf(temp, sizeof temp, "%s.tmp", index_path_[n]);
        gone(temp);
        gone(side_path_[n]);
    }
    return gone(journal_path_) ? STORE_OK : STORE_CANNOT_OPEN;
}

// The files of a message whose record is gone (an insert taken back, a delete
// that stands): a directory of a free or deleted number is nobody's. Only a
// writer holding the lock gives a number out, and it recovers first.
void IndexWriteSession::remove_message_dir_of(long long sel_no) {
    remove_message_dir(folder_no_, static_cast<long>(sel_no));
}

bool IndexWriteSession::take_back() {
    if (journal_fd_ < 0) return true;  // nothing was changed yet
    ::close(journal_fd_);
    journal_fd_ = -1;
    for (bool& saved : saved_whole_) saved = false;
    return recover() == STORE_OK;
}

bool IndexWriteSession::open_journal() {
    if (journal_fd_ < 0) {
        journal_fd_ = ::open(journal_path_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        journal_size_ = 0;
    }
    return journal_fd_ >= 0;
}

bool IndexWriteSession::append_entry(const void* header, const char* payload, std::size_t payload_size) {
    if (broken_ || !open_journal()) return false;
    // One write for header and payload: an entry is mostly a few hundred bytes.
    const std::size_t size = sizeof(JournalEntryHeader) + payload_size;
    std::unique_ptr<char[]> entry(new char[size]);
    std::memcpy(entry.get(), header, sizeof(JournalEntryHeader));
    if (payload_size > 0) std::memcpy(entry.get() + sizeof(JournalEntryHeader), payload, payload_size);
    if (!write_exact(journal_fd_, entry.get(), size, static_cast<off_t>(journal_size_))) {
        // A part-written entry would hide every later one from a recovery.
        if (::ftruncate(journal_fd_, static_cast<off_t>(journal_size_)) != 0) broken_ = true;
        return false;
    }
    journal_size_ += static_cast<long long>(size);
    return true;
}

bool IndexWriteSession::save_range(int file_no, int fd, long long offset, long long length) {
    reached(IndexJournalPoint::before_change);
    if (status_ != STORE_OK || file_no < 1 || file_no > FILES || offset < 0 || length < 0) return false;
    // Once the whole old file is kept, later changes to it need no entry.
    if (saved_whole_[file_no]) return true;
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    const long long old_length = st.st_size;
    long long kept = old_length - offset;
    if (kept < 0) kept = 0;
    if (kept > length) kept = length;
    std::unique_ptr<char[]> old_bytes(new char[static_cast<std::size_t>(kept) + 1]);
    if (!read_exact(fd, old_bytes.get(), static_cast<std::size_t>(kept), static_cast<off_t>(offset))) {
        return false;
    }
    JournalEntryHeader header{};
    header.MAGIC = MAGIC;
    header.KIND = KIND_BYTES;
    header.FILE_NO = file_no;
    header.PAYLOAD_SIZE = static_cast<uint32_t>(kept);
    header.OFFSET = offset;
    header.OLD_LENGTH = old_length;
    header.CHECKSUM = entry_checksum(header, old_bytes.get());
    if (!append_entry(&header, old_bytes.get(), static_cast<std::size_t>(kept))) return false;
    reached(IndexJournalPoint::entry_written);
    return true;
}

bool IndexWriteSession::before_write(int file_no, int fd, long long offset, std::size_t size) {
    return save_range(file_no, fd, offset, static_cast<long long>(size));
}

bool IndexWriteSession::before_truncate(int file_no, int fd, long long new_length) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    const long long cut = st.st_size > new_length ? st.st_size - new_length : 0;
    return save_range(file_no, fd, new_length, cut);
}

bool IndexWriteSession::before_replace(int file_no) {
    reached(IndexJournalPoint::before_change);
    if (status_ != STORE_OK || file_no < 1 || file_no > FILES) return false;
    if (saved_whole_[file_no]) return true;
    // The second name before the entry: an entry always names the old file.
    // The journal is there first, so that its recovery clears up a second
    // name left without an entry. A link costs the same whatever the file's
    // size: no copy is made.
    if (!open_journal() || !keep_second_name(index_path_[file_no], side_path_[file_no])) return false;
    reached(IndexJournalPoint::linked);
    JournalEntryHeader header{};
    header.MAGIC = MAGIC;
    header.KIND = KIND_WHOLE;
    header.FILE_NO = file_no;
    header.CHECKSUM = entry_checksum(header, nullptr);
    if (!append_entry(&header, nullptr, 0)) {
        gone(side_path_[file_no]);
        return false;
    }
    reached(IndexJournalPoint::entry_written);
    saved_whole_[file_no] = true;
    return true;
}

bool IndexWriteSession::commit(long removed_message, const std::function<void()>& remove_files) {
    if (journal_fd_ < 0) return true;
    reached(IndexJournalPoint::all_changed);
    // The commit entry is the moment the changes stand; a writer killed after
    // it leaves only the clearing up to the next one.
    JournalEntryHeader header{};
    header.MAGIC = MAGIC;
    header.KIND = KIND_COMMIT;
    header.OFFSET = removed_message > 0 ? removed_message : 0;
    header.CHECKSUM = entry_checksum(header, nullptr);
    const bool entered = append_entry(&header, nullptr, 0);
    ::close(journal_fd_);
    journal_fd_ = -1;
    if (!entered) {
        // Without the entry the journal itself must go first; should it stay,
        // an empty one undoes nothing. The second names are kept otherwise.
        if (!gone(journal_path_) && ::truncate(journal_path_, 0) != 0) return false;
    }
    reached(IndexJournalPoint::committed);
    if (remove_files) remove_files();
    for (int n = 1; n <= FILES; ++n) {
        if (saved_whole_[n]) gone(side_path_[n]);
    }
    gone(journal_path_);
    return true;
}
