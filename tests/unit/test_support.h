// Small helpers shared by the unit tests: scratch directories, whole-file
// reads and writes, a fake clock, and capture of what a function prints.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "util/clock.h"

namespace test_support {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/wbbs-unit-XXXXXX";
        path_ = mkdtemp(pattern);
        path_ += '/';
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }  // ends with '/'
    std::string file(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

inline void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline time_t change_time(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_ctime : 0;
}

// A clock that stands still until a test moves it; sleeping moves it too and
// is counted, so waits cost no real time.
class FakeClock {
public:
    FakeClock() {
        now_ = time(nullptr);
        slept_ = 0;
        clock_replace({&FakeClock::now, &FakeClock::sleep});
    }
    ~FakeClock() { clock_replace({nullptr, nullptr}); }
    void advance(time_t seconds) { now_ += seconds; }
    void set(time_t when) { now_ = when; }
    // Puts the clock at the given age of a file's last status change.
    void age(const std::string& path, time_t seconds) { now_ = change_time(path) + seconds; }
    unsigned slept() const { return slept_; }

private:
    static time_t now() { return now_; }
    static void sleep(unsigned seconds) {
        slept_ += seconds;
        now_ += seconds;
    }
    static inline time_t now_ = 0;
    static inline unsigned slept_ = 0;
};

// Runs fn with standard output sent to a file and returns what it printed.
inline std::string capture_stdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    char path[] = "/tmp/wbbs-stdout-XXXXXX";
    const int fd = mkstemp(path);
    const int saved = dup(1);
    dup2(fd, 1);
    fn();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(fd);
    std::string text = read_file(path);
    unlink(path);
    return text;
}

}  // namespace test_support
