// Folders in the tree, their board settings and texts, and access grants.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "admin/arguments.h"
#include "admin/commands.h"
#include "store/access_lists.h"
#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/folder_files.h"
#include "store/folder_tree.h"
#include "store/line_file_engine.h"
#include "store/read_marks.h"
#include "store/users.h"
#include "util/bytes.h"

namespace {

const std::vector<OptionSpec> kFolderOptions = {
    {"parent", true}, {"name", true},         {"access", true}, {"write", true},     {"mode", true},
    {"cgi", true},    {"icon", true},         {"icon-mode", true}, {"info", true}, {"default-text", true},
    {"set", true, true}, {"unset", true, true},
};

struct TreeLine {
    long position;
    TREE_DATA folder;
};

// The tree in file order. False when it could not be read (the result in *failed).
bool read_tree(std::vector<TreeLine>& lines, int* failed) {
    for (long position = 1;; ++position) {
        const int read = Fio_TREE_DATA(position, 1, 2);
        if (read == STORE_NOT_FOUND) return true;
        if (read != STORE_OK) {
            *failed = read;
            return false;
        }
        lines.push_back({position, sTREE_DATA});
    }
}

// Index of the folder in the tree, or -1.
long find_line(const std::vector<TreeLine>& lines, long folder_no) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].folder.FOLDER_NO == folder_no) return static_cast<long>(i);
    }
    return -1;
}

// One past the last line of the subtree that starts at index `at`.
std::size_t subtree_end(const std::vector<TreeLine>& lines, std::size_t at) {
    std::size_t end = at + 1;
    while (end < lines.size() && lines[end].folder.CLASS > lines[at].folder.CLASS) ++end;
    return end;
}

int parse_folder(const Invocation& call, const std::string& text, long* folder_no) {
    if (!parse_number(text, 1, INT32_MAX, *folder_no)) {
        return usage_error(call.command, "'" + text + "' is not a folder number");
    }
    return EXIT_DONE;
}

}  // namespace

int existing_folder(const Invocation& call, const std::string& text, long* folder_no) {
    if (parse_folder(call, text, folder_no) != EXIT_DONE) return EXIT_USAGE;
    const int found = Fio_TREE_DATA(*folder_no, 1, 1);
    if (found == STORE_NOT_FOUND) return usage_error(call.command, "there is no folder " + text);
    if (found != STORE_OK) return store_failure("reading tree.mst", found);
    return EXIT_DONE;
}

namespace {

// A folder text (information, default message): any bytes but control
// characters other than line breaks and tabs, at most what the board loads.
std::string folder_text_problem(const char* option, const std::string& text) {
    if (text.size() >= FOLDER_TEXT_SIZE) {
        return std::string("--") + option + " is longer than " + std::to_string(FOLDER_TEXT_SIZE - 1) + " bytes";
    }
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\n' && c != '\r' && c != '\t') || c == 0x7F) {
            return std::string("--") + option + " holds a control character";
        }
    }
    return "";
}

struct Setting {
    std::string key;
    std::string value;
};

// The folder options applied to `folder`, the --set pairs into `settings`;
// empty when every option could be taken.
std::string apply_folder_options(const Arguments& args, TREE_DATA& folder, std::vector<Setting>& settings) {
    std::string problem;
    long number = 0;
    auto numeric = [&](const char* option, long min, long max, int32_t& field) {
        if (!problem.empty() || !args.has(option)) return;
        if (!parse_number(args.value(option), min, max, number)) {
            problem = std::string("--") + option + " takes a number from " + std::to_string(min) + " to " +
                      std::to_string(max) + ", not '" + args.value(option) + "'";
        } else {
            field = static_cast<int32_t>(number);
        }
    };
    auto text = [&](const char* option, char* field, std::size_t width) {
        if (!problem.empty() || !args.has(option)) return;
        problem = text_problem(std::string("--") + option, args.value(option), width);
        if (problem.empty()) copy_field(field, width, args.value(option).c_str());
    };
    text("name", folder.NAME, sizeof folder.NAME);
    if (problem.empty() && args.has("name") && args.value("name").empty()) problem = "a folder needs a name";
    numeric("access", 0, INT32_MAX, folder.ACCESS_LEVEL);
    numeric("write", 0, INT32_MAX, folder.WRITE_LEVEL);
    numeric("mode", 0, INT32_MAX, folder.MODE);
    numeric("icon-mode", 0, INT32_MAX, folder.ICON_MODE);
    text("cgi", folder.CGI_NAME, sizeof folder.CGI_NAME);
    if (problem.empty() && args.has("icon") && !args.value("icon").empty() &&
        !is_safe_path_component(args.value("icon").c_str())) {
        problem = "--icon takes a bare file name";
    }
    text("icon", folder.PIC_FILENAME, sizeof folder.PIC_FILENAME);
    for (const char* option : {"info", "default-text"}) {
        if (problem.empty() && args.has(option)) problem = folder_text_problem(option, args.value(option));
    }
    for (const std::string& pair : args.values("set")) {
        if (!problem.empty()) break;
        const std::size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            problem = "--set takes KEY=VALUE, not '" + pair + "'";
            break;
        }
        Setting setting{pair.substr(0, equals), pair.substr(equals + 1)};
        const int checked = DIR_CONFIG_check(setting.key.c_str(), setting.value.c_str());
        if (checked == -1) problem = "the board has no folder setting " + setting.key;
        if (checked == -2) problem = "'" + setting.value + "' does not fit the folder setting " + setting.key;
        settings.push_back(setting);
    }
    for (const std::string& key : args.values("unset")) {
        if (problem.empty() && DIR_CONFIG_check(key.c_str(), "0") == -1) {
            problem = "the board has no folder setting " + key;
        }
    }
    return problem;
}

int store_setting(long folder_no, const Setting& setting) {
    char value[LINE_SIZE_LARGE];
    copy_field(value, setting.value.c_str());
    if (Fio_DIR_CONFIG(folder_no, 4, setting.key.c_str(), value) == STORE_OK) return STORE_OK;
    return Fio_DIR_CONFIG(folder_no, 2, setting.key.c_str(), value);
}

// The settings, removals and texts the options ask for, in that order.
int store_folder_files(long folder_no, const Arguments& args, const std::vector<Setting>& settings) {
    for (const Setting& setting : settings) {
        const int stored = store_setting(folder_no, setting);
        if (stored != STORE_OK) return stored;
    }
    for (const std::string& key : args.values("unset")) {
        char none[2] = "";
        const int removed = Fio_DIR_CONFIG(folder_no, 3, key.c_str(), none);
        if (removed != STORE_OK && removed != STORE_NOT_FOUND) return removed;
    }
    using TextStore = int (*)(long, int, char*, std::size_t);
    const std::pair<const char*, TextStore> texts[] = {{"info", Fio_INFO_TXT}, {"default-text", Fio_DEFO_TXT}};
    for (const auto& [option, store] : texts) {
        if (!args.has(option)) continue;
        auto buffer = std::make_unique<char[]>(FOLDER_TEXT_SIZE);
        copy_field(buffer.get(), FOLDER_TEXT_SIZE, args.value(option).c_str());
        const int stored = store(folder_no, 4, buffer.get(), FOLDER_TEXT_SIZE);
        if (stored != STORE_OK) return stored;
    }
    return STORE_OK;
}

// Reads the tree, ending the command when it cannot be read.
int tree_or_failure(std::vector<TreeLine>& lines) {
    int failed = STORE_OK;
    if (!read_tree(lines, &failed)) return store_failure("reading tree.mst", failed);
    return EXIT_DONE;
}

}  // namespace

int run_folder_add(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, kFolderOptions, 2, 2)) return usage_error(call.command, args.error());
    long folder_no = 0;
    if (parse_folder(call, args.positional()[0], &folder_no) != EXIT_DONE) return EXIT_USAGE;
    long parent = 0;
    if (args.has("parent") && parse_folder(call, args.value("parent"), &parent) != EXIT_DONE) return EXIT_USAGE;
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::vector<TreeLine> lines;
    if (tree_or_failure(lines) != EXIT_DONE) return EXIT_PROBLEMS;
    if (find_line(lines, folder_no) >= 0) return usage_error(call.command, "folder " + args.positional()[0] + " exists");

    // A new folder as the suite makes one: a board folder that everybody reads.
    TREE_DATA folder{};
    folder.FOLDER_NO = static_cast<int32_t>(folder_no);
    folder.MODE = 3;
    copy_field(folder.CGI_NAME, "wbbs.cgi");
    std::vector<Setting> settings;
    std::string problem = text_problem("the folder name", args.positional()[1], sizeof folder.NAME);
    if (problem.empty() && args.positional()[1].empty()) problem = "a folder needs a name";
    if (problem.empty()) copy_field(folder.NAME, args.positional()[1].c_str());
    if (problem.empty()) problem = apply_folder_options(args, folder, settings);
    long position = 0;  // 0: at the end, by key
    if (problem.empty() && args.has("parent")) {
        const long at = find_line(lines, parent);
        if (at < 0) {
            problem = "there is no folder " + args.value("parent");
        } else {
            folder.CLASS = lines[static_cast<std::size_t>(at)].folder.CLASS + 1;
            const std::size_t end = subtree_end(lines, static_cast<std::size_t>(at));
            position = end < lines.size() ? lines[end].position : 0;
        }
    }
    char directory[DATA_PATH_SIZE];
    if (problem.empty() && folder_file_path(directory, sizeof directory, folder_no, "")) {
        // Files left there would become the new folder's messages.
        yen_to_sura(directory);
        std::error_code ignored;
        if (std::filesystem::exists(directory, ignored) && !std::filesystem::is_empty(directory, ignored)) {
            problem = std::string("the directory ") + directory + " already holds files; remove it first";
        }
    }
    if (!problem.empty()) return usage_error(call.command, problem);

    int result = make_folder_directory(folder_no);
    if (result == STORE_OK) {
        sTREE_DATA = folder;
        result = position > 0 ? Fio_TREE_DATA(position, 2, 2) : Fio_TREE_DATA(folder_no, 2, 1);
        if (result != STORE_OK) remove_folder_directory(folder_no);
    }
    if (result == STORE_OK) result = store_folder_files(folder_no, args, settings);
    return result == STORE_OK ? EXIT_DONE : store_failure("adding folder " + args.positional()[0], result);
}

int run_folder_set(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, kFolderOptions, 1, 1)) return usage_error(call.command, args.error());
    if (args.has("parent")) return usage_error(call.command, "a folder keeps its place in the tree (--parent is for folder add)");
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    long folder_no = 0;
    const int found = existing_folder(call, args.positional()[0], &folder_no);
    if (found != EXIT_DONE) return found;
    TREE_DATA folder = sTREE_DATA;
    std::vector<Setting> settings;
    const std::string problem = apply_folder_options(args, folder, settings);
    if (!problem.empty()) return usage_error(call.command, problem);
    sTREE_DATA = folder;
    int result = Fio_TREE_DATA(folder_no, 4, 1);
    if (result == STORE_OK) result = make_folder_directory(folder_no);
    if (result == STORE_OK) result = store_folder_files(folder_no, args, settings);
    return result == STORE_OK ? EXIT_DONE : store_failure("changing folder " + args.positional()[0], result);
}

int run_folder_remove(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {{"recursive", false}}, 1, 1)) return usage_error(call.command, args.error());
    long folder_no = 0;
    if (parse_folder(call, args.positional()[0], &folder_no) != EXIT_DONE) return EXIT_USAGE;
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::vector<TreeLine> lines;
    if (tree_or_failure(lines) != EXIT_DONE) return EXIT_PROBLEMS;
    const long at = find_line(lines, folder_no);
    if (at < 0) return usage_error(call.command, "there is no folder " + args.positional()[0]);
    const std::size_t end = subtree_end(lines, static_cast<std::size_t>(at));
    if (end > static_cast<std::size_t>(at) + 1 && !args.has("recursive")) {
        return usage_error(call.command, "folder " + args.positional()[0] + " has " +
                                             std::to_string(end - static_cast<std::size_t>(at) - 1) +
                                             " sub-folders (--recursive removes them too)");
    }
    std::vector<std::string> users;
    const int listed = for_each_user_id([&users](const char* id) { users.emplace_back(id); });
    if (listed != STORE_OK) return store_failure("reading the user list", listed);
    // The tree line first, so the board stops finding the folder before its files go.
    for (std::size_t i = static_cast<std::size_t>(at); i < end; ++i) {
        const long removed_no = lines[i].folder.FOLDER_NO;
        int result = Fio_TREE_DATA(removed_no, 3, 1);
        if (result == STORE_OK) result = remove_folder_directory(removed_no);
        // A later folder of the same number must not find the old read marks.
        const std::string marks = "r" + std::to_string(removed_no) + ".idx";
        for (const std::string& user : users) {
            char path[DATA_PATH_SIZE];
            if (result != STORE_OK || !user_file_path(path, sizeof path, user.c_str(), marks.c_str()) ||
                !file_exists(path)) {
                continue;
            }
            result = Fio_READ_INDEX100(user.c_str(), removed_no, 3);
        }
        if (result != STORE_OK) return store_failure("removing folder " + std::to_string(removed_no), result);
    }
    return EXIT_DONE;
}

int run_folder_list(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 0, 0)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::vector<TreeLine> lines;
    if (tree_or_failure(lines) != EXIT_DONE) return EXIT_PROBLEMS;
    for (const TreeLine& line : lines) {
        const TREE_DATA& f = line.folder;
        std::printf("%*s%d\t%s\tmode %d\taccess %d\twrite %d\n", 2 * f.CLASS, "", f.FOLDER_NO, f.NAME, f.MODE,
                    f.ACCESS_LEVEL, f.WRITE_LEVEL);
    }
    return EXIT_DONE;
}

int run_folder_show(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 1, 1)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    long folder_no = 0;
    const int found = existing_folder(call, args.positional()[0], &folder_no);
    if (found != EXIT_DONE) return found;
    const TREE_DATA& f = sTREE_DATA;
    std::printf("folder %d\nname %s\nmode %d\naccess %d\nwrite %d\ncgi %s\nicon %s\n", f.FOLDER_NO, f.NAME, f.MODE,
                f.ACCESS_LEVEL, f.WRITE_LEVEL, f.CGI_NAME, f.PIC_FILENAME);
    int result = Fio_DIR_CONFIG_EACH(folder_no, [](const char* key, const char* value) {
        std::printf("setting %s %s\n", key, value);
    });
    for (long position = 1; result == STORE_OK; ++position) {
        std::memset(&sACL_MST, 0, sizeof sACL_MST);
        sACL_MST.FOLDER_NO = static_cast<int32_t>(folder_no);
        const int read = Fio_ACL_MST(position, 1, 2);
        if (read == STORE_NOT_FOUND) break;
        result = read;
        if (read != STORE_OK) break;
        if (sACL_MST.U_OR_G[0] == 'G') {
            std::printf("grant group %d %d\n", sACL_MST.GROUP_ID, sACL_MST.PERMIT);
        } else {
            std::printf("grant user %s %d\n", sACL_MST.USER_ID, sACL_MST.PERMIT);
        }
    }
    return result == STORE_OK ? EXIT_DONE : store_failure("reading folder " + args.positional()[0], result);
}

int run_grant(const Invocation& call) {
    const bool grant = call.command == "grant";
    Arguments args;
    if (!args.parse(call.words, {}, grant ? 4 : 3, grant ? 4 : 3)) return usage_error(call.command, args.error());
    const std::vector<std::string>& words = args.positional();
    long folder_no = 0;
    if (parse_folder(call, words[0], &folder_no) != EXIT_DONE) return EXIT_USAGE;
    if (words[1] != "user" && words[1] != "group") {
        return usage_error(call.command, "a grant is for 'user' or 'group', not '" + words[1] + "'");
    }
    long level = 0;
    if (grant && !parse_number(words[3], 1, 9, level)) {
        return usage_error(call.command, "the level is 1 (read) to 9, not '" + words[3] + "'");
    }
    long group = 0;
    if (words[1] == "group" && !parse_number(words[2], 1, INT32_MAX, group)) {
        return usage_error(call.command, "'" + words[2] + "' is not a group number");
    }
    if (words[1] == "user") {
        const std::string problem = user_id_problem(words[2]);
        if (!problem.empty()) return usage_error(call.command, problem);
    }
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    const int found = existing_folder(call, words[0], &folder_no);
    if (found != EXIT_DONE) return found;
    std::string user_id;
    if (words[1] == "user") {
        // The stored spelling, which the access check compares exactly.
        if (Fio_USER_MST(words[2].c_str(), 1) == STORE_OK) {
            user_id = sUSER_MST.USER_ID;
        } else if (grant) {
            return usage_error(call.command, "there is no user " + words[2]);
        } else {
            user_id = words[2];
        }
    } else if (grant && Fio_GROUP_MST(group, 1, 1) != STORE_OK) {
        return usage_error(call.command, "there is no group " + words[2]);
    }
    std::memset(&sACL_MST, 0, sizeof sACL_MST);
    sACL_MST.FOLDER_NO = static_cast<int32_t>(folder_no);
    copy_field(sACL_MST.U_OR_G, words[1] == "user" ? "U" : "G");
    copy_field(sACL_MST.USER_ID, user_id.c_str());
    sACL_MST.GROUP_ID = static_cast<int32_t>(group);
    sACL_MST.PERMIT = static_cast<int32_t>(level);
    // A refused revoke must not leave an empty list behind, which any write would.
    char list[DATA_PATH_SIZE];
    if (!grant && (!folder_file_path(list, sizeof list, folder_no, "acl.mst") || !file_exists(list))) {
        return usage_error(call.command, "folder " + words[0] + " has no grant for " + words[1] + " " + words[2]);
    }
    int result = Fio_ACL_MST(0, grant ? 4 : 3, 1);
    if (grant && result == STORE_NOTHING_TO_CHANGE) result = Fio_ACL_MST(0, 2, 1);
    if (!grant && result == STORE_NOTHING_TO_CHANGE) {
        return usage_error(call.command, "folder " + words[0] + " has no grant for " + words[1] + " " + words[2]);
    }
    return result == STORE_OK ? EXIT_DONE : store_failure("the access list of folder " + words[0], result);
}

int run_setting(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {{"remove", false}}, 2, 3)) return usage_error(call.command, args.error());
    const bool remove = args.has("remove");
    if (remove != (args.positional().size() == 2)) return usage_error(call.command, "give a VALUE, or --remove without one");
    long folder_no = 0;
    if (parse_folder(call, args.positional()[0], &folder_no) != EXIT_DONE) return EXIT_USAGE;
    const Setting setting{args.positional()[1], remove ? "0" : args.positional()[2]};
    const int checked = DIR_CONFIG_check(setting.key.c_str(), setting.value.c_str());
    if (checked == -1) return usage_error(call.command, "the board has no folder setting " + setting.key);
    if (checked == -2) return usage_error(call.command, "'" + setting.value + "' does not fit the folder setting " + setting.key);
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    const int found = existing_folder(call, args.positional()[0], &folder_no);
    if (found != EXIT_DONE) return found;
    char none[2] = "";
    int result = remove ? Fio_DIR_CONFIG(folder_no, 3, setting.key.c_str(), none) : store_setting(folder_no, setting);
    if (remove && result == STORE_NOT_FOUND) result = STORE_OK;  // not there: nothing to do
    return result == STORE_OK ? EXIT_DONE : store_failure("dir.cnf of folder " + args.positional()[0], result);
}
