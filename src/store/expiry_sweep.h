// The daily sweep of a folder for messages whose time limit has passed.
// chkdate.txt in the folder's directory holds the date and time of the last
// sweep ("YYYY/MM/DD hh:mm", no line feed); only the date part is compared.
#pragma once

// Runs at most once a day per folder. The first call only records the day.
// A sweep deletes every live message whose TIME_LIMIT_DATE lies before today
// (a message lives through its limit day), removes its directory, marks it
// read for every user and cuts users' marks to the new message count.
// Lock order: "chkdate.chk" is held throughout; the index's "bbs.chk" and each
// user's read-mark lock are taken under it, one at a time.
// 0 nothing due or swept; -9 "chkdate.chk" held; -2 chkdate.txt not written.
int Fio_CHK_DATE_TXT(long in_folder_no);

// The same sweep at once, whatever day chkdate.txt records (for the
// administration); records today when every expired message went. Results as
// above.
int sweep_expired_messages(long in_folder_no);
