// The request parser over any request: the first bytes choose the form and the
// CONTENT_LENGTH, the rest is the body on fd 0 (or the query string). Every
// upload file it leaves must be one it reported; values are read back cut to
// small and large buffers.
#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cgi/request_parser.h"
#include "config/sysinfo.h"
#include "fuzz_input.h"
#include "util/bytes.h"

namespace {

// putenv keeps these buffers themselves, so a new value costs no memory
// (setenv would keep every value it was ever given).
char g_method[32] = "REQUEST_METHOD=";
char g_query[sizeof "QUERY_STRING=" + 70000] = "QUERY_STRING=";
char g_length[64] = "CONTENT_LENGTH=";
char g_type[sizeof "CONTENT_TYPE=" + 1200] = "CONTENT_TYPE=";
std::string g_dir;  // the private data directory, with its trailing '/'

void set_value(char* variable, std::size_t size, const std::string& value) {
    char* eq = std::strchr(variable, '=');
    copy_field(eq + 1, size - static_cast<std::size_t>(eq + 1 - variable), value.c_str());
}

void remove_dir() { std::filesystem::remove_all(g_dir); }

void setup() {
    char dir[] = "/tmp/wbbs-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(dir) != nullptr);
    g_dir = std::string(dir) + "/";
    std::atexit(remove_dir);
    copy_field(SYSINFO.DATA_FILE_PATH, g_dir.c_str());
    for (char* variable : {g_method, g_query, g_length, g_type}) putenv(variable);
}

// The body as fd 0, through an in-memory file.
void put_on_stdin(const std::string& body) {
    int fd = memfd_create("body", 0);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size()));
    FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
    FUZZ_CHECK(dup2(fd, 0) == 0);
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = (setup(), true);
    (void)ready;
    FuzzInput in(data, size);
    const std::uint8_t form = in.byte();
    const std::uint8_t length_choice = in.byte();
    std::string type;
    switch (form & 3) {
        case 0: type = ""; break;
        case 1: type = "application/x-www-form-urlencoded"; break;
        case 2: type = "multipart/form-data; boundary=----b0undary"; break;
        case 3: type = "multipart/form-data; boundary=" + in.take(in.byte() % 110); break;
    }
    const std::string body = in.rest();
    set_value(g_method, sizeof g_method, (form & 3) == 0 ? "GET" : (form & 0x40) ? "PUT" : "POST");
    set_value(g_query, sizeof g_query, body);
    set_value(g_type, sizeof g_type, type);
    // Equal to the body, shorter, longer, or no number at all.
    std::size_t length = body.size();
    switch ((form >> 2) & 3) {
        case 1: length = length > length_choice ? length - length_choice : 0; break;
        case 2: length += length_choice + 1; break;
    }
    set_value(g_length, sizeof g_length, ((form >> 2) & 3) == 3 ? "12x" : std::to_string(length));
    put_on_stdin(body);
    // A small limit makes the body oversize: uploads are then read and dropped.
    const int result = cgi_get((form & 0x80) ? 16 : 10000000);
    FUZZ_CHECK(result == 0 || result == -2);

    for (const char* name : {"a", "f", "file", "name", "", "JOB"}) {
        for (int count = 0; count < 3; ++count) {
            for (std::size_t out_size : {1, 2, 22, 100002}) {
                ExactBuffer out(out_size, "junk");
                const int found = cgi_getvalue(name, count, out.data, out.size);
                FUZZ_CHECK(found == 0 || found == -1);
                FUZZ_CHECK(out.terminated());
            }
        }
    }
    // Whatever is in the directory now was made by this request: each file
    // must be an upload the parser reported as whole.
    std::vector<std::string> files;
    if (DIR* dir = opendir(g_dir.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                files.push_back(g_dir + entry->d_name);
            }
        }
        closedir(dir);
    }
    for (const std::string& file : files) {
        if (!cgi_is_upload(file.c_str())) {
            std::fprintf(stderr, "upload file left but not reported: %s\n", file.c_str());
            std::abort();
        }
    }
    cgi_free();
    for (const std::string& file : files) unlink(file.c_str());
    return 0;
}
