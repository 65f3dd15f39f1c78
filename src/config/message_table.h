// The numbered user-visible messages of one language, loaded from wbbs.lng.
#pragma once

#include <cstddef>

constexpr int STRDEF_COUNT = 1000;
constexpr int STRDEF_WIDTH = 202;

struct STRDEF {
    char Message[STRDEF_COUNT][STRDEF_WIDTH];
};

extern struct STRDEF STRDEF;

// Empties the table, then loads the section "[language]". 0 when the file was
// read (whether or not the section exists), -1 when it could not be opened.
int StrdefFileOpen(const char* filename, const char* language);

// Lists the section names of the file, joined by commas, into language
// (language_size bytes). 0 read, -1 not opened.
int StrdefLanguageRes(const char* filename, char* language, std::size_t language_size);
