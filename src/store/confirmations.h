// Read confirmations of a message: confirm.txt in the message directory, one
// line "%s,%d,%s,\n" (user id, confirmation level, user name) per confirming
// user, in order of confirmation, under "confirm.chk".
#pragma once

#include <cstdint>

struct CONFIRM_TXT {
    int32_t FOLDER_NO;      // with SEL_NO, names the file
    int32_t SEL_NO;
    char USER_ID[22];       // the key
    int32_t CONFIRM_LEVEL;  // the confirmation chosen
    char USER_NAME[82];
};

struct CONFIRM_TXT100 {
    char USER_ID[22];  // empty ends the list
    int32_t CONFIRM_LEVEL;
    char USER_NAME[82];
};

constexpr int CONFIRM_BATCH = 100;

extern CONFIRM_TXT sCONFIRM_TXT;
extern CONFIRM_TXT100 sCONFIRM_TXT100[CONFIRM_BATCH];

// On sCONFIRM_TXT, keyed by USER_ID (exact):
//   1 select: CONFIRM_LEVEL and USER_NAME of the first line with the key (0 and
//             empty first; a matching line with an empty name ends the search: -1).
//   2 insert (-3 key exists), 3 delete every line with the key (-1 none),
//   4 update every line with the key (-1 none).
// -2 a file could not be opened; -9 locked.
int Fio_CONFIRM_TXT(int sql_mode);

// Clears sCONFIRM_TXT100, passes over the first in_stpos lines and fills up to
// 100 entries from the following well-formed lines. 0; -2; -9.
int Fio_CONFIRM_TXT100(long in_folder_no, long in_sel_no, long in_stpos);

// Number of lines of the file (a missing file is created empty: 0); -2; -9.
int Fio_CONFIRM_TXT_COUNT(long in_folder_no, long in_sel_no);

// Removes the file; -9 while the lock is held (tested, not taken).
int Fio_CONFIRM_TXT_DELETE(long in_folder, long in_sel_no);
