// The files in a folder's directory that belong to the folder itself:
// dir.cnf (board settings, one "KEY,value," a line), info.txt (the folder's
// information text) and defo.txt (the text a new message starts with).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

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

// A folder's board settings: dir.cnf's keys of the same names, and the two
// folder texts. Filled by the screens' loader for every request.
struct DIR_CONFIG {
    int32_t ATTACH_MAX;      // attachment slots per message; 0 none
    char INFO[FOLDER_TEXT_SIZE];
    char DEFO[FOLDER_TEXT_SIZE];
    int32_t REWRITE_FLG;     // 2: writers may edit their own messages
    int32_t RES_PERMIT_FLG;  // 1: replies refused
    int32_t TIME_LIMIT_FLG;  // default lifetime in months; 0 none
    int32_t DATETIME;        // 1: dates without the time in the lists
    int32_t WRITER_ID;       // 0: the writer's id is shown
    int32_t HTML_MODE;       // default text mode of a new message
    int32_t CONFIRM;         // 0 none, 1 the writer chooses, 2 always
    int32_t LINE_RES;        // 1: one-line replies offered
    int32_t NICK_NAME;       // 1: the writer types a name
    char RES_HEADER[82];     // reply title prefix
    char TITLEPIC[252];      // picture file names, bare, in the folder's "fcg"
    char BACKPIC1[252];
    char BACKPIC2[252];
    char BACKPIC3[252];
    char FONTCOLOR1[8];      // six hexadecimal digits, no '#'
    char FONTCOLOR2[8];
    char FONTCOLOR3[8];
    char RESFONTCOLOR2[8];
    char RESFONTCOLOR3[8];
    char FRAMESET1[8];       // row heights of the folder's frames
    char FRAMESET2[8];
    char FRAMESET3[8];
};

// Every setting line of dir.cnf, in file order, as key and value (a line
// without both commas is passed over). The file is created empty when
// missing. 0; -9 lock held; -2 cannot be opened or read.
int Fio_DIR_CONFIG_EACH(long in_folder_no,
                        const std::function<void(const char* key, const char* value)>& each);

// 1 select: the whole file (created empty when missing) into in_buff, cut
// without splitting a character to in_size - 1 bytes, NUL-terminated; 0.
// 2 insert and 4 update: the file's content becomes the text of in_buff
// (replaced as a whole); 0, -2 a write failed. 3 delete: removes the file; 0.
// -9 lock held, -2 a file could not be opened or created. Any other sql_mode
// returns -1 and touches nothing.
int Fio_INFO_TXT(long in_folder_no, int sql_mode, char* in_buff, std::size_t in_size = FOLDER_TEXT_SIZE);
int Fio_DEFO_TXT(long in_folder_no, int sql_mode, char* in_buff, std::size_t in_size = FOLDER_TEXT_SIZE);

// For the folder administration: the folder's directory, which holds these
// files and every message file of the folder. make: 0 when it exists
// afterwards, -2 when it could not be created. remove: the directory and all
// it holds; 0 when none is left, -2 when it could not go.
int make_folder_directory(long in_folder_no);
int remove_folder_directory(long in_folder_no);

// For the tools that write dir.cnf: 0 when the board reads `key` and `value`
// can stand as its value (a number for a number setting; a text that fits its
// field, without a comma, a line break or another control character); -1 the
// board has no such setting; -2 the value does not fit it.
int DIR_CONFIG_check(const char* key, const char* value);
