// One-line replies under a message: lineres.txt in the message directory, one
// line "%s,%s,%s\n" (user id, user name, reply) per reply in order of writing,
// under "lineres.chk". The reply is the rest of the line: it may hold commas,
// never a line break.
#pragma once

#include <cstdint>

struct LINE_RES_TXT {
    int32_t FOLDER_NO;  // with SEL_NO, names the file
    int32_t SEL_NO;
    int32_t SUB_NO;     // 1-based position of the line (select, delete, update)
    char USER_ID[22];   // empty ends a list
    char USER_NAME[82];
    char LINE_REPLY[256];
};

constexpr int LINE_RES_BATCH = 20;

extern LINE_RES_TXT sLINE_RES_TXT;
extern LINE_RES_TXT sLINE_RES_TXT20[LINE_RES_BATCH];

// On sLINE_RES_TXT: 2 appends its line (what the board uses); 1 select, 3 delete
// and 4 update work on the well-formed line at position SUB_NO (-1 none).
// 0; -2 a file could not be opened or written; -9 locked.
int Fio_LINE_RES_TXT(int sql_mode);

// Clears sLINE_RES_TXT20, passes over the first in_stpos lines and fills up to
// 20 entries (ids, names and replies; numbers 0) from the following well-formed
// lines. 0; -2; -9.
int Fio_LINE_RES_TXT20(long in_folder_no, long in_sel_no, long in_stpos);
