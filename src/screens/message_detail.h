// The detail frame of a message, the renderers it shares with the unread
// list, and the two actions posted from the frame.
#pragma once

// JOB "FRM223": message SEL_NO with its neighbours in the list (AC_MODE,
// PPage), its one-line replies, thread, confirmations and action buttons.
// Viewing marks it read for the user and, where the message asks for it,
// records the user's confirmation.
void b_FRM223();

// Message sel_no, whose record the caller has put into sBBS_IDX. mode 0: in
// full for the detail frame; 1: in full for the unread list; 2: one row of
// the unread list of a folder; 3: the same row in the list of all folders.
void b_DETAILS_sub(long folder_no, long sel_no, int mode);

// The one-line replies of message sel_no.
void b_DETAILS_sub2(long folder_no, long sel_no);

// The thread table of the message in sBBS_IDX; page goes into the links; mode
// 0 links to the detail frame, 1 to the folder frameset. Leaves sBBS_IDX and
// sBBS_IDX20 as it found them.
void b_DETAILS_sub3(long folder_no, long page, int mode);

// JOB "CONFIRMWR": records that the user has read message SEL_NO.
void b_CONFIRMWR();

// JOB "LINE_RESWR": adds a one-line reply to message SEL_NO. 0 stored; 1 no
// right to write; 2 empty text; otherwise the store's result.
int b_LINE_RESWR();
