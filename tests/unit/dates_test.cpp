#include "util/dates.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "config/sysinfo.h"
#include "util/bytes.h"
#include "util/clock.h"

namespace {

// Runs one text step on a copy in a field-sized buffer and returns the result.
template <class Step>
std::string stepped(const char* text, Step step) {
    char buff[TM_TEXT_SIZE];
    copy_field(buff, text);
    step(buff);
    return buff;
}

std::string next_date(const char* t) { return stepped(t, [](char* b) { Tm_next_date(b); }); }
std::string back_date(const char* t) { return stepped(t, [](char* b) { Tm_back_date(b); }); }
std::string next_month(const char* t, int n) {
    return stepped(t, [n](char* b) { Tm_next_month(b, n); });
}
std::string back_month(const char* t, int n) {
    return stepped(t, [n](char* b) { Tm_back_month(b, n); });
}
std::string add_hour(const char* t, const char* offset) {
    return stepped(t, [offset](char* b) { Tm_add_hour(b, offset); });
}
std::string add_minute(const char* t, int minutes) {
    return stepped(t, [minutes](char* b) { Tm_add_minute(b, minutes); });
}

TEST(DatesTest, DayStepsFollowTheGregorianLeapYears) {
    EXPECT_EQ(next_date("2024/02/28"), "2024/02/29");
    EXPECT_EQ(next_date("2024/02/29"), "2024/03/01");
    EXPECT_EQ(next_date("2026/02/28"), "2026/03/01");
    EXPECT_EQ(next_date("1900/02/28"), "1900/03/01");
    EXPECT_EQ(next_date("2000/02/28"), "2000/02/29");
    EXPECT_EQ(back_date("2024/03/01"), "2024/02/29");
    EXPECT_EQ(back_date("2026/03/01"), "2026/02/28");
}

TEST(DatesTest, DayStepsCrossMonthAndYearAndDropTheTime) {
    EXPECT_EQ(next_date("2026/12/31"), "2027/01/01");
    EXPECT_EQ(next_date("2026/04/30 12:34"), "2026/05/01");
    EXPECT_EQ(back_date("2026/01/01"), "2025/12/31");
    EXPECT_EQ(back_date("2026/05/01"), "2026/04/30");
    EXPECT_EQ(stepped("2026/12/28", Tm_next_7date), "2027/01/04");
    EXPECT_EQ(stepped("2024/03/03", Tm_back_7date), "2024/02/25");
}

TEST(DatesTest, MonthStepsClampTheDayToTheNewMonth) {
    EXPECT_EQ(next_month("2026/01/31", 1), "2026/02/28");
    EXPECT_EQ(next_month("2024/01/31", 1), "2024/02/29");
    EXPECT_EQ(next_month("2026/03/31", 1), "2026/04/30");
    EXPECT_EQ(next_month("2024/02/29", 12), "2025/02/28");
    EXPECT_EQ(back_month("2026/03/31", 1), "2026/02/28");
}

TEST(DatesTest, MonthStepsCarryIntoTheYear) {
    EXPECT_EQ(next_month("2026/05/10", 12), "2027/05/10");
    EXPECT_EQ(next_month("2026/12/15", 1), "2027/01/15");
    EXPECT_EQ(next_month("2026/05/10 08:00", 0), "2026/05/10");
    EXPECT_EQ(back_month("2026/01/10", 1), "2025/12/10");
    EXPECT_EQ(back_month("2026/05/10", 5), "2025/12/10");
    EXPECT_EQ(back_month("2026/12/10", 12), "2025/12/10");
}

TEST(DatesTest, TimeCorrectionCarriesAndBorrowsWholeDays) {
    EXPECT_EQ(add_hour("2026/12/31 20:15", "+09:00"), "2027/01/01 05:15");
    EXPECT_EQ(add_hour("2026/05/10 23:30", "+00:45"), "2026/05/11 00:15");
    EXPECT_EQ(add_hour("2024/03/01 05:00", "-09:30"), "2024/02/29 19:30");
    EXPECT_EQ(add_hour("2026/03/01 00:10", "-00:20"), "2026/02/28 23:50");
}

TEST(DatesTest, CorrectionOfFiveCharactersOrFewerChangesNothing) {
    EXPECT_EQ(add_hour("2026/05/10 08:30", "+09:0"), "2026/05/10 08:30");
    EXPECT_EQ(add_hour("2026/05/10 08:30", ""), "2026/05/10 08:30");
}

TEST(DatesTest, MinuteStepsCarryIntoHourAndDay) {
    EXPECT_EQ(add_minute("2026/05/10 23:45", 30), "2026/05/11 00:15");
    EXPECT_EQ(add_minute("2026/01/01 00:10", -50), "2025/12/31 23:20");
    EXPECT_EQ(add_minute("2026/01/01 10:10", 60), "2026/01/01 11:10");
}

TEST(DatesTest, MonthLengthAndValidity) {
    EXPECT_EQ(Tm_calc_MonthDate("2024/02/10"), 29);
    EXPECT_EQ(Tm_calc_MonthDate("2026/02/10"), 28);
    EXPECT_EQ(Tm_calc_MonthDate("1900/02/01"), 28);
    EXPECT_EQ(Tm_calc_MonthDate("2026/04/01"), 30);
    EXPECT_EQ(Tm_calc_MonthDate("2026/12/01 10:00"), 31);
    EXPECT_EQ(Tm_chk_date("2024/02/29"), 0);
    EXPECT_EQ(Tm_chk_date("2026/02/29"), -1);
    EXPECT_EQ(Tm_chk_date("2026/04/31"), -1);
    EXPECT_EQ(Tm_chk_date("2026/13/01"), -1);
}

TEST(DatesTest, ShortOrMalformedTextsReadAsZeroFields) {
    EXPECT_EQ(add_hour("2026/05/10", "+01:30"), "2026/05/10 01:30");
    int hour = -1;
    int minute = -1;
    Tm_ctoi_time("9:05", &hour, &minute);
    EXPECT_EQ(hour, 9);
    EXPECT_EQ(minute, 5);
    Tm_ctoi_time("12:34", &hour, &minute);
    EXPECT_EQ(hour, 12);
    EXPECT_EQ(minute, 34);
    Tm_ctoi_time("", &hour, &minute);
    EXPECT_EQ(hour, 0);
    EXPECT_EQ(minute, 0);
}

// The current time comes from a fake clock read as UTC.
time_t g_fake_now = 0;
unsigned g_slept = 0;
int g_sleep_calls = 0;

class DatesClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        had_tz_ = tz != nullptr;
        if (had_tz_) saved_tz_ = tz;
        setenv("TZ", "UTC", 1);
        tzset();
        copy_field(saved_correct_, SYSINFO.TIME_CORRECT);
        g_slept = 0;
        g_sleep_calls = 0;
        clock_replace({[] { return g_fake_now; }, [](unsigned s) {
                           g_slept += s;
                           ++g_sleep_calls;
                       }});
    }
    void TearDown() override {
        clock_replace({nullptr, nullptr});
        copy_field(SYSINFO.TIME_CORRECT, saved_correct_);
        if (had_tz_) {
            setenv("TZ", saved_tz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

    static std::string now_text(const char* correction) {
        copy_field(SYSINFO.TIME_CORRECT, correction);
        char buff[TM_TEXT_SIZE];
        Tm_set_date(buff);
        return buff;
    }

private:
    bool had_tz_ = false;
    std::string saved_tz_;
    char saved_correct_[sizeof SYSINFO.TIME_CORRECT] = {};
};

TEST_F(DatesClockTest, CurrentTimeAppliesTheCorrection) {
    g_fake_now = 1767256200;  // 2026-01-01 08:30:00
    EXPECT_EQ(now_text("-09:00"), "2025/12/31 23:30");
    EXPECT_EQ(now_text("+09:00"), "2026/01/01 17:30");
    EXPECT_EQ(now_text(""), "2026/01/01 08:30");
}

TEST_F(DatesClockTest, CurrentTimeWithSecondsIsUncorrected) {
    g_fake_now = 1709210096;  // 2024-02-29 12:34:56
    copy_field(SYSINFO.TIME_CORRECT, "+09:00");
    char buff[TM_TEXT_SIZE];
    Tm_set_datetime(buff);
    EXPECT_STREQ(buff, "2024/02/29 12:34.56");
}

TEST_F(DatesClockTest, WeekStartsOnTheMondayOnOrBeforeToday) {
    char buff[TM_TEXT_SIZE];
    g_fake_now = 1709460000;  // Sunday 2024-03-03
    Tm_set_week(buff);
    EXPECT_STREQ(buff, "2024/02/26");
    g_fake_now = 1780272000;  // Monday 2026-06-01
    Tm_set_week(buff);
    EXPECT_STREQ(buff, "2026/06/01");
    g_fake_now = 1780531199;  // Wednesday 2026-06-03 23:59:59
    Tm_set_week(buff);
    EXPECT_STREQ(buff, "2026/06/01");
}

TEST_F(DatesClockTest, WaitSleepsForTheGivenSeconds) {
    Tm_wait_sec(3);
    EXPECT_EQ(g_slept, 3u);
    EXPECT_EQ(g_sleep_calls, 1);
    Tm_wait_sec(0);
    EXPECT_EQ(g_sleep_calls, 1);
}

}  // namespace
