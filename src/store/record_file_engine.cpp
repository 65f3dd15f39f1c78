#include "store/record_file_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "store/file_primitives.h"
#include "store/lock.h"

namespace {

struct PathBuffer {
    char text[1200];
};

PathBuffer make_path(const char* path, const char* suffix = "") {
    PathBuffer buffer;
    std::snprintf(buffer.text, sizeof buffer.text, "%s%s", path, suffix);
    return buffer;
}

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

}  // namespace

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

bool RecordFile::write_at(long k, const void* record, std::size_t record_size) {
    if (fd_ < 0 || k < 0) return false;
    return write_exact(fd_, record, record_size, static_cast<off_t>(k) * static_cast<off_t>(record_size));
}

bool RecordFile::truncate_to(long records, std::size_t record_size) {
    if (fd_ < 0 || records < 0) return false;
    return ::ftruncate(fd_, static_cast<off_t>(records) * static_cast<off_t>(record_size)) == 0;
}

int scan_records(const char* lock_path, const char* data_path, std::size_t record_size,
                 const std::function<bool(long k, void* record)>& visit) {
    if (lock_is_busy(lock_path)) return STORE_LOCK_BUSY;
    RecordFile file;
    if (!file.open(data_path, true)) return STORE_CANNOT_OPEN;
    auto record = std::make_unique<char[]>(record_size);
    for (long k = 0; file.read_at(k, record.get(), record_size); ++k) {
        if (!visit(k, record.get())) break;
    }
    return STORE_OK;
}

void RecordOutput::write(const void* record) {
    if (!file_.write_at(next_, record, record_size_)) failed_ = true;
    ++next_;
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
    auto record = std::make_unique<char[]>(record_size);
    for (long k = 0; data.read_at(k, record.get(), record_size); ++k) {
        if (each_record(k, record.get(), out) == RecordVerdict::keep) out.write(record.get());
    }
    int result = at_end(out);
    if (result == STORE_OK && out.failed()) result = STORE_CANNOT_OPEN;
    temp = RecordFile();
    data = RecordFile();

    temp_path = make_path(data_path, ".tmp");
    if (result == STORE_OK) {
        PathBuffer target = make_path(data_path);
        if (Cu_rename(temp_path.text, target.text) != 0) result = STORE_CANNOT_OPEN;
    }
    if (result != STORE_OK) {
        temp_path = make_path(data_path, ".tmp");
        Cu_remove(temp_path.text);
    }
    return result;
}

int rewrite_records(const char* lock_path, const char* data_path, std::size_t record_size,
                    const std::function<RecordVerdict(long k, void* record,
                                                      RecordOutput& out)>& each_record,
                    const std::function<int(RecordOutput& out)>& at_end) {
    FileLock lock(lock_path);
    if (!lock.held()) return STORE_LOCK_BUSY;
    return rewrite_records_locked(data_path, record_size, each_record, at_end);
}
