// The user list (user.mst: one user id a line) and each user's scrambled
// password (user\<id>\password.mst). Every attribute of a user other than the
// id and the password lives in the personal settings (personal_settings.h).
//
// Modes: 1 select, 2 insert, 3 delete, 4 update. Results: 0, -1 not found,
// -2 a file could not be opened or written, -3 already present, -9 lock busy.
#pragma once

#include <cstddef>
#include <functional>

// USER_MST.MODE: the kinds of account.
constexpr long kPersonalAccountMode = 1;
constexpr long kSharedAccountMode = 2;

struct USER_MST {
    char USER_ID[22];      // login id, compared in ASCII upper case
    char USER_NAME[82];
    long USER_LEVEL;       // 100 or more: system administrator
    char E_MAIL_ADDR[252];
    char USER_PASS[22];    // clear text, filled only by Fio_MST_PASSWORD select
    long P_GROUP;          // primary group
    long USER_DISP_DEF;    // default display of the message list
    long MODE;             // 1 personal account, 2 shared account
    long WRITE_MODE;       // 2: the folder frameset after posting
    long BBS_FRAME_MODE;
    long TREE_MODE;
    char LANGUAGE[256];    // empty: the system language
    char PICFILE[256];
};

// The module record every operation here and in personal_settings.h works on.
extern USER_MST sUSER_MST;

// user.mst, keyed by UserID (select, delete) or sUSER_MST.USER_ID (insert,
// update). Select fills sUSER_MST (cleared first; USER_ID in the stored
// spelling) and then its personal settings (-9, sUSER_MST empty, while they
// are being rewritten); insert appends the id and update
// keeps its line, both storing sUSER_MST's settings while user.chk is held.
// An id that cannot name a user directory is refused with -1. Mode 0 or any
// other: -1.
int Fio_USER_MST(const char* UserID, int sql_mode);

// Line line_no (from 1; 0 or less reads line 1) of list mst_no (1 user.mst,
// 2 user2.mst, 3 user3.mst, 4 user4.mst) into sUSER_MST with its personal
// settings. 0; -1 past the last line (sUSER_MST empty) or an unknown list.
int Fio_USER_MST2(long line_no, int mst_no);

// Every user id of user.mst in file order, read in one pass without the
// users' settings, until the first empty line (as a walk with Fio_USER_MST2
// stops). Each id is handed to visit as stored. The whole list is read before
// the first call, so visit may take other locks. 0; -2 (the ids read before
// the failure are visited); -9 (nothing visited).
int for_each_user_id(const std::function<void(const char* user_id)>& visit);

// user\<UserID>\password.mst. 1 select: the unscrambled password into
// sUSER_MST.USER_PASS (a missing file is created and reads empty); 2 and 4
// write sUSER_MST.USER_PASS scrambled, without a line break; 3 removes the
// file (0 removed, -1 not). An empty or unsafe UserID, or another mode: -1.
int Fio_MST_PASSWORD(const char* UserID, int sql_mode);

// Bytes a scrambled password needs: 20 characters as two digits each, and the terminator.
constexpr std::size_t F03_SCRAMBLED_SIZE = 41;

// Mode 1 scrambles the first 20 bytes of the text into lower-case hexadecimal
// pairs; mode 2 turns up to 20 pairs back into bytes. Keyed with key_id, whose
// characters are used from the last to the first, cyclically. In place: the
// buffer holds in_size bytes (a scrambled result needs F03_SCRAMBLED_SIZE;
// pairs that do not fit are left out). An empty key leaves the bytes unkeyed.
void f03_encryption(char* in_buff, int mode, const char* key_id, std::size_t in_size);

template <std::size_t N>
inline void f03_encryption(char (&in_buff)[N], int mode, const char* key_id) {
    f03_encryption(in_buff, mode, key_id, N);
}

// The byte value of the two hexadecimal digits at in_buff (anything else counts 0).
int f03_atocx(const char* in_buff);

// For the user administration and test installations: creates the data
// directory's "user" directory and the user's own directory in it, which must
// exist before a user is inserted. 0 when the directory exists afterwards,
// -1 for an id that cannot name a directory, -2 when it could not be created.
int make_user_directory(const char* user_id);

// For the user administration: removes the user's directory and everything in
// it (password, session keys, personal settings, groups, read marks). The id
// is used as given, so pass the stored spelling. 0 when no such directory is
// left, -1 for an id that cannot name a directory, -2 when it could not go.
int remove_user_directory(const char* user_id);
