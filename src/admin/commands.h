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

// installation_commands.cpp
int run_init(const Invocation& call);
int run_config(const Invocation& call);
int run_apply(const Invocation& call);
