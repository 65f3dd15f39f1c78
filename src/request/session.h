// Who the caller is and what the caller may do in a folder.
#pragma once

#include "store/folder_tree.h"

// 0 when the request's key pair (cgi_SKEY1, cgi_SKEY2) equals the stored pair
// of uid; -1 when it does not or nothing is stored (or uid cannot name a user);
// the store's result (-2, -9) when the key file could not be read.
int G_SkeyChk(const char* uid);

// True when upw is the stored password of the user whose directory user_id
// names (the id's stored spelling). The password is read into
// sUSER_MST.USER_PASS; the rest of sUSER_MST stays as it was.
bool password_matches(const char* user_id, const char* upw);

// Password login. Clears both keys, then on success (0) fills cgi_SKEY1 and
// cgi_SKEY2 with the session's pair, sUSER_MST holding the user (USER_ID in its
// stored spelling). -1 for an unknown user or a wrong password (keys empty);
// -9 when the user's files stayed locked past the reader's wait (keys empty);
// otherwise the result of storing the new key record (keys set all the same).
int G_LoginChk(const char* uid, const char* upw);

// The access level of G_USER_MST in folder in_folder_no: 0 or less none,
// 1 read, 2 to 7 write, 8 folder administration, 9 system administrator.
// A caller that has just read the folder's tree record passes it, and it is
// not read again (sTREE_DATA is left holding it, as a read would).
long G_chk_ACL(long in_folder_no, const TREE_DATA* folder_record = nullptr);

// A session key: uniformly drawn from 1 to 2147483647 by the operating
// system's random source, so that keys cannot be computed from the login time.
long draw_session_key();

// Loads the user of the request (cgi_uid) into G_USER_MST and, when the user
// has a language of their own, the message table in it. A user that cannot
// be loaded leaves G_USER_MST empty, which grants nothing.
void load_request_user();

// Records a password login of G_USER_MST when the installation logs logins
// (LOG_DATE 1 or more): a system log line, LAST_LOGIN_DATE and
// TOTAL_LOGIN_COUNT.
void record_login();
