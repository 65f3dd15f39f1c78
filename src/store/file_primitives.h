// File, directory and path primitives. Data paths are composed with backslash
// separators; every primitive that takes a path converts it in place to forward
// slashes first (the caller's buffer holds forward slashes afterwards).
// No primitive goes through a shell.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <functional>

// Path conversion and names.
void yen_to_sura(char* fname);
void editpath(const char* fname, const char* oldpath, char* newpath, std::size_t newpath_size);
int check_name(const char* keyword, const char* name);  // 0 match, -1 no match

// Directories and files.
void Cu_mkdir(char* in_buff);                      // one level; an existing path is left alone
int Cu_rmdir(char* in_buff);                       // -1 nothing there, else 0 / -1
void Cu_DelDIR(char* in_buff);                     // removes the directory and all it holds
int Cu_remove(char* in_buff);                      // 0 removed, -1 not
void Cu_cpfile(char* dsc_file, char* src_file);    // replaces dsc_file by a copy of src_file
int Cu_rename(char* in_buff1, char* in_buff2);          // 0 renamed, -1 not
// Replaces target by temp so that a power loss cannot bring target back empty
// or torn: when target exists, temp's bytes reach the disk before the rename.
// 0 replaced, -1 not (temp stays).
int Cu_replace_durably(char* temp, char* target);
void Cu_chmod(char* FileDSC, const char* mode);    // mode as octal text, for example "777"
long Cu_get_filelength(char* FileSRC);             // 0 when the path cannot be examined
void Cu_setmode();                                 // binary stdout: nothing to do on this platform

// Lists the entries of the pattern's directory that match its name part, as
// bare names joined by commas; the list replaces the pattern in the caller's
// buffer of filename_size bytes. Names that would not fit are left out.
void Cu_filefind(char* filename, std::size_t filename_size);

// The same search without a size bound: calls visit with each matching bare
// name, in directory order. The pattern is converted in place.
void Cu_forEachFile(char* pattern, const std::function<void(const char* name)>& visit);

// Removes the file when its status-change time lies more than in_min minutes
// in the past. 0 younger or removed, -1 missing or not removable.
int Cu_removefile1h(char* filename, int in_min);

// Unbuffered descriptors.
int Cu_b_open(char* FileName, int mode);  // mode 0: existing only; else create 0600 if missing
// Creates a new file 0600 that must not exist yet (O_CREAT | O_EXCL); -1 if it
// exists or cannot be created.
int Cu_b_create_new(char* FileName);
long Cu_b_read(int fh, void* buff, std::size_t in_count);
long Cu_b_write(int fh, const void* buff, std::size_t in_count);
long Cu_b_lseek(int fh, long offset, int origin);
int Cu_b_close(int fh);

// Buffered streams.
FILE* Cu_fopen(char* filename, const char* mode);
// The same with a buffer the caller lends for the stream's life (it must stay
// until the stream is closed): no allocation and no stat of the file to size one.
// Every file of a request is opened this way on the hot paths.
constexpr std::size_t kStreamBufferSize = 4096;
FILE* Cu_fopen_lent(char* filename, const char* mode, char (&buffer)[kStreamBufferSize]);
// Opens filename for reading and writing ("r+"), creating it empty when it is
// missing; unlike a second open with "w+", a file another process has just
// stored in the meantime is never truncated.
FILE* Cu_fopen_or_create_lent(char* filename, char (&buffer)[kStreamBufferSize]);
std::size_t Cu_fread(void* buffer, std::size_t size, std::size_t count, FILE* stream);
std::size_t Cu_fwrite(const void* buffer, std::size_t size, std::size_t count, FILE* stream);
int Cu_fseek(FILE* stream, long offset, int origin);
int Cu_fclose(FILE* stream);

// A file read once from its start, line by line, as fgets reads a stream, but
// straight from the descriptor: no stream to set up, and a read that returns
// less than asked ends the file (these are regular files), so no further read
// only to learn that. For the files every request reads whole.
class LineFile {
public:
    explicit LineFile(char* filename);  // the path is converted in place
    ~LineFile();
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;
    bool is_open() const { return fd_ >= 0; }
    // As fgets (size at least 2): at most size - 1 bytes, up to and including
    // the first '\n'; false when nothing is left. A read error ends the file
    // as its end does.
    bool read_line(char* line, std::size_t size);

private:
    bool fill();
    int fd_ = -1;
    bool at_end_ = false;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    char buffer_[kStreamBufferSize];
};
