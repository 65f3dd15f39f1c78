// The suite's folder tree (tree.mst in the data directory): one line a folder,
// in tree order, each indented by its depth.
#pragma once

#include <cstdint>

struct TREE_DATA {
    int32_t CLASS;         // depth, 0 at the top; stored as leading spaces
    int32_t FOLDER_NO;     // the key, also the name of the folder's directory
    char NAME[82];
    int32_t MODE;          // 3: a board folder
    char CGI_NAME[252];
    int32_t ACCESS_LEVEL;  // user level from which a user may read
    int32_t WRITE_LEVEL;   // user level from which a user may write
    char PIC_FILENAME[252];
    int32_t TARGET;
    int32_t UPW;
    int32_t SKEY;
    int32_t ICON_MODE;
};

// The record a select fills and a write takes its new line from. A select that
// finds nothing leaves it as it was.
extern TREE_DATA sTREE_DATA;

// sql_mode 1 select, 2 insert, 3 delete, 4 update; search_mode 1: in_folder_no
// is a folder number, 2: a 1-based line position. Select 0 / -1 none; insert
// 0 / -3 duplicate key; delete and update 0 / -3 no match; -9 lock held, -2 a
// file could not be opened. Only the first matching line counts. Any other
// sql_mode or search_mode returns -1 and touches nothing.
int Fio_TREE_DATA(long in_folder_no, int sql_mode, int search_mode);
