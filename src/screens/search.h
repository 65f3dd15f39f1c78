// Searching titles, writers and bodies of one folder or of chosen folders.
#pragma once

// JOB "SEARCH" (the folder) and "ALLSEARCH" (in_folder_no 0: the folders
// chosen in ROOM_NO): the form, and the matching messages with the matches in
// bold and the number of hits.
void b_SEARCH(long in_folder_no);
