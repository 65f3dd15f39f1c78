// The commands of wbbs-admin. Each checks all its words before its first
// write and returns the tool's exit status (admin/arguments.h).
#pragma once

#include <string>
#include <vector>

struct Invocation {
    std::string directory;           // -C DIR: where orva.ini lives
    std::string command;             // as typed, "user add"
    std::vector<std::string> words;  // what follows the command
};

// Reads DIR/orva.ini into SYSINFO and checks that its data directory exists.
// EXIT_DONE, or the status to end with (the reason printed).
int open_installation(const Invocation& call);

// The folder number in `text`, which must be in the tree (then in sTREE_DATA).
// EXIT_DONE, or the status to end with (the reason printed).
int existing_folder(const Invocation& call, const std::string& text, long* folder_no);

// installation_commands.cpp
int run_init(const Invocation& call);
int run_config(const Invocation& call);
int run_apply(const Invocation& call);

// user_commands.cpp
int run_user_add(const Invocation& call);
int run_user_set(const Invocation& call);
int run_user_remove(const Invocation& call);
int run_user_list(const Invocation& call);
int run_group_add(const Invocation& call);  // also "group rename"
int run_group_remove(const Invocation& call);
int run_group_list(const Invocation& call);
int run_member(const Invocation& call);  // "member add", "member remove"
int run_personal(const Invocation& call);

// folder_commands.cpp
int run_folder_add(const Invocation& call);
int run_folder_set(const Invocation& call);
int run_folder_remove(const Invocation& call);
int run_folder_list(const Invocation& call);
int run_folder_show(const Invocation& call);
int run_grant(const Invocation& call);  // also "revoke"
int run_setting(const Invocation& call);

// index_commands.cpp
int run_check(const Invocation& call);
int run_rebuild(const Invocation& call);
int run_sweep(const Invocation& call);
