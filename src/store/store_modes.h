// The modes every data-file operation takes.
#pragma once

// sql_mode
constexpr int MODE_SELECT = 1;
constexpr int MODE_INSERT = 2;
constexpr int MODE_DELETE = 3;
constexpr int MODE_UPDATE = 4;

// search_mode of the files whose records are found by key or by position
constexpr int SEARCH_BY_KEY = 1;
constexpr int SEARCH_BY_POSITION = 2;
