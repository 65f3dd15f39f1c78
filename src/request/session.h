// Who the caller is and what the caller may do in a folder.
#pragma once

// 0 when the request's key pair (cgi_SKEY1, cgi_SKEY2) equals the stored pair
// of uid; -1 when it does not or nothing is stored (or uid cannot name a user);
// the store's result (-2, -9) when the key file could not be read.
int G_SkeyChk(const char* uid);

// Password login. Clears both keys, then on success (0) fills cgi_SKEY1 and
// cgi_SKEY2 with the session's pair, sUSER_MST holding the user (USER_ID in its
// stored spelling). -1 for an unknown user or a wrong password (keys empty);
// otherwise the result of storing the new key record (keys set all the same).
int G_LoginChk(const char* uid, const char* upw);

// The access level of G_USER_MST in folder in_folder_no: 0 or less none,
// 1 read, 2 to 7 write, 8 folder administration, 9 system administrator.
long G_chk_ACL(long in_folder_no);

// A session key: uniformly drawn from 1 to 2147483647 by the operating
// system's random source, so that keys cannot be computed from the login time.
long draw_session_key();
