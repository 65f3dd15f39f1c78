// The compose form: a new message, a reply or an edit.
#pragma once

// JOB "BWRITE_NEW" (type 1), "BWRITE_RES" (2, SEL_NO the message answered)
// and "BWRITE_REW" (3, SEL_NO the message edited). Changes no file.
void b_BWRITE(int type);
