// Read marks: per user and folder, "user\\<id>\\r<folder>.idx" holds one 4-byte
// mark per message number (mark n at byte (n - 1) x 4): 1 read, 0 unread. The
// file is usually shorter than the folder's index; a message beyond its end
// has no mark. Guarded by "r<folder>.chk" beside it.
//
// Every operation refuses a user id that is not a safe path component with -2
// before it touches any file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "store/data_paths.h"
#include "store/record_file_engine.h"

struct READ_INDEX {
    int32_t READ_CHK;  // 1 read, 0 unread
};

struct READ_INDEX100 {
    int32_t SEL_NO;    // 0 ends a list
    int32_t READ_CHK;
};

static_assert(sizeof(READ_INDEX) == 4);
static_assert(sizeof(READ_INDEX100) == 8);
static_assert(offsetof(READ_INDEX100, SEL_NO) == 0);
static_assert(offsetof(READ_INDEX100, READ_CHK) == 4);

constexpr int READ_INDEX_BATCH = 100;

extern READ_INDEX sREAD_INDEX;
extern READ_INDEX100 sREAD_INDEX100[READ_INDEX_BATCH];

// One mark, with N the number of marks when the call begins:
//   1 select: sREAD_INDEX := mark in_sel_no, or 0 and -1 when there is none.
//   2 insert: -3 when N >= in_sel_no; else marks N+1 .. in_sel_no-1 become 0 and
//             sREAD_INDEX becomes mark in_sel_no.
//   3 resize: exactly in_sel_no marks (0 removes the file; missing ones 0).
//             A negative count (a failed count passed on) changes nothing: -3.
//   4 update: -1 when N < in_sel_no; else sREAD_INDEX over mark in_sel_no.
// 0; -2 cannot open or short write; -9 locked.
int Fio_READ_INDEX(const char* in_user_id, long in_folder_no, long in_sel_no, int sql_mode);

// The list in sREAD_INDEX100 (ends at SEL_NO 0 or after 100 entries):
//   1 select: each entry within the file gets its READ_CHK from it; others stay.
//   2, 4 write: each entry's READ_CHK becomes mark SEL_NO, the file extended
//               with 0 marks where needed.
//   3 reset: removes the file.
// 0; -2; -9.
int Fio_READ_INDEX100(const char* in_user_id, long in_folder_no, int sql_mode);

// The select of Fio_READ_INDEX100 for many batches of one user's marks in one
// folder (a list page checks the threads of all its rows). The first batch
// that finds the lock free reads a file of up to 4,096 marks whole, and the
// later batches are answered from that copy; a longer file stays open and
// each batch tests the lock and reads what it needs.
class MarkReader {
public:
    MarkReader(const char* in_user_id, long in_folder_no);
    int select_batch();  // Fio_READ_INDEX100(in_user_id, in_folder_no, 1)

private:
    bool paths_ok_ = false;
    bool copied_ = false;
    GuardedFile paths_;
    RecordFile file_;
    // The marks read, not cleared first: only what the file fills is touched.
    std::unique_ptr<READ_INDEX[]> copy_;
    std::size_t copied_count_ = 0;
};

// Number of marks in the file; -2, -9.
int Fio_READ_INDEX_MAXCOUNT(const char* in_user_id, long in_folder_no);

// Number of marks that are 1; -2, -9.
int Fio_READ_INDEX_COUNT(const char* in_user_id, long in_folder_no);

// Every mark of the file into marks (mark n at [n - 1]), read in blocks of
// about 64 KB, the lock tested before each: the walks over a whole folder.
// 0; -2 (marks then holds what was read before the failure); -9 (marks empty).
int read_all_marks(const char* in_user_id, long in_folder_no, std::vector<READ_INDEX>& marks);

// Writes count marks as marks first_sel_no .. first_sel_no + count - 1 with
// one call, under the lock, the file first extended with 0 marks up to
// first_sel_no - 1 when it is shorter: a run of marks written as a batch of
// Fio_READ_INDEX100 writes it, and as other processes see it. 0; -1 a
// first_sel_no below 1 or a negative count (nothing written); -2; -9.
int write_mark_run(const char* in_user_id, long in_folder_no, long first_sel_no, const READ_INDEX* marks,
                   long count);

// What to do with each user's marks after one mark was set for every user.
enum class MarkResize {
    none,        // leave the length as it is
    to_count,    // exactly `count` marks (a deletion)
    shrink_only  // cut to `count` marks only when longer (the daily sweep)
};

// Sets mark in_sel_no of the folder to read_chk for every user of the user
// list (update, and insert when that fails), then resizes each user's marks as
// `resize` says. A negative count resizes nothing. A user whose marks are
// still locked after one writer's wait is passed over, resize included. Takes
// the users' read-mark locks one at a time, never two at once.
void read_marks_for_all_users(long in_folder_no, long in_sel_no, int read_chk, MarkResize resize,
                              long count);
