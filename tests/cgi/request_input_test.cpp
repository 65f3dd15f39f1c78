// The request as the real program receives it: bodies on standard input,
// uploads landing in the data directory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cgi/cgi_harness.h"
#include "cgi/request_parser.h"

namespace {

bool shows_version(const std::string& out) {
    return out.find("ORVA BBS-PlugIn version:[Ver3.19]") != std::string::npos;
}
bool shows_version(const CgiResult& result) { return shows_version(result.out); }

std::size_t uploads_left(const CgiInstallation& install) {
    std::size_t n = 0;
    for (const std::string& name : install.data_dir_entries()) n += name.rfind("CGI", 0) == 0;
    return n;
}

// A test installation's ATTACHED_FILE_LIMIT, and what one request may take
// with it (the body's own buffer, its pairs, and room to spare).
constexpr long kLimit = 10000000;
constexpr long kPeakBoundKb = (4 * kLimit + 64 * 1024 * 1024) / 1024;

// Runs the request from a process of its own, whose children's peak resident
// size is then that of this one wbbs.cgi (counted from the fork, so it
// includes this test's own memory at that moment). Returns it in KB.
long run_measured(const CgiInstallation& install, const CgiRequest& request, std::string& out) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const CgiResult result = install.run(request);
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        const std::string report = std::to_string(usage.ru_maxrss) + "\n" + result.out;
        _exit(write(fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string report;
    char buffer[65536];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<std::size_t>(got));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    const std::size_t line = report.find('\n');
    if (line == std::string::npos) return -1;
    out = report.substr(line + 1);
    return std::stol(report.substr(0, line));
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
    const std::vector<std::string> entries = install.data_dir_entries();
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0].rfind("CGI", 0), 0u);
    EXPECT_EQ(install.read_data_file(entries[0]), content);
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

TEST(RequestInput, FloodsOfUploadsAndPairsStayBounded) {
    CgiInstallation install;
    std::string out;
    MultipartBody files;
    files.field("help", "ver");
    for (int i = 0; i < 150; ++i) files.file("ATFILE", "f" + std::to_string(i), "x");
    CgiRequest request;
    request.method = "POST";
    request.content_type = files.content_type();
    request.body = files.body();
    const long files_peak = run_measured(install, request, out);
    EXPECT_TRUE(files_peak > 0 && files_peak < kPeakBoundKb) << files_peak;
    EXPECT_TRUE(shows_version(out));
    EXPECT_EQ(uploads_left(install), 0u);  // a request over the cap keeps none

    request.content_type = "application/x-www-form-urlencoded";
    request.body.reserve(20000008);
    request.body.assign("help=ver").append(20000000, '&');
    const long amp_peak = run_measured(install, request, out);
    EXPECT_TRUE(amp_peak > 0 && amp_peak < kPeakBoundKb) << amp_peak;
    EXPECT_TRUE(shows_version(out));

    // Of 50,000 pairs the first cgi_max_pairs are kept.
    for (std::size_t before : {cgi_max_pairs - 1, cgi_max_pairs}) {
        request.body.clear();
        for (std::size_t i = 0; i < before; ++i) request.body += "x=1&";
        request.body += "help=ver";
        for (std::size_t i = before + 1; i < 50000; ++i) request.body += "&y=2";
        EXPECT_EQ(shows_version(install.run(request)), before < cgi_max_pairs) << before;
    }
}

TEST(RequestInput, PostWithMoreFilesThanAnyFormIsRefusedWhole) {
    CgiInstallation install;
    install.build("folder 5 name=\"N\" access=1 write=50\nuser taro password=t level=10\n"
                  "grant 5 user taro 5\nsetting 5 ATTACH_MAX 99\n");
    const auto post = [&](int files) {
        install.session("taro");
        MultipartBody body;
        body.field("uid", "taro").field("SKEY1", "1234567").field("SKEY2", "7654321").field("FOLDER_NO", "5");
        body.field("JOB", "BWRITE_NEWWR").field("SEL_NO", "0").field("WRITE_TITLE", "t");
        body.field("WRITER_NAME", "taro").field("WRITE_DATA", "body");
        for (int i = 1; i <= files; ++i) body.file("ATFILE", "f" + std::to_string(i) + ".txt", "x");
        return install.post_multipart(body).out;
    };
    EXPECT_NE(post(150).find("The data sent is too large."), std::string::npos);
    EXPECT_EQ(uploads_left(install), 0u);
    EXPECT_FALSE(install.data_file_exists("5/x1"));

    // A post that fills every slot a folder can offer is stored whole.
    EXPECT_NE(post(99).find("<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"ROOM\">"), std::string::npos);
    EXPECT_EQ(install.read_data_file("5/x1/atfile99/f99.txt"), "x");
    EXPECT_EQ(uploads_left(install), 0u);
}

}  // namespace
