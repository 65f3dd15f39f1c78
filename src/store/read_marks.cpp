#include "store/read_marks.h"

#include <algorithm>
#include <cstdio>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/lock.h"
#include "store/record_file_engine.h"
#include "store/users.h"
#include "store/store_modes.h"
#include "util/bytes.h"

READ_INDEX sREAD_INDEX;
READ_INDEX100 sREAD_INDEX100[READ_INDEX_BATCH];

namespace {

constexpr int MODE_RESIZE = 3;

constexpr std::size_t PATH_SIZE = 1200;
constexpr std::size_t MARK_SIZE = sizeof(READ_INDEX);
constexpr std::size_t MARK_BLOCK_BYTES = 64 * 1024;  // read per call by read_all_marks
constexpr long MARKS_COPIED = 4096;  // a MarkReader reads a file this long whole: 16 KB

using MarkPaths = GuardedFile;

// False for an unsafe user id: the caller then touches no file at all.
bool mark_paths(const char* user_id, long folder_no, MarkPaths& paths) {
    char lock_name[40];
    char data_name[40];
    std::snprintf(lock_name, sizeof lock_name, "r%ld.chk", folder_no);
    std::snprintf(data_name, sizeof data_name, "r%ld.idx", folder_no);
    return user_file_path(paths.lock, sizeof paths.lock, user_id, lock_name) &&
           user_file_path(paths.data, sizeof paths.data, user_id, data_name);
}

// Makes a file of `whole` marks exactly `marks` long, the new marks 0: a torn
// tail beyond the whole marks is cut first, so it cannot leak into a new mark.
bool grow_with_zeros(RecordFile& file, long whole, long marks) {
    return file.truncate_to(whole, MARK_SIZE) && file.truncate_to(marks, MARK_SIZE);
}

int select_mark(const MarkPaths& paths, long sel_no) {
    if (lock_is_busy(paths.lock)) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(paths.data, true)) return STORE_CANNOT_OPEN;
    if (sel_no < 1 || sel_no > file.count(MARK_SIZE)) return STORE_NOT_FOUND;
    READ_INDEX mark{};
    if (!file.read_at(sel_no - 1, &mark, MARK_SIZE)) return STORE_NOT_FOUND;
    sREAD_INDEX = mark;
    return STORE_OK;
}

int insert_mark(const MarkPaths& paths, long sel_no) {
    FileLock lock(paths.lock);
    if (!lock.held()) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(paths.data, true)) return STORE_CANNOT_OPEN;
    const long marks = file.count(MARK_SIZE);
    if (marks >= sel_no) return STORE_NOTHING_TO_CHANGE;
    if (!grow_with_zeros(file, marks, sel_no - 1) || !file.write_at(sel_no - 1, &sREAD_INDEX, MARK_SIZE)) {
        return STORE_CANNOT_OPEN;
    }
    return STORE_OK;
}

int update_mark(const MarkPaths& paths, long sel_no) {
    FileLock lock(paths.lock);
    if (!lock.held()) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(paths.data, true)) return STORE_CANNOT_OPEN;
    if (sel_no < 1 || file.count(MARK_SIZE) < sel_no) return STORE_NOT_FOUND;
    return file.write_at(sel_no - 1, &sREAD_INDEX, MARK_SIZE) ? STORE_OK : STORE_CANNOT_OPEN;
}

int remove_marks(const MarkPaths& paths) {
    FileLock lock(paths.lock);
    if (!lock.held()) return STORE_LOCK_BUSY;
    char data[PATH_SIZE];
    std::snprintf(data, sizeof data, "%s", paths.data);
    Cu_remove(data);
    return STORE_OK;
}

int resize_marks(const MarkPaths& paths, long marks) {
    // A failed count (-2, -9) handed on as the new length must not wipe the marks.
    if (marks < 0) return STORE_NOTHING_TO_CHANGE;
    if (marks == 0) return remove_marks(paths);
    FileLock lock(paths.lock);
    if (!lock.held()) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(paths.data, true)) return STORE_CANNOT_OPEN;
    const long whole = file.count(MARK_SIZE);
    if (whole == marks) return STORE_OK;
    // Cut or extended with unread (zero) marks in place: a deletion resizes
    // every user's marks, and a copy of each file through a flushed temporary
    // one would cost a disk flush per user.
    return grow_with_zeros(file, whole, marks) ? STORE_OK : STORE_CANNOT_OPEN;
}

int batch_entries() {
    int n = 0;
    while (n < READ_INDEX_BATCH && sREAD_INDEX100[n].SEL_NO != 0) ++n;
    return n;
}

// Marks this near each other are read with one call: reading the few marks
// between them costs less than another call.
constexpr long MARK_CLUSTER = 2048;

// The wanted marks in ascending order, each run of near ones with one pread
// (a page of numbers in a row is one read). No mapping of the file: other
// processes cut it in place, and a read simply comes back short.
// file: open already (a reader's batches after its first) or not yet.
int select_batch(const MarkPaths& paths, RecordFile& file) {
    if (lock_is_busy(paths.lock)) return STORE_LOCK_BUSY;
    if (!file.is_open() && !file.open(paths.data, true)) return STORE_CANNOT_OPEN;
    const long marks = file.count(MARK_SIZE);
    const int entries = batch_entries();
    int wanted[READ_INDEX_BATCH];
    int count = 0;
    for (int i = 0; i < entries; ++i) {
        if (sREAD_INDEX100[i].SEL_NO >= 1 && sREAD_INDEX100[i].SEL_NO <= marks) wanted[count++] = i;
    }
    std::sort(wanted, wanted + count,
              [](int a, int b) { return sREAD_INDEX100[a].SEL_NO < sREAD_INDEX100[b].SEL_NO; });
    READ_INDEX cluster[MARK_CLUSTER];
    for (int first = 0; first < count;) {
        const long from = sREAD_INDEX100[wanted[first]].SEL_NO - 1L;
        int last = first;
        while (last + 1 < count && sREAD_INDEX100[wanted[last + 1]].SEL_NO - 1L - from < MARK_CLUSTER) ++last;
        const long span = sREAD_INDEX100[wanted[last]].SEL_NO - from;
        const long got = file.read_block(from, cluster, span, MARK_SIZE);
        for (int j = first; j <= last; ++j) {
            READ_INDEX100& entry = sREAD_INDEX100[wanted[j]];
            const long at = entry.SEL_NO - 1L - from;
            if (at < got) entry.READ_CHK = cluster[at].READ_CHK;  // a mark cut meanwhile keeps the entry
        }
        first = last + 1;
    }
    return STORE_OK;
}

int write_batch(const MarkPaths& paths) {
    FileLock lock(paths.lock);
    if (!lock.held()) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(paths.data, true)) return STORE_CANNOT_OPEN;
    long marks = file.count(MARK_SIZE);
    const int entries = batch_entries();
    for (int i = 0; i < entries; ++i) {
        const READ_INDEX100& entry = sREAD_INDEX100[i];
        if (entry.SEL_NO < 1) continue;
        if (marks < entry.SEL_NO - 1) {
            if (!grow_with_zeros(file, marks, entry.SEL_NO - 1)) return STORE_CANNOT_OPEN;
            marks = entry.SEL_NO - 1;
        }
        const READ_INDEX mark{entry.READ_CHK};
        if (!file.write_at(entry.SEL_NO - 1, &mark, MARK_SIZE)) return STORE_CANNOT_OPEN;
        if (marks < entry.SEL_NO) marks = entry.SEL_NO;
    }
    return STORE_OK;
}

}  // namespace

int Fio_READ_INDEX(const char* in_user_id, long in_folder_no, long in_sel_no, int sql_mode) {
    if (sql_mode == MODE_SELECT) sREAD_INDEX.READ_CHK = 0;
    MarkPaths paths;
    if (!mark_paths(in_user_id, in_folder_no, paths)) return STORE_CANNOT_OPEN;
    switch (sql_mode) {
        case MODE_SELECT: return select_mark(paths, in_sel_no);
        case MODE_INSERT: return insert_mark(paths, in_sel_no);
        case MODE_RESIZE: return resize_marks(paths, in_sel_no);
        case MODE_UPDATE: return update_mark(paths, in_sel_no);
        default: return STORE_NOT_FOUND;
    }
}

int Fio_READ_INDEX100(const char* in_user_id, long in_folder_no, int sql_mode) {
    MarkPaths paths;
    if (!mark_paths(in_user_id, in_folder_no, paths)) return STORE_CANNOT_OPEN;
    switch (sql_mode) {
        case MODE_SELECT: {
            RecordFile file;
            return select_batch(paths, file);
        }
        case MODE_INSERT:
        case MODE_UPDATE: return write_batch(paths);
        case MODE_RESIZE: return remove_marks(paths);
        default: return STORE_NOT_FOUND;
    }
}

MarkReader::MarkReader(const char* in_user_id, long in_folder_no) {
    paths_ok_ = mark_paths(in_user_id, in_folder_no, paths_);
}

int MarkReader::select_batch() {
    if (!paths_ok_) return STORE_CANNOT_OPEN;
    if (!copied_) {
        if (lock_is_busy(paths_.lock)) return STORE_LOCK_BUSY;
        if (!file_.is_open() && !file_.open(paths_.data, true)) return STORE_CANNOT_OPEN;
        const long marks = file_.count(MARK_SIZE);
        if (marks > MARKS_COPIED) return ::select_batch(paths_, file_);
        copy_ = std::make_unique_for_overwrite<READ_INDEX[]>(static_cast<std::size_t>(marks));
        const long got = marks > 0 ? file_.read_block(0, copy_.get(), marks, MARK_SIZE) : 0;
        if (got < 0) return STORE_CANNOT_OPEN;
        copied_count_ = static_cast<std::size_t>(got);  // cut meanwhile: the marks read
        copied_ = true;
    }
    const int entries = batch_entries();
    for (int i = 0; i < entries; ++i) {
        READ_INDEX100& entry = sREAD_INDEX100[i];
        if (entry.SEL_NO >= 1 && static_cast<std::size_t>(entry.SEL_NO) <= copied_count_) {
            entry.READ_CHK = copy_[static_cast<std::size_t>(entry.SEL_NO) - 1].READ_CHK;
        }
    }
    return STORE_OK;
}

int Fio_READ_INDEX_MAXCOUNT(const char* in_user_id, long in_folder_no) {
    MarkPaths paths;
    if (!mark_paths(in_user_id, in_folder_no, paths)) return STORE_CANNOT_OPEN;
    if (lock_is_busy(paths.lock)) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(paths.data, true)) return STORE_CANNOT_OPEN;
    return static_cast<int>(file.count(MARK_SIZE));
}

int Fio_READ_INDEX_COUNT(const char* in_user_id, long in_folder_no) {
    MarkPaths paths;
    if (!mark_paths(in_user_id, in_folder_no, paths)) return STORE_CANNOT_OPEN;
    int read = 0;
    const int result = scan_records(paths.lock, paths.data, MARK_SIZE, [&](long, void* record) {
        if (static_cast<const READ_INDEX*>(record)->READ_CHK == 1) ++read;
        return true;
    });
    return result == STORE_OK ? read : result;
}

int read_all_marks(const char* in_user_id, long in_folder_no, std::vector<READ_INDEX>& marks) {
    marks.clear();
    MarkPaths paths;
    if (!mark_paths(in_user_id, in_folder_no, paths)) return STORE_CANNOT_OPEN;
    // Room for them all at once: growing by blocks would copy the marks read
    // so far and touch fresh memory each time, which costs more than the reads.
    const int stored = Fio_READ_INDEX_MAXCOUNT(in_user_id, in_folder_no);
    if (stored > 0) marks.reserve(static_cast<std::size_t>(stored));
    const int result = scan_record_blocks(paths.lock, paths.data, MARK_SIZE, MARK_BLOCK_BYTES,
                                          [&](long, const void* records, long count) {
                                              const READ_INDEX* block = static_cast<const READ_INDEX*>(records);
                                              marks.insert(marks.end(), block, block + count);
                                              return true;
                                          });
    // A lock taken part way: the first blocks alone are no answer.
    if (result == STORE_LOCK_BUSY) marks.clear();
    return result;
}

int write_mark_run(const char* in_user_id, long in_folder_no, long first_sel_no, const READ_INDEX* marks,
                   long count) {
    MarkPaths paths;
    if (!mark_paths(in_user_id, in_folder_no, paths)) return STORE_CANNOT_OPEN;
    if (first_sel_no < 1 || count < 0) return STORE_NOT_FOUND;
    FileLock lock(paths.lock);
    if (!lock.held()) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(paths.data, true)) return STORE_CANNOT_OPEN;
    const long whole = file.count(MARK_SIZE);
    if (whole < first_sel_no - 1 && !grow_with_zeros(file, whole, first_sel_no - 1)) return STORE_CANNOT_OPEN;
    return file.write_block(first_sel_no - 1, marks, count, MARK_SIZE) ? STORE_OK : STORE_CANNOT_OPEN;
}

void read_marks_for_all_users(long in_folder_no, long in_sel_no, int read_chk, MarkResize resize,
                              long count) {
    // The list is read once, ids only; for_each_user_id has let go of the
    // user list before the first read-mark lock is taken.
    for_each_user_id([&](const char* user_id) {
        sREAD_INDEX.READ_CHK = read_chk;
        const int updated = Fio_READ_INDEX(user_id, in_folder_no, in_sel_no, MODE_UPDATE);
        // A user whose marks stay locked (a killed request's lock, until its
        // stale age) is passed over after one wait, not after three.
        if (updated == STORE_LOCK_BUSY) return;
        if (updated != STORE_OK) Fio_READ_INDEX(user_id, in_folder_no, in_sel_no, MODE_INSERT);
        if (resize == MarkResize::none || count < 0) return;
        if (resize == MarkResize::shrink_only &&
            Fio_READ_INDEX_MAXCOUNT(user_id, in_folder_no) <= count) {
            return;
        }
        Fio_READ_INDEX(user_id, in_folder_no, count, MODE_RESIZE);
    });
}
