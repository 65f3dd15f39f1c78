// A message's own directory "x<SEL_NO>" in its folder's directory: the body
// text, the list of attached files and one slot directory per attachment; the
// folder's picture directory "fcg"; and moving an uploaded file into place.
#pragma once

#include <cstddef>
#include <cstdint>

// The body buffer of a request (G_WRITE_DATA): a body holds at most one byte less.
constexpr std::size_t BODY_TEXT_SIZE = 104000;

// One line of add_file.txt: "%d,%d,%s,\n". SEL_NO with SUB_NO is the key.
struct ADD_FILE {
    int32_t SEL_NO;          // message number; names the message directory
    int32_t SUB_NO;          // attachment slot, from 1
    char FILE_NAME[258];     // the attached file's name, without directory
};

extern ADD_FILE sADD_FILE;

// Path composition. Each returns false (out empty) when the result does not fit;
// the ones that take a file name also refuse a name that is not a safe path
// component, so a name from an upload or from add_file.txt never leaves its slot.
bool message_dir_path(char* out, std::size_t out_size, long folder_no, long sel_no);
// Removes the message's directory with all it holds.
void remove_message_dir(long folder_no, long sel_no);
// The message's directory, empty: a number given again must not show
// anything of an earlier message of that number.
void fresh_message_dir(long folder_no, long sel_no);
// True only when the message's directory is known not to be there (any other
// failure to look is no proof that nothing is in it).
bool message_dir_missing(long folder_no, long sel_no);
bool message_file_path(char* out, std::size_t out_size, long folder_no, long sel_no,
                       const char* file);
bool attachment_dir_path(char* out, std::size_t out_size, long folder_no, long sel_no,
                         long sub_no);
bool attachment_file_path(char* out, std::size_t out_size, long folder_no, long sel_no,
                          long sub_no, const char* file_name);
bool folder_picture_dir_path(char* out, std::size_t out_size, long folder_no);
bool folder_picture_path(char* out, std::size_t out_size, long folder_no, const char* file_name);

// body.txt of the message, under "body.chk":
//   1 select: the whole file into in_buff (at most in_size - 1 bytes, then a NUL)
//             with one read; a missing file is created empty.
//   2 insert, 4 update: in_buff (strlen bytes) becomes the whole file.
//   3 delete: removes the file.
// 0; -2 the file could not be opened or written; -9 locked.
int Fio_BODY_TXT(long in_folder_no, long in_sel_no, int sql_mode, char* in_buff,
                 std::size_t in_size = BODY_TEXT_SIZE);

// add_file.txt of message sADD_FILE.SEL_NO, keyed by SEL_NO and SUB_NO, under
// "add_file.chk": 1 select (FILE_NAME of the first line with the key; -1 none),
// 2 insert (-3 key exists), 3 delete every line with the key (-1 none),
// 4 update every line with the key (-1 none). -2 a file could not be opened, or
// FILE_NAME is not a safe path component (nothing written); -9 locked.
int Fio_ADD_FILE_TXT(long in_folder_no, int sql_mode);

// Stores sADD_FILE as an update, else an insert, in one rewrite under one
// lock: what Fio_ADD_FILE_TXT's update followed by its insert leaves.
int store_add_file(long in_folder_no);

// Moves an uploaded file to its place: renames FileSRC over FileDSC (copies it
// and removes FileSRC when they are on different file systems) and makes
// FileDSC readable and writable by all (777). -1 when the
// source is missing or the destination cannot be created or fully written; in
// that case the source stays and no partial destination is left.
int Fio_filemove(const char* FileSRC, const char* FileDSC);
