#include "store/line_file_engine.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/lock.h"
#include "store/store_modes.h"
#include "util/bytes.h"

namespace {

struct FileCloser {
    void operator()(FILE* file) const {
        if (file != nullptr) std::fclose(file);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

File open_or_create(const char* data_path, char (&buffer)[kStreamBufferSize]) {
    PathBuffer path = make_path(data_path);
    return File(Cu_fopen_or_create_lent(path.text, buffer));
}

// Whether the directory that path (already converted to slashes) names a file
// in exists: a missing file there reads as empty, a missing directory is a file
// that cannot be opened.
bool directory_exists(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return true;
    const std::string directory = slash == path ? "/" : std::string(path, static_cast<std::size_t>(slash - path));
    struct stat st;
    return ::stat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads whole lines. A line that does not fit the file's line buffer (with its
// line feed and terminator) cannot be a record of that file: it is reported as
// overlong, so that it is never parsed in pieces and never split by a rewrite.
class LineReader {
public:
    LineReader(FILE* file, std::size_t line_size) : file_(file), line_size_(line_size) {}
    ~LineReader() { std::free(buffer_); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool next() {
        length_ = getline(&buffer_, &capacity_, file_);
        return length_ >= 0;
    }
    bool overlong() const { return static_cast<std::size_t>(length_) + 1 > line_size_; }
    const char* line() const { return buffer_; }

private:
    FILE* file_;
    std::size_t line_size_;
    char* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    ssize_t length_ = -1;
};

}  // namespace

int scan_lines(const char* lock_path, const char* data_path, std::size_t line_size,
               const std::function<bool(const char* line)>& visit) {
    if (lock_is_busy(lock_path)) return STORE_LOCK_BUSY;
    char stream_buffer[kStreamBufferSize];
    File data = open_or_create(data_path, stream_buffer);
    if (!data) return STORE_CANNOT_OPEN;
    LineReader reader(data.get(), line_size);
    while (reader.next()) {
        if (reader.overlong()) continue;
        if (!visit(reader.line())) return STORE_OK;
    }
    // A read that failed part way is no end of file: the caller saw only part.
    return std::ferror(data.get()) != 0 ? STORE_CANNOT_OPEN : STORE_OK;
}

LineOutput::~LineOutput() {
    if (file_ != nullptr) std::fclose(file_);
}

bool LineOutput::open() {
    if (file_ != nullptr) return true;
    if (failed_) return false;
    // A temporary file left by a writer that died goes first.
    Cu_remove(path_);
    file_ = Cu_fopen_lent(path_, "w+", buffer_);
    if (file_ == nullptr) failed_ = true;
    return file_ != nullptr;
}

bool LineOutput::close() {
    if (file_ == nullptr) return !failed_;
    FILE* file = file_;
    file_ = nullptr;
    const bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
    return std::fclose(file) == 0 && written && !failed_;
}

void LineOutput::write(const char* text) {
    if (text[0] == '\0' || !open()) return;
    // A last line kept without its line feed must not run into the next one.
    if (open_line_ && std::fputc('\n', file_) == EOF) failed_ = true;
    if (std::fputs(text, file_) == EOF) failed_ = true;
    open_line_ = text[std::strlen(text) - 1] != '\n';
}

int rewrite_lines(const char* lock_path, const char* data_path, std::size_t line_size,
                  const std::function<LineVerdict(const char* line, LineOutput& out)>& each_line,
                  const std::function<int(LineOutput& out)>& at_end) {
    FileLock lock(lock_path);
    if (!lock.held()) return STORE_LOCK_BUSY;

    // A missing file reads as empty and is not created here: the rename at the
    // end creates it when there is something to store, and a change that finds
    // nothing to change leaves no empty file behind.
    PathBuffer path = make_path(data_path);
    char stream_buffer[kStreamBufferSize];
    File data(Cu_fopen_lent(path.text, "r+", stream_buffer));
    if (!data && (errno != ENOENT || !directory_exists(path.text))) return STORE_CANNOT_OPEN;

    PathBuffer temp_path = make_path(data_path, ".tmp");
    LineOutput out(temp_path.text);
    LineReader reader(data.get(), line_size);
    while (data && reader.next()) {
        // An overlong line is no record of ours, but the file may be shared with
        // the suite's other programs: it is kept exactly as it stands.
        if (reader.overlong() || each_line(reader.line(), out) == LineVerdict::keep) {
            out.write(reader.line());
        }
    }
    int result = at_end(out);
    const bool read_failed = data && std::ferror(data.get()) != 0;
    data.reset();
    // A result to store needs its file even when it holds no line.
    if (result == STORE_OK) out.open();
    const bool write_failed = !out.close();
    if (result == STORE_OK && (read_failed || write_failed)) result = STORE_CANNOT_OPEN;

    return finish_rewrite(data_path, result);
}

int finish_rewrite(const char* data_path, int result) {
    PathBuffer temp_path = make_path(data_path, ".tmp");
    if (result == STORE_OK) {
        // One rename over the data file: at every moment either the old or the
        // new file is complete under the data file's name, after a power loss too.
        PathBuffer target = make_path(data_path);
        if (Cu_replace_durably(temp_path.text, target.text) != 0) result = STORE_CANNOT_OPEN;
    }
    if (result != STORE_OK) {
        temp_path = make_path(data_path, ".tmp");
        Cu_remove(temp_path.text);
    }
    return result;
}

int rewrite_keyed(const char* lock_path, const char* data_path, std::size_t line_size, int sql_mode,
                  const char* new_line, KeyedChange change,
                  const std::function<LineMatch(const char* line)>& match) {
    bool matched = false;
    return rewrite_lines(
        lock_path, data_path, line_size,
        [&](const char* line, LineOutput& out) {
            const LineMatch seen = match(line);
            if (seen == LineMatch::malformed) return LineVerdict::drop;
            if (seen == LineMatch::other || (matched && change.first_only)) return LineVerdict::keep;
            matched = true;
            if (sql_mode == MODE_INSERT) return LineVerdict::keep;
            if (sql_mode == MODE_UPDATE) out.write(new_line);
            return LineVerdict::drop;
        },
        [&](LineOutput& out) {
            if (sql_mode == MODE_INSERT) {
                if (matched) return STORE_NOTHING_TO_CHANGE;
                out.write(new_line);
                return STORE_OK;
            }
            if (!matched && sql_mode == MODE_UPDATE && change.append_on_miss) {
                out.write(new_line);
                return STORE_OK;
            }
            return matched ? STORE_OK : change.miss_result;
        });
}

int append_line(const char* lock_path, const char* data_path, const char* text) {
    FileLock lock(lock_path);
    if (!lock.held()) return STORE_LOCK_BUSY;
    PathBuffer path = make_path(data_path);
    File data(Cu_fopen(path.text, "a+"));
    if (!data) return STORE_CANNOT_OPEN;
    bool failed = false;
    if (std::fseek(data.get(), -1, SEEK_END) == 0) {
        const int last = std::fgetc(data.get());
        if (last != '\n' && last != EOF && std::fputc('\n', data.get()) == EOF) failed = true;
    }
    if (std::fputs(text, data.get()) == EOF) failed = true;
    if (std::fflush(data.get()) != 0 || std::ferror(data.get()) != 0) failed = true;
    if (std::fclose(data.release()) != 0) failed = true;
    return failed ? STORE_CANNOT_OPEN : STORE_OK;
}

// ---- fields ----------------------------------------------------------------

bool LineFields::next(const char*& start, std::size_t& length) {
    const char* p = cursor_;
    while (*p != '\0' && *p != ',') {
        if (is_lead_byte(*p) && p[1] != '\0') ++p;
        ++p;
    }
    if (*p != ',') return false;
    start = cursor_;
    length = static_cast<std::size_t>(p - cursor_);
    cursor_ = p + 1;
    return true;
}

bool LineFields::text(char* field, std::size_t width) {
    const char* start = nullptr;
    std::size_t length = 0;
    if (!next(start, length)) return false;
    const std::size_t n = length < width - 1 ? length : width - 1;
    std::memcpy(field, start, n);
    field[n] = '\0';
    return true;
}

bool LineFields::number(long& value) {
    char digits[32];
    if (!text(digits)) return false;
    value = std::strtol(digits, nullptr, 10);
    return true;
}

bool LineFields::number(int& value) {
    long wide = 0;
    if (!number(wide)) return false;
    value = static_cast<int>(wide);
    return true;
}

void LineFields::rest(char* field, std::size_t width) {
    std::size_t length = std::strcspn(cursor_, "\n");
    if (length > 0 && cursor_[length - 1] == '\r') --length;
    const std::size_t n = length < width - 1 ? length : width - 1;
    std::memcpy(field, cursor_, n);
    field[n] = '\0';
    cursor_ += length;
}

// ---- building lines --------------------------------------------------------

std::string csv_field_text(const char* value) {
    std::string text = value != nullptr ? value : "";
    for (char& c : text) {
        if (c == ',' || c == '\r' || c == '\n') c = ' ';
    }
    // The reader pairs a lead byte with whatever follows it, the separator too.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!is_lead_byte(text[i])) continue;
        if (i + 1 == text.size()) text[i] = ' ';
        ++i;
    }
    return text;
}

LineBuilder& LineBuilder::text(const char* value) {
    line_ += csv_field_text(value);
    line_ += ',';
    return *this;
}

LineBuilder& LineBuilder::number(long value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%ld,", value);
    line_ += digits;
    return *this;
}

LineBuilder& LineBuilder::rest(const char* value) {
    for (const char* p = value; p != nullptr && *p != '\0'; ++p) {
        line_ += (*p == '\r' || *p == '\n') ? ' ' : *p;
    }
    line_ += '\n';
    ended_ = true;
    return *this;
}

const char* LineBuilder::line() {
    if (!ended_) {
        line_ += '\n';
        ended_ = true;
    }
    return line_.c_str();
}

const char* store_result_text(int result) {
    switch (result) {
    case STORE_OK: return "(done)";
    case STORE_NOT_FOUND: return "(not found)";
    case STORE_CANNOT_OPEN: return "(a file could not be opened, created or written)";
    case STORE_NOTHING_TO_CHANGE: return "(already present, or nothing to change)";
    case STORE_LOCK_BUSY: return "(a lock file is held: another process is writing)";
    default: return "(unexpected result)";
    }
}
