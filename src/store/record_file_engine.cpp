#include "store/record_file_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/lock.h"

bool read_exact(int fd, void* data, std::size_t size, off_t offset) {
    char* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool write_exact(int fd, const void* data, std::size_t size, off_t offset) {
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::pwrite(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

RecordFile::~RecordFile() {
    if (fd_ >= 0) ::close(fd_);
}

RecordFile::RecordFile(RecordFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

RecordFile& RecordFile::operator=(RecordFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool RecordFile::open(const char* path, bool create) {
    PathBuffer buffer = make_path(path);
    if (fd_ >= 0) ::close(fd_);
    fd_ = Cu_b_open(buffer.text, create ? 1 : 0);
    return fd_ >= 0;
}

long RecordFile::count(std::size_t record_size) const {
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return 0;
    return static_cast<long>(static_cast<std::size_t>(st.st_size) / record_size);
}

bool RecordFile::read_at(long k, void* record, std::size_t record_size) const {
    if (fd_ < 0 || k < 0) return false;
    return read_exact(fd_, record, record_size, static_cast<off_t>(k) * static_cast<off_t>(record_size));
}

long RecordFile::read_block(long k, void* records, long max_records, std::size_t record_size) const {
    if (fd_ < 0 || k < 0 || max_records <= 0) return -1;
    char* bytes = static_cast<char*>(records);
    const std::size_t wanted = static_cast<std::size_t>(max_records) * record_size;
    const off_t offset = static_cast<off_t>(k) * static_cast<off_t>(record_size);
    std::size_t done = 0;
    while (done < wanted) {
        const ssize_t got = ::pread(fd_, bytes + done, wanted - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
        // A regular file returns less than asked only at its end: no second
        // read to hear that.
        if (done < wanted) break;
    }
    return static_cast<long>(done / record_size);  // a torn tail is no record
}

bool RecordFile::write_at(long k, const void* record, std::size_t record_size) {
    if (fd_ < 0 || k < 0) return false;
    return write_exact(fd_, record, record_size, static_cast<off_t>(k) * static_cast<off_t>(record_size));
}

bool RecordFile::write_block(long k, const void* records, long count, std::size_t record_size) {
    if (fd_ < 0 || k < 0 || count < 0) return false;
    return write_exact(fd_, records, static_cast<std::size_t>(count) * record_size,
                       static_cast<off_t>(k) * static_cast<off_t>(record_size));
}

bool RecordFile::truncate_to(long records, std::size_t record_size) {
    if (fd_ < 0 || records < 0) return false;
    return ::ftruncate(fd_, static_cast<off_t>(records) * static_cast<off_t>(record_size)) == 0;
}

namespace {

// Records are read and collected this many bytes at a time. Small enough that
// a scan and a rewrite together touch a few pages of fresh memory (each first
// touch is dear in a process that lives for one request), large enough that a
// file of many thousands of records takes few system calls.
constexpr std::size_t kBlockBytes = 16 * 1024;

long block_records(std::size_t record_size) {
    return record_size < kBlockBytes ? static_cast<long>(kBlockBytes / record_size) : 1;
}

// Calls visit with the whole records of file a block at a time (the 0-based
// position of the block's first record, the records, how many), in order,
// until it returns false. The records are those the file holds when the scan
// starts (one added meanwhile counts as added after the scan), and the block
// is sized to them: a file of one record (a session key) costs one read into a
// small buffer, not a large cleared buffer and a second read to find the end.
// An empty file still gets its read, so that a file that cannot be read is not
// taken for empty. may_read is asked before every read but the first; false
// ends the scan there.
template <class VisitBlock, class MayRead>
bool for_each_block(const RecordFile& file, std::size_t record_size, long block_limit, VisitBlock visit,
                    MayRead may_read) {
    const long records = file.count(record_size);
    const long block_records = records < 1 ? 1 : records < block_limit ? records : block_limit;
    // Not value-initialised: only what a read filled is visited.
    std::unique_ptr<char[]> block(new char[static_cast<std::size_t>(block_records) * record_size]);
    for (long k = 0;;) {
        if (k > 0 && !may_read()) return true;
        const long wanted = records > k && records - k < block_records ? records - k : block_records;
        const long got = file.read_block(k, block.get(), wanted, record_size);
        if (got < 0) return false;
        if (got > 0 && !visit(k, block.get(), got)) return true;
        k += got;
        if (got < wanted || k >= records) return true;
    }
}

// The same, one record at a time.
template <class Visit>
bool for_each_record(const RecordFile& file, std::size_t record_size, Visit visit) {
    return for_each_block(
        file, record_size, block_records(record_size),
        [&](long first, char* records, long count) {
            for (long i = 0; i < count; ++i) {
                if (!visit(first + i, records + static_cast<std::size_t>(i) * record_size)) return false;
            }
            return true;
        },
        [] { return true; });
}

}  // namespace

int scan_records(const char* lock_path, const char* data_path, std::size_t record_size,
                 const std::function<bool(long k, void* record)>& visit) {
    if (lock_is_busy(lock_path)) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(data_path, true)) return STORE_CANNOT_OPEN;
    // A read that fails part way must not pass for the end of the file.
    return for_each_record(file, record_size, visit) ? STORE_OK : STORE_CANNOT_OPEN;
}

int scan_record_blocks(const char* lock_path, const char* data_path, std::size_t record_size,
                       std::size_t block_bytes,
                       const std::function<bool(long first, const void* records, long count)>& visit) {
    if (lock_is_busy(lock_path)) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(data_path, true)) return STORE_CANNOT_OPEN;
    const long block_limit = block_bytes / record_size > 0 ? static_cast<long>(block_bytes / record_size) : 1;
    // A walk lasts as long as its visits (a search reads a body per record):
    // a writer may take the lock meanwhile, and a reader does not read while
    // it is held, so every later block is read only after a test of its own.
    bool busy = false;
    const bool read = for_each_block(
        file, record_size, block_limit,
        [&](long first, const char* records, long count) { return visit(first, records, count); },
        [&] { return !(busy = lock_is_busy(lock_path)); });
    if (busy) return STORE_LOCK_BUSY;
    return read ? STORE_OK : STORE_CANNOT_OPEN;
}

RecordOutput::RecordOutput(RecordFile& file, std::size_t record_size)
    : file_(file),
      record_size_(record_size),
      block_records_(block_records(record_size)),
      block_(std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(block_records_) * record_size)) {}

void RecordOutput::write(const void* record) {
    std::memcpy(block_.get() + static_cast<std::size_t>(in_block_) * record_size_, record, record_size_);
    ++in_block_;
    ++next_;
    if (in_block_ == block_records_) flush();
}

bool RecordOutput::flush() {
    if (in_block_ > 0) {
        if (!file_.write_block(block_start_, block_.get(), in_block_, record_size_)) {
            failed_ = true;
        }
        block_start_ += in_block_;
        in_block_ = 0;
    }
    return !failed_;
}

int rewrite_records_locked(const char* data_path, std::size_t record_size,
                           const std::function<RecordVerdict(long k, void* record,
                                                             RecordOutput& out)>& each_record,
                           const std::function<int(RecordOutput& out)>& at_end) {
    RecordFile data;
    if (!data.open(data_path, true)) return STORE_CANNOT_OPEN;
    PathBuffer temp_path = make_path(data_path, ".tmp");
    Cu_remove(temp_path.text);
    temp_path = make_path(data_path, ".tmp");
    RecordFile temp;
    if (!temp.open(temp_path.text, true)) return STORE_CANNOT_OPEN;

    RecordOutput out(temp, record_size);
    const bool read = for_each_record(data, record_size, [&](long k, void* record) {
        if (each_record(k, record, out) == RecordVerdict::keep) out.write(record);
        return true;
    });
    int result = at_end(out);
    if (result == STORE_OK && (!read || !out.flush())) result = STORE_CANNOT_OPEN;
    temp = RecordFile();
    data = RecordFile();

    return finish_rewrite(data_path, result);
}

int rewrite_records(const char* lock_path, const char* data_path, std::size_t record_size,
                    const std::function<RecordVerdict(long k, void* record,
                                                      RecordOutput& out)>& each_record,
                    const std::function<int(RecordOutput& out)>& at_end) {
    FileLock lock(lock_path);
    if (!lock.held()) return STORE_LOCK_BUSY;
    return rewrite_records_locked(data_path, record_size, each_record, at_end);
}
