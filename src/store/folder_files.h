// The files in a folder's directory that belong to the folder itself:
// dir.cnf (board settings, one "KEY,value," a line), info.txt (the folder's
// information text) and defo.txt (the text a new message starts with).
#pragma once

#include <cstddef>

// Size of the fields that hold info.txt and defo.txt (4001 bytes and the NUL).
constexpr std::size_t FOLDER_TEXT_SIZE = 4002;

// in_buff is the key (exact, case-sensitive); out_buff the value: output of a
// select (out_size bytes, the value cut to fit), input of an insert or update.
// 1 select: 0 found, -1 none (out_buff empty). 2 insert: 0, -3 key exists.
// 3 delete (every line with the key): 0, -1 none. 4 update (every line with
// the key): 0, -1 none. -9 lock held, -2 a file could not be opened. Any other
// sql_mode returns -1 and touches nothing.
int Fio_DIR_CONFIG(long in_folder_no, int sql_mode, const char* in_buff, char* out_buff,
                   std::size_t out_size);

// The usual call with a fixed-size buffer: its size comes along by itself.
template <std::size_t N>
int Fio_DIR_CONFIG(long in_folder_no, int sql_mode, const char* in_buff, char (&out_buff)[N]) {
    return Fio_DIR_CONFIG(in_folder_no, sql_mode, in_buff, out_buff, N);
}

// 1 select: the whole file (created empty when missing) into in_buff, cut
// without splitting a character to in_size - 1 bytes, NUL-terminated; 0.
// 2 insert and 4 update: the file's content becomes the text of in_buff
// (replaced as a whole); 0, -2 a write failed. 3 delete: removes the file; 0.
// -9 lock held, -2 a file could not be opened or created. Any other sql_mode
// returns -1 and touches nothing.
int Fio_INFO_TXT(long in_folder_no, int sql_mode, char* in_buff, std::size_t in_size = FOLDER_TEXT_SIZE);
int Fio_DEFO_TXT(long in_folder_no, int sql_mode, char* in_buff, std::size_t in_size = FOLDER_TEXT_SIZE);
