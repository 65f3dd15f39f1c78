#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "cgi/request_parser.h"
#include "config/sysinfo.h"
#include "unit/test_support.h"
#include "util/bytes.h"

using namespace test_support;

namespace {

const std::string kBoundary = "----FormBoundaryq3Zx9";
const std::string kMultipart = "multipart/form-data; boundary=" + kBoundary;

std::string text_part(const std::string& name, const std::string& value,
                      const std::string& boundary = kBoundary) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
}

std::string file_part(const std::string& name, const std::string& filename,
                      const std::string& content, const std::string& boundary = kBoundary) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + filename + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
           content + "\r\n";
}

std::string closing(const std::string& boundary = kBoundary) { return "--" + boundary + "--\r\n"; }

// Upload content full of what a careless delimiter search trips over: line
// breaks, dashes, NUL bytes and beginnings of the delimiter itself.
std::string tricky_content(std::size_t size, const std::string& ending) {
    const std::string pieces[] = {"\r\n",  "--", std::string(1, '\0'), "\r\n--",
                                  "\r\n--" + kBoundary.substr(0, 10) + "z", "\xFF\x81=,", "data "};
    std::string s;
    for (std::size_t i = 0; s.size() + ending.size() < size; ++i) s += pieces[i % 7];
    s.resize(size - ending.size());
    return s + ending;
}

class RequestParser : public ::testing::Test {
protected:
    void SetUp() override {
        saved_stdin_ = dup(0);
        copy_field(SYSINFO.DATA_FILE_PATH, data_.path().c_str());
        for (const char* name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH", "CONTENT_TYPE"}) {
            unsetenv(name);
        }
    }
    void TearDown() override {
        cgi_free();
        dup2(saved_stdin_, 0);
        close(saved_stdin_);
    }

    int get(const char* query) {
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query, 1);
        return cgi_get(10000000);
    }

    // Body on fd 0 from a file; CONTENT_LENGTH is the body's size unless given.
    int post(const std::string& type, const std::string& body, long max_length = 10000000,
             const std::string& length = "") {
        setenv("REQUEST_METHOD", "POST", 1);
        setenv("CONTENT_TYPE", type.c_str(), 1);
        setenv("CONTENT_LENGTH", length.empty() ? std::to_string(body.size()).c_str() : length.c_str(), 1);
        const std::string path = input_.file("body");
        write_file(path, body);
        const int fd = open(path.c_str(), O_RDONLY);
        dup2(fd, 0);
        close(fd);
        return cgi_get(max_length);
    }

    static std::string value(const char* name, int n = 0, std::size_t size = 200000) {
        std::vector<char> buf(size, 'x');
        cgi_getvalue(name, n, buf.data(), size);
        return std::string(buf.data());
    }
    static bool has(const char* name, int n = 0) {
        char buf[8];
        return cgi_getvalue(name, n, buf, sizeof buf) == 0;
    }
    static std::string unread_stdin() {
        std::string rest;
        char buf[4096];
        ssize_t n;
        while ((n = read(0, buf, sizeof buf)) > 0) rest.append(buf, static_cast<std::size_t>(n));
        return rest;
    }
    std::string upload(int n) const { return data_.file("CGI" + std::to_string(n)); }
    // The path an upload field's value names.
    static std::string path_of(const char* name, int n = 0) {
        const std::string v = value(name, n);
        return v.substr(v.rfind(',') + 1);
    }
    std::size_t uploads_left() const {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(data_.path())) {
            n += entry.path().filename().string().rfind("CGI", 0) == 0;
        }
        return n;
    }

    TempDir data_;
    TempDir input_;
    int saved_stdin_ = -1;
};

TEST_F(RequestParser, QueryStringKeepsOrderAndRepeatedNames) {
    ASSERT_EQ(get("a=1&a=2&b"), 0);
    EXPECT_EQ(value("a", 0), "1");
    EXPECT_EQ(value("a", 1), "2");
    EXPECT_EQ(value("a", 2), "");
    EXPECT_FALSE(has("a", 2));
    EXPECT_TRUE(has("b"));
    EXPECT_EQ(value("b"), "");
    EXPECT_FALSE(has("A"));

    // An empty piece between two "&" is a pair with an empty name; a final "&" adds none.
    ASSERT_EQ(get("x=1&&=5&"), 0);
    EXPECT_FALSE(has("a"));  // the earlier list is gone without cgi_free
    EXPECT_TRUE(has("", 0));
    EXPECT_EQ(value("", 1), "5");
    EXPECT_FALSE(has("", 2));
}

TEST_F(RequestParser, UrlDecoding) {
    ASSERT_EQ(get("v=a+b%2Bc&t=a%4&u=a%&w=%41%62&%6Eame=x&p=%3D%26"), 0);
    EXPECT_EQ(value("v"), "a b+c");
    EXPECT_EQ(value("t"), "a%4");
    EXPECT_EQ(value("u"), "a%");
    EXPECT_EQ(value("w"), "Ab");
    EXPECT_EQ(value("name"), "x");
    EXPECT_EQ(value("p"), "=&");
}

TEST_F(RequestParser, ValueIsCutToBufferSizeLessOne) {
    const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
    ASSERT_EQ(get(("s=" + thirty).c_str()), 0);
    char buf[22];
    ASSERT_EQ(cgi_getvalue("s", 0, buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), thirty.substr(0, 21));
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(cgi_getvalue("missing", 0, buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");
}

TEST_F(RequestParser, MethodAndLengthFollowCgi) {
    EXPECT_EQ(cgi_get(100), 0);  // no method at all
    setenv("REQUEST_METHOD", "get", 1);
    setenv("QUERY_STRING", "a=1", 1);
    EXPECT_EQ(cgi_get(100), 0);
    EXPECT_FALSE(has("a"));
    EXPECT_EQ(get(""), 0);

    for (const char* bad : {"0", "-5", "12abc", " 12"}) {
        EXPECT_EQ(post("application/x-www-form-urlencoded", "a=1", 100, bad), -2) << bad;
        EXPECT_FALSE(has("a")) << bad;
    }
    unsetenv("CONTENT_LENGTH");
    EXPECT_EQ(cgi_get(100), -2);
}

TEST_F(RequestParser, UrlEncodedBodyIsReadUpToContentLength) {
    ASSERT_EQ(post("application/x-www-form-urlencoded", "a=1&b=x+y"), 0);
    EXPECT_EQ(value("a"), "1");
    EXPECT_EQ(value("b"), "x y");

    // A short body is parsed as far as it goes; nothing is made up for the rest.
    ASSERT_EQ(post("application/x-www-form-urlencoded", "a=1&b=2", 10000000, "100"), 0);
    EXPECT_EQ(value("b"), "2");
    EXPECT_FALSE(has("b", 1));

    // Bytes past CONTENT_LENGTH are never read.
    ASSERT_EQ(post("application/x-www-form-urlencoded", "a=123&b=2", 10000000, "4"), 0);
    EXPECT_EQ(value("a"), "12");
    EXPECT_FALSE(has("b"));
    EXPECT_EQ(unread_stdin(), "3&b=2");

    EXPECT_EQ(post("application/x-www-form-urlencoded", "a=1", 2), -2);
    EXPECT_EQ(value("a"), "1");
}

TEST_F(RequestParser, UrlEncodedWithCharsetIsReadAsMultipart) {
    EXPECT_EQ(post("application/x-www-form-urlencoded; charset=UTF-8", "a=1"), 0);
    EXPECT_FALSE(has("a"));
    EXPECT_FALSE(has(""));
}

TEST_F(RequestParser, OnlyUrlEncodedInputIsConvertedToShiftJis) {
    ASSERT_EQ(get("t=%B0%A1"), 0);
    EXPECT_EQ(value("t"), "\x88\x9F");
    ASSERT_EQ(post(kMultipart, text_part("t", "\xB0\xA1") + closing()), 0);
    EXPECT_EQ(value("t"), "\xB0\xA1");
    ASSERT_EQ(post(kMultipart, text_part("p", "a+b%2B") + closing()), 0);
    EXPECT_EQ(value("p"), "a+b%2B");
}

TEST_F(RequestParser, MultipartTextFields) {
    const std::string body = "preamble\r\n" + text_part("abc", "xyz") + text_part("empty", "") +
                             text_part("lines", "one\r\n--two\r\n") +
                             "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"typed\"\r\n"
                             "Content-Type: text/plain\r\n\r\ntyped value\r\n" +
                             text_part("abc", "second") +
                             // No line break before the delimiter, and one dash too many: the
                             // delimiter still starts at its first occurrence; the two bytes
                             // before it are dropped as if they were the line break.
                             "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"dash\"\r\n\r\nvalue-" +
                             closing() + text_part("after", "end") + closing();
    ASSERT_EQ(post(kMultipart, body), 0);
    EXPECT_EQ(value("abc"), "xyz");
    EXPECT_EQ(value("abc", 1), "second");
    EXPECT_TRUE(has("empty"));
    EXPECT_EQ(value("empty"), "");
    EXPECT_EQ(value("lines"), "one\r\n--two\r\n");
    EXPECT_EQ(value("typed"), "typed value");
    EXPECT_EQ(value("dash"), "valu");
    EXPECT_FALSE(has("after"));  // nothing after the closing delimiter counts
}

TEST_F(RequestParser, MultipartTextFieldLimits) {
    ASSERT_EQ(post(kMultipart, text_part("v", std::string(99998, 'v')) +
                                   text_part("w", std::string(100010, 'w')) + text_part("z", "ok") + closing()),
              0);
    EXPECT_EQ(value("v").size(), 99998u);
    EXPECT_EQ(value("w"), std::string(99998, 'w'));
    EXPECT_EQ(value("z"), "ok");

    // A long name with a value near the limit is cut to the work buffer, never past it.
    const std::string name(600, 'n');
    ASSERT_EQ(post(kMultipart, text_part(name, std::string(99998, 'v')) + closing()), 0);
    EXPECT_EQ(value(name.c_str()), std::string(100001 - 601, 'v'));
}

TEST_F(RequestParser, UploadsKeepTheirExactBytes) {
    const std::string c999 = tricky_content(999, "\r\n");
    const std::string c1000 = tricky_content(1000, "-");
    const std::string c1001 = tricky_content(1001, std::string("\r\n\0", 3));
    for (const std::string* c : {&c999, &c1000, &c1001}) {
        ASSERT_EQ(c->find("--" + kBoundary), std::string::npos);
    }
    ASSERT_EQ(post(kMultipart, text_part("t", "1") + file_part("f", "a.bin", c999) +
                                   file_part("f", "b.bin", c1000) + file_part("f", "c b.txt", c1001) +
                                   text_part("after", "2") + closing()),
              0);
    EXPECT_EQ(value("f", 0), "a.bin," + path_of("f", 0));
    EXPECT_EQ(value("f", 2), "c b.txt," + path_of("f", 2));
    EXPECT_EQ(read_file(path_of("f", 0)), c999);
    EXPECT_EQ(read_file(path_of("f", 1)), c1000);
    EXPECT_EQ(read_file(path_of("f", 2)), c1001);
    EXPECT_EQ(uploads_left(), 3u);
    EXPECT_EQ(value("after"), "2");
    struct stat st;
    ASSERT_EQ(stat(path_of("f", 0).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RequestParser, LargeUploadAcrossReadBuffers) {
    // A delimiter with many inner repeats and content made of its letters: every
    // partial match has to fall back to the right place, across buffer edges too.
    const std::string boundary = "-a-a-ab";
    const std::string delimiter = "--" + boundary;
    std::mt19937 rng(7);
    const char alphabet[] = {'-', 'a', 'b', '\r', '\n', '\0'};
    std::string content;
    while (content.size() < 300000) {
        content.push_back(alphabet[rng() % 6]);
        if (content.size() >= delimiter.size() &&
            content.compare(content.size() - delimiter.size(), delimiter.size(), delimiter) == 0) {
            content.back() = 'c';
        }
    }
    ASSERT_EQ(post("multipart/form-data; boundary=" + boundary,
                   file_part("big", "big.bin", content, boundary) + text_part("n", "1", boundary) +
                       closing(boundary)),
              0);
    EXPECT_EQ(value("n"), "1");
    EXPECT_TRUE(read_file(path_of("big")) == content);
}

TEST_F(RequestParser, UploadNamesNeverReuseAFile) {
    ASSERT_EQ(post(kMultipart, file_part("f", "x", "first") + closing()), 0);
    const std::string first = path_of("f");
    ASSERT_EQ(first.rfind(data_.file("CGI"), 0), 0u);
    // The names the next two uploads would take first are held, as by an
    // earlier process of the same id: they are left alone.
    const long long n = std::stoll(first.substr(data_.file("CGI").size()));
    write_file(data_.file("CGI" + std::to_string(n + 1)), "busy");
    write_file(data_.file("CGI" + std::to_string(n + 2)), "busy");
    ASSERT_EQ(post(kMultipart, file_part("f", "x", "one") + file_part("f", "y", "two") + closing()), 0);
    const std::string one = path_of("f", 0);
    const std::string two = path_of("f", 1);
    EXPECT_NE(one, two);
    EXPECT_EQ(read_file(first), "first");
    EXPECT_EQ(read_file(one), "one");
    EXPECT_EQ(read_file(two), "two");
    EXPECT_EQ(read_file(data_.file("CGI" + std::to_string(n + 1))), "busy");
    EXPECT_EQ(read_file(data_.file("CGI" + std::to_string(n + 2))), "busy");
    EXPECT_EQ(uploads_left(), 5u);
}

TEST_F(RequestParser, OnlyFilesItWroteWholeCountAsUploads) {
    write_file(upload(7), "another request's upload");
    ASSERT_EQ(post(kMultipart, file_part("f", "x", "one") + text_part("g", "y," + upload(7)) + closing()), 0);
    const std::string written = path_of("f");
    EXPECT_TRUE(cgi_is_upload(written.c_str()));
    EXPECT_FALSE(cgi_is_upload(upload(7).c_str()));  // only named by a text field
    // An oversize request names a path it never writes; the earlier list is gone.
    EXPECT_EQ(post(kMultipart, file_part("f", "big", std::string(5000, 'z')) + closing(), 1000), -2);
    EXPECT_FALSE(cgi_is_upload(path_of("f").c_str()));
    EXPECT_FALSE(exists(path_of("f")));
    EXPECT_FALSE(cgi_is_upload(written.c_str()));
}

TEST_F(RequestParser, UploadCheckCostsNoMoreThanThePathItIsGiven) {
    // A post within every bound: all the uploads it may keep, and thousands of
    // ATFILE fields full of commas, each of which the posting handler tries as
    // the start of a path. That took seconds when each try compared every
    // upload with the whole rest of the value.
    std::string parts;
    for (std::size_t i = 0; i < cgi_max_uploads; ++i) parts += file_part("f", "f", "x");
    ASSERT_EQ(post(kMultipart, parts + closing()), 0);
    const std::string commas(2150, ',');
    const std::clock_t start = std::clock();
    int hits = 0;
    for (int field = 0; field < 4000; ++field) {
        for (std::size_t i = commas.size(); i-- > 0;) hits += cgi_is_upload(commas.c_str() + i + 1);
    }
    EXPECT_LT(double(std::clock() - start) / CLOCKS_PER_SEC, 1.0);
    EXPECT_EQ(hits, 0);
    EXPECT_TRUE(cgi_is_upload(path_of("f", cgi_max_uploads - 1).c_str()));
    EXPECT_FALSE(cgi_is_upload((path_of("f") + "0").c_str()));
    EXPECT_FALSE(cgi_is_upload(path_of("f").substr(0, path_of("f").size() - 1).c_str()));
}

TEST_F(RequestParser, UploadsPastTheCapRefuseTheRequestAndLeaveNoFile) {
    std::string parts;
    for (std::size_t i = 0; i < cgi_max_uploads; ++i) parts += file_part("f", "f" + std::to_string(i), "x");
    ASSERT_EQ(post(kMultipart, parts + file_part("none", "", "") + closing()), 0);
    EXPECT_EQ(uploads_left(), cgi_max_uploads);
    EXPECT_TRUE(cgi_is_upload(path_of("f", cgi_max_uploads - 1).c_str()));

    // One more: the uploads stored so far go, the rest is dropped, text fields stay.
    ASSERT_EQ(post(kMultipart, text_part("a", "1") + parts + file_part("f", "last", "x") + text_part("b", "2") +
                                   closing()),
              -2);
    EXPECT_EQ(uploads_left(), cgi_max_uploads);  // only the first request's
    EXPECT_EQ(value("a") + value("b"), "12");
    EXPECT_EQ(value("f", cgi_max_uploads).rfind("last,", 0), 0u);
    EXPECT_FALSE(cgi_is_upload(path_of("f", 0).c_str()) || exists(path_of("f", 0)));
    EXPECT_FALSE(exists(path_of("f", cgi_max_uploads)));
}

TEST_F(RequestParser, PairsPastTheCapRefuseTheRequest) {
    const std::string form = "application/x-www-form-urlencoded";
    std::string pairs;
    for (std::size_t i = 0; i < cgi_max_pairs; ++i) pairs += "a=" + std::to_string(i) + "&";
    ASSERT_EQ(post(form, pairs), 0);  // a final "&" makes no pair
    // Values read in order continue from the last one found; other orders still hold.
    for (std::size_t i = 0; i < cgi_max_pairs; ++i) ASSERT_EQ(value("a", i, 8), std::to_string(i));
    EXPECT_EQ(value("a", 7, 8), "7");
    EXPECT_FALSE(has("a", cgi_max_pairs));

    ASSERT_EQ(post(form, pairs + "b=1&c=2"), -2);
    EXPECT_EQ(value("a", cgi_max_pairs - 1, 8), std::to_string(cgi_max_pairs - 1));
    EXPECT_FALSE(has("b"));

    // An upload stored before the cap is crossed is removed again.
    std::string body = file_part("f", "x", "content");
    for (std::size_t i = 1; i < cgi_max_pairs; ++i) body += text_part("t", "v");
    ASSERT_EQ(post(kMultipart, body + closing()), 0);
    ASSERT_EQ(uploads_left(), 1u);
    ASSERT_EQ(post(kMultipart, body + text_part("over", "1") + closing()), -2);
    EXPECT_FALSE(has("over"));
    EXPECT_FALSE(exists(path_of("f")));
    EXPECT_EQ(uploads_left(), 1u);
}

TEST_F(RequestParser, OversizeBodyKeepsOnlyWhatFitsItsBound) {
    // A URL-encoded body: whole pairs of its first max_length + 1 MB bytes; the
    // rest is read up to CONTENT_LENGTH and dropped.
    const std::string body = "a=1&b=" + std::string(2 * 1024 * 1024, 'x') + "&c=3";
    EXPECT_EQ(post("application/x-www-form-urlencoded", body + "TAIL", 100, std::to_string(body.size())), -2);
    EXPECT_EQ(value("a"), "1");
    EXPECT_FALSE(has("b"));  // cut by the bound: not kept shortened
    EXPECT_FALSE(has("c"));
    EXPECT_EQ(unread_stdin(), "TAIL");

    // Multipart text fields: names and values up to max_length + 1 MB.
    std::string parts;
    for (int i = 0; i < 12; ++i) parts += text_part("v", std::string(99998, 'v'));
    EXPECT_EQ(post(kMultipart, parts + closing(), 0), -2);
    EXPECT_TRUE(has("v", 9));
    EXPECT_FALSE(has("v", 10));
}

TEST_F(RequestParser, BoundaryIsCutTo99Characters) {
    const std::string boundary = "Z" + std::string(149, 'q');
    ASSERT_EQ(post("multipart/form-data; boundary=" + boundary,
                   text_part("a", "xyz", boundary) + text_part("b", "2", boundary) + closing(boundary)),
              0);
    EXPECT_EQ(value("a"), "xyz");
    EXPECT_EQ(value("b"), "2");
}

TEST_F(RequestParser, FileFieldWithoutFileIsEmpty) {
    ASSERT_EQ(post(kMultipart, file_part("f", "", "") + text_part("t", "x") + closing()), 0);
    EXPECT_TRUE(has("f"));
    EXPECT_EQ(value("f"), "");
    EXPECT_EQ(value("t"), "x");
    EXPECT_EQ(uploads_left(), 0u);
}

TEST_F(RequestParser, OversizePostKeepsTextFieldsAndStoresNoUpload) {
    const std::string body = text_part("a", "1") + file_part("f", "big.bin", std::string(5000, 'z')) +
                             text_part("b", "2") + closing();
    EXPECT_EQ(post(kMultipart, body, 1000), -2);
    EXPECT_EQ(value("a"), "1");
    EXPECT_EQ(value("b"), "2");
    EXPECT_EQ(value("f").rfind("big.bin," + data_.file("CGI"), 0), 0u);
    EXPECT_EQ(uploads_left(), 0u);
}

TEST_F(RequestParser, UploadThatCannotBeCreatedIsDropped) {
    copy_field(SYSINFO.DATA_FILE_PATH, data_.file("missing/").c_str());
    ASSERT_EQ(post(kMultipart, file_part("f", "x.bin", "content") + text_part("t", "x") + closing()), 0);
    EXPECT_EQ(value("f").rfind("x.bin," + data_.file("missing/CGI"), 0), 0u);
    EXPECT_FALSE(cgi_is_upload(path_of("f").c_str()));
    EXPECT_EQ(value("t"), "x");
}

TEST_F(RequestParser, TruncatedMultipartKeepsCompletedPairs) {
    const std::string head = text_part("a", "1") + file_part("f", "x.bin", "complete") + text_part("b", "2");
    std::string body = head + text_part("c", "cut off here");
    body.resize(body.size() - 8);
    ASSERT_EQ(post(kMultipart, body, 10000000, "100000"), 0);
    EXPECT_EQ(value("a"), "1");
    EXPECT_EQ(value("b"), "2");
    EXPECT_EQ(read_file(path_of("f")), "complete");
    EXPECT_FALSE(has("c"));

    // An upload cut off in its content leaves neither a pair nor a half file.
    body = head + file_part("g", "y.bin", std::string(3000, 'y'));
    body.resize(body.size() - 100);
    ASSERT_EQ(post(kMultipart, body, 10000000, "100000"), 0);
    EXPECT_EQ(value("b"), "2");
    EXPECT_FALSE(has("g"));
    EXPECT_EQ(read_file(path_of("f")), "complete");
    EXPECT_EQ(uploads_left(), 2u);  // the two "complete" files, no half one
}

TEST_F(RequestParser, MultipartStopsAtContentLength) {
    const std::string body = text_part("a", "1") + closing();
    ASSERT_EQ(post(kMultipart, body + "trailing", 10000000, std::to_string(body.size())), 0);
    EXPECT_EQ(value("a"), "1");
    EXPECT_EQ(unread_stdin(), "trailing");
}

TEST_F(RequestParser, SweepRemovesUploadsUnchangedForAnHour) {
    write_file(upload(0), "a");
    write_file(upload(12), "b");
    write_file(data_.file("user.mst"), "not an upload");
    // The change times come from the kernel; the younger file needs a later second.
    const time_t older = change_time(upload(0));
    while (time(nullptr) <= change_time(upload(12))) usleep(20000);
    write_file(upload(3), "c");
    ASSERT_GT(change_time(upload(3)), older);

    FakeClock clock;
    clock.age(upload(3), 10 * 60);
    cgi_free();
    EXPECT_TRUE(exists(upload(0)));
    EXPECT_TRUE(exists(upload(12)));
    EXPECT_TRUE(exists(upload(3)));

    clock.age(upload(3), 60 * 60);  // the others are now over an hour old, CGI3 just an hour
    cgi_free();
    EXPECT_FALSE(exists(upload(0)));
    EXPECT_FALSE(exists(upload(12)));
    EXPECT_TRUE(exists(upload(3)));

    clock.age(upload(3), 2 * 60 * 60);
    cgi_free();
    EXPECT_FALSE(exists(upload(3)));
    EXPECT_TRUE(exists(data_.file("user.mst")));
}

}  // namespace
