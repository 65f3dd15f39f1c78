// A user's session key file (user\<id>\skey.mst, lock skey.chk): MST_SKEY
// records one after the other, in practice one.
//
// Modes: 1 select, 2 insert, 3 delete, 4 update. Results: 0, -1 none (or an
// empty or unsafe user id, or an unknown mode), -2 a file could not be opened
// or written, -3 a record of the id exists (insert), -9 lock busy.
#pragma once

#include <cstddef>
#include <cstdint>

// Stored as its little-endian memory image.
struct MST_SKEY {
    int32_t SKEY1;
    int32_t SKEY2;
    char USER_ID[22];
    char REMOTE_ADDR[252];   // client address at login
    char USER_AGENT[252];    // browser identification at login
    char PADDING[2];         // always zero on disk
};

static_assert(sizeof(MST_SKEY) == 536, "skey.mst records are 536 bytes");
static_assert(offsetof(MST_SKEY, SKEY1) == 0);
static_assert(offsetof(MST_SKEY, SKEY2) == 4);
static_assert(offsetof(MST_SKEY, USER_ID) == 8);
static_assert(offsetof(MST_SKEY, REMOTE_ADDR) == 30);
static_assert(offsetof(MST_SKEY, USER_AGENT) == 282);
static_assert(offsetof(MST_SKEY, PADDING) == 534);

extern MST_SKEY sMST_SKEY;

// UserID names the directory in every mode. Ids are compared in ASCII upper
// case, and every record a writer leaves in the file carries its id in upper case.
// 1 select: sMST_SKEY := the first record of UserID (left as it was when none).
// 2 insert: appends sMST_SKEY; -3 when a record of sMST_SKEY.USER_ID exists.
// 3 delete: leaves out every record of UserID.
// 4 update: replaces every record of sMST_SKEY.USER_ID by sMST_SKEY.
// A missing file is created (empty) by any mode; the directory must exist.
int Fio_MST_SKEY(const char* UserID, int sql_mode);
