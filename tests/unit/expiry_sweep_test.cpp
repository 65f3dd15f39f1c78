#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/expiry_sweep.h"
#include "store/lock.h"
#include "store/line_file_engine.h"
#include "store/message_index.h"
#include "store/users.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

time_t local_time(int year, int month, int day, int hour, int minute) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

class ExpirySweepTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, data.path().c_str());
        copy_field(SYSINFO.TIME_CORRECT, "");
        mkdir(data.file("1").c_str(), 0700);
        ASSERT_EQ(make_user_directory("alice"), 0);
        ASSERT_EQ(make_user_directory("bob"), 0);
        write_file(data.file("user.mst"), "alice\nbob\n");
        clock.set(local_time(2024, 5, 10, 12, 0));
    }
    // A new topic with its directory and body, as the poster leaves it.
    int post(const char* limit) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 1;
        copy_field(sBBS_IDX.TIME_LIMIT_DATE, limit);
        EXPECT_EQ(Fio_BBS_IDX(2), STORE_OK);
        const int sel_no = sBBS_IDX.SEL_NO;
        mkdir(message_dir(sel_no).c_str(), 0700);
        write_file(message_dir(sel_no) + "/body.txt", "body " + std::to_string(sel_no));
        write_file(message_dir(sel_no) + "/lineres.txt", "bob,Bob,old reply\n");
        return sel_no;
    }
    BBS_IDX record(int sel_no) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 1;
        sBBS_IDX.SEL_NO = sel_no;
        EXPECT_EQ(Fio_BBS_IDX(1), STORE_OK) << sel_no;
        return sBBS_IDX;
    }
    std::string message_dir(int sel_no) const { return data.file("1/x" + std::to_string(sel_no)); }
    std::string marks_path(const char* user) const {
        return data.path() + "user/" + user + "/r1.idx";
    }
    void put_marks(const char* user, const std::vector<int32_t>& marks) {
        write_file(marks_path(user), std::string(reinterpret_cast<const char*>(marks.data()),
                                                 marks.size() * sizeof(int32_t)));
    }
    std::vector<int32_t> marks(const char* user) const {
        const std::string bytes = read_file(marks_path(user));
        std::vector<int32_t> out(bytes.size() / 4);
        std::memcpy(out.data(), bytes.data(), out.size() * 4);
        return out;
    }

    TempDir data;
    FakeClock clock;
    std::string chkdate = data.file("1/chkdate.txt");
};

TEST_F(ExpirySweepTest, TheFirstVisitOnlyRecordsTheDay) {
    post("2024/05/01");
    ASSERT_EQ(Fio_CHK_DATE_TXT(1), STORE_OK);
    EXPECT_EQ(read_file(chkdate), "2024/05/10 12:00");
    EXPECT_EQ(record(1).DEL_FLG, 0);
}

TEST_F(ExpirySweepTest, ASecondVisitTheSameDayDoesNothing) {
    post("2024/05/01");
    write_file(chkdate, "2024/05/10 00:01");
    ASSERT_EQ(Fio_CHK_DATE_TXT(1), STORE_OK);
    EXPECT_EQ(read_file(chkdate), "2024/05/10 00:01");
    EXPECT_EQ(record(1).DEL_FLG, 0);
}

TEST_F(ExpirySweepTest, AMessageLivesThroughItsLimitDay) {
    post("2024/05/10");  // 1: today
    post("2024/05/09");  // 2: yesterday
    post("");            // 3: no limit
    post("2024/05/01");  // 4: expired, but already deleted
    post("");            // 5: keeps 4 from being the last
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = 1;
    sBBS_IDX.SEL_NO = 4;
    ASSERT_EQ(Fio_BBS_IDX(3), STORE_OK);
    put_marks("alice", {0, 0, 0, 0, 0});
    write_file(chkdate, "2024/05/09 23:59");

    ASSERT_EQ(Fio_CHK_DATE_TXT(1), STORE_OK);
    EXPECT_EQ(read_file(chkdate), "2024/05/10 12:00");
    EXPECT_EQ(record(1).DEL_FLG, 0);
    EXPECT_EQ(record(2).DEL_FLG, 1);
    EXPECT_EQ(record(3).DEL_FLG, 0);
    EXPECT_FALSE(exists(message_dir(2)));
    EXPECT_TRUE(exists(message_dir(1)));
    EXPECT_TRUE(exists(message_dir(4)));  // left alone
    EXPECT_EQ(marks("alice"), (std::vector<int32_t>{0, 1, 0, 0, 0}));
    EXPECT_EQ(marks("bob"), (std::vector<int32_t>{0, 1}));
    EXPECT_FALSE(exists(data.file("1/chkdate.chk")));

    clock.advance(24 * 60 * 60);
    ASSERT_EQ(Fio_CHK_DATE_TXT(1), STORE_OK);
    EXPECT_EQ(read_file(chkdate), "2024/05/11 12:00");
    EXPECT_EQ(record(1).DEL_FLG, 1);
    EXPECT_EQ(record(3).DEL_FLG, 0);
}

TEST_F(ExpirySweepTest, AClockSetBackStillSweeps) {
    post("2024/05/09");
    write_file(chkdate, "2024/05/11 08:00");
    ASSERT_EQ(Fio_CHK_DATE_TXT(1), STORE_OK);
    EXPECT_EQ(read_file(chkdate), "2024/05/10 12:00");
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(1, 1), 0);  // it was also the last message
}

TEST_F(ExpirySweepTest, AnExpiredLastMessageShrinksTheIndexAndEveryUsersMarks) {
    post("");
    post("");
    post("2024/05/01");
    put_marks("alice", {1, 1, 1, 0, 0});
    put_marks("bob", {0});
    write_file(chkdate, "2024/05/09 10:00");

    ASSERT_EQ(Fio_CHK_DATE_TXT(1), STORE_OK);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(1, 1), 2);
    EXPECT_EQ(marks("alice"), (std::vector<int32_t>{1, 1}));
    EXPECT_EQ(marks("bob"), (std::vector<int32_t>{0, 0}));

    // The number is given out again, without the old message's files.
    EXPECT_FALSE(exists(message_dir(3)));
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = 1;
    ASSERT_EQ(Fio_BBS_IDX(2), STORE_OK);
    EXPECT_EQ(sBBS_IDX.SEL_NO, 3);
    EXPECT_FALSE(exists(message_dir(3) + "/lineres.txt"));
}

TEST_F(ExpirySweepTest, AHeldLockDefersTheSweepToALaterVisit) {
    post("2024/05/01");
    post("");
    write_file(chkdate, "2024/05/09 10:00");

    write_file(data.file("1/chkdate.chk"), "");
    EXPECT_EQ(Fio_CHK_DATE_TXT(1), STORE_LOCK_BUSY);
    EXPECT_EQ(read_file(chkdate), "2024/05/09 10:00");
    std::remove(data.file("1/chkdate.chk").c_str());

    // The index busy: the message keeps its files and the day is not recorded;
    // the sweep gives up after one reader's wait, not one per message.
    write_file(data.file("1/bbs.chk"), "");
    const long long waited = clock.waited_ms();
    EXPECT_EQ(Fio_CHK_DATE_TXT(1), STORE_LOCK_BUSY);
    EXPECT_LE(clock.waited_ms() - waited, LOCK_READER_WAIT_MS);
    EXPECT_EQ(read_file(chkdate), "2024/05/09 10:00");
    EXPECT_TRUE(exists(message_dir(1) + "/body.txt"));
    EXPECT_FALSE(exists(marks_path("alice")));
    EXPECT_FALSE(exists(data.file("1/chkdate.chk")));
    std::remove(data.file("1/bbs.chk").c_str());

    ASSERT_EQ(Fio_CHK_DATE_TXT(1), STORE_OK);
    EXPECT_EQ(record(1).DEL_FLG, 1);
    EXPECT_EQ(read_file(chkdate), "2024/05/10 12:00");
}

TEST_F(ExpirySweepTest, TheSweepAtOnceRunsOnTheFirstVisitAndAgainTheSameDay) {
    post("2024/05/09");
    post("");
    ASSERT_EQ(sweep_expired_messages(1), STORE_OK);  // no chkdate.txt yet
    EXPECT_EQ(record(1).DEL_FLG, 1);
    EXPECT_EQ(read_file(chkdate), "2024/05/10 12:00");

    post("2024/05/08");
    ASSERT_EQ(Fio_CHK_DATE_TXT(1), STORE_OK);  // the daily rule: done for today
    EXPECT_EQ(record(3).DEL_FLG, 0);
    ASSERT_EQ(sweep_expired_messages(1), STORE_OK);
    EXPECT_EQ(Fio_BBS_IDX_MAXCOUNT(1, 1), 2);  // 3 was the last message: gone for good

    write_file(data.file("1/chkdate.chk"), "");
    EXPECT_EQ(sweep_expired_messages(1), STORE_LOCK_BUSY);
}

TEST_F(ExpirySweepTest, AMissingFolderDirectoryCannotRecordTheDay) {
    EXPECT_EQ(Fio_CHK_DATE_TXT(42), STORE_CANNOT_OPEN);
}

}  // namespace
