// A user's personal settings (user\<id>\personal.mst, lock personal.chk): one
// "key,value" a line. The key ends at the first comma; the value is the rest of
// the line, commas included, never a line break.
//
// Results: 0, -1 none (or an empty or unsafe user id, or an unknown mode),
// -2 a file could not be opened or written, -3 the key exists (insert),
// -9 lock busy.
#pragma once

#include <cstddef>

// Line buffer of personal.mst; a stored line (key, comma, value, line feed) is
// cut so that it always fits.
constexpr std::size_t PERSONAL_LINE_SIZE = 10000;

// in_buff is the key, out_buff the value (out_size bytes).
// 1 select: out_buff := the value of the first line with the key (empty when
//   none; cut to out_size - 1 bytes without splitting a character).
// 2 insert: -3 when the key exists, else appends "key,value".
// 3 delete: leaves out every line with the key.
// 4 update: replaces every line with the key by "key,value".
// A value is stored by update and, when that returns non-zero, insert.
int Fio_PERSONAL_MST(const char* in_user_id, int sql_mode, const char* in_buff, char* out_buff,
                     std::size_t out_size);

template <std::size_t N>
inline int Fio_PERSONAL_MST(const char* in_user_id, int sql_mode, const char* in_buff,
                            char (&out_buff)[N]) {
    return Fio_PERSONAL_MST(in_user_id, sql_mode, in_buff, out_buff, N);
}

// Stores one setting the way every writer does: update, and insert when
// there was nothing to update. The result of the last call.
int store_personal_setting(const char* in_user_id, const char* key, const char* value);

// Raises the decimal setting key by one in one rewrite under the lock, so that
// two writers at the same moment both count: every line of the key becomes the
// first line's value plus one (a value at LONG_MAX stays there), and a missing
// key is appended as 1. The result of the rewrite.
int raise_personal_counter(const char* in_user_id, const char* key);

// Several settings of one user in one rewrite of the file, so that all of
// them are stored or none: lines of these keys are replaced in place, missing
// keys appended in the order given. The result of the rewrite.
struct PersonalSetting {
    const char* key;
    const char* value;
};
int store_personal_settings(const char* in_user_id, const PersonalSetting* settings, std::size_t count);

// The eleven user-record settings of sUSER_MST (users.h).
// 1: sets USER_DISP_DEF 5, MODE 1 and WRITE_MODE 1, then every setting the
//    file holds; the other fields keep what they held.
// 2 or 4: stores all eleven in one rewrite: lines of these keys are replaced in
//    place, missing keys appended in the order USER_NAME, USER_LEVEL,
//    E_MAIL_ADDR, P_GROUP, USER_DISP_DEF, MODE, WRITE_MODE, BBS_FRAME_MODE,
//    TREE_MODE, LANGUAGE, PICFILE.
// Called by the user-list operations, after reading and while writing it.
int Fio_PERSONAL_MST_ALL(const char* in_user_id, int sql_mode);
