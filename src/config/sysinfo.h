// The suite's installation settings, read from orva.ini once per request.
#pragma once

struct SYSINFO {
    char SITE_ID[82];
    char LANGUAGE[1002];
    char CGI_FILE_NAME[256];
    char CG_FILE_PATH[1002];
    char CG_FILE_WEB_PATH[1002];
    char DATA_FILE_PATH[1002];
    char BACK_GIF[252];
    char LOG_DATE[10];
    long DATETIME;
    long IECOLS;
    long NSCOLS;
    long ROWS;
    long MAX_CONTENTS;
    char LOGOFF_URL[1002];
    char LOGIN_ERR_URL[1002];
    char FRAME_DIVIDE[10];
    long INITIAL_GP;
    long ATTACHED_FILE_LIMIT;
    char TIME_CORRECT[10];
    char MAILER[1002];
};

extern struct SYSINFO SYSINFO;

// Reads the file into SYSINFO after setting every default. 0 read, -1 not opened.
int SysFileOpen(const char* in_filename);

// Writes SYSINFO in the canonical layout (the suite's tools do; the board never does).
// 0 written, -2 the file could not be created or fully written.
int SysFileWrite(const char* in_filename);
