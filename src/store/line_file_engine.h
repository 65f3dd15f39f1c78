// The one read / rewrite discipline of the comma-separated master files.
// Every Fio_ operation on such a file supplies only how a line is parsed,
// matched and formatted; locking, the temporary copy and the replacement of the
// data file happen here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "store/file_primitives.h"

// Common results of the data-file operations.
constexpr int STORE_OK = 0;
constexpr int STORE_NOT_FOUND = -1;
constexpr int STORE_CANNOT_OPEN = -2;
constexpr int STORE_NOTHING_TO_CHANGE = -3;
constexpr int STORE_LOCK_BUSY = -9;

// A few words saying what a result means, for the messages of the tools.
const char* store_result_text(int result);

// Line buffer sizes the master files are read with.
constexpr std::size_t LINE_SIZE_SMALL = 1000;
constexpr std::size_t LINE_SIZE_LARGE = 10000;

// Lines are read whole. A line longer than line_size - 1 bytes (line feed
// included) is no record of the file: selects pass over it, and writers copy
// it unchanged without offering it to each_line (files such as system.log are
// shared with the suite's other programs, whose lines are theirs to keep).
//
// Select: refuses with -9 while a writer holds the lock, opens the data file
// (creating it empty when missing), and hands each line, as read and with its
// line feed, to visit until visit returns false. 0 after the scan, -2 when the
// file cannot be opened or created or a read fails part way (the lines before
// the failure have been visited).
int scan_lines(const char* lock_path, const char* data_path, std::size_t line_size,
               const std::function<bool(const char* line)>& visit);

// Where a rewrite puts its lines.
class LineOutput {
public:
    // The file at temp_path is created on the first write (or by open()), so
    // a change that ends up storing nothing creates no file at all.
    explicit LineOutput(char* temp_path) : path_(temp_path) {}
    ~LineOutput();
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;
    // Written as given; a line that came without its line feed (the last line
    // of a file) gets one before anything follows it.
    void write(const char* text);
    bool failed() const { return failed_; }
    // Creates the file when nothing was written yet; false when it cannot be.
    bool open();
    // Flushes and closes; false when anything written was lost.
    bool close();

private:
    char* path_;
    FILE* file_ = nullptr;
    bool failed_ = false;
    bool open_line_ = false;
    char buffer_[kStreamBufferSize];
};

enum class LineVerdict { keep, drop };

// Writer: takes the lock (-9 when busy), copies the data file line by line to
// its ".tmp" sibling, asking each_line whether the line is kept as read or
// dropped (each_line may write new lines before either), then lets at_end
// append and decide the result. A result of 0 replaces the data file with the
// temporary file in one rename(); any other result leaves the data file as it
// was. -2 when a file cannot be opened, created or fully written.
int rewrite_lines(const char* lock_path, const char* data_path, std::size_t line_size,
                  const std::function<LineVerdict(const char* line, LineOutput& out)>& each_line,
                  const std::function<int(LineOutput& out)>& at_end);

// The last step of every rewrite, line or record: with result 0 the ".tmp"
// sibling, flushed to disk, replaces data_path by one rename() (-2 when that
// fails); otherwise the temporary file goes and the data file stays as it was.
// Returns the result.
int finish_rewrite(const char* data_path, int result);

// How a keyed writer sees one line of its file.
enum class LineMatch { malformed, other, match };

// Which lines a keyed update or delete changes, and its result when none matched.
struct KeyedChange {
    bool first_only;  // only the first matching line, or every one
    int miss_result;  // STORE_NOT_FOUND or STORE_NOTHING_TO_CHANGE, as the file's operations say
    bool append_on_miss = false;  // an update that matches nothing appends new_line instead
};

// The insert / delete / update of files keyed by a field of their lines:
// insert (MODE_INSERT) appends new_line unless a line matches (-3, file
// unchanged); delete leaves matching lines out; update writes new_line in their
// place. Malformed lines vanish. Other modes are not for this writer.
int rewrite_keyed(const char* lock_path, const char* data_path, std::size_t line_size, int sql_mode,
                  const char* new_line, KeyedChange change,
                  const std::function<LineMatch(const char* line)>& match);

// Writer that only adds a line at the end (logs, one-line replies): takes the
// lock (-9 when busy), opens the data file for appending (creating it), ends
// a last line that lacks its line feed, and writes text. The file is not
// rewritten, so the cost does not grow with the file. 0, or -2 when the file
// cannot be opened or fully written.
int append_line(const char* lock_path, const char* data_path, const char* text);

// Cuts the comma-terminated fields of one line in order. A field that is not
// followed by its comma makes the line unusable (the caller skips it).
// Commas that are second bytes of two-byte characters do not end a field.
class LineFields {
public:
    explicit LineFields(const char* line) : cursor_(line) {}
    bool text(char* field, std::size_t width);  // cut to width - 1 bytes
    template <std::size_t N>
    bool text(char (&field)[N]) { return text(field, N); }
    bool number(long& value);  // decimal; empty or not a number reads 0
    bool number(int& value);
    // The free-text last field: everything up to the line feed (commas kept).
    void rest(char* field, std::size_t width);

private:
    bool next(const char*& start, std::size_t& length);
    const char* cursor_;
};

// Builds one line: each field followed by a comma, the line ended by a line feed.
class LineBuilder {
public:
    LineBuilder& text(const char* value);  // comma, CR and LF become spaces
    LineBuilder& number(long value);
    // The free-text last field, ended by the line feed instead of a comma:
    // commas stay, CR and LF become spaces.
    LineBuilder& rest(const char* value);
    const char* line();  // with the line feed (unless rest() ended it already)

private:
    std::string line_;
    bool ended_ = false;
};

// A text field made fit for a comma-separated line: comma, CR and LF become
// spaces, and a lone lead byte at the end (which would swallow the separator)
// becomes a space too.
std::string csv_field_text(const char* value);
