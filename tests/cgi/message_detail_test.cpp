// The message frame: neighbours, the message, its one-line replies, thread,
// confirmations and buttons, through the real program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cgi/cgi_harness.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace {

const char* const kMessages =
    "[English]\n"
    "001 <TITLE>Board</TITLE>\n"
    "002 board\n"
    "233 One line\n"
    "234 Write something\n"
    "312 No.\n"
    "313 Title\n"
    "314 Writer\n"
    "315 Date\n"
    "420 Sending\n"
    "454 Next\n"
    "455 Prev\n"
    "456 No next\n"
    "457 No previous\n";

const char* const kInstallation = R"(
folder 5 name="Notices" access=1 write=2
user taro password=t name="Taro" level=10 disp=1
)";

class MessageDetailTest : public ::testing::Test {
protected:
    void SetUp() override {
        install.write_messages(kMessages);
        install.build(kInstallation);
        install.use_store();
    }
    int post(const std::string& title, const std::string& body = "", int reply_to = 0) {
        std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
        sBBS_IDX.FOLDER_NO = 5;
        sBBS_IDX.SEL_NO = reply_to;
        copy_field(sBBS_IDX.WRITE_TITLE, title.c_str());
        copy_field(sBBS_IDX.WRITER_NAME, "Taro");
        copy_field(sBBS_IDX.WRITER_ID, "taro");
        EXPECT_EQ(Fio_BBS_IDX(2), 0);
        const int sel_no = sBBS_IDX.SEL_NO;
        char dir[1024];
        EXPECT_TRUE(message_dir_path(dir, sizeof dir, 5, sel_no));
        install.write_data_file("5/x" + std::to_string(sel_no) + "/body.txt", body);
        return sel_no;
    }
    std::string view(const std::string& rest, const std::string& uid = "taro") {
        return install.get(install.session(uid) + "&FOLDER_NO=5&JOB=FRM223&" + rest).out;
    }
    static bool has(const std::string& out, const std::string& piece) {
        return out.find(piece) != std::string::npos;
    }
    CgiInstallation install;
};

TEST_F(MessageDetailTest, ShowsTheMessage) {
    post("Hello", "Body text");
    const std::string out = view("SEL_NO=1&PPage=1");
    EXPECT_TRUE(has(out, "Hello")) << out;
    EXPECT_TRUE(has(out, "Body text")) << out;
}

}  // namespace
