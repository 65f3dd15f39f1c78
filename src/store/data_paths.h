// Composition of data-file paths from names that come from requests or files.
#pragma once

#include <cstddef>

// Size of every composed data path.
constexpr std::size_t DATA_PATH_SIZE = 1200;

// A data file and the lock file that guards it.
struct GuardedFile {
    char data[DATA_PATH_SIZE];
    char lock[DATA_PATH_SIZE];
};

// A path in a buffer of its own: the file primitives convert the paths they
// are given in place, so a caller that uses a path twice passes a fresh copy.
struct PathBuffer {
    char text[DATA_PATH_SIZE];
};
// path followed by suffix; "" when they do not fit (never a cut path).
PathBuffer make_path(const char* path, const char* suffix = "");

// True when name can stand as one path component: not empty, not "." or "..",
// no '/', no '\\' (other than the second byte of a two-byte character, which
// the path conversion leaves alone), no control character, no lead byte
// without its second byte. User ids and file names from a
// request or a file are checked with this before they reach any path.
bool is_safe_path_component(const char* name);

// "<data dir>user\\<user id>\\<file>" into out; false (out empty) when the id is
// not a safe path component or the path does not fit.
bool user_file_path(char* out, std::size_t out_size, const char* user_id, const char* file);

// "<data dir><folder no>\\<file>" into out; false (out empty) when it does not fit.
bool folder_file_path(char* out, std::size_t out_size, long folder_no, const char* file);

// "<data dir><file>" into out; false (out empty) when it does not fit.
bool data_file_path(char* out, std::size_t out_size, const char* file);
