// wbbs-admin: the administration tool of a board installation. It writes the
// configuration file and the data directory through the board's own store.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "admin/arguments.h"
#include "admin/commands.h"

namespace {

struct CommandInfo {
    const char* name;      // the words that name it
    const char* synopsis;  // what follows them
    const char* summary;
    const char* details;   // more help, may be empty
    int (*run)(const Invocation&);
};

const CommandInfo kCommands[] = {
    {"init", "DATA_DIR [--site-id ID] [--cgi-url URL] [--language NAME] [--image-url URL] "
             "[--background FILE] [--log] [--set KEY=VALUE]... [--force]",
     "write DIR/orva.ini and create the data directory DATA_DIR",
     "  DATA_DIR is created when missing; files already in it are kept. orva.ini is\n"
     "  not overwritten without --force.\n"
     "  --site-id ID        frame name tag of the installation (default ORVA)\n"
     "  --cgi-url URL       address of the suite program orva.cgi (default orva.cgi)\n"
     "  --language NAME     message language of wbbs.lng (default English)\n"
     "  --image-url URL     address prefix of the suite's pictures\n"
     "  --background FILE   page background picture, under --image-url\n"
     "  --log               record logins and postings in system.log\n"
     "  --set KEY=VALUE     any other orva.ini setting\n",
     run_init},
    {"config", "[KEY [VALUE]]", "show orva.ini, show one setting, or change one", "", run_config},
    {"apply", "FILE|-",
     "apply an installation description (one item a line)",
     "  Items, one a line ('#' starts a comment, \"...\" keeps spaces):\n"
     "    folder NO name=TEXT access=N write=N mode=N class=N cgi=NAME icon=FILE icon_mode=N\n"
     "    user ID password=TEXT name=TEXT level=N group=N mode=1|2 write_mode=1|2 disp=N\n"
     "         frame_mode=0|1 tree_mode=N language=NAME mail=ADDRESS picture=FILE\n"
     "    group NO name=TEXT\n"
     "    member USER GROUP\n"
     "    grant FOLDER user ID LEVEL | grant FOLDER group NO LEVEL\n"
     "    setting FOLDER KEY VALUE      (the folder's dir.cnf)\n"
     "    personal USER KEY VALUE       (the user's personal settings)\n"
     "  The whole description is checked before the first item is written.\n",
     run_apply},
    {"user add", "ID --password P [--name NAME] [--level N] [--kind personal|shared] [--group N] "
                 "[--language NAME] [--mail ADDRESS] [--frames 3|2] [--compose frame|window] [--display 1-5] "
                 "[--unread-view messages|table] [--picture FILE]",
     "add a user (level 1, a personal account, unless told otherwise)",
     "  --password P        1 to 20 characters; a user without one could log in with an empty one\n"
     "  --level N           100 or more: system administrator; else compared with folder levels\n"
     "  --kind shared       an account used by several people: no read marks kept\n"
     "  --group N           primary group\n"
     "  --language NAME     a section of wbbs.lng; empty: the system language\n"
     "  --frames 2          the folder in two frames instead of three\n"
     "  --compose window    the compose form in a window of its own\n"
     "  --display 1-5       default order of the message list\n"
     "  --unread-view table the unread list as a table\n"
     "  Texts are stored as given: give Japanese in Shift_JIS.\n",
     run_user_add},
    {"user set", "ID [the options of user add]", "change a user's password or settings", "", run_user_set},
    {"user remove", "ID", "remove a user, the user's directory and grants", "", run_user_remove},
    {"user list", "", "list the users", "", run_user_list},
    {"group add", "NO NAME", "add a group", "", run_group_add},
    {"group rename", "NO NAME", "rename a group", "", run_group_add},
    {"group remove", "NO", "remove a group with its memberships and grants", "", run_group_remove},
    {"group list", "", "list the groups", "", run_group_list},
    {"member add", "USER GROUP", "put a user into a group", "", run_member},
    {"member remove", "USER GROUP", "take a user out of a group", "", run_member},
    {"personal", "USER KEY VALUE | USER KEY --remove", "set or remove one personal setting of a user", "",
     run_personal},
    {"folder add", "NO NAME [--parent NO] [--access N] [--write N] [--mode N] [--cgi NAME] [--icon FILE] "
                   "[--icon-mode N] [--info TEXT] [--default-text TEXT] [--set KEY=VALUE]...",
     "add a folder to the tree (a board folder that everybody reads, unless told otherwise)",
     "  --parent NO         a sub-folder of NO, after NO's other sub-folders; else at the end\n"
     "  --access N --write N  the user levels from which users read and write\n"
     "  --mode N            kind of folder; 3 is a board folder\n"
     "  --info TEXT         the folder's information text (HTML)\n"
     "  --default-text TEXT the text a new message starts with\n"
     "  --set KEY=VALUE     a board setting of dir.cnf, for example ATTACH_MAX=3, CONFIRM=1,\n"
     "                      LINE_RES=1, TIME_LIMIT_FLG=1, RES_HEADER=Re, FONTCOLOR1=1F4E79\n",
     run_folder_add},
    {"folder set", "NO [the options of folder add but --parent] [--name NAME] [--unset KEY]...",
     "change a folder's tree line, board settings or texts", "", run_folder_set},
    {"folder remove", "NO [--recursive]", "remove a folder with its messages (and its sub-folders)", "",
     run_folder_remove},
    {"folder list", "", "list the folder tree", "", run_folder_list},
    {"folder show", "NO", "show a folder, its board settings and grants", "", run_folder_show},
    {"grant", "FOLDER user ID LEVEL | FOLDER group NO LEVEL",
     "give a user or a group access to a folder",
     "  LEVEL 1 reads, 2 to 7 write, 8 administers the folder, 9 everything\n", run_grant},
    {"revoke", "FOLDER user ID | FOLDER group NO", "take a grant away", "", run_grant},
    {"setting", "FOLDER KEY VALUE | FOLDER KEY --remove", "set or remove one board setting of dir.cnf", "",
     run_setting},
    {"check", "[FOLDER]", "check one or every folder's message index files; exit 1 on problems",
     "  Each problem is printed as 'folder NO: ...'.\n", run_check},
    {"rebuild", "FOLDER", "write a folder's five index files anew from what is left of them",
     "  bbs1.idx is the master; numbers it lacks come from the other four files, then from the\n"
     "  message directories (titled \"(recovered)\"), else they stay as deleted numbers.\n",
     run_rebuild},
    {"sweep", "[FOLDER] [--daily]", "delete the expired messages of one or every board folder now",
     "  --daily             only where today's sweep has not run yet, as the board does\n", run_sweep},
};

std::size_t name_words(const char* name) {
    std::size_t words = 1;
    for (const char* p = name; *p != '\0'; ++p) words += *p == ' ';
    return words;
}

void print_usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: wbbs-admin [-C DIR] COMMAND [ARGUMENTS]\n"
                 "  DIR holds orva.ini (the CGI directory); default the current directory.\n"
                 "  Exit status: 0 done, 1 problems found or a store call failed, 2 wrong arguments\n"
                 "  (nothing written). 'wbbs-admin COMMAND --help' tells more of one command.\n\n"
                 "commands:\n");
    for (const CommandInfo& command : kCommands) {
        std::fprintf(out, "  %-15s %s\n", command.name, command.summary);
    }
}

void print_command_help(const CommandInfo& command) {
    std::printf("usage: wbbs-admin [-C DIR] %s %s\n  %s\n%s", command.name, command.synopsis, command.summary,
                command.details);
}

// The command named by the words at `at`, the longest name first.
const CommandInfo* find_command(const std::vector<std::string>& words, std::size_t at) {
    const CommandInfo* best = nullptr;
    for (const CommandInfo& command : kCommands) {
        const std::size_t n = name_words(command.name);
        if (at + n > words.size()) continue;
        std::string typed;
        for (std::size_t i = 0; i < n; ++i) typed += (i == 0 ? "" : " ") + words[at + i];
        if (typed == command.name && (best == nullptr || n > name_words(best->name))) best = &command;
    }
    return best;
}

// Help for a word that begins several commands ("user --help").
bool print_group_help(std::FILE* out, const std::string& group) {
    bool any = false;
    for (const CommandInfo& command : kCommands) {
        if (std::strncmp(command.name, group.c_str(), group.size()) != 0 || command.name[group.size()] != ' ') {
            continue;
        }
        std::fprintf(out, "wbbs-admin [-C DIR] %s %s\n  %s\n", command.name, command.synopsis, command.summary);
        any = true;
    }
    return any;
}

bool asks_help(const std::vector<std::string>& words, std::size_t from) {
    for (std::size_t i = from; i < words.size(); ++i) {
        if (words[i] == "--") return false;
        if (words[i] == "--help" || words[i] == "-h") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    Invocation call;
    call.directory = ".";
    std::size_t at = 0;
    while (at < words.size() && words[at].rfind("-C", 0) == 0) {
        if (words[at] == "-C") {
            if (at + 1 >= words.size()) {
                std::fprintf(stderr, "wbbs-admin: -C needs a directory\n");
                return EXIT_USAGE;
            }
            call.directory = words[at + 1];
            at += 2;
        } else {
            call.directory = words[at].substr(2);
            at += 1;
        }
    }
    if (at >= words.size() || words[at] == "--help" || words[at] == "-h" || words[at] == "help") {
        const bool asked = at < words.size();
        print_usage(asked ? stdout : stderr);
        return asked ? EXIT_DONE : EXIT_USAGE;
    }
    const CommandInfo* command = find_command(words, at);
    if (command == nullptr) {
        if (asks_help(words, at + 1) && print_group_help(stdout, words[at])) return EXIT_DONE;
        const std::string typed = words[at] + (at + 1 < words.size() ? " " + words[at + 1] : "");
        std::fprintf(stderr, "wbbs-admin: unknown command '%s'\n", typed.c_str());
        if (!print_group_help(stderr, words[at])) print_usage(stderr);
        return EXIT_USAGE;
    }
    at += name_words(command->name);
    if (asks_help(words, at)) {
        print_command_help(*command);
        return EXIT_DONE;
    }
    call.command = command->name;
    call.words.assign(words.begin() + static_cast<long>(at), words.end());
    return command->run(call);
}
