// Users, groups, memberships and personal settings.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "admin/arguments.h"
#include "admin/commands.h"
#include "config/message_table.h"
#include "config/sysinfo.h"
#include "store/access_lists.h"
#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/folder_tree.h"
#include "store/line_file_engine.h"
#include "store/personal_settings.h"
#include "store/users.h"
#include "util/bytes.h"

namespace {

const std::vector<OptionSpec> kUserOptions = {
    {"password", true}, {"name", true},   {"level", true},   {"kind", true},       {"group", true},
    {"language", true}, {"mail", true},   {"frames", true},  {"compose", true},    {"display", true},
    {"unread-view", true}, {"picture", true},
};

// One of the words, as its index; -1 when it is none of them.
int choice(const std::string& value, std::initializer_list<const char*> words) {
    int n = 0;
    for (const char* word : words) {
        if (value == word) return n;
        ++n;
    }
    return -1;
}

// The language must be a section of the wbbs.lng beside orva.ini, when there is one.
std::string language_problem(const Invocation& call, const std::string& language) {
    std::string problem = text_problem("--language", language, sizeof(USER_MST::LANGUAGE));
    if (!problem.empty() || language.empty()) return problem;
    const std::string file = (std::filesystem::path(call.directory) / "wbbs.lng").string();
    char sections[4000];
    if (StrdefLanguageRes(file.c_str(), sections, sizeof sections) != 0) return "";
    if ((std::string(",") + sections + ",").find("," + language + ",") != std::string::npos) return "";
    return "wbbs.lng has no language " + language + " (it has " + sections + ")";
}

bool group_exists(long group) { return Fio_GROUP_MST(group, 1, 1) == STORE_OK; }

// Applies the user options to sUSER_MST (and *password); empty when all could be.
std::string apply_user_options(const Invocation& call, const Arguments& args, std::string* password) {
    long number = 0;
    std::string problem;
    auto text = [&](const char* option, char* field, std::size_t width, bool comma_allowed) {
        if (!problem.empty() || !args.has(option)) return;
        problem = text_problem(std::string("--") + option, args.value(option), width, comma_allowed);
        if (problem.empty()) copy_field(field, width, args.value(option).c_str());
    };
    auto numeric = [&](const char* option, long min, long max, long& field) {
        if (!problem.empty() || !args.has(option)) return;
        if (!parse_number(args.value(option), min, max, number)) {
            problem = std::string("--") + option + " takes a number from " + std::to_string(min) + " to " +
                      std::to_string(max) + ", not '" + args.value(option) + "'";
            return;
        }
        field = number;
    };
    auto word = [&](const char* option, std::initializer_list<const char*> words, long first, long& field) {
        if (!problem.empty() || !args.has(option)) return;
        const int n = choice(args.value(option), words);
        if (n < 0) {
            problem = std::string("--") + option + ": '" + args.value(option) + "' is none of";
            for (const char* w : words) problem += std::string(" ") + w;
            return;
        }
        field = first + n;
    };
    if (args.has("password")) {
        *password = args.value("password");
        // The password file keeps 20 characters.
        problem = text_problem("--password", *password, 21, true);
        if (problem.empty() && password->empty()) problem = "--password cannot be empty";
    }
    text("name", sUSER_MST.USER_NAME, sizeof sUSER_MST.USER_NAME, true);
    text("mail", sUSER_MST.E_MAIL_ADDR, sizeof sUSER_MST.E_MAIL_ADDR, true);
    numeric("level", 0, INT32_MAX, sUSER_MST.USER_LEVEL);
    numeric("group", 0, INT32_MAX, sUSER_MST.P_GROUP);
    if (problem.empty() && args.has("group") && sUSER_MST.P_GROUP != 0 && !group_exists(sUSER_MST.P_GROUP)) {
        problem = "there is no group " + args.value("group");
    }
    word("kind", {"personal", "shared"}, 1, sUSER_MST.MODE);
    word("frames", {"3", "2"}, 0, sUSER_MST.BBS_FRAME_MODE);
    word("compose", {"frame", "window"}, 1, sUSER_MST.WRITE_MODE);
    numeric("display", 1, 5, sUSER_MST.USER_DISP_DEF);
    if (problem.empty() && args.has("language")) problem = language_problem(call, args.value("language"));
    text("language", sUSER_MST.LANGUAGE, sizeof sUSER_MST.LANGUAGE, false);
    if (problem.empty() && args.has("picture") && !args.value("picture").empty() &&
        !is_safe_path_component(args.value("picture").c_str())) {
        problem = "--picture takes a bare file name";
    }
    text("picture", sUSER_MST.PICFILE, sizeof sUSER_MST.PICFILE, false);
    if (problem.empty() && args.has("unread-view") && choice(args.value("unread-view"), {"messages", "table"}) < 0) {
        problem = "--unread-view: '" + args.value("unread-view") + "' is none of messages table";
    }
    return problem;
}

int store_unread_view(const Arguments& args, const char* user_id) {
    if (!args.has("unread-view")) return STORE_OK;
    char value[8];
    copy_field(value, args.value("unread-view") == "table" ? "1" : "0");
    if (Fio_PERSONAL_MST(user_id, 4, "UNREAD_LISTMODE", value) == STORE_OK) return STORE_OK;
    return Fio_PERSONAL_MST(user_id, 2, "UNREAD_LISTMODE", value);
}

// The stored spelling of an existing user into *stored; EXIT_DONE or the status to end with.
int find_user(const Invocation& call, const std::string& id, std::string* stored) {
    const std::string problem = user_id_problem(id);
    if (!problem.empty()) return usage_error(call.command, problem);
    const int found = Fio_USER_MST(id.c_str(), 1);
    if (found == STORE_NOT_FOUND) return usage_error(call.command, "there is no user " + id);
    if (found != STORE_OK) return store_failure("reading user " + id, found);
    *stored = sUSER_MST.USER_ID;
    return EXIT_DONE;
}

int parse_group(const Invocation& call, const std::string& text, long* group) {
    if (!parse_number(text, 1, INT32_MAX, *group)) {
        return usage_error(call.command, "'" + text + "' is not a group number");
    }
    return EXIT_DONE;
}

// Removes the user's or group's entry from every folder's access list; the
// first failure (other than "no entry") ends it.
int revoke_everywhere(const char* kind, const char* user_id, long group) {
    for (long position = 1;; ++position) {
        const int read = Fio_TREE_DATA(position, 1, 2);
        if (read == STORE_NOT_FOUND) return STORE_OK;
        if (read != STORE_OK) return read;
        const long folder = sTREE_DATA.FOLDER_NO;
        // Folders without a list (or without a directory) have nothing to take away.
        char list[DATA_PATH_SIZE];
        if (!folder_file_path(list, sizeof list, folder, "acl.mst") || !file_exists(list)) continue;
        std::memset(&sACL_MST, 0, sizeof sACL_MST);
        sACL_MST.FOLDER_NO = static_cast<int32_t>(folder);
        copy_field(sACL_MST.U_OR_G, kind);
        copy_field(sACL_MST.USER_ID, user_id);
        sACL_MST.GROUP_ID = static_cast<int32_t>(group);
        const int removed = Fio_ACL_MST(0, 3, 1);
        if (removed != STORE_OK && removed != STORE_NOTHING_TO_CHANGE) return removed;
    }
}

}  // namespace

int run_user_add(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, kUserOptions, 1, 1)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    const std::string& id = args.positional()[0];
    const std::string problem = user_id_problem(id);
    if (!problem.empty()) return usage_error(call.command, problem);
    const int exists = Fio_USER_MST(id.c_str(), 1);
    if (exists == STORE_OK) return usage_error(call.command, "user " + id + " exists (as " + sUSER_MST.USER_ID + ")");
    if (exists != STORE_NOT_FOUND) return store_failure("reading the user list", exists);

    // A new user as the suite makes one: level 1, a personal account.
    std::memset(&sUSER_MST, 0, sizeof sUSER_MST);
    copy_field(sUSER_MST.USER_ID, id.c_str());
    copy_field(sUSER_MST.USER_NAME, id.c_str());
    sUSER_MST.USER_LEVEL = 1;
    sUSER_MST.USER_DISP_DEF = 5;
    sUSER_MST.MODE = 1;
    sUSER_MST.WRITE_MODE = 1;
    std::string password;
    std::string wrong = apply_user_options(call, args, &password);
    // The board lets a user without a password file in with an empty password.
    if (wrong.empty() && !args.has("password")) {
        wrong = "a new user needs --password (without one, anyone could log in as " + id + " with an empty one)";
    }
    char directory[DATA_PATH_SIZE];
    if (wrong.empty() && user_file_path(directory, sizeof directory, id.c_str(), "")) {
        // Files left there (a password, marks, groups) would become the new user's.
        yen_to_sura(directory);
        std::error_code ignored;
        if (std::filesystem::exists(directory, ignored) && !std::filesystem::is_empty(directory, ignored)) {
            wrong = std::string("the directory ") + directory + " already holds files; remove it first";
        }
    }
    if (!wrong.empty()) return usage_error(call.command, wrong);
    const USER_MST user = sUSER_MST;

    // The password goes first: a user line without its password file would
    // let anyone in with an empty password.
    int result = make_user_directory(id.c_str());
    if (result == STORE_OK) {
        sUSER_MST = user;
        copy_field(sUSER_MST.USER_PASS, password.c_str());
        result = Fio_MST_PASSWORD(id.c_str(), 2);
        sUSER_MST = user;
        if (result == STORE_OK) result = Fio_USER_MST(id.c_str(), 2);
        if (result != STORE_OK) remove_user_directory(id.c_str());  // nothing half made stays
    }
    if (result == STORE_OK) result = store_unread_view(args, id.c_str());
    if (result != STORE_OK) return store_failure("adding user " + id, result);
    return EXIT_DONE;
}

int run_user_set(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, kUserOptions, 1, 1)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::string id;
    const int found = find_user(call, args.positional()[0], &id);
    if (found != EXIT_DONE) return found;
    std::string password;
    const std::string wrong = apply_user_options(call, args, &password);
    if (!wrong.empty()) return usage_error(call.command, wrong);
    int result = Fio_USER_MST(id.c_str(), 4);
    if (result == STORE_OK && !password.empty()) {
        copy_field(sUSER_MST.USER_PASS, password.c_str());
        result = Fio_MST_PASSWORD(id.c_str(), 4);
    }
    if (result == STORE_OK) result = store_unread_view(args, id.c_str());
    return result == STORE_OK ? EXIT_DONE : store_failure("changing user " + id, result);
}

int run_user_remove(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 1, 1)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::string id;
    const int found = find_user(call, args.positional()[0], &id);
    if (found != EXIT_DONE) return found;
    // Grants first: a user of the same id made later must not inherit them.
    int result = revoke_everywhere("U", id.c_str(), 0);
    if (result == STORE_OK) result = Fio_USER_MST(id.c_str(), 3);
    if (result == STORE_OK) result = remove_user_directory(id.c_str());
    return result == STORE_OK ? EXIT_DONE : store_failure("removing user " + id, result);
}

int run_user_list(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 0, 0)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    for (long line = 1;; ++line) {
        const int read = Fio_USER_MST2(line, 1);
        if (read == STORE_NOT_FOUND) break;
        if (read != STORE_OK) return store_failure("reading the user list", read);
        std::printf("%s\tlevel %ld\t%s\tgroup %ld\t%s\n", sUSER_MST.USER_ID, sUSER_MST.USER_LEVEL,
                    sUSER_MST.MODE == 2 ? "shared" : "personal", sUSER_MST.P_GROUP, sUSER_MST.USER_NAME);
    }
    return EXIT_DONE;
}

int run_group_add(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 2, 2)) return usage_error(call.command, args.error());
    long group = 0;
    if (parse_group(call, args.positional()[0], &group) != EXIT_DONE) return EXIT_USAGE;
    const std::string& name = args.positional()[1];
    const std::string problem = text_problem("the group name", name, sizeof(GROUP_MST::GROUP_NAME));
    if (!problem.empty()) return usage_error(call.command, problem);
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    const bool rename = call.command == "group rename";
    const bool exists = group_exists(group);
    if (exists != rename) {
        return usage_error(call.command, "group " + args.positional()[0] + (exists ? " exists" : " does not exist"));
    }
    std::memset(&sGROUP_MST, 0, sizeof sGROUP_MST);
    sGROUP_MST.GROUP_ID = static_cast<int32_t>(group);
    copy_field(sGROUP_MST.GROUP_NAME, name.c_str());
    const int result = Fio_GROUP_MST(group, rename ? 4 : 2, 1);
    return result == STORE_OK ? EXIT_DONE : store_failure("writing group " + args.positional()[0], result);
}

int run_group_remove(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 1, 1)) return usage_error(call.command, args.error());
    long group = 0;
    if (parse_group(call, args.positional()[0], &group) != EXIT_DONE) return EXIT_USAGE;
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    if (!group_exists(group)) return usage_error(call.command, "there is no group " + args.positional()[0]);
    // Its grants and memberships go with it.
    int result = revoke_everywhere("G", "", group);
    int membership = STORE_OK;
    if (result == STORE_OK) {
        result = for_each_user_id([&](const char* user_id) {
            // A primary group counts as membership: a later group of the same
            // number must not take these users in.
            int primary = Fio_USER_MST(user_id, 1);
            if (primary == STORE_OK && sUSER_MST.P_GROUP == group) {
                sUSER_MST.P_GROUP = 0;
                primary = Fio_USER_MST(user_id, 4);
            }
            if (primary != STORE_OK && membership == STORE_OK) membership = primary;
            char list[DATA_PATH_SIZE];
            if (!user_file_path(list, sizeof list, user_id, "user_g.mst") || !file_exists(list)) return;
            std::memset(&sUSER_GROUP_MST, 0, sizeof sUSER_GROUP_MST);
            copy_field(sUSER_GROUP_MST.USER_ID, user_id);
            const int left = Fio_USER_GROUP_MST(group, 3, 1);
            if (left != STORE_OK && left != STORE_NOTHING_TO_CHANGE && membership == STORE_OK) membership = left;
        });
    }
    if (result == STORE_OK) result = membership;
    if (result == STORE_OK) result = Fio_GROUP_MST(group, 3, 1);
    return result == STORE_OK ? EXIT_DONE : store_failure("removing group " + args.positional()[0], result);
}

int run_group_list(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 0, 0)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    for (long position = 1;; ++position) {
        const int read = Fio_GROUP_MST(position, 1, 2);
        if (read == STORE_NOT_FOUND) break;
        if (read != STORE_OK) return store_failure("reading group.mst", read);
        std::printf("%d\t%s\n", sGROUP_MST.GROUP_ID, sGROUP_MST.GROUP_NAME);
    }
    return EXIT_DONE;
}

int run_member(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 2, 2)) return usage_error(call.command, args.error());
    long group = 0;
    if (parse_group(call, args.positional()[1], &group) != EXIT_DONE) return EXIT_USAGE;
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::string id;
    const int found = find_user(call, args.positional()[0], &id);
    if (found != EXIT_DONE) return found;
    const bool add = call.command == "member add";
    if (add && !group_exists(group)) return usage_error(call.command, "there is no group " + args.positional()[1]);
    std::memset(&sUSER_GROUP_MST, 0, sizeof sUSER_GROUP_MST);
    copy_field(sUSER_GROUP_MST.USER_ID, id.c_str());
    // A select would create a missing list; a refused command leaves none behind.
    char list[DATA_PATH_SIZE];
    const bool member = user_file_path(list, sizeof list, id.c_str(), "user_g.mst") && file_exists(list) &&
                        Fio_USER_GROUP_MST(group, 1, 1) == STORE_OK;
    if (member == add) {
        return usage_error(call.command, id + (member ? " is already" : " is not") + " in group " + args.positional()[1]);
    }
    sUSER_GROUP_MST.GROUP_ID = static_cast<int32_t>(group);
    const int result = Fio_USER_GROUP_MST(group, add ? 2 : 3, 1);
    return result == STORE_OK ? EXIT_DONE : store_failure("changing the groups of " + id, result);
}

int run_personal(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {{"remove", false}}, 2, 3)) return usage_error(call.command, args.error());
    const bool remove = args.has("remove");
    if (remove != (args.positional().size() == 2)) {
        return usage_error(call.command, "give a VALUE, or --remove without one");
    }
    const std::string& key = args.positional()[1];
    std::string problem = text_problem("the key", key, 100);
    if (problem.empty() && key.empty()) problem = "the key cannot be empty";
    if (problem.empty() && !remove) problem = text_problem("the value", args.positional()[2], PERSONAL_LINE_SIZE - 102, true);
    if (!problem.empty()) return usage_error(call.command, problem);
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::string id;
    const int found = find_user(call, args.positional()[0], &id);
    if (found != EXIT_DONE) return found;
    char value[PERSONAL_LINE_SIZE] = "";
    int result = STORE_OK;
    if (remove) {
        result = Fio_PERSONAL_MST(id.c_str(), 3, key.c_str(), value);
        if (result == STORE_NOT_FOUND) return usage_error(call.command, id + " has no setting " + key);
    } else {
        copy_field(value, args.positional()[2].c_str());
        result = Fio_PERSONAL_MST(id.c_str(), 4, key.c_str(), value);
        if (result != STORE_OK) result = Fio_PERSONAL_MST(id.c_str(), 2, key.c_str(), value);
    }
    return result == STORE_OK ? EXIT_DONE : store_failure("the personal settings of " + id, result);
}
