// The administration tool's command line: the words after a command, checked
// before anything is written, and the tool's way of saying what went wrong.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// Exit statuses.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_PROBLEMS = 1;  // problems found, or a store call failed
constexpr int EXIT_USAGE = 2;     // a wrong argument: nothing was written

struct OptionSpec {
    const char* name;  // without the leading "--"
    bool takes_value;
    bool repeatable = false;
};

// Positional words and "--name value", "--name=value" or "--flag" options, in
// any order; "--" ends the options.
class Arguments {
public:
    // False, with error(), for an unknown option, a missing value, an option
    // given twice that may not be, or a number of positional words outside
    // [min_positional, max_positional].
    bool parse(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs,
               std::size_t min_positional, std::size_t max_positional);
    const std::vector<std::string>& positional() const { return positional_; }
    bool has(const std::string& name) const { return values_.count(name) != 0; }
    const std::string& value(const std::string& name) const;  // the last one given
    std::vector<std::string> values(const std::string& name) const;
    const std::string& error() const { return error_; }

private:
    std::vector<std::string> positional_;
    std::multimap<std::string, std::string> values_;
    std::string error_;
};

// "wbbs-admin <command>: <message>" and a hint at the command's help on
// standard error; EXIT_USAGE.
int usage_error(const std::string& command, const std::string& message);

// "wbbs-admin: <what>: store result <n> <meaning>" on standard error; EXIT_PROBLEMS.
int store_failure(const std::string& what, int result);

// A whole decimal number within [min, max].
bool parse_number(const std::string& text, long min, long max, long& out);

// Empty when value can be stored in a field of `width` bytes (terminator
// included) of a comma-separated data file; otherwise why not. Control
// characters are refused everywhere; commas only when `comma_allowed` is false
// (a free-text last field may hold them).
std::string text_problem(const std::string& what, const std::string& value, std::size_t width,
                         bool comma_allowed = false);

// Empty when id can name a user (a directory of its own, a line of user.mst).
std::string user_id_problem(const std::string& id);

// True when something exists at a data path as composed (backslashes and all).
bool file_exists(const char* data_path);
