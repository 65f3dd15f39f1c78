// Writes folders, users, groups, memberships, access grants and folder
// settings into the data directory (SYSINFO.DATA_FILE_PATH) through the same
// store operations the board uses. Test installations, the demo installation
// and the administration tool build their data with it.
//
// A description is one item a line; '#' starts a comment; a value holding
// spaces is written in double quotes:
//   folder 12 name="Notices" access=1 write=2 mode=3 class=0 cgi=wbbs.cgi icon=pic.gif
//   user taro password=secret name="Taro Yamada" level=10 group=5 mode=1
//        write_mode=1 disp=5 language=Japanese mail=taro@example.com
//   group 5 name=Sales
//   member taro 5
//   grant 12 user taro 3
//   grant 12 group 5 5
//   setting 12 SHARE_USER_PERMIT 1
//   personal taro UNREAD_LISTMODE 1
// Omitted attributes take the values a new folder or user has in the suite.
#pragma once

#include <string>

// Every line is checked before the first write: an unknown item or
// attribute, a wrong number of words, a word or attribute that should be a
// number and is not, a user id unfit for a directory name, or a user without
// a password of 1 to 20 bytes gives -1 and writes nothing. Otherwise 0 when
// every item was written, or the store's result of the first item that failed
// (the items before it stay written).
// A readable reason goes into *error when error is not null.
int build_installation(const char* description, std::string* error);

// Only the check that build_installation makes before its first write:
// 0 when the description can be written, -1 (with the reason) when not.
int check_installation(const char* description, std::string* error);

// Checks the description against the data directory as well (run after
// SYSINFO is read): 0 when no item adds a folder, user, group, membership or
// grant that is already there or earlier in the description, and every item
// names only folders, users and groups that are there or come earlier; -1
// (with the reason) when not. Only selects are made, on files that exist.
int check_installation_against_store(const char* description, std::string* error);
