// The request as the real program receives it: bodies on standard input,
// uploads landing in the data directory.
#include <gtest/gtest.h>

#include "cgi/cgi_harness.h"

namespace {

bool shows_version(const CgiResult& result) {
    return result.out.find("ORVA BBS-PlugIn version:[Ver3.19]") != std::string::npos;
}

TEST(RequestInput, MultipartUploadLandsInTheDataDirectory) {
    CgiInstallation install;
    std::string content(1001, 'x');
    content.replace(10, 6, "\r\n--\r\n");
    content[500] = '\0';
    MultipartBody body;
    body.field("help", "ver").file("ATFILE", "C:\\docs\\plan.txt", content);
    const CgiResult result = install.post_multipart(body);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_TRUE(shows_version(result));
    // The upload is young, so the request's own sweep leaves it for its handler.
    ASSERT_TRUE(install.data_file_exists("CGI0"));
    EXPECT_EQ(install.read_data_file("CGI0"), content);
}

TEST(RequestInput, OversizeBodyKeepsTextFieldsButStoresNoUpload) {
    CgiInstallation install;
    install.write_config({{"ATTACHED_FILE_LIMIT", "100"}});
    MultipartBody body;
    body.field("help", "ver").file("ATFILE", "big.bin", std::string(500, 'b'));
    const CgiResult result = install.post_multipart(body);
    EXPECT_TRUE(shows_version(result));
    EXPECT_TRUE(install.data_dir_entries().empty());
}

TEST(RequestInput, ShortUrlEncodedBodyIsReadAsFarAsItGoes) {
    CgiInstallation install;
    CgiRequest request;
    request.method = "POST";
    request.content_type = "application/x-www-form-urlencoded";
    request.body = "help=ver";
    request.content_length = "5000";
    EXPECT_TRUE(shows_version(install.run(request)));
}

TEST(RequestInput, PostWithoutLengthParsesNothing) {
    CgiInstallation install;
    CgiRequest request;
    request.method = "POST";
    request.content_type = "application/x-www-form-urlencoded";
    request.body = "help=ver";
    request.content_length = "0";
    const CgiResult result = install.run(request);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "");
}

}  // namespace
