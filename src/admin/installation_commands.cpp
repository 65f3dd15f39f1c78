// init, config and apply: the configuration file and whole installations.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "admin/arguments.h"
#include "admin/commands.h"
#include "config/sysinfo.h"
#include "store/access_lists.h"
#include "store/data_paths.h"
#include "store/downloads.h"
#include "store/file_primitives.h"
#include "store/folder_tree.h"
#include "store/installation_builder.h"
#include "store/line_file_engine.h"
#include "store/users.h"
#include "util/bytes.h"

namespace fs = std::filesystem;

namespace {

std::string config_path(const Invocation& call) { return (fs::path(call.directory) / "orva.ini").string(); }

bool is_directory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The data directory as orva.ini names it: absolute, ending with '/'.
std::string absolute_data_directory(const std::string& given) {
    std::string path = fs::absolute(fs::path(given)).lexically_normal().string();
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

// Files every installation has from the start, each created empty (or, for the
// MIME map, with the picture types) by the store operation that owns it.
int create_data_files(const std::string& data_dir) {
    copy_field(SYSINFO.DATA_FILE_PATH, data_dir.c_str());
    char path[DATA_PATH_SIZE];
    if (!data_file_path(path, sizeof path, "user")) return STORE_CANNOT_OPEN;
    Cu_mkdir(path);
    if (!is_directory(data_dir + "user")) return STORE_CANNOT_OPEN;
    int result = Fio_TREE_DATA(1, 1, 2);
    if (result == STORE_OK || result == STORE_NOT_FOUND) result = Fio_USER_MST2(1, 1);
    if (result == STORE_OK || result == STORE_NOT_FOUND) result = Fio_GROUP_MST(1, 1, 2);
    if (result != STORE_OK && result != STORE_NOT_FOUND) return result;
    if (!data_file_path(path, sizeof path, "mimemap.txt")) return STORE_CANNOT_OPEN;
    return Fio_MIMEMAP_create(path);
}

struct IniOption {
    const char* option;
    const char* key;
};

const IniOption kIniOptions[] = {
    {"site-id", "SITE_ID"},       {"cgi-url", "CGI_FILE_NAME"}, {"language", "LANGUAGE"},
    {"image-url", "CG_FILE_WEB_PATH"}, {"background", "BACK_GIF"},
};

// Sets one key of SYSINFO; empty when done, otherwise why not.
std::string set_key(const std::string& key, const std::string& value) {
    const int set = SysInfoSet(key.c_str(), value.c_str());
    if (set == -1) return "orva.ini has no key " + key;
    if (set == -2) return "orva.ini cannot hold " + key + " '" + value + "' (too long, a comma or line break, or not a number)";
    return "";
}

}  // namespace

int open_installation(const Invocation& call) {
    const std::string path = config_path(call);
    if (SysFileOpen(path.c_str()) != 0) {
        std::fprintf(stderr, "wbbs-admin: cannot read %s (run 'wbbs-admin -C DIR init DATA_DIR' first)\n",
                     path.c_str());
        return EXIT_USAGE;
    }
    if (SYSINFO.DATA_FILE_PATH[0] == '\0') {
        std::fprintf(stderr, "wbbs-admin: %s names no data directory (DATA_FILE_PATH)\n", path.c_str());
        return EXIT_PROBLEMS;
    }
    if (!is_directory(SYSINFO.DATA_FILE_PATH)) {
        std::fprintf(stderr, "wbbs-admin: the data directory %s does not exist\n", SYSINFO.DATA_FILE_PATH);
        return EXIT_PROBLEMS;
    }
    return EXIT_DONE;
}

int run_init(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words,
                    {{"site-id", true}, {"cgi-url", true}, {"language", true}, {"image-url", true},
                     {"background", true}, {"log", false}, {"set", true, true}, {"force", false}},
                    1, 1)) {
        return usage_error(call.command, args.error());
    }
    if (!is_directory(call.directory)) return usage_error(call.command, "no directory " + call.directory);
    const std::string ini = config_path(call);
    if (exists(ini) && !args.has("force")) {
        return usage_error(call.command, ini + " exists (--force writes it anew)");
    }
    const std::string& given = args.positional()[0];
    if (exists(given) && !is_directory(given)) return usage_error(call.command, given + " is not a directory");
    const std::string data_dir = absolute_data_directory(given);

    SysFileDefaults();
    const std::pair<const char*, const char*> defaults[] = {
        {"SITE_ID", "ORVA"}, {"LANGUAGE", "English"}, {"CGI_FILE_NAME", "orva.cgi"}, {"LOG_DATE", "0"}};
    for (const auto& [key, value] : defaults) SysInfoSet(key, value);
    std::string problem = set_key("DATA_FILE_PATH", data_dir);
    for (const IniOption& option : kIniOptions) {
        if (problem.empty() && args.has(option.option)) problem = set_key(option.key, args.value(option.option));
    }
    if (problem.empty() && args.has("log")) problem = set_key("LOG_DATE", "1");
    for (const std::string& setting : args.values("set")) {
        const std::size_t equals = setting.find('=');
        if (!problem.empty()) break;
        if (setting.substr(0, equals) == "DATA_FILE_PATH") {
            // Only DATA_DIR is made absolute, given its '/' and created.
            problem = "the data directory is DATA_DIR, not --set DATA_FILE_PATH";
            break;
        }
        problem = equals == std::string::npos ? "--set takes KEY=VALUE, not '" + setting + "'"
                                              : set_key(setting.substr(0, equals), setting.substr(equals + 1));
    }
    if (!problem.empty()) return usage_error(call.command, problem);

    const std::string webroot = fs::absolute(fs::path(call.directory)).lexically_normal().string() + "/";
    if (data_dir.rfind(webroot, 0) == 0) {
        std::fprintf(stderr, "wbbs-admin init: warning: the data directory lies inside %s, "
                             "where the web server may hand its files out\n", webroot.c_str());
    }

    const struct SYSINFO wanted = SYSINFO;
    std::error_code failed;
    fs::create_directories(data_dir, failed);
    if (failed || !is_directory(data_dir)) {
        std::fprintf(stderr, "wbbs-admin init: cannot create %s: %s\n", data_dir.c_str(), failed.message().c_str());
        return EXIT_PROBLEMS;
    }
    const int created = create_data_files(data_dir);
    if (created != STORE_OK) return store_failure("creating the files of " + data_dir, created);
    SYSINFO = wanted;
    if (SysFileWrite(ini.c_str()) != 0) {
        std::fprintf(stderr, "wbbs-admin init: cannot write %s\n", ini.c_str());
        return EXIT_PROBLEMS;
    }
    std::printf("wrote %s\ndata directory %s\n", ini.c_str(), data_dir.c_str());
    return EXIT_DONE;
}

int run_config(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 0, 2)) return usage_error(call.command, args.error());
    const std::string ini = config_path(call);
    if (SysFileOpen(ini.c_str()) != 0) return usage_error(call.command, "cannot read " + ini);
    const std::vector<std::string>& words = args.positional();
    if (words.size() == 2) {
        std::string value = words[1];
        if (words[0] == "DATA_FILE_PATH") {
            // Every data path is this text with a name appended.
            if (!is_directory(value)) return usage_error(call.command, "no directory " + value);
            value = absolute_data_directory(value);
        }
        const std::string problem = set_key(words[0], value);
        if (!problem.empty()) return usage_error(call.command, problem);
        if (SysFileWrite(ini.c_str()) != 0) {
            std::fprintf(stderr, "wbbs-admin config: cannot write %s\n", ini.c_str());
            return EXIT_PROBLEMS;
        }
        return EXIT_DONE;
    }
    char value[sizeof SYSINFO.DATA_FILE_PATH];
    if (words.size() == 1) {
        if (SysInfoGet(words[0].c_str(), value, sizeof value) != 0) {
            return usage_error(call.command, "orva.ini has no key " + words[0]);
        }
        std::printf("%s\n", value);
        return EXIT_DONE;
    }
    for (int n = 0; SysInfoKey(n) != nullptr; ++n) {
        SysInfoGet(SysInfoKey(n), value, sizeof value);
        std::printf("%s=%s\n", SysInfoKey(n), value);
    }
    return EXIT_DONE;
}

int run_apply(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 1, 1)) return usage_error(call.command, args.error());
    const std::string& source = args.positional()[0];
    const std::string source_name = source == "-" ? "standard input" : source;
    std::string description;
    if (source == "-") {
        description.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(source, std::ios::binary);
        if (!in) return usage_error(call.command, "cannot read " + source);
        description.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string error;
    if (check_installation(description.c_str(), &error) != 0) {
        return usage_error(call.command, source_name + ", " + error);
    }
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    if (check_installation_against_store(description.c_str(), &error) != 0) {
        return usage_error(call.command, source_name + ", " + error);
    }
    if (build_installation(description.c_str(), &error) == 0) return EXIT_DONE;
    std::fprintf(stderr, "wbbs-admin apply: %s, %s\n", source_name.c_str(), error.c_str());
    return EXIT_PROBLEMS;
}
