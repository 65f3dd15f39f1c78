// Dates and times as the board stores them: texts read by character position
// (year 0-3, month 5-6, day 8-9, hour 11-12, minute 14-15) and rewritten in
// place. A field that is missing or not numeric reads as 0.
//
// Every buffer a function writes must hold at least 20 bytes (the width of the
// date fields of the message index); no function writes more than 20.
//
// Forms written:
//   date-time               "YYYY/MM/DD hh:mm"     Tm_set_date, Tm_add_hour, Tm_add_minute
//   date-time with seconds  "YYYY/MM/DD hh:mm.ss"  Tm_set_datetime
//   date                    "YYYY/MM/DD"           the day, week and month steps
// A date-time text is accepted where a date is expected; its time is dropped.
// February has 29 days in Gregorian leap years.
#pragma once

constexpr int TM_TEXT_SIZE = 20;

// Current local time (clock_now) in the date-time form, corrected by
// SYSINFO.TIME_CORRECT: the system's "now" for every stored date.
void Tm_set_date(char* buff);

// Current local time with seconds, uncorrected.
void Tm_set_datetime(char* buff);

// Applies an offset "+hh:mm" / "-hh:mm" ('-' first subtracts, anything else
// adds; hours at 1-2, minutes at 4-5) to a date-time text. An offset of 5
// characters or fewer leaves the text unchanged.
void Tm_add_hour(char* in_buff, const char* in_time);

// Adds a signed number of minutes to a date-time text.
void Tm_add_minute(char* in_buff, int in_min);

// One day / seven days forward or back; date form.
void Tm_next_date(char* in_buff);
void Tm_back_date(char* in_buff);
void Tm_next_7date(char* in_buff);
void Tm_back_7date(char* in_buff);

// Forward / back by whole months (0 to 12 in the board); the day is clamped to
// the length of the new month. Date form.
void Tm_next_month(char* in_buff, int next_month);
void Tm_back_month(char* in_buff, int back_month);

// The Monday on or before today's local date (uncorrected); date form.
void Tm_set_week(char* buff);

// Parses a clock text "H:MM" or "HH:MM".
void Tm_ctoi_time(const char* tm, int* ihr, int* imin);

// Number of days of the date's month; 0 for a month outside 1 to 12.
int Tm_calc_MonthDate(const char* in_buff);

// 0 if the date's day does not exceed its month's length, -1 if it does or the
// month is outside 1 to 12.
int Tm_chk_date(const char* in_buff);

// Returns after lsec seconds; sleeps through clock_sleep (never spins).
void Tm_wait_sec(long lsec);
