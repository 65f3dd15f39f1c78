// orva.cgi: a stand-in for the suite's main program, as far as the board
// needs one. It logs users in with the board's own session functions, shows
// the folder tree next to the content frame the board's framesets open in,
// and answers the requests the board's pages send to SYSINFO.CGI_FILE_NAME.
// Handlers are named o_<JOB>, as the board names its own b_<JOB>.
#pragma once

#include "screens/page_output.h"
#include "store/folder_tree.h"

// Pages without a session: the login form, with a note above it when note
// is not null (a refusal, a logged-off session) and the user id filled in.
void o_login_page(const char* note, const char* uid);

// JOB "LOGIN": checks uid and upw as the board does; the main window on
// success, the login form with a refusal otherwise.
void o_LOGIN();

// The jobs below run with a checked session: cgi_uid, cgi_SKEY1, cgi_SKEY2
// valid and G_USER_MST loaded.
void o_LOGOFF();
void o_MAIN();
void o_HOME();
void o_TREE();
void o_FOLDER_ACCESS();
void o_FOLDER_ACCESSWR();
void o_PREFS();
void o_PREFSWR();

// Pictures: they check the session themselves and answer every request that
// finds no picture with a transparent 1x1 GIF, so a page never shows a
// broken image.
void o_USER_PIC_DOWNLOAD();
void o_ICON_DL();

// True when the request carries uid and a key pair that the key check
// accepts and the user could be loaded (into G_USER_MST).
bool suite_session_valid();

// A link into this program for job, with the session.
Safe suite_link(const char* job);

// A link to the board program of folder for job, with the session and the folder.
Safe board_link(const TREE_DATA& folder, const char* job);

// Why a store call did not store: nullptr for success, else the words for
// its result.
const char* suite_store_refusal(int result);

// A line above a page's content telling how a request went.
void suite_result_line(const char* text, bool success);

// Ends an HTML page.
void suite_close_page();
