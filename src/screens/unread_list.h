// The unread messages of one folder or of every board folder, and marking
// messages read.
#pragma once

// JOB "NRDETAILS" (the folder) and "NRDETAILSALL" (in_folder_no 0: every
// board folder the user may open): the unread messages in full or as a table.
void b_NRDETAILS(long in_folder_no);

// JOB "NRDETAILSWR": marks the messages ticked in FOLSEL ("folder,number") read.
void b_NRDETAILSWR();

// JOB "SET_ALLREAD": marks every message of the folder read.
void b_SET_ALLREAD();
