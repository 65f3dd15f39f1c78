#include "cgi/cgi_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "config/sysinfo.h"
#include "store/installation_builder.h"
#include "store/session_keys.h"
#include "util/bytes.h"

namespace fs = std::filesystem;

namespace {

void write_whole_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::vector<std::pair<std::string, std::string>>& default_config() {
    static const std::vector<std::pair<std::string, std::string>> settings = {
        {"SITE_ID", "T1"},
        {"CGI_FILE_NAME", "/cgi-bin/orva/orva.cgi"},
        {"LANGUAGE", "English"},
        {"CG_FILE_PATH", "/var/www/orva/img/"},
        {"CG_FILE_WEB_PATH", "/orva/img/"},
        {"DATA_FILE_PATH", ""},  // filled with the installation's data directory
        {"BACK_GIF", "back.gif"},
        {"LOG_DATE", "0"},
        {"DATETIME", "1"},
        {"IECOLS", "80"},
        {"NSCOLS", "60"},
        {"ROWS", "8"},
        {"MAX_CONTENTS", "4000"},
        {"LOGOFF_URL", ""},
        {"LOGIN_ERR_URL", ""},
        {"FRAME_DIVIDE", "20%"},
        {"INITIAL_GP", "0"},
        {"ATTACHED_FILE_LIMIT", "10000000"},
        {"TIME_CORRECT", ""},
        {"MAILER", ""},
    };
    return settings;
}

}  // namespace

// ---- multipart -------------------------------------------------------------

MultipartBody::MultipartBody(std::string boundary) : boundary_(std::move(boundary)) {}

MultipartBody& MultipartBody::field(const std::string& name, const std::string& value) {
    parts_ += "--" + boundary_ + "\r\n";
    parts_ += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    parts_ += value + "\r\n";
    return *this;
}

MultipartBody& MultipartBody::file(const std::string& name, const std::string& filename,
                                   const std::string& content, const std::string& type) {
    parts_ += "--" + boundary_ + "\r\n";
    parts_ += "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename +
              "\"\r\n";
    parts_ += "Content-Type: " + type + "\r\n\r\n";
    parts_ += content + "\r\n";
    return *this;
}

std::string MultipartBody::content_type() const {
    return "multipart/form-data; boundary=" + boundary_;
}

std::string MultipartBody::body() const { return parts_ + "--" + boundary_ + "--\r\n"; }

// ---- installation ----------------------------------------------------------

CgiInstallation::CgiInstallation() {
    char pattern[] = "/tmp/wbbs-cgi-XXXXXX";
    root_ = mkdtemp(pattern);
    install_dir_ = root_ + "/www/cgi-bin/bbs";
    data_dir_ = root_ + "/data/";
    fs::create_directories(install_dir_);
    fs::create_directories(data_dir_);
    fs::create_symlink(WBBS_CGI_PATH, install_dir_ + "/wbbs.cgi");
#ifdef ORVA_CGI_PATH
    fs::create_symlink(ORVA_CGI_PATH, install_dir_ + "/orva.cgi");
#endif
    fs::copy_file(WBBS_LNG_PATH, install_dir_ + "/wbbs.lng");
    write_config();
}

CgiInstallation::~CgiInstallation() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void CgiInstallation::write_config(const std::map<std::string, std::string>& changes) {
    std::string text = "***** ORVA (Pure CGI System) Configuration file *****,,\n";
    for (const auto& [key, fallback] : default_config()) {
        std::string value = key == "DATA_FILE_PATH" ? data_dir_ : fallback;
        if (auto it = changes.find(key); it != changes.end()) value = it->second;
        text += key + "," + value + ",\n";
    }
    write_whole_file(install_dir_ + "/orva.ini", text);
}

void CgiInstallation::write_messages(const std::string& content) {
    write_whole_file(install_dir_ + "/wbbs.lng", content);
}

void CgiInstallation::remove_install_file(const std::string& name) {
    fs::remove(install_dir_ + "/" + name);
}

void CgiInstallation::write_data_file(const std::string& relative, const std::string& content) {
    const fs::path path = fs::path(data_dir_) / relative;
    fs::create_directories(path.parent_path());
    write_whole_file(path.string(), content);
}

bool CgiInstallation::data_file_exists(const std::string& relative) const {
    return fs::exists(fs::path(data_dir_) / relative);
}

std::string CgiInstallation::read_data_file(const std::string& relative) const {
    return read_whole_file((fs::path(data_dir_) / relative).string());
}

void CgiInstallation::use_store() const { copy_field(SYSINFO.DATA_FILE_PATH, data_dir_.c_str()); }

std::string CgiInstallation::session(const std::string& uid, int key1, int key2) const {
    use_store();
    std::memset(&sMST_SKEY, 0, sizeof sMST_SKEY);
    sMST_SKEY.SKEY1 = key1;
    sMST_SKEY.SKEY2 = key2;
    copy_field(sMST_SKEY.USER_ID, uid.c_str());
    if (Fio_MST_SKEY(uid.c_str(), 4) != 0 && Fio_MST_SKEY(uid.c_str(), 2) != 0) {
        ADD_FAILURE() << "cannot store the session keys of " << uid;
    }
    return "uid=" + uid + "&SKEY1=" + std::to_string(key1) + "&SKEY2=" + std::to_string(key2);
}

void CgiInstallation::build(const std::string& description) const {
    copy_field(SYSINFO.DATA_FILE_PATH, data_dir_.c_str());
    std::string error;
    if (build_installation(description.c_str(), &error) != 0) ADD_FAILURE() << error;
}

std::vector<std::string> CgiInstallation::all_paths() const {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        const std::string path = entry.path().string();
        if (path.find("/stdin.bin") == std::string::npos && path.find("/stderr.txt") == std::string::npos) {
            paths.push_back(path);
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> CgiInstallation::data_dir_entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(data_dir_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

CgiResult CgiInstallation::run(const CgiRequest& request) const {
    // Standard input and error go through files: no pipe can fill up and stall.
    const std::string stdin_path = root_ + "/stdin.bin";
    const std::string stderr_path = root_ + "/stderr.txt";
    write_whole_file(stdin_path, request.body);

    std::vector<std::string> env = {
        "PATH=/usr/bin:/bin",
        "GATEWAY_INTERFACE=CGI/1.1",
        "REQUEST_METHOD=" + request.method,
        "QUERY_STRING=" + request.query,
        "REMOTE_ADDR=" + request.remote_addr,
        "HTTP_USER_AGENT=" + request.user_agent,
        "TZ=UTC",
    };
    if (request.method == "POST") {
        env.push_back("CONTENT_LENGTH=" +
                      request.content_length.value_or(std::to_string(request.body.size())));
        env.push_back("CONTENT_TYPE=" + request.content_type);
    }
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::string program = "./" + request.program;
    int out_pipe[2];
    if (pipe(out_pipe) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(stdin_path.c_str(), O_RDONLY);
        const int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out_pipe[1], 1);
        dup2(err, 2);
        close(out_pipe[0]);
        if (chdir(install_dir_.c_str()) != 0) _exit(126);
        if (request.file_size_limit > 0) {
            signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of killing
            const rlimit limit{static_cast<rlim_t>(request.file_size_limit),
                               static_cast<rlim_t>(request.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        }
        char* argv[] = {program.data(), nullptr};
        execve(program.c_str(), argv, envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    CgiResult result;
    char buffer[65536];
    ssize_t got;
    while ((got = read(out_pipe[0], buffer, sizeof buffer)) > 0) {
        result.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(out_pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = read_whole_file(stderr_path);
    return result;
}

CgiResult CgiInstallation::get(const std::string& query, const std::string& program) const {
    CgiRequest request;
    request.program = program;
    request.query = query;
    return run(request);
}

CgiResult CgiInstallation::post_form(const std::string& body, const std::string& program) const {
    CgiRequest request;
    request.program = program;
    request.method = "POST";
    request.content_type = "application/x-www-form-urlencoded";
    request.body = body;
    return run(request);
}

CgiResult CgiInstallation::post_multipart(const MultipartBody& body, const std::string& program) const {
    CgiRequest request;
    request.program = program;
    request.method = "POST";
    request.content_type = body.content_type();
    request.body = body.body();
    return run(request);
}

std::string expected_page_head(const std::string& message1, const std::string& message2,
                               const std::string& body_tag) {
    return "Content-type: text/html\nPragma: no-cache\n\n<HTML>\n<HEAD>\n" + message1 +
           "</HEAD>\n<!--" + message2 + "-->\n" + body_tag + "\n";
}
