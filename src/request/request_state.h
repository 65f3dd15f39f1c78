// Request-wide state: filled by main in its fixed start-up order, read by the
// handlers, never freed.
#pragma once

#include <cstddef>

#include "store/folder_files.h"
#include "store/folder_tree.h"
#include "store/users.h"

extern char cgi_uid[22];
extern char cgi_upw[22];
extern char cgi_JOB[128];
extern char cgi_SUB[256];
extern char cgi_SKEY1[22];
extern char cgi_SKEY2[22];
extern char cgi_help[22];
extern long cgi_FOLDER_NO;
extern int g_cgi_get_res;
extern char JOB_EXE[128];
extern long ACL_LEVEL;

// Copies taken right after loading, so that later store calls, which reuse the
// module records, do not disturb them.
extern TREE_DATA G_TREE_DATA;
extern USER_MST G_USER_MST;

// The folder's board settings, loaded for every request once the access level is known.
extern DIR_CONFIG G_DIR_CONFIG;

// The body of the message being shown, composed, posted or searched.
constexpr int WRITE_DATA_SIZE = 104000;
extern char G_WRITE_DATA[WRITE_DATA_SIZE];

// Empties the frame parameters and JOB_EXE: the state at the start of a request.
void clear_request_state();

// The start every program of the installation shares: clears the request
// state, reads orva.ini and the installation language's messages (false,
// after an error page, when either cannot be read), parses the request and
// reads its frame parameters.
bool open_request();

// Reads the frame parameters (uid, upw, JOB, SUB, SKEY1, SKEY2, help,
// FOLDER_NO) of the parsed request, each cut to its field.
void read_frame_parameters();

// The folder's program (its CGI_NAME up to the first "?") into out: the
// address of the links and forms of that folder's pages; an address with a
// scheme other than http or https gives "wbbs.cgi".
void folder_program(const TREE_DATA& folder, char* out, std::size_t out_size);
