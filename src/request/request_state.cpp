#include "request/request_state.h"

char cgi_uid[22];
char cgi_upw[22];
char cgi_JOB[128];
char cgi_SUB[256];
char cgi_SKEY1[22];
char cgi_SKEY2[22];
char cgi_help[22];
long cgi_FOLDER_NO;
int g_cgi_get_res;
char JOB_EXE[128];
long ACL_LEVEL;
TREE_DATA G_TREE_DATA;
USER_MST G_USER_MST;
DIR_CONFIG G_DIR_CONFIG;
char G_WRITE_DATA[WRITE_DATA_SIZE];
