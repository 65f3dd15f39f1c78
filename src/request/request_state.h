// Request-wide state: filled by main in its fixed start-up order, read by the
// handlers, never freed.
#pragma once

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
