// The suite's installation settings, read from orva.ini once per request.
#pragma once

#include <cstddef>

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

// Puts every field at its default, as the reader does before it reads.
void SysFileDefaults();

// Sets the field of the orva.ini key (exact, upper case), for the tools that
// write the file. Unlike the reader it cuts nothing: 0 set; -1 no such key;
// -2 a value the file cannot hold (a comma, a line break, longer than the
// field) or, for a number field, not a whole decimal number (nothing set).
int SysInfoSet(const char* key, const char* value);

// The n-th key of orva.ini from 0, in the order of the record; null past the last.
const char* SysInfoKey(int n);

// The field of the key as the file would hold it (numbers in decimal), cut to
// out_size - 1 bytes. 0, -1 no such key (out empty).
int SysInfoGet(const char* key, char* out, std::size_t out_size);

// Writes SYSINFO in the canonical layout (the suite's tools do; the board never does).
// 0 written, -2 the file could not be created or fully written.
int SysFileWrite(const char* in_filename);
