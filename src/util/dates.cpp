#include "util/dates.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "config/sysinfo.h"
#include "util/clock.h"

namespace {

constexpr signed char DayOfYear[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool is_leap_year(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// A month outside the table (from a malformed text) counts as 31 days, so the
// steps still terminate and never index outside the table.
int month_length(int year, int month) {
    if (month < 1 || month > 12) return 31;
    if (month == 2 && is_leap_year(year)) return 29;
    return DayOfYear[month - 1];
}

// The field of width bytes at pos, converted base 10; 0 if the text ends first.
int read_field(const char* text, std::size_t pos, std::size_t width) {
    if (text == nullptr || strnlen(text, pos) < pos) return 0;
    char field[8] = {};
    for (std::size_t n = 0; n < width && n < sizeof field - 1 && text[pos + n] != '\0'; ++n) {
        field[n] = text[pos + n];
    }
    return static_cast<int>(std::strtol(field, nullptr, 10));
}

struct DateTime {
    int year;
    int month;
    int day;
    int hour;
    int minute;
};

DateTime parse(const char* text) {
    return DateTime{read_field(text, 0, 4), read_field(text, 5, 2), read_field(text, 8, 2),
                    read_field(text, 11, 2), read_field(text, 14, 2)};
}

// Every text goes into the caller's 20 bytes; a malformed field that prints
// wider is cut there.
__attribute__((format(printf, 2, 3))) void write_text(char* buff, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(buff, TM_TEXT_SIZE, format, args);
    va_end(args);
}

void write_datetime(char* buff, const DateTime& t) {
    write_text(buff, "%04d/%02d/%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
}

void write_date(char* buff, const DateTime& t) {
    write_text(buff, "%04d/%02d/%02d", t.year, t.month, t.day);
}

void carry_day(DateTime& t) {
    ++t.day;
    if (t.day > month_length(t.year, t.month)) {
        t.day = 1;
        ++t.month;
        if (t.month > 12) {
            t.month = 1;
            ++t.year;
        }
    }
}

void borrow_day(DateTime& t) {
    if (t.day > 1) {
        --t.day;
        return;
    }
    --t.month;
    if (t.month < 1) {
        t.month = 12;
        --t.year;
    }
    t.day = month_length(t.year, t.month);
}

long long floor_div(long long a, long long b) {
    long long q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
}

// Moves the clock by delta minutes, carrying or borrowing as many days as it takes.
void shift_minutes(DateTime& t, long long delta) {
    const long long total = static_cast<long long>(t.hour) * 60 + t.minute + delta;
    long long days = floor_div(total, 24 * 60);
    const long long in_day = total - days * 24 * 60;
    t.hour = static_cast<int>(in_day / 60);
    t.minute = static_cast<int>(in_day % 60);
    for (; days > 0; --days) carry_day(t);
    for (; days < 0; ++days) borrow_day(t);
}

void shift_months(DateTime& t, int delta) {
    const long long index = static_cast<long long>(t.month) - 1 + delta;
    const long long years = floor_div(index, 12);
    t.year = static_cast<int>(t.year + years);
    t.month = static_cast<int>(index - years * 12) + 1;
    const int length = month_length(t.year, t.month);
    if (t.day > length) t.day = length;
}

std::tm local_now() {
    const time_t now = clock_now();
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        std::memset(&local, 0, sizeof local);
        local.tm_mday = 1;
    }
    return local;
}

}  // namespace

void Tm_set_date(char* buff) {
    const std::tm local = local_now();
    write_datetime(buff, DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                  local.tm_hour, local.tm_min});
    Tm_add_hour(buff, SYSINFO.TIME_CORRECT);
}

void Tm_set_datetime(char* buff) {
    const std::tm local = local_now();
    write_text(buff, "%04d/%02d/%02d %02d:%02d.%02d", local.tm_year + 1900, local.tm_mon + 1,
               local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

void Tm_add_hour(char* in_buff, const char* in_time) {
    if (in_buff == nullptr || in_time == nullptr || strnlen(in_time, 6) <= 5) return;
    DateTime t = parse(in_buff);
    const long long offset = read_field(in_time, 1, 2) * 60LL + read_field(in_time, 4, 2);
    shift_minutes(t, in_time[0] == '-' ? -offset : offset);
    write_datetime(in_buff, t);
}

void Tm_add_minute(char* in_buff, int in_min) {
    if (in_buff == nullptr) return;
    DateTime t = parse(in_buff);
    shift_minutes(t, in_min);
    write_datetime(in_buff, t);
}

void Tm_next_date(char* in_buff) {
    if (in_buff == nullptr) return;
    DateTime t = parse(in_buff);
    carry_day(t);
    write_date(in_buff, t);
}

void Tm_back_date(char* in_buff) {
    if (in_buff == nullptr) return;
    DateTime t = parse(in_buff);
    borrow_day(t);
    write_date(in_buff, t);
}

void Tm_next_7date(char* in_buff) {
    for (int l_loop = 0; l_loop < 7; ++l_loop) Tm_next_date(in_buff);
}

void Tm_back_7date(char* in_buff) {
    for (int l_loop = 0; l_loop < 7; ++l_loop) Tm_back_date(in_buff);
}

void Tm_next_month(char* in_buff, int next_month) {
    if (in_buff == nullptr) return;
    DateTime t = parse(in_buff);
    shift_months(t, next_month);
    write_date(in_buff, t);
}

void Tm_back_month(char* in_buff, int back_month) {
    if (in_buff == nullptr) return;
    DateTime t = parse(in_buff);
    shift_months(t, -back_month);
    write_date(in_buff, t);
}

void Tm_set_week(char* buff) {
    const std::tm local = local_now();
    DateTime t{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 0, 0};
    const int days_since_monday = local.tm_wday == 0 ? 6 : local.tm_wday - 1;
    for (int l_loop = 0; l_loop < days_since_monday; ++l_loop) borrow_day(t);
    write_date(buff, t);
}

void Tm_ctoi_time(const char* tm, int* ihr, int* imin) {
    if (tm == nullptr || ihr == nullptr || imin == nullptr) return;
    if (tm[0] != '\0' && tm[1] == ':') {
        *ihr = read_field(tm, 0, 1);
        *imin = read_field(tm, 2, 2);
    } else {
        *ihr = read_field(tm, 0, 2);
        *imin = read_field(tm, 3, 2);
    }
}

int Tm_calc_MonthDate(const char* in_buff) {
    const DateTime t = parse(in_buff);
    if (t.month < 1 || t.month > 12) return 0;
    return month_length(t.year, t.month);
}

int Tm_chk_date(const char* in_buff) {
    const DateTime t = parse(in_buff);
    if (t.month < 1 || t.month > 12) return -1;
    return t.day > month_length(t.year, t.month) ? -1 : 0;
}

void Tm_wait_sec(long lsec) {
    if (lsec <= 0) return;
    const unsigned long longest = std::numeric_limits<unsigned>::max();
    clock_sleep(static_cast<unsigned>(static_cast<unsigned long>(lsec) > longest ? longest : lsec));
}
