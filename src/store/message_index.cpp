#include "store/message_index.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <cstdio>
#include <vector>

#include "store/data_paths.h"
#include "store/index_journal.h"
#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/record_file_engine.h"
#include "store/store_modes.h"
#include "util/dates.h"

BBS_IDX sBBS_IDX;
BBS_IDX sBBS_IDX20[BBS_IDX_PAGE];

namespace {

constexpr std::size_t RECORD = sizeof(BBS_IDX);
constexpr std::size_t PATH_SIZE = 1200;
constexpr int FIRST_FILE = 1;
constexpr int LAST_FILE = 5;
// Records read per system call by the scans: 18 KB, a few pages of buffer.
constexpr long SCAN_BLOCK = 64;
constexpr std::size_t WALK_BLOCK_BYTES = 128 * 1024;  // read per call by a whole-folder walk

// Where an added record goes when it follows no particular record.
constexpr long AT_FRONT = -1;
constexpr long AT_END = LONG_MAX;

struct FolderPaths {
    long folder_no;
    char lock[PATH_SIZE];
    char index[LAST_FILE + 1][PATH_SIZE];  // [1] .. [5]
};

bool compose_paths(long folder_no, FolderPaths& paths) {
    paths.folder_no = folder_no;
    if (!folder_file_path(paths.lock, sizeof paths.lock, folder_no, "bbs.chk")) return false;
    for (int n = FIRST_FILE; n <= LAST_FILE; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "bbs%d.idx", n);
        if (!folder_file_path(paths.index[n], sizeof paths.index[n], folder_no, name)) return false;
    }
    return true;
}

bool is_root(const BBS_IDX& record) { return record.BBS_G_NO == record.SEL_NO; }

long long byte_at(long k) { return static_cast<long long>(k) * static_cast<long long>(RECORD); }

// What is written is always a clean image: padding and RESERVE zero and every
// text terminated within its field, whatever the caller left there.
void clean_record(BBS_IDX& record) {
    std::memset(record.PAD1, 0, sizeof record.PAD1);
    std::memset(record.RESERVE, 0, sizeof record.RESERVE);
    std::memset(record.PAD2, 0, sizeof record.PAD2);
    record.WRITE_DATE[sizeof record.WRITE_DATE - 1] = '\0';
    record.WRITER_ID[sizeof record.WRITER_ID - 1] = '\0';
    record.WRITER_NAME[sizeof record.WRITER_NAME - 1] = '\0';
    record.WRITE_TITLE[sizeof record.WRITE_TITLE - 1] = '\0';
    record.TIME_LIMIT_DATE[sizeof record.TIME_LIMIT_DATE - 1] = '\0';
}

// Reads the whole records of an open index file from position `from` on, a
// block at a time, handing each to visit until it returns false. A torn tail
// (less than a record) is not a record. False when a read fails.
template <typename Visit>
bool scan_open_file(const RecordFile& file, long from, Visit&& visit) {
    auto block = std::make_unique_for_overwrite<BBS_IDX[]>(SCAN_BLOCK);
    char* bytes = reinterpret_cast<char*>(block.get());
    const std::size_t block_bytes = SCAN_BLOCK * RECORD;
    for (long k = from < 0 ? 0 : from;;) {
        std::size_t got = 0;
        const off_t offset = static_cast<off_t>(k) * static_cast<off_t>(RECORD);
        while (got < block_bytes) {
            const ssize_t n = ::pread(file.fd(), bytes + got, block_bytes - got,
                                      offset + static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        const long records = static_cast<long>(got / RECORD);
        for (long i = 0; i < records; ++i, ++k) {
            if (!visit(k, block[i])) return true;
        }
        if (got < block_bytes) return true;
    }
}

// How an insert, an update or a recount changes one index file.
struct Rearrangement {
    // Records that move to the front, keeping their order (a thread that has
    // become the latest active); empty: none move.
    std::function<bool(const BBS_IDX&)> to_front;
    // Applied to each record as it is kept; true when it changed the record.
    std::function<bool(BBS_IDX&)> change;
    // A record to add, after the record at old position `after` (AT_FRONT:
    // before all others, AT_END: after all).
    const BBS_IDX* added = nullptr;
    long after = AT_END;
};

struct PlannedRecord {
    long position;
    BBS_IDX record;
};

// Applies a rearrangement. When the order of the file stays (nothing moves to
// the front that is not there already, and an added record goes at the end),
// only the changed records are written in place and the added one appended:
// each write is one whole record. Otherwise the file is rewritten through its
// ".tmp" copy, which replaces it with one rename(). Each change is announced
// to the session first.
int rearrange_file(IndexWriteSession& session, int file_no, const char* path,
                   const Rearrangement& plan) {
    long count = 0;
    std::vector<PlannedRecord> front;    // in their order
    std::vector<PlannedRecord> changed;  // for the write in place
    bool front_in_place = true;
    {
        RecordFile file;
        if (!file.open(path, true)) return STORE_CANNOT_OPEN;
        count = file.count(RECORD);
        // A plan that only adds needs nothing read first: a new topic appends
        // to two files and heads the other two without a scan.
        const bool scanned = (!plan.to_front && !plan.change) ||
                             scan_open_file(file, 0, [&](long k, const BBS_IDX& record) {
            if (plan.to_front && plan.to_front(record)) {
                if (k != static_cast<long>(front.size())) front_in_place = false;
                front.push_back({k, record});
            }
            if (plan.change) {
                BBS_IDX copy = record;
                if (plan.change(copy)) changed.push_back({k, copy});
            }
            return true;
        });
        if (!scanned) return STORE_CANNOT_OPEN;

        const bool appends = plan.added == nullptr || plan.after == AT_END || plan.after >= count - 1;
        if (front_in_place && appends) {
            for (const PlannedRecord& c : changed) {
                if (!session.before_write(file_no, file.fd(), byte_at(c.position), RECORD) ||
                    !file.write_at(c.position, &c.record, RECORD)) {
                    return STORE_CANNOT_OPEN;
                }
            }
            if (plan.added == nullptr) return STORE_OK;
            if (!session.before_write(file_no, file.fd(), byte_at(count), RECORD)) return STORE_CANNOT_OPEN;
            if (!file.write_at(count, plan.added, RECORD)) {
                file.truncate_to(count, RECORD);  // no torn record left behind
                return STORE_CANNOT_OPEN;
            }
            return STORE_OK;
        }
    }

    if (!session.before_replace(file_no)) return STORE_CANNOT_OPEN;
    bool added_done = plan.added == nullptr;
    bool added_next = false;  // the record just kept is the one the added record follows
    bool front_done = false;
    auto write_added = [&](RecordOutput& out) {
        if (!added_done) out.write(plan.added);
        added_done = true;
    };
    auto write_front = [&](RecordOutput& out) {
        front_done = true;
        if (plan.after == AT_FRONT) write_added(out);
        for (PlannedRecord& f : front) {
            if (plan.change) plan.change(f.record);
            out.write(&f.record);
            if (f.position == plan.after) write_added(out);
        }
    };
    return rewrite_records_locked(
        path, RECORD,
        [&](long k, void* data, RecordOutput& out) {
            if (!front_done) write_front(out);
            if (added_next) {
                write_added(out);
                added_next = false;
            }
            BBS_IDX& record = *static_cast<BBS_IDX*>(data);
            if (plan.to_front && plan.to_front(record)) return RecordVerdict::drop;
            if (plan.change) plan.change(record);
            if (k == plan.after) added_next = true;
            return RecordVerdict::keep;
        },
        [&](RecordOutput& out) {
            if (!front_done) write_front(out);
            write_added(out);
            return STORE_OK;
        });
}

// Where a reply to P in thread G goes in one thread-ordered file ("bbs4.idx",
// "bbs5.idx"): the position of the record it follows. A starts at P; each
// earlier reply to P moves it to the end of that reply's subtree, the records
// that follow being consumed while their CLASS is at least the reply's (the
// record that ends the run is not tested itself). When P is not in the file
// (removed for good) and no reply to it is either, the reply follows the
// last record of its thread; AT_FRONT / AT_END when the thread has none left,
// depending on where a new topic goes in this file.
int find_reply_place(const char* path, int32_t parent, int32_t thread, long new_topic_place,
                     long& place) {
    RecordFile file;
    if (!file.open(path, true)) return STORE_CANNOT_OPEN;
    long parent_at = -1;
    long reply_end = -1;
    long thread_last = -1;
    bool consuming = false;
    int32_t consume_class = 0;
    const bool scanned = scan_open_file(file, 0, [&](long k, const BBS_IDX& record) {
        if (record.BBS_G_NO == thread) thread_last = k;
        if (record.SEL_NO == parent && parent_at < 0) parent_at = k;
        if (consuming) {
            // A record of another thread ends the run too: a thread whose root
            // is gone starts with a reply, whose CLASS would not end it.
            if (record.CLASS >= consume_class && record.BBS_G_NO == thread) {
                reply_end = k;
                return true;
            }
            consuming = false;
            return true;
        }
        if (record.UP_NO == parent) {
            reply_end = k;
            consuming = true;
            consume_class = record.CLASS;
        }
        return true;
    });
    if (!scanned) return STORE_CANNOT_OPEN;
    if (reply_end >= 0) {
        place = reply_end;
    } else if (parent_at >= 0) {
        place = parent_at;
    } else if (thread_last >= 0) {
        place = thread_last;
    } else {
        place = new_topic_place;
    }
    return STORE_OK;
}

// Removes every record of message S from a file: a cut of the file when its
// only record is the last one, a rewrite through ".tmp" otherwise.
int remove_from_file(IndexWriteSession& session, int file_no, const char* path, int32_t sel_no) {
    long count = 0;
    long found = 0;
    long last_found = -1;
    {
        RecordFile file;
        if (!file.open(path, true)) return STORE_CANNOT_OPEN;
        count = file.count(RECORD);
        const bool scanned = scan_open_file(file, 0, [&](long k, const BBS_IDX& record) {
            if (record.SEL_NO == sel_no) {
                ++found;
                last_found = k;
            }
            return true;
        });
        if (!scanned) return STORE_CANNOT_OPEN;
        if (found == 0) return STORE_OK;
        if (found == 1 && last_found == count - 1) {
            return session.before_truncate(file_no, file.fd(), byte_at(count - 1)) &&
                           file.truncate_to(count - 1, RECORD)
                       ? STORE_OK
                       : STORE_CANNOT_OPEN;
        }
    }
    if (!session.before_replace(file_no)) return STORE_CANNOT_OPEN;
    return rewrite_records_locked(
        path, RECORD,
        [&](long, void* data, RecordOutput&) {
            return static_cast<BBS_IDX*>(data)->SEL_NO == sel_no ? RecordVerdict::drop
                                                                 : RecordVerdict::keep;
        },
        [](RecordOutput&) { return STORE_OK; });
}

// Marks the first record of message S deleted, in place.
int mark_in_file(IndexWriteSession& session, int file_no, const char* path, int32_t sel_no) {
    RecordFile file;
    if (!file.open(path, true)) return STORE_CANNOT_OPEN;
    long at = -1;
    BBS_IDX found{};
    const bool scanned = scan_open_file(file, 0, [&](long k, const BBS_IDX& record) {
        if (record.SEL_NO != sel_no) return true;
        at = k;
        found = record;
        return false;
    });
    if (!scanned) return STORE_CANNOT_OPEN;
    if (at < 0 || found.DEL_FLG == 1) return STORE_OK;
    found.DEL_FLG = 1;
    return session.before_write(file_no, file.fd(), byte_at(at), RECORD) && file.write_at(at, &found, RECORD)
               ? STORE_OK
               : STORE_CANNOT_OPEN;
}

// The first failure is the operation's result; the files after it are still
// brought as far as they can be.
void note(int& result, int step) {
    if (result == STORE_OK && step != STORE_OK) result = step;
}

int insert_records(IndexWriteSession& session, const FolderPaths& paths);

// With place_files, the message's own files are written before the insert
// stands, and a failed step takes the insert back whole.
int insert_message(const FolderPaths& paths, const std::function<int(long sel_no)>& place_files) {
    IndexWriteSession session(paths.folder_no);
    if (session.status() != STORE_OK) return session.status();
    int result = insert_records(session, paths);
    if (!place_files) return result;
    try {
        if (result == STORE_OK) result = place_files(sBBS_IDX.SEL_NO);
    } catch (...) {
        session.take_back();  // else the session's end would let the insert stand
        throw;
    }
    if (result != STORE_OK) {
        session.take_back();
        return result;
    }
    // The caller goes on as if the message were there (a move removes the
    // original): an insert that does not stand now must not say 0.
    return session.commit_now() ? STORE_OK : STORE_CANNOT_OPEN;
}

int insert_records(IndexWriteSession& session, const FolderPaths& paths) {

    RecordFile bbs1;
    if (!bbs1.open(paths.index[1], true)) return STORE_CANNOT_OPEN;
    const long count = bbs1.count(RECORD);
    const int32_t parent = sBBS_IDX.SEL_NO;
    if (parent > count) return STORE_NOTHING_TO_CHANGE;

    BBS_IDX added = sBBS_IDX;
    clean_record(added);
    added.SEL_NO = static_cast<int32_t>(count + 1);
    added.RES_COUNT = 0;
    if (parent < 1) {
        added.UP_NO = 0;
        added.BBS_G_NO = added.SEL_NO;
        added.CLASS = 0;
    } else {
        BBS_IDX answered{};
        if (!bbs1.read_at(parent - 1, &answered, RECORD)) return STORE_CANNOT_OPEN;
        added.UP_NO = parent;
        added.BBS_G_NO = answered.BBS_G_NO;
        added.CLASS = answered.CLASS + 1;
    }
    Tm_set_date(added.WRITE_DATE);

    // The number is taken by the record in bbs1.idx; a failed write leaves no
    // torn record there, so the number stays free.
    if (!session.before_write(1, bbs1.fd(), byte_at(count), RECORD)) return STORE_CANNOT_OPEN;
    if (!bbs1.write_at(count, &added, RECORD)) {
        bbs1.truncate_to(count, RECORD);
        return STORE_CANNOT_OPEN;
    }
    bbs1 = RecordFile();
    sBBS_IDX = added;

    const bool reply = parent >= 1;
    const int32_t thread = added.BBS_G_NO;
    auto is_thread_root = [thread](const BBS_IDX& r) { return r.SEL_NO == thread; };
    auto count_reply = [thread](BBS_IDX& r) {
        if (r.SEL_NO != thread) return false;
        ++r.RES_COUNT;
        return true;
    };
    int result = STORE_OK;

    Rearrangement roots;  // bbs2.idx: a new topic at the end, a reply counted on its root
    if (reply) {
        roots.change = count_reply;
    } else {
        roots.added = &added;
        roots.after = AT_END;
    }
    note(result, rearrange_file(session, 2, paths.index[2], roots));

    Rearrangement active_roots;  // bbs3.idx: the topic or the replied thread first
    if (reply) {
        active_roots.to_front = is_thread_root;
        active_roots.change = count_reply;
    } else {
        active_roots.added = &added;
        active_roots.after = AT_FRONT;
    }
    note(result, rearrange_file(session, 3, paths.index[3], active_roots));

    Rearrangement threads;  // bbs4.idx
    threads.added = &added;
    threads.after = AT_END;
    if (reply) {
        const int step = find_reply_place(paths.index[4], parent, thread, AT_END, threads.after);
        note(result, step);
        if (step == STORE_OK) note(result, rearrange_file(session, 4, paths.index[4], threads));
    } else {
        note(result, rearrange_file(session, 4, paths.index[4], threads));
    }

    Rearrangement active_threads;  // bbs5.idx: the thread first, with its new record
    active_threads.added = &added;
    active_threads.after = AT_FRONT;
    if (reply) {
        active_threads.to_front = [thread](const BBS_IDX& r) { return r.BBS_G_NO == thread; };
        const int step =
            find_reply_place(paths.index[5], parent, thread, AT_FRONT, active_threads.after);
        note(result, step);
        if (step == STORE_OK) note(result, rearrange_file(session, 5, paths.index[5], active_threads));
    } else {
        note(result, rearrange_file(session, 5, paths.index[5], active_threads));
    }
    return result;
}

// Whether message S may leave the thread lists: not while one of its direct
// replies is there, live or a place holder itself. (Going by live replies
// alone would drop a root whose only reply is a place holder with live
// replies below, and their thread would lose its root in bbs2/bbs3.)
int may_go_for_good(const FolderPaths& paths, const RecordFile& bbs1, int32_t sel_no, bool& may_go) {
    may_go = true;
    if (!scan_open_file(bbs1, sel_no, [&](long, const BBS_IDX& r) {
            if (r.UP_NO == sel_no && r.DEL_FLG != 1) may_go = false;
            return may_go;
        })) {
        return STORE_CANNOT_OPEN;
    }
    if (!may_go) return STORE_OK;
    RecordFile bbs4;
    if (!bbs4.open(paths.index[4], true)) return STORE_CANNOT_OPEN;
    if (!scan_open_file(bbs4, 0, [&](long, const BBS_IDX& r) {
            if (r.UP_NO == sel_no) may_go = false;
            return may_go;
        })) {
        return STORE_CANNOT_OPEN;
    }
    return STORE_OK;
}

int delete_records(IndexWriteSession& session, const FolderPaths& paths, const BBS_IDX* expected);
bool still_the_message(const BBS_IDX& expected, const BBS_IDX& stored);

// With remove_files, the message's files go once the delete stands, before
// the lock is released: the number a delete frees may be the next post's, and
// files removed later could be that post's.
int delete_message(const FolderPaths& paths, const std::function<void()>& remove_files,
                   const BBS_IDX* expected) {
    if (sBBS_IDX.SEL_NO < 1) return STORE_NOT_FOUND;
    IndexWriteSession session(paths.folder_no);
    if (session.status() != STORE_OK) return session.status();
    const long sel_no = sBBS_IDX.SEL_NO;
    const int result = delete_records(session, paths, expected);
    if (result == STORE_OK && remove_files) {
        // A delete that does not stand (the next writer takes it back) keeps its files.
        if (!session.commit_removing(sel_no, remove_files)) return STORE_CANNOT_OPEN;
    }
    return result;
}

// The message a caller read from bbs1.idx before the lock, against the record
// under that number now: a delete and a post in between may have given the
// number to another message, and a delete in between may have deleted it
// already. Every byte counts but the reply count, which replies change.
bool still_the_message(const BBS_IDX& expected, const BBS_IDX& stored) {
    BBS_IDX a = expected;
    BBS_IDX b = stored;
    a.RES_COUNT = b.RES_COUNT = 0;
    a.FOLDER_NO = b.FOLDER_NO = 0;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

int delete_records(IndexWriteSession& session, const FolderPaths& paths, const BBS_IDX* expected) {
    const int32_t sel_no = sBBS_IDX.SEL_NO;

    RecordFile bbs1;
    if (!bbs1.open(paths.index[1], true)) return STORE_CANNOT_OPEN;
    const long count = bbs1.count(RECORD);
    if (sel_no > count) return STORE_NOT_FOUND;
    BBS_IDX record{};
    if (!bbs1.read_at(sel_no - 1, &record, RECORD)) return STORE_CANNOT_OPEN;
    if (expected != nullptr && !still_the_message(*expected, record)) return STORE_NOT_FOUND;
    record.DEL_FLG = 1;
    sBBS_IDX = record;

    bool may_go = true;
    const int decided = may_go_for_good(paths, bbs1, sel_no, may_go);
    if (decided != STORE_OK) return decided;

    int result = STORE_OK;
    if (may_go && sel_no == count) {
        // The last number is given again to the next message.
        if (!session.before_truncate(1, bbs1.fd(), byte_at(count - 1)) || !bbs1.truncate_to(count - 1, RECORD)) {
            note(result, STORE_CANNOT_OPEN);
        }
    } else if (!session.before_write(1, bbs1.fd(), byte_at(sel_no - 1), RECORD) ||
               !bbs1.write_at(sel_no - 1, &record, RECORD)) {
        note(result, STORE_CANNOT_OPEN);
    }
    bbs1 = RecordFile();

    for (int n = 2; n <= LAST_FILE; ++n) {
        if ((n == 2 || n == 3) && !is_root(record)) continue;
        note(result, may_go ? remove_from_file(session, n, paths.index[n], sel_no)
                            : mark_in_file(session, n, paths.index[n], sel_no));
    }
    return result;
}

int update_message(const FolderPaths& paths, const BBS_IDX* expected) {
    const int32_t sel_no = sBBS_IDX.SEL_NO;
    if (sel_no < 1) return STORE_NOT_FOUND;
    IndexWriteSession session(paths.folder_no);
    if (session.status() != STORE_OK) return session.status();

    RecordFile bbs1;
    if (!bbs1.open(paths.index[1], true)) return STORE_CANNOT_OPEN;
    if (sel_no > bbs1.count(RECORD)) return STORE_NOT_FOUND;
    BBS_IDX stored{};
    if (!bbs1.read_at(sel_no - 1, &stored, RECORD)) return STORE_CANNOT_OPEN;
    if (expected != nullptr && !still_the_message(*expected, stored)) return STORE_NOT_FOUND;

    // The thread fields and the deletion belong to insert and delete: an edit
    // cannot move a message to another thread or bring a deleted one back.
    BBS_IDX updated = sBBS_IDX;
    clean_record(updated);
    updated.SEL_NO = sel_no;
    updated.UP_NO = stored.UP_NO;
    updated.BBS_G_NO = stored.BBS_G_NO;
    updated.CLASS = stored.CLASS;
    updated.DEL_FLG = stored.DEL_FLG;
    updated.RES_COUNT = stored.RES_COUNT;
    if (!session.before_write(1, bbs1.fd(), byte_at(sel_no - 1), RECORD) ||
        !bbs1.write_at(sel_no - 1, &updated, RECORD)) {
        return STORE_CANNOT_OPEN;
    }
    bbs1 = RecordFile();
    sBBS_IDX = updated;

    const int32_t thread = updated.BBS_G_NO;
    Rearrangement plan;
    plan.change = [&updated](BBS_IDX& r) {
        if (r.SEL_NO != updated.SEL_NO) return false;
        const int32_t own_count = r.RES_COUNT;
        r = updated;
        r.RES_COUNT = own_count;
        return true;
    };
    Rearrangement to_front = plan;
    to_front.to_front = [thread](const BBS_IDX& r) { return r.BBS_G_NO == thread; };

    int result = STORE_OK;
    note(result, rearrange_file(session, 2, paths.index[2], plan));
    note(result, rearrange_file(session, 3, paths.index[3], to_front));
    note(result, rearrange_file(session, 4, paths.index[4], plan));
    note(result, rearrange_file(session, 5, paths.index[5], to_front));
    return result;
}

// A reader's two paths: a quarter of FolderPaths on the stack, and one index
// path composed instead of five.
static_assert(sizeof(IndexReaderPaths::index) == PATH_SIZE, "the same paths as a writer's");
bool compose_reader_paths(long folder_no, int file_no, IndexReaderPaths& paths) {
    char name[16];
    std::snprintf(name, sizeof name, "bbs%d.idx", file_no);
    return folder_file_path(paths.lock, sizeof paths.lock, folder_no, "bbs.chk") &&
           folder_file_path(paths.index, sizeof paths.index, folder_no, name);
}

int select_message(long folder_no) {
    IndexReaderPaths paths;
    if (!compose_reader_paths(folder_no, 1, paths)) return STORE_CANNOT_OPEN;
    const int32_t sel_no = sBBS_IDX.SEL_NO;
    if (sel_no < 1) return STORE_NOT_FOUND;
    if (lock_is_busy(paths.lock)) return STORE_LOCK_BUSY;
    RecordFile bbs1;
    if (!bbs1.open(paths.index, true)) return STORE_CANNOT_OPEN;
    BBS_IDX record{};
    if (!bbs1.read_at(sel_no - 1, &record, RECORD)) return STORE_NOT_FOUND;
    sBBS_IDX = record;
    return STORE_OK;
}

// Thread number of record k, read alone; false when it cannot be read whole.
bool thread_no_at(const RecordFile& file, long k, int32_t& thread, ThreadProbes& probes) {
    for (int i = 0; i < probes.kept; ++i) {
        if (probes.position[i] == k) {
            thread = probes.thread[i];
            return true;
        }
    }
    const off_t offset = static_cast<off_t>(k) * static_cast<off_t>(RECORD) +
                         static_cast<off_t>(offsetof(BBS_IDX, BBS_G_NO));
    for (;;) {
        const ssize_t n = ::pread(file.fd(), &thread, sizeof thread, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof thread)) return false;
        if (probes.kept < ThreadProbes::kKept) {
            probes.position[probes.kept] = k;
            probes.thread[probes.kept] = thread;
            ++probes.kept;
        }
        return true;
    }
}

// A search ends on a window of this many records, read with one call; a long
// thread is read on in blocks of the scans' size.
constexpr long THREAD_WINDOW = 64;
static_assert(THREAD_WINDOW <= SCAN_BLOCK, "a search window is read into one scan block");

// Where thread `thread` stands in "bbs4.idx" (count records), found on the
// order the writers keep there: threads by ascending thread number. One probe
// where the numbers at the ends put the thread, probes in growing steps from
// there until the thread is passed, then halving, until a probe meets the
// thread or the range is a window: [from, to) then holds a record of the
// thread if it is in the order at all. A few probes of one number each, since
// thread numbers grow about evenly through the file; no more than about two
// binary searches when they do not. False when the ends already rule the
// thread out or a read fails.
bool find_thread_window(const RecordFile& file, long count, int32_t thread, long& from, long& to,
                        ThreadProbes& probes) {
    if (count <= 0) return false;
    long lo = 0;
    long hi = count - 1;
    int32_t at_lo = 0;
    int32_t at_hi = 0;
    if (!thread_no_at(file, lo, at_lo, probes) || at_lo > thread) return false;
    long hit = at_lo == thread ? lo : -1;
    if (hit < 0 && (!thread_no_at(file, hi, at_hi, probes) || at_hi < thread)) return false;
    if (hit < 0 && at_hi == thread) hit = hi;

    // Keeps at_lo < thread < at_hi; true when the probe met the thread.
    auto probe = [&](long k) {
        int32_t at = 0;
        if (!thread_no_at(file, k, at, probes)) return false;
        if (at == thread) {
            hit = k;
        } else if (at < thread) {
            lo = k;
            at_lo = at;
        } else {
            hi = k;
            at_hi = at;
        }
        return true;
    };
    if (hit < 0 && hi - lo > THREAD_WINDOW) {
        const int64_t estimate =
            (static_cast<int64_t>(thread) - at_lo) * (hi - lo) / (static_cast<int64_t>(at_hi) - at_lo);
        long k = lo + static_cast<long>(estimate);
        if (k <= lo) k = lo + 1;
        if (k >= hi) k = hi - 1;
        if (!probe(k)) return false;
        const bool upward = lo == k;
        for (long step = THREAD_WINDOW; hit < 0 && hi - lo > THREAD_WINDOW; step *= 2) {
            const long next = upward ? lo + step : hi - step;
            if (next <= lo || next >= hi) break;
            if (!probe(next)) return false;
            if (upward ? lo != next : hi != next) break;  // passed it
        }
    }
    while (hit < 0 && hi - lo > THREAD_WINDOW) {
        if (!probe(lo + (hi - lo) / 2)) return false;
    }
    if (hit < 0) {
        from = lo + 1;  // the ends are known not to be the thread
        to = hi;
    } else {
        // Mostly the thread's start and its batch in one read.
        from = hit > THREAD_WINDOW / 2 ? hit - THREAD_WINDOW / 2 : 0;
        to = from + THREAD_WINDOW < count ? from + THREAD_WINDOW : count;
    }
    return from < to;
}

// The records of a thread from its record start_sel_no on (from its first
// when start_sel_no is 0), handed to visit until it returns false, without
// reading "bbs4.idx" from its start: a search, one read of the window it ends
// on, a walk back when the thread begins before the window, reads on while
// the thread goes on. Found when the start record was met there; not found
// when the thread or its start record is not there (no record was visited),
// so the caller scans the whole file; failed when a read failed after records
// were visited. Each thread stands in one piece and each message once (the
// writers keep both; the checker reports a break), so what is found here is
// what a scan from the start finds.
enum class ThreadWalk { found, not_found, failed };

template <typename Visit>
ThreadWalk walk_thread_by_search(const RecordFile& file, int32_t thread, int32_t start_sel_no, Visit&& visit,
                                 ThreadProbes& probes) {
    if (probes.count < 0) probes.count = file.count(RECORD);
    const long count = probes.count;
    if (!probes.block) probes.block.reset(new BBS_IDX[SCAN_BLOCK]);
    BBS_IDX* block = probes.block.get();
    // Reads records from k on into the block, which then holds them.
    auto read_into_block = [&](long k, long wanted) {
        const long got = file.read_block(k, block, wanted, RECORD);
        probes.block_from = k;
        probes.block_have = got > 0 ? got : 0;
        return got;
    };

    long at = 0;    // the record in the block
    long have = 0;  // records in the block
    long next = 0;  // the record after the block
    // A thread that begins among the records read last needs no search.
    long cached = 0;
    while (cached < probes.block_have && block[cached].BBS_G_NO != thread) ++cached;
    if (cached < probes.block_have && (cached > 0 || probes.block_from == 0)) {
        at = cached;
        have = probes.block_have;
        next = probes.block_from + have;
    } else {
        long from = 0;
        long to = 0;
        if (!find_thread_window(file, count, thread, from, to, probes)) return ThreadWalk::not_found;
        have = read_into_block(from, to - from);
        if (have != to - from) return ThreadWalk::not_found;
        while (at < have && block[at].BBS_G_NO != thread) ++at;
        if (at == have) return ThreadWalk::not_found;
        next = from + have;
        if (at == 0 && from > 0) {
            long first = from;
            while (first > 0) {
                const long back = first > THREAD_WINDOW ? first - THREAD_WINDOW : 0;
                const long wanted = first - back;
                if (read_into_block(back, wanted) != wanted) return ThreadWalk::not_found;
                long i = wanted;
                while (i > 0 && block[i - 1].BBS_G_NO == thread) --i;
                first = back + i;
                if (i > 0) break;
            }
            have = 0;
            next = first;
        }
    }

    bool started = start_sel_no == 0;
    for (;;) {
        for (; at < have; ++at) {
            const BBS_IDX& record = block[at];
            if (record.BBS_G_NO != thread) return started ? ThreadWalk::found : ThreadWalk::not_found;
            if (!started && record.SEL_NO != start_sel_no) continue;
            started = true;
            if (!visit(record)) return ThreadWalk::found;
        }
        if (next >= count) return started ? ThreadWalk::found : ThreadWalk::not_found;
        have = read_into_block(next, SCAN_BLOCK);
        if (have < 0) return started ? ThreadWalk::failed : ThreadWalk::not_found;
        if (have == 0) return started ? ThreadWalk::found : ThreadWalk::not_found;
        at = 0;
        next += have;
    }
}

// The readers' start: the lock only tested, the file created when missing.
int open_for_reading(long folder_no, int access_mode, RecordFile& file) {
    if (access_mode < FIRST_FILE || access_mode > LAST_FILE) return STORE_NOT_FOUND;
    IndexReaderPaths paths;
    if (!compose_reader_paths(folder_no, access_mode, paths)) return STORE_CANNOT_OPEN;
    if (lock_is_busy(paths.lock)) return STORE_LOCK_BUSY;
    if (!file.open(paths.index, true)) return STORE_CANNOT_OPEN;
    return STORE_OK;
}

}  // namespace

int Fio_BBS_IDX(int sql_mode) {
    if (sql_mode == MODE_SELECT) return select_message(sBBS_IDX.FOLDER_NO);
    FolderPaths paths;
    if (!compose_paths(sBBS_IDX.FOLDER_NO, paths)) return STORE_CANNOT_OPEN;
    switch (sql_mode) {
        case MODE_INSERT: return insert_message(paths, nullptr);
        case MODE_DELETE: return delete_message(paths, nullptr, nullptr);
        case MODE_UPDATE: return update_message(paths, nullptr);
        default: return STORE_NOT_FOUND;
    }
}

int Fio_BBS_IDX_INSERT(const std::function<int(long sel_no)>& place_files) {
    FolderPaths paths;
    if (!compose_paths(sBBS_IDX.FOLDER_NO, paths)) return STORE_CANNOT_OPEN;
    return insert_message(paths, place_files);
}

int Fio_BBS_IDX_UPDATE(const BBS_IDX& expected) {
    FolderPaths paths;
    if (!compose_paths(sBBS_IDX.FOLDER_NO, paths)) return STORE_CANNOT_OPEN;
    return update_message(paths, &expected);
}

int Fio_BBS_IDX_DELETE(const std::function<void()>& remove_files, const BBS_IDX* expected) {
    FolderPaths paths;
    if (!compose_paths(sBBS_IDX.FOLDER_NO, paths)) return STORE_CANNOT_OPEN;
    return delete_message(paths, remove_files, expected);
}

int Fio_BBS_IDX20(long folder_no, int access_mode, long disp_page) {
    std::memset(sBBS_IDX20, 0, sizeof sBBS_IDX20);
    RecordFile file;
    const int opened = open_for_reading(folder_no, access_mode, file);
    if (opened != STORE_OK) return opened;
    const long count = file.count(RECORD);
    const long page = disp_page < 1 ? 1 : disp_page;
    // Pages past the end are refused before the first position is computed,
    // so a huge page number cannot overflow into a valid position.
    if (page - 1 >= (count + BBS_IDX_PAGE - 1) / BBS_IDX_PAGE) return STORE_NOT_FOUND;
    const long first = (page - 1) * BBS_IDX_PAGE;
    const long got = file.read_block(first, sBBS_IDX20, BBS_IDX_PAGE, RECORD);
    if (got < 0) {
        std::memset(sBBS_IDX20, 0, sizeof sBBS_IDX20);
        return STORE_NOT_FOUND;
    }
    if (got < BBS_IDX_PAGE) std::memset(&sBBS_IDX20[got], 0, RECORD);  // a torn tail read
    return got > 0 ? STORE_OK : STORE_NOT_FOUND;
}

long Fio_BBS_IDX_MAXCOUNT(long folder_no, int access_mode) {
    RecordFile file;
    const int opened = open_for_reading(folder_no, access_mode, file);
    if (opened != STORE_OK) return opened;
    return file.count(RECORD);
}

int scan_message_index(long folder_no, int access_mode,
                       const std::function<bool(long k, const BBS_IDX& record)>& visit) {
    if (access_mode < FIRST_FILE || access_mode > LAST_FILE) return STORE_NOT_FOUND;
    FolderPaths paths;
    if (!compose_paths(folder_no, paths)) return STORE_CANNOT_OPEN;
    return scan_record_blocks(paths.lock, paths.index[access_mode], RECORD, WALK_BLOCK_BYTES,
                              [&](long first, const void* records, long count) {
                                  // The block comes from operator new, aligned for any record.
                                  const BBS_IDX* block = static_cast<const BBS_IDX*>(records);
                                  for (long i = 0; i < count; ++i) {
                                      if (!visit(first + i, block[i])) return false;
                                  }
                                  return true;
                              });
}

// The search (walk_thread_by_search) first; a scan of the whole file when it
// does not meet the thread's records.
int scan_thread(long folder_no, long in_g_no, long start_sel_no,
                const std::function<bool(const BBS_IDX& record)>& visit) {
    ThreadReader reader(folder_no);
    return reader.scan(in_g_no, start_sel_no, visit);
}

ThreadReader::ThreadReader(long folder_no) { paths_ok_ = compose_reader_paths(folder_no, 4, paths_); }

int ThreadReader::scan(long in_g_no, long start_sel_no,
                       const std::function<bool(const BBS_IDX& record)>& visit) {
    if (in_g_no < 1 || start_sel_no < 0) return STORE_NOT_FOUND;
    if (!paths_ok_) return STORE_CANNOT_OPEN;
    if (lock_is_busy(paths_.lock)) return STORE_LOCK_BUSY;
    if (!file_.is_open() && !file_.open(paths_.index, true)) return STORE_CANNOT_OPEN;
    const RecordFile& file = file_;
    if (in_g_no <= INT32_MAX && start_sel_no <= INT32_MAX) {
        const ThreadWalk walked = walk_thread_by_search(file, static_cast<int32_t>(in_g_no),
                                                        static_cast<int32_t>(start_sel_no), visit, probes_);
        if (walked == ThreadWalk::found) return STORE_OK;
        if (walked == ThreadWalk::failed) return STORE_CANNOT_OPEN;
    }
    // Not found where the order puts it: a thread placed out of order, a
    // start record elsewhere, or no such thread. The whole file decides.
    bool started = false;
    const bool scanned = scan_open_file(file, 0, [&](long, const BBS_IDX& record) {
        if (!started) {
            started = start_sel_no == 0 ? record.BBS_G_NO == in_g_no : record.SEL_NO == start_sel_no;
            if (!started) return true;
        }
        if (record.BBS_G_NO != in_g_no) return false;
        return visit(record);
    });
    if (!scanned) return STORE_CANNOT_OPEN;
    return started ? STORE_OK : STORE_NOT_FOUND;
}

int Fio_BBS_IDX_G20(long folder_no, long in_g_no, long start_sel_no) {
    std::memset(sBBS_IDX20, 0, sizeof sBBS_IDX20);
    int got = 0;
    const int result = scan_thread(folder_no, in_g_no, start_sel_no, [&](const BBS_IDX& record) {
        sBBS_IDX20[got++] = record;
        return got < BBS_IDX_PAGE;
    });
    if (result != STORE_OK) std::memset(sBBS_IDX20, 0, sizeof sBBS_IDX20);
    return result;
}

int Fio_BBS_IDX_REBUILD(long folder_no) {
    FolderPaths paths;
    if (!compose_paths(folder_no, paths)) return STORE_CANNOT_OPEN;
    IndexWriteSession session(folder_no);
    if (session.status() != STORE_OK) return session.status();

    std::vector<int32_t> in_thread;  // records of bbs1.idx per thread number
    {
        RecordFile bbs1;
        if (!bbs1.open(paths.index[1], true)) return STORE_CANNOT_OPEN;
        in_thread.assign(static_cast<std::size_t>(bbs1.count(RECORD)) + 1, 0);
        const bool scanned = scan_open_file(bbs1, 0, [&](long, const BBS_IDX& r) {
            if (r.BBS_G_NO >= 1 && static_cast<std::size_t>(r.BBS_G_NO) < in_thread.size()) {
                ++in_thread[static_cast<std::size_t>(r.BBS_G_NO)];
            }
            return true;
        });
        if (!scanned) return STORE_CANNOT_OPEN;
    }
    Rearrangement recount;
    recount.change = [&in_thread](BBS_IDX& r) {
        int32_t replies = 0;
        if (r.SEL_NO >= 1 && static_cast<std::size_t>(r.SEL_NO) < in_thread.size()) {
            replies = in_thread[static_cast<std::size_t>(r.SEL_NO)] - 1;
        }
        if (replies < 0) replies = 0;
        if (r.RES_COUNT == replies) return false;
        r.RES_COUNT = replies;
        return true;
    };
    int result = STORE_OK;
    note(result, rearrange_file(session, 2, paths.index[2], recount));
    note(result, rearrange_file(session, 3, paths.index[3], recount));
    return result;
}

void clean_BBS_IDX(BBS_IDX& record) { clean_record(record); }
