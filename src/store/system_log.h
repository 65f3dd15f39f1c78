// The suite's system log (system.log in the data directory, lock system.chk):
// one line per login or posting, "date,user id,user name,action,address,browser,".
//
// Modes: 1 select, 2 insert, 3 delete, 4 update. Results: 0, -1 past the end
// (select) or an unknown mode, -2 a file could not be opened or written,
// -3 past the end (delete, update), -9 lock busy.
#pragma once

struct SYSTEM_LOG {
    char LOG_DATE[20];      // "YYYY/MM/DD hh:mm"
    char USER_ID[22];
    char USER_NAME[82];
    char ACTION[252];
    char REMOTE_ADDR[252];
    char USER_AGENT[252];
};

extern SYSTEM_LOG sSYSTEM_LOG;

// in_position counts from 1; 0 or less means the first line.
// 1 select: the in_position-th line that has all six fields into sSYSTEM_LOG.
// 2 insert: appends sSYSTEM_LOG (in_position is not used).
// 3 delete / 4 update: leaves out / replaces by sSYSTEM_LOG the in_position-th
//   line, where every line counts. Lines are otherwise kept as they are.
// A comma, CR or LF in a field is written as a space, so a line keeps its six fields.
int Fio_SYSTEM_LOG(long in_position, int sql_mode);

// The board's log record: when SYSINFO.LOG_DATE read as a decimal number is 1
// or more, appends the current date with the given texts (null counts as
// empty; longer texts are cut to their field); otherwise writes nothing and
// returns 0. The result of the insert otherwise.
int system_log_event(const char* user_id, const char* user_name, const char* action,
                     const char* remote_addr, const char* user_agent);
