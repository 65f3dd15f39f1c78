// The walk over the folder tree that the screens across folders share.
#pragma once

#include <functional>

#include "store/folder_tree.h"

// Every board folder (MODE 3) the current user (G_USER_MST) may open, in tree
// order. A folder without access hides its whole subtree, whatever the
// folders below it grant. visit gets a copy of the folder's record and may
// call any store operation.
void for_each_open_board_folder(const std::function<void(const TREE_DATA& folder)>& visit);
