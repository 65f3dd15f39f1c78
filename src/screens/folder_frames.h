// Opening a folder: its frameset, the header frame, and the downloads of the
// folder's pictures and of a message's attachments.
#pragma once

// JOB "ROOM" and "NRROOM" (this one with SEL_NO, the message to show): the
// folder's frameset, three frames or two as the user's BBS_FRAME_MODE says.
void b_ROOM();

// JOB "FRM221": the header frame with the folder's name, its buttons by access
// level and account kind, the title picture and the information text.
void b_FRM221();

// JOB "BG1_DL" to "BG4_DL": background picture 1 to 3 or the title picture
// (flg 4), typed by its extension. Non-zero: nothing was sent.
int b_BG_DL(int flg);

// JOB "ATDL": attachment SUB_NO of message SEL_NO, typed by its extension or
// else as a generic download. -1: no such attachment, nothing sent.
int b_ATDL();
