#include "admin/admin_harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

AdminResult run_admin(const CgiInstallation& install, const std::vector<std::string>& args,
                      const std::string& input) {
    const std::string base = install.root() + "/admin-";
    {
        std::ofstream in(base + "in", std::ios::binary | std::ios::trunc);
        in << input;
    }
    std::vector<std::string> words = {WBBS_ADMIN_PATH, "-C", install.install_dir()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(open((base + "in").c_str(), O_RDONLY), 0);
        dup2(open((base + "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open((base + "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    AdminResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_all(base + "out");
    result.err = read_all(base + "err");
    for (const char* name : {"in", "out", "err"}) std::filesystem::remove(base + name);
    return result;
}

std::string admin_ok(const CgiInstallation& install, const std::vector<std::string>& args,
                     const std::string& input) {
    const AdminResult result = run_admin(install, args, input);
    std::string typed;
    for (const std::string& arg : args) typed += " " + arg;
    EXPECT_EQ(result.status, 0) << "wbbs-admin" << typed << "\n" << result.err;
    return result.out;
}

std::string snapshot(const CgiInstallation& install) {
    std::string all = read_all(install.install_dir() + "/orva.ini");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(install.data_dir())) {
        all += entry.path().string() + "\n";
        if (entry.is_regular_file()) all += read_all(entry.path().string()) + "\n";
    }
    return all;
}
