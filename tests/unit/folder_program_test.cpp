#include <gtest/gtest.h>

#include "request/request_state.h"
#include "util/bytes.h"

namespace {

std::string program_of(const char* cgi_name) {
    TREE_DATA folder{};
    copy_field(folder.CGI_NAME, cgi_name);
    char out[128];
    folder_program(folder, out, sizeof out);
    return out;
}

TEST(FolderProgram, KeepsPathsAndWebAddressesAndCutsTheQuery) {
    EXPECT_EQ(program_of("wbbs.cgi?x=1"), "wbbs.cgi");
    EXPECT_EQ(program_of("/cgi-bin/wbbs.cgi"), "/cgi-bin/wbbs.cgi");
    EXPECT_EQ(program_of("HTTPS://board.example/wbbs.cgi"), "HTTPS://board.example/wbbs.cgi");
    EXPECT_EQ(program_of("./a:b.cgi"), "./a:b.cgi");
}

TEST(FolderProgram, AnAddressThatWouldRunScriptFallsBackToTheBoard) {
    for (const char* hostile : {"javascript:alert(1)//", " \x01JaVaScRiPt:x", "java\tscript:x",
                                "data:text/html,<script>x</script>", "vbscript:x",
                                "httpx:x", "averyveryverylongscheme:x"}) {
        EXPECT_EQ(program_of(hostile), "wbbs.cgi") << hostile;
    }
}

}  // namespace
