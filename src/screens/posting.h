// Storing what the compose form sends, deleting messages, and the pages that
// follow a post.
#pragma once

// Type 1 new message, 2 reply, 3 edit, 4 deletion (JOB "BWRITE_NEWWR",
// "BWRITE_RESWR", "BWRITE_REWWR", "BWRITE_DELWR"). 0 done; 1 no right; 2 title
// empty; 3 writer name empty; 5 limit date invalid; -8 request too large
// (uploads discarded); -1, -2, -3, -9 from the store.
int b_BWRITEWR(int type);

// The page after a successful post, deletion or move: a button back to the folder.
void b_BWRITEWR_FIX();

// The page that closes the compose window (runs before the session check).
void b_BWRITEWR_FIX2();
