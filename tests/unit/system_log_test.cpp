#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "config/sysinfo.h"
#include "store/line_file_engine.h"
#include "store/system_log.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

class SystemLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        copy_field(SYSINFO.DATA_FILE_PATH, dir.path().c_str());
        copy_field(SYSINFO.LOG_DATE, "1");
        copy_field(SYSINFO.TIME_CORRECT, "");
    }
    static void fill(const char* date, const char* action) {
        sSYSTEM_LOG = SYSTEM_LOG{};
        copy_field(sSYSTEM_LOG.LOG_DATE, date);
        copy_field(sSYSTEM_LOG.USER_ID, "alice");
        copy_field(sSYSTEM_LOG.USER_NAME, "Alice");
        copy_field(sSYSTEM_LOG.ACTION, action);
    }
    std::string log() const { return read_file(file); }

    TempDir dir;
    FakeClock clock;
    std::string file = dir.file("system.log");
};

TEST_F(SystemLogTest, InsertKeepsTheLineShapeWhateverTheFieldsHold) {
    write_file(file, "old,line,without,its,line,feed,");
    fill("2024/05/06 07:08", "new write folder_no[3] sel_no[12]");
    copy_field(sSYSTEM_LOG.USER_NAME, "Smith,\r\nJohn");
    copy_field(sSYSTEM_LOG.REMOTE_ADDR, "192.0.2.7");
    copy_field(sSYSTEM_LOG.USER_AGENT, "Mozilla/5.0 (X11; Linux x86_64, rv:115.0) Gecko");
    ASSERT_EQ(Fio_SYSTEM_LOG(0, 2), STORE_OK);
    EXPECT_EQ(log(),
              "old,line,without,its,line,feed,\n"
              "2024/05/06 07:08,alice,Smith   John,new write folder_no[3] sel_no[12],192.0.2.7,"
              "Mozilla/5.0 (X11; Linux x86_64  rv:115.0) Gecko,\n");
    EXPECT_FALSE(exists(dir.file("system.chk")));

    sSYSTEM_LOG = SYSTEM_LOG{};
    ASSERT_EQ(Fio_SYSTEM_LOG(2, 1), STORE_OK);
    EXPECT_STREQ(sSYSTEM_LOG.USER_AGENT, "Mozilla/5.0 (X11; Linux x86_64  rv:115.0) Gecko");
}

TEST_F(SystemLogTest, SelectCountsCompleteLinesWhileWritesCountEveryLine) {
    const std::string first = "2024/01/01 00:00,a,A,login,1.1.1.1,UA,\n";
    const std::string broken = "2024/01/02 00:00,b,B,login,2.2.2.2,no last comma\n";
    const std::string third = "2024/01/03 00:00,c,C,login,3.3.3.3,UA,\n";
    write_file(file, first + broken + third);

    ASSERT_EQ(Fio_SYSTEM_LOG(0, 1), STORE_OK);
    EXPECT_STREQ(sSYSTEM_LOG.USER_ID, "a");
    ASSERT_EQ(Fio_SYSTEM_LOG(2, 1), STORE_OK);
    EXPECT_STREQ(sSYSTEM_LOG.USER_ID, "c");
    EXPECT_STREQ(sSYSTEM_LOG.LOG_DATE, "2024/01/03 00:00");
    EXPECT_EQ(Fio_SYSTEM_LOG(3, 1), STORE_NOT_FOUND);

    fill("2024/09/09 09:09", "edit write folder_no[1] sel_no[2]");
    ASSERT_EQ(Fio_SYSTEM_LOG(2, 4), STORE_OK);
    const std::string replaced = "2024/09/09 09:09,alice,Alice,edit write folder_no[1] sel_no[2],,,\n";
    EXPECT_EQ(log(), first + replaced + third);
    ASSERT_EQ(Fio_SYSTEM_LOG(3, 3), STORE_OK);
    EXPECT_EQ(log(), first + replaced);
    EXPECT_EQ(Fio_SYSTEM_LOG(3, 3), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(Fio_SYSTEM_LOG(3, 4), STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(log(), first + replaced);
    EXPECT_EQ(Fio_SYSTEM_LOG(1, 0), STORE_NOT_FOUND);

    write_file(dir.file("system.chk"), "");
    EXPECT_EQ(Fio_SYSTEM_LOG(1, 1), STORE_LOCK_BUSY);
    EXPECT_EQ(Fio_SYSTEM_LOG(0, 2), STORE_LOCK_BUSY);
}

TEST_F(SystemLogTest, EventsAreLoggedOnlyWhileTheConfigurationAsksForIt) {
    for (const char* off : {"0", "", "x"}) {
        copy_field(SYSINFO.LOG_DATE, off);
        ASSERT_EQ(system_log_event("alice", "Alice", "login", "192.0.2.1", "UA"), STORE_OK);
        EXPECT_FALSE(exists(file)) << off;
    }
    copy_field(SYSINFO.LOG_DATE, "1");
    ASSERT_EQ(system_log_event("alice", "Alice", "login", nullptr, "A, B"), STORE_OK);
    EXPECT_TRUE(std::regex_match(
        log(), std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d,alice,Alice,login,,A  B,\n)")))
        << log();
}

}  // namespace
