// Runs the real wbbs.cgi (or the suite's orva.cgi beside it) the way a web
// server does: in a fresh installation directory (wbbs.cgi, orva.cgi,
// orva.ini, wbbs.lng) with a data directory elsewhere, the CGI variables in
// the environment and the body on standard input.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

struct CgiRequest {
    std::string program = "wbbs.cgi";  // a program of the installation directory
    std::string method = "GET";
    std::string query;
    std::string content_type;
    std::string body;
    std::optional<std::string> content_length;  // default: the body's size (POST only)
    std::string remote_addr = "192.0.2.10";
    std::string user_agent = "Mozilla/5.0 (X11; Linux x86_64) TestBrowser/1.0";
    // Largest file the program may write (RLIMIT_FSIZE), 0 for no limit: a
    // write beyond it fails as on a full disk.
    long file_size_limit = 0;
};

struct CgiResult {
    std::string out;  // everything printed on standard output
    std::string err;
    int exit_status = -1;
};

// A multipart/form-data body built part by part.
class MultipartBody {
public:
    explicit MultipartBody(std::string boundary = "----wbbsTestBoundary7MA4YWxk");
    MultipartBody& field(const std::string& name, const std::string& value);
    MultipartBody& file(const std::string& name, const std::string& filename,
                        const std::string& content,
                        const std::string& type = "application/octet-stream");
    std::string content_type() const;
    std::string body() const;  // with the closing delimiter

private:
    std::string boundary_;
    std::string parts_;
};

class CgiInstallation {
public:
    CgiInstallation();
    ~CgiInstallation();
    CgiInstallation(const CgiInstallation&) = delete;
    CgiInstallation& operator=(const CgiInstallation&) = delete;

    const std::string& install_dir() const { return install_dir_; }
    const std::string& data_dir() const { return data_dir_; }  // ends with '/'

    // orva.ini: the defaults of a test installation, with these keys changed
    // (an empty value writes the key with nothing between its commas).
    void write_config(const std::map<std::string, std::string>& changes = {});
    void write_messages(const std::string& content);  // replaces the installed wbbs.lng
    void remove_install_file(const std::string& name);

    // Writes folders, users, groups and grants (see store/installation_builder.h)
    // into the data directory; a description that fails fails the test.
    void build(const std::string& description) const;

    // Points the store of this test process at the installation's data, so a
    // test can write messages and marks with the store's own calls.
    void use_store() const;
    // Stores a known session key pair for uid (who must exist) and returns the
    // query text that carries it: "uid=<uid>&SKEY1=<key1>&SKEY2=<key2>".
    std::string session(const std::string& uid, int key1 = 1234567, int key2 = 7654321) const;

    void write_data_file(const std::string& relative, const std::string& content);
    bool data_file_exists(const std::string& relative) const;
    std::string read_data_file(const std::string& relative) const;
    std::vector<std::string> data_dir_entries() const;  // sorted bare names
    std::vector<std::string> all_paths() const;         // every path under the root, sorted
    const std::string& root() const { return root_; }

    CgiResult run(const CgiRequest& request) const;
    CgiResult get(const std::string& query, const std::string& program = "wbbs.cgi") const;
    CgiResult post_form(const std::string& body, const std::string& program = "wbbs.cgi") const;
    CgiResult post_multipart(const MultipartBody& body, const std::string& program = "wbbs.cgi") const;

private:
    std::string root_;
    std::string install_dir_;
    std::string data_dir_;
};

// The page head every page starts with, given messages 1 and 2 and the body tag.
std::string expected_page_head(const std::string& message1, const std::string& message2,
                               const std::string& body_tag);
