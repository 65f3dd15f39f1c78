// Fixed-size binary records (index files, read marks, session keys): files
// that are arrays of records stored as little-endian memory images. The same
// lock files and results as the line files; rewrites go through a ".tmp" copy
// that replaces the data file with one rename().
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "store/line_file_engine.h"  // the common result codes

#include <sys/types.h>

// Reads or writes exactly size bytes at offset, going on after a short or
// interrupted call; false on an error or (reading) the end of the file first.
bool read_exact(int fd, void* data, std::size_t size, off_t offset);
bool write_exact(int fd, const void* data, std::size_t size, off_t offset);

// An open record file. Closes on destruction.
class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile();
    RecordFile(RecordFile&& other) noexcept;
    RecordFile& operator=(RecordFile&& other) noexcept;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens for reading and writing; create = true creates a missing file (0600).
    bool open(const char* path, bool create);
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    long count(std::size_t record_size) const;  // whole records in the file
    // Up to max_records whole records from record k on; how many were read
    // (0 at the end, -1 on an error).
    long read_block(long k, void* records, long max_records, std::size_t record_size) const;
    // Record k (0-based). read_at: true when a whole record was read.
    bool read_at(long k, void* record, std::size_t record_size) const;
    bool write_at(long k, const void* record, std::size_t record_size);
    bool write_block(long k, const void* records, long count, std::size_t record_size);
    bool truncate_to(long records, std::size_t record_size);

private:
    int fd_ = -1;
};

// Select: -9 while the lock is held; opens (creating when missing) and hands
// each whole record, in file order with its 0-based position, to visit until
// visit returns false. 0 after the scan, -2 when the file cannot be opened or
// a read fails (the records before it were visited).
int scan_records(const char* lock_path, const char* data_path, std::size_t record_size,
                 const std::function<bool(long k, void* record)>& visit);

// The same select for long files: the records are handed over a block at a
// time (first: the 0-based position of the block's first record), read with
// one call per block of about block_bytes (at least one record), so that a
// walk over a whole large file costs a few calls. The lock is tested before
// each block is read: -9 when it is held then, the records before it visited.
int scan_record_blocks(const char* lock_path, const char* data_path, std::size_t record_size,
                       std::size_t block_bytes,
                       const std::function<bool(long first, const void* records, long count)>& visit);

// Where a record rewrite puts its records: collected in blocks, so that a
// rewrite of a large index costs a few system calls, not two per record.
class RecordOutput {
public:
    RecordOutput(RecordFile& file, std::size_t record_size);
    void write(const void* record);
    long written() const { return next_; }
    bool flush();  // writes what is collected; false when any write failed
    bool failed() const { return failed_; }

private:
    RecordFile& file_;
    std::size_t record_size_;
    long block_records_;
    std::unique_ptr<char[]> block_;
    long block_start_ = 0;  // record number of the block's first record
    long in_block_ = 0;
    long next_ = 0;
    bool failed_ = false;
};

enum class RecordVerdict { keep, drop };

// Writer over an already held lock: copies data_path record by record to its
// ".tmp" sibling, asking each_record whether a record is kept (each_record may
// change it before it is kept, or write others first), then at_end appends and
// decides the result; 0 replaces the data file by one rename(). -2 when a
// file cannot be opened, created or fully written. The caller holds the lock,
// since some operations rewrite several files under one lock.
int rewrite_records_locked(const char* data_path, std::size_t record_size,
                           const std::function<RecordVerdict(long k, void* record,
                                                             RecordOutput& out)>& each_record,
                           const std::function<int(RecordOutput& out)>& at_end);

// The same, taking and releasing the lock itself (-9 when busy).
int rewrite_records(const char* lock_path, const char* data_path, std::size_t record_size,
                    const std::function<RecordVerdict(long k, void* record,
                                                      RecordOutput& out)>& each_record,
                    const std::function<int(RecordOutput& out)>& at_end);
