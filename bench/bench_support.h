// What the whole-request benchmarks share: folders of a given size built
// through the store (and cached between runs), and timed requests of a
// program started the way a web server starts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

constexpr long kFolder = 1;
constexpr const char* kUser = "bench";
constexpr int32_t kKey1 = 1234567;
constexpr int32_t kKey2 = 7654321;

// Where built folders are kept, and how they are built.
struct FolderCache {
    std::string cache = "/tmp/wbbs-list-frame-bench";
    bool rebuild = false;
    bool inserts = false;  // post every message, also above 1,000 (hours at 100,000)
};

struct Installation {
    long messages = 0;
    std::string root;         // <cache>/<messages>
    std::string install_dir;  // working directory of a request
    std::string data_dir;     // ends with '/'
};

[[noreturn]] void fail(const std::string& what);
double now_ms();
void write_text(const std::string& path, const std::string& text);
std::string read_text(const std::string& path);
// orva.ini of a benchmark installation whose data directory is data_dir.
std::string config_text(const std::string& data_dir);

// A folder of `messages` messages (about a third replies, threads up to 25),
// the user with a password and session keys, about half the messages read by
// the user; built once and kept in the cache. The store is left pointing at it.
Installation prepare(const FolderCache& folders, long messages);
// The installation's program files (orva.ini, wbbs.lng), written anew.
void lay_program_files(const Installation& inst);
// A copy of an installation that requests may change (under <root>-<name>);
// the store is left pointing at it.
Installation scratch_copy(const Installation& inst, const std::string& name);

// Session keys kKey1 and kKey2 for the user, and the query fields that use them.
void store_session_keys(const char* user);
std::string session_query(const char* user);
// The five index files of folder_no with `messages` messages of the same plan
// as the cached folders, written at once into data_dir (the folder directory
// must exist). No bodies.
void write_planned_folder(long folder_no, long messages, const std::string& data_dir);

// One request and what it gave.
struct Case {
    std::string label;
    std::string program;
    std::string dir;
    std::string query;
    std::vector<double> times;
    double cpu_ms = 0;  // user and system time of the last run's process
    std::size_t bytes = 0;
    int failures = 0;
    std::string page;  // the last output
    std::string method = "GET";
    std::string content_type;
    std::string body;  // standard input of a POST
    std::function<void(Case&)> before;  // run before each timed run, not timed
};

// A GET request of program in dir with the query.
Case get_case(std::string label, std::string program, std::string dir, std::string query);

// Starts the program with the CGI variables, reads its output to the end and
// awaits its exit; the time covers all of it.
double run_once(Case& c);
double median(std::vector<double> values);
// "1000,100000" as numbers; what is not a positive number is left out.
std::vector<long> number_list(const char* text);

}  // namespace bench
