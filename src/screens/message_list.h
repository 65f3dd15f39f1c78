// The list frame of a folder: one page of 20 messages in one of five orders,
// with paging, read marks and the choice of order.
#pragma once

// JOB "FRM222": the list page of AC_MODE (the user's default when missing)
// and PPage (the last page, or the first in the latest-activity orders).
void b_FRM222();

// JOB "USER_DISP_DEFWR": the order chosen in the list; a personal account
// keeps it as its default. Always 0.
int b_USER_DISP_DEFWR();

// 1 when thread in_sel_no (the SEL_NO of its root) of folder in_folder holds a
// message the user has not read; 0 when all are read or there is no such thread.
int b_get_noread(long in_folder, long in_sel_no);
