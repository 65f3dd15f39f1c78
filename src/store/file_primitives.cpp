#include "store/file_primitives.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "util/bytes.h"
#include "util/clock.h"

// ---- paths and names -------------------------------------------------------

void yen_to_sura(char* fname) {
    // A backslash that is the second byte of a two-byte character stays.
    for (char* p = fname; *p != '\0'; ++p) {
        if (is_lead_byte(*p)) {
            if (p[1] == '\0') break;
            ++p;
            continue;
        }
        if (*p == '\\') *p = '/';
    }
}

void editpath(const char* fname, const char* oldpath, char* newpath, std::size_t newpath_size) {
    const std::size_t len = std::strlen(oldpath);
    const char* sep = (len > 0 && oldpath[len - 1] == '/') ? "" : "/";
    std::snprintf(newpath, newpath_size, "%s%s%s", oldpath, sep, fname);
}

int check_name(const char* keyword, const char* name) {
    const std::size_t klen = std::strlen(keyword);
    const std::size_t nlen = std::strlen(name);
    const char* first = std::strchr(keyword, '*');
    if (first == nullptr) return std::strcmp(keyword, name) == 0 ? 0 : -1;

    const char* last = std::strrchr(keyword, '*');
    if (first == keyword && last == keyword + klen - 1 && klen >= 2) {
        // "*text*": the name contains the text between the stars.
        const std::string_view inner(keyword + 1, klen - 2);
        if (inner.find('*') != std::string_view::npos) return -1;
        return std::string_view(name).find(inner) != std::string_view::npos ? 0 : -1;
    }
    if (first != last) return -1;
    if (first == keyword) {
        // "*suffix": longer than the suffix and ending with it.
        const std::size_t slen = klen - 1;
        if (nlen <= slen) return -1;
        return std::strcmp(name + nlen - slen, keyword + 1) == 0 ? 0 : -1;
    }
    if (first == keyword + klen - 1) {
        // "prefix*": begins with the prefix.
        return std::strncmp(name, keyword, klen - 1) == 0 ? 0 : -1;
    }
    return -1;
}

// ---- directories and files -------------------------------------------------

namespace {

bool path_exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);  // keep going: remove as much as possible
    return 0;
}

}  // namespace

void Cu_mkdir(char* in_buff) {
    yen_to_sura(in_buff);
    if (path_exists(in_buff)) return;
    ::mkdir(in_buff, 0777);
}

int Cu_rmdir(char* in_buff) {
    yen_to_sura(in_buff);
    if (!path_exists(in_buff)) return -1;
    return ::rmdir(in_buff) == 0 ? 0 : -1;
}

void Cu_DelDIR(char* in_buff) {
    yen_to_sura(in_buff);
    struct stat st;
    if (lstat(in_buff, &st) != 0) return;
    // Depth first, without following symbolic links out of the tree.
    nftw(in_buff, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

int Cu_remove(char* in_buff) {
    yen_to_sura(in_buff);
    return ::remove(in_buff) == 0 ? 0 : -1;
}

void Cu_cpfile(char* dsc_file, char* src_file) {
    yen_to_sura(dsc_file);
    yen_to_sura(src_file);
    ::unlink(dsc_file);
    const int in = ::open(src_file, O_RDONLY | O_CLOEXEC);
    if (in < 0) return;
    struct stat st;
    const mode_t mode = fstat(in, &st) == 0 ? (st.st_mode & 0777) : 0600;
    const int out = ::open(dsc_file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (out < 0) {
        ::close(in);
        return;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) break;
            done += put;
        }
        if (done < got) break;
    }
    ::close(in);
    ::close(out);
}

int Cu_rename(char* in_buff1, char* in_buff2) {
    yen_to_sura(in_buff1);
    yen_to_sura(in_buff2);
    return ::rename(in_buff1, in_buff2) == 0 ? 0 : -1;
}

namespace {

bool sync_path(const char* path, int flags) {
    const int fd = ::open(path, flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace

int Cu_replace_durably(char* temp, char* target) {
    yen_to_sura(temp);
    yen_to_sura(target);
    // Without the flush, ext4 and xfs may put the new name on disk before the
    // new bytes: after a power loss the data file would be empty. The
    // directory is not flushed after the rename: that would only make the
    // rename itself last sooner (a power loss before the file system's next
    // commit brings back the previous whole file, never a torn one) and
    // doubles the cost, a post replacing five files.
    // A file that is new (a body written for a new or moved message) has no
    // earlier content to lose; a move of a thousand messages would otherwise
    // wait for a thousand flushes.
    struct stat st;
    const bool replaces = ::lstat(target, &st) == 0;
    if (replaces && !sync_path(temp, O_RDONLY)) return -1;
    return ::rename(temp, target) == 0 ? 0 : -1;
}

void Cu_chmod(char* FileDSC, const char* mode) {
    yen_to_sura(FileDSC);
    char* end = nullptr;
    const long bits = std::strtol(mode, &end, 8);
    if (end == mode || bits < 0 || bits > 07777) return;
    ::chmod(FileDSC, static_cast<mode_t>(bits));
}

long Cu_get_filelength(char* FileSRC) {
    yen_to_sura(FileSRC);
    struct stat st;
    if (stat(FileSRC, &st) != 0) return 0;
    return static_cast<long>(st.st_size);
}

void Cu_setmode() {}

void Cu_forEachFile(char* pattern, const std::function<void(const char* name)>& visit) {
    yen_to_sura(pattern);
    const char* slash = std::strrchr(pattern, '/');
    char directory[1024];
    const char* name_pattern = pattern;
    if (slash == nullptr) {
        copy_field(directory, ".");
    } else {
        const std::size_t dir_len = static_cast<std::size_t>(slash - pattern) + 1;
        copy_field(directory, dir_len + 1 < sizeof directory ? dir_len + 1 : sizeof directory, pattern);
        name_pattern = slash + 1;
    }
    DIR* dir = opendir(directory);
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_ino == 0) continue;
        if (check_name(name_pattern, entry->d_name) != 0) continue;
        char full[2048];
        editpath(entry->d_name, directory, full, sizeof full);
        struct stat st;
        if (stat(full, &st) != 0) continue;
        visit(entry->d_name);
    }
    closedir(dir);
}

void Cu_filefind(char* filename, std::size_t filename_size) {
    char result[1000] = "";
    std::size_t used = 0;
    const std::size_t limit = filename_size < sizeof result ? filename_size : sizeof result;
    Cu_forEachFile(filename, [&](const char* name) {
        const std::size_t len = std::strlen(name);
        const std::size_t need = len + (used > 0 ? 1 : 0);
        if (used + need + 1 > limit) return;  // a name that does not fit whole is left out
        if (used > 0) result[used++] = ',';
        std::memcpy(result + used, name, len);
        used += len;
        result[used] = '\0';
    });
    copy_field(filename, filename_size, result);
}

int Cu_removefile1h(char* filename, int in_min) {
    yen_to_sura(filename);
    struct stat st;
    if (stat(filename, &st) != 0) return -1;
    const time_t limit = clock_now() - static_cast<time_t>(in_min) * 60;
    if (st.st_ctime >= limit) return 0;
    return ::remove(filename) == 0 ? 0 : -1;
}

// ---- unbuffered descriptors ------------------------------------------------

int Cu_b_open(char* FileName, int mode) {
    yen_to_sura(FileName);
    int fh = ::open(FileName, O_RDWR | O_CLOEXEC);
    if (fh < 0 && mode != 0) fh = ::open(FileName, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return fh < 0 ? -1 : fh;
}

int Cu_b_create_new(char* FileName) {
    yen_to_sura(FileName);
    const int fh = ::open(FileName, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    return fh < 0 ? -1 : fh;
}

long Cu_b_read(int fh, void* buff, std::size_t in_count) {
    for (;;) {
        const ssize_t got = ::read(fh, buff, in_count);
        if (got < 0 && errno == EINTR) continue;
        return got < 0 ? -1 : static_cast<long>(got);
    }
}

long Cu_b_write(int fh, const void* buff, std::size_t in_count) {
    // A short write is continued, so the result is in_count unless the file failed.
    const char* bytes = static_cast<const char*>(buff);
    std::size_t done = 0;
    while (done < in_count) {
        const ssize_t put = ::write(fh, bytes + done, in_count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return done > 0 ? static_cast<long>(done) : -1;
        done += static_cast<std::size_t>(put);
    }
    return static_cast<long>(done);
}

long Cu_b_lseek(int fh, long offset, int origin) {
    const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    return static_cast<long>(::lseek(fh, offset, whence));
}

int Cu_b_close(int fh) { return ::close(fh) == 0 ? 0 : -1; }

// ---- buffered streams ------------------------------------------------------

FILE* Cu_fopen(char* filename, const char* mode) {
    yen_to_sura(filename);
    return std::fopen(filename, mode);
}

FILE* Cu_fopen_lent(char* filename, const char* mode, char (&buffer)[kStreamBufferSize]) {
    FILE* file = Cu_fopen(filename, mode);
    if (file != nullptr) std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
    return file;
}

LineFile::LineFile(char* filename) {
    yen_to_sura(filename);
    do {
        fd_ = ::open(filename, O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
}

LineFile::~LineFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool LineFile::fill() {
    begin_ = end_ = 0;
    if (at_end_ || fd_ < 0) return false;
    ssize_t got;
    do {
        got = ::read(fd_, buffer_, sizeof buffer_);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        at_end_ = true;
        return false;
    }
    end_ = static_cast<std::size_t>(got);
    at_end_ = end_ < sizeof buffer_;
    return true;
}

bool LineFile::read_line(char* line, std::size_t size) {
    if (size == 0) return false;
    std::size_t n = 0;
    while (n + 1 < size) {
        if (begin_ == end_ && !fill()) break;
        std::size_t take = std::min(size - 1 - n, end_ - begin_);
        const char* from = buffer_ + begin_;
        const void* newline = std::memchr(from, '\n', take);
        if (newline != nullptr) take = static_cast<std::size_t>(static_cast<const char*>(newline) - from) + 1;
        std::memcpy(line + n, from, take);
        n += take;
        begin_ += take;
        if (newline != nullptr) break;
    }
    line[n] = '\0';
    return n > 0;
}

FILE* Cu_fopen_or_create_lent(char* filename, char (&buffer)[kStreamBufferSize]) {
    // The file nearly always exists: one call opens it.
    FILE* existing = Cu_fopen_lent(filename, "r+", buffer);
    if (existing != nullptr || errno != ENOENT) return existing;
    const int fd = ::open(filename, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    FILE* file = ::fdopen(fd, "r+");
    if (file == nullptr) {
        ::close(fd);
        return nullptr;
    }
    std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
    return file;
}

std::size_t Cu_fread(void* buffer, std::size_t size, std::size_t count, FILE* stream) {
    return std::fread(buffer, size, count, stream);
}

std::size_t Cu_fwrite(const void* buffer, std::size_t size, std::size_t count, FILE* stream) {
    return std::fwrite(buffer, size, count, stream);
}

int Cu_fseek(FILE* stream, long offset, int origin) {
    const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    return std::fseek(stream, offset, whence);
}

int Cu_fclose(FILE* stream) { return std::fclose(stream); }
