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
#include <utility>
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
// is counted, so waits cost no real time. Second sleeps (slept) and the lock
// polls' millisecond sleeps (waited_ms) are counted apart.
class FakeClock {
public:
    FakeClock() {
        now_ns_ = static_cast<long long>(time(nullptr)) * kNs;
        monotonic_ms_ = 0;
        slept_ = 0;
        waited_ms_ = 0;
        on_wait_ = nullptr;
        clock_replace({&FakeClock::now, &FakeClock::sleep, &FakeClock::now_ns, &FakeClock::monotonic_ms,
                       &FakeClock::sleep_ms});
    }
    ~FakeClock() {
        clock_replace({nullptr, nullptr});
        on_wait_ = nullptr;
    }
    void advance(time_t seconds) { now_ns_ += seconds * kNs; }
    void set(time_t when) { now_ns_ = when * kNs; }
    // Puts the clock at the given age of a file's last status change.
    void age(const std::string& path, time_t seconds) { now_ns_ = (change_time(path) + seconds) * kNs; }
    unsigned slept() const { return slept_; }
    long long waited_ms() const { return waited_ms_; }
    // Runs after every millisecond sleep with the total waited so far: what
    // another process does while this one waits.
    void during_waits(std::function<void(long long waited_ms)> fn) { on_wait_ = std::move(fn); }

private:
    static constexpr long long kNs = 1000000000LL;
    static time_t now() { return static_cast<time_t>(now_ns_ / kNs); }
    static long long now_ns() { return now_ns_; }
    static long long monotonic_ms() { return monotonic_ms_; }
    static void sleep(unsigned seconds) {
        slept_ += seconds;
        now_ns_ += seconds * kNs;
        monotonic_ms_ += seconds * 1000LL;
    }
    static void sleep_ms(unsigned ms) {
        waited_ms_ += ms;
        now_ns_ += ms * 1000000LL;
        monotonic_ms_ += ms;
        if (on_wait_) on_wait_(waited_ms_);
    }
    static inline long long now_ns_ = 0;
    static inline long long monotonic_ms_ = 0;
    static inline unsigned slept_ = 0;
    static inline long long waited_ms_ = 0;
    static inline std::function<void(long long)> on_wait_;
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
