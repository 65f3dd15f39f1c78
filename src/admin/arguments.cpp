#include "admin/arguments.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "store/users.h"

bool Arguments::parse(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs,
                      std::size_t min_positional, std::size_t max_positional) {
    bool options_ended = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (options_ended || word.size() < 3 || word.compare(0, 2, "--") != 0) {
            if (word == "--") {
                options_ended = true;
                continue;
            }
            positional_.push_back(word);
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& s : specs) {
            if (name == s.name) spec = &s;
        }
        if (spec == nullptr) {
            error_ = "unknown option --" + name;
            return false;
        }
        if (has(name) && !spec->repeatable) {
            error_ = "--" + name + " is given twice";
            return false;
        }
        std::string value;
        if (spec->takes_value) {
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            } else if (i + 1 < words.size()) {
                value = words[++i];
            } else {
                error_ = "--" + name + " needs a value";
                return false;
            }
        } else if (equals != std::string::npos) {
            error_ = "--" + name + " takes no value";
            return false;
        }
        values_.emplace(name, value);
    }
    if (positional_.size() < min_positional) {
        error_ = "missing argument";
        return false;
    }
    if (positional_.size() > max_positional) {
        error_ = "unexpected argument '" + positional_[max_positional] + "'";
        return false;
    }
    return true;
}

const std::string& Arguments::value(const std::string& name) const {
    static const std::string none;
    auto range = values_.equal_range(name);
    if (range.first == range.second) return none;
    return std::prev(range.second)->second;
}

std::vector<std::string> Arguments::values(const std::string& name) const {
    std::vector<std::string> all;
    auto range = values_.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) all.push_back(it->second);
    return all;
}

int usage_error(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "wbbs-admin %s: %s\nTry 'wbbs-admin %s --help'.\n", command.c_str(), message.c_str(),
                 command.c_str());
    return EXIT_USAGE;
}

int store_failure(const std::string& what, int result) {
    std::fprintf(stderr, "wbbs-admin: %s: store result %d %s\n", what.c_str(), result, store_result_text(result));
    return EXIT_PROBLEMS;
}

bool parse_number(const std::string& text, long min, long max, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || value < min || value > max) return false;
    out = value;
    return true;
}

std::string text_problem(const std::string& what, const std::string& value, std::size_t width,
                         bool comma_allowed) {
    if (value.size() >= width) {
        return what + " is longer than " + std::to_string(width - 1) + " bytes";
    }
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7F) return what + " holds a control character";
        if (c == ',' && !comma_allowed) return what + " holds a comma";
    }
    return "";
}

std::string user_id_problem(const std::string& id) {
    if (id.empty()) return "a user id cannot be empty";
    std::string problem = text_problem("user id '" + id + "'", id, sizeof(USER_MST::USER_ID));
    if (!problem.empty()) return problem;
    if (!is_safe_path_component(id.c_str())) return "user id '" + id + "' cannot name a directory";
    return "";
}

bool file_exists(const char* data_path) {
    PathBuffer path = make_path(data_path);
    yen_to_sura(path.text);
    struct stat st;
    return stat(path.text, &st) == 0;
}
