#include "request/folder_walk.h"

#include <cstdint>

#include "request/session.h"

namespace {

// A damaged tree must not make the walk endless: no installation has more
// folders than this.
constexpr long kMaxTreeLines = 1000000;

}  // namespace

void for_each_open_board_folder(const std::function<void(const TREE_DATA& folder)>& visit) {
    bool skipping = false;
    int32_t skip_class = 0;
    for (long line = 1; line <= kMaxTreeLines; ++line) {
        if (Fio_TREE_DATA(line, 1, 2) != 0) return;
        // The access check and the visitor reuse the tree's record.
        const TREE_DATA folder = sTREE_DATA;
        if (skipping && folder.CLASS > skip_class) continue;
        skipping = false;
        if (G_chk_ACL(folder.FOLDER_NO) <= 0) {
            skipping = true;
            skip_class = folder.CLASS;
            continue;
        }
        if (folder.MODE != 3) continue;
        visit(folder);
    }
}
