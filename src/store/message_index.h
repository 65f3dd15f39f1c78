// The five message index files of a folder, all arrays of BBS_IDX records in
// the folder's directory and all guarded by the one lock "bbs.chk":
//   "bbs1.idx"  every message by number (record n at byte (n - 1) x 288)
//   "bbs2.idx"  thread roots in order of posting
//   "bbs3.idx"  thread roots, latest activity first
//   "bbs4.idx"  every message: threads in order of posting, tree order inside
//   "bbs5.idx"  every message: threads by latest activity, tree order inside
// Tree order: the root, then each reply followed by all of its own replies,
// replies to one message in order of posting. Writers keep the five in step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "store/record_file_engine.h"

struct BBS_IDX {
    int32_t FOLDER_NO;
    int32_t SEL_NO;           // message number from 1 = position in bbs1.idx
    int32_t UP_NO;            // message answered; 0 for a root
    int32_t BBS_G_NO;         // thread number: SEL_NO of the thread's root
    int32_t CLASS;            // depth below the root
    int32_t HTML_MODE;
    int32_t WRITE_PRIORITY;
    char WRITE_DATE[20];      // "YYYY/MM/DD hh:mm" of posting or last edit
    char WRITER_ID[22];
    char WRITER_NAME[82];
    char WRITE_TITLE[82];
    char PAD1[2];             // always 0
    int32_t ADD_FILE;         // number of attachments
    int32_t DEL_FLG;          // 1 deleted (kept as a place holder or in bbs1.idx only)
    int32_t CONFIRM;
    int32_t RES_COUNT;        // replies posted in the thread: on roots of bbs2/bbs3 only
    char TIME_LIMIT_DATE[20]; // "YYYY/MM/DD" expiry, empty for none
    char RESERVE[14];         // always 0
    char PAD2[2];             // always 0
};

static_assert(sizeof(BBS_IDX) == 288);
static_assert(offsetof(BBS_IDX, FOLDER_NO) == 0);
static_assert(offsetof(BBS_IDX, SEL_NO) == 4);
static_assert(offsetof(BBS_IDX, UP_NO) == 8);
static_assert(offsetof(BBS_IDX, BBS_G_NO) == 12);
static_assert(offsetof(BBS_IDX, CLASS) == 16);
static_assert(offsetof(BBS_IDX, HTML_MODE) == 20);
static_assert(offsetof(BBS_IDX, WRITE_PRIORITY) == 24);
static_assert(offsetof(BBS_IDX, WRITE_DATE) == 28);
static_assert(offsetof(BBS_IDX, WRITER_ID) == 48);
static_assert(offsetof(BBS_IDX, WRITER_NAME) == 70);
static_assert(offsetof(BBS_IDX, WRITE_TITLE) == 152);
static_assert(offsetof(BBS_IDX, PAD1) == 234);
static_assert(offsetof(BBS_IDX, ADD_FILE) == 236);
static_assert(offsetof(BBS_IDX, DEL_FLG) == 240);
static_assert(offsetof(BBS_IDX, CONFIRM) == 244);
static_assert(offsetof(BBS_IDX, RES_COUNT) == 248);
static_assert(offsetof(BBS_IDX, TIME_LIMIT_DATE) == 252);
static_assert(offsetof(BBS_IDX, RESERVE) == 272);
static_assert(offsetof(BBS_IDX, PAD2) == 286);

constexpr int BBS_IDX_PAGE = 20;  // records of a page and of a thread batch

// The module buffers: callers fill sBBS_IDX before a call and read it after;
// page and thread reads fill sBBS_IDX20 (an unused slot has SEL_NO 0).
extern BBS_IDX sBBS_IDX;
extern BBS_IDX sBBS_IDX20[BBS_IDX_PAGE];

// Folder sBBS_IDX.FOLDER_NO, message sBBS_IDX.SEL_NO:
//   1 select: record SEL_NO of bbs1.idx into sBBS_IDX (deleted ones too); -1
//     when there is none (SEL_NO below 1 included), sBBS_IDX then unchanged.
//   2 insert: SEL_NO on entry is the message answered (0 or less: a new
//     topic); assigns SEL_NO, UP_NO, BBS_G_NO, CLASS and WRITE_DATE and adds
//     the record to the five files; sBBS_IDX holds it as stored. -3 when the
//     message answered does not exist. A reply to a message no longer in the
//     thread lists goes after its thread's last message there, or where a new
//     topic would go when none is left.
//   3 delete: removes the message for good unless a direct reply of it is
//     still in the thread lists, in which case it stays everywhere as a place
//     holder with DEL_FLG 1; in bbs1.idx only the last record is removed (its
//     number is given again), any other stays with DEL_FLG 1. sBBS_IDX holds
//     the record read, with DEL_FLG 1. -1 no such message.
//   4 update: sBBS_IDX over every record of SEL_NO in the five files, each
//     file keeping its own RES_COUNT and the stored thread fields and DEL_FLG;
//     the thread moves to the front of bbs3.idx and bbs5.idx. -1 no such message.
// 0; -2 a file could not be opened or fully written (the files done before stay
// done); -9 the lock is held. Insert, delete and update (and the recount below)
// write through an IndexWriteSession (store/index_journal.h): one killed part
// way is taken back by the next writer of the folder.
int Fio_BBS_IDX(int sql_mode);
// Insert as above, with the new message's own files written by
// place_files(SEL_NO) under the folder's lock, after the five files and before
// the insert stands: a writer killed before then is taken back by the next
// writer of the folder, directory of that number included, so a message is
// never listed without its files. When a step fails or place_files returns
// non-zero, the insert is taken back at once and that result returned.
int Fio_BBS_IDX_INSERT(const std::function<int(long sel_no)>& place_files);
// Delete as above; once it stands, remove_files (which removes the message's
// directory) runs before the folder's lock is released, so that a number the
// delete frees is not given to a new post while the old message's files are
// still being removed. A deleter killed before they are all gone leaves that
// to the next writer of the folder. With expected (the message's bbs1.idx
// record as read before), only that message is deleted: a number that holds
// another message now, or that message changed or deleted, gives
// STORE_NOT_FOUND.
int Fio_BBS_IDX_DELETE(const std::function<void()>& remove_files, const BBS_IDX* expected = nullptr);
// Update as above, of the message whose bbs1.idx record was read before as
// expected: a number that holds another message now, or that message changed
// or deleted meanwhile, gives STORE_NOT_FOUND and changes nothing.
int Fio_BBS_IDX_UPDATE(const BBS_IDX& expected);

// Page disp_page (from 1; 0 or less reads page 1) of index file access_mode
// (1 to 5) into sBBS_IDX20, in file order. 0 at least one record; -1 none or a
// bad access_mode; -2; -9.
int Fio_BBS_IDX20(long folder_no, int access_mode, long disp_page);

// Records in index file access_mode; -1 bad access_mode, -2, -9.
long Fio_BBS_IDX_MAXCOUNT(long folder_no, int access_mode);

// Every record of index file access_mode (1 to 5) in file order, with its
// 0-based position, handed to visit until it returns false: the walk of a
// whole folder (search, unread list). The file is read from its start in
// blocks of about 128 KB, the lock tested before each block, and visit may
// call any other store operation. 0; -1 bad access_mode; -2 the file cannot be
// opened or a read fails; -9 the lock is held (at the start or before a later
// block). After -2 or -9 the records before the failure were visited.
int scan_message_index(long folder_no, int access_mode,
                       const std::function<bool(long k, const BBS_IDX& record)>& visit);

// Up to 20 records of thread in_g_no from bbs4.idx into sBBS_IDX20, starting
// at the thread's first record (start_sel_no 0) or at the record of
// start_sel_no, stopping at another thread's record. 0 when the start was
// found; -1 otherwise (also for in_g_no below 1 or start_sel_no below 0); -2; -9.
// The thread is looked up by its number in the file's order, a few reads
// whatever the folder's size; the file is read from its start only when that
// fails (a thread out of order, a start record elsewhere, no such thread).
int Fio_BBS_IDX_G20(long folder_no, long in_g_no, long start_sel_no);

// Every record of thread in_g_no from the same start on, handed to visit in
// the order of bbs4.idx until it returns false: one search and one pass where
// Fio_BBS_IDX_G20 searches again for each 20 records. Same results; -2 also
// when a read fails part way (the records before it were visited).
int scan_thread(long folder_no, long in_g_no, long start_sel_no,
                const std::function<bool(const BBS_IDX& record)>& visit);

// What a ThreadReader keeps between its searches: the length of the file when
// first read (records appended later are not looked at), and the thread
// numbers read at positions, which the searches of one page share. A change
// in place never gives a record another thread; a rewrite replaces the file,
// and the reader goes on reading the one it opened.
struct ThreadProbes {
    static constexpr int kKept = 48;
    long count = -1;
    int kept = 0;
    long position[kKept];
    int32_t thread[kKept];
    // The records read last, [block_from, block_from + block_have) of the
    // file: the threads of a page's rows mostly stand side by side.
    std::unique_ptr<BBS_IDX[]> block;
    long block_from = 0;
    long block_have = 0;
};

// What a reader of one index file opens: the folder's lock and the file.
struct IndexReaderPaths {
    char lock[1200];
    char index[1200];
};

// scan_thread for many threads of one folder (a list page asks for the
// threads of all its rows): bbs4.idx is opened once, at the first scan, and
// read on from there. Every scan still tests the folder's lock first; a file
// replaced since it was opened is read as it was, as one read would have.
class ThreadReader {
public:
    explicit ThreadReader(long folder_no);
    int scan(long in_g_no, long start_sel_no, const std::function<bool(const BBS_IDX& record)>& visit);

private:
    bool paths_ok_ = false;
    IndexReaderPaths paths_;
    RecordFile file_;
    ThreadProbes probes_;
};

// Recounts RES_COUNT of every root in bbs2.idx and bbs3.idx as the records of
// its thread in bbs1.idx less one, written back in place. 0; -2; -9.
int Fio_BBS_IDX_REBUILD(long folder_no);

// Makes a record a clean image, as every writer here stores it: padding and
// RESERVE zero, every text terminated within its field.
void clean_BBS_IDX(BBS_IDX& record);
