// Runs the real wbbs-admin against an installation of the cgi harness, so a
// test can build an installation with the tool and then ask wbbs.cgi about it.
#pragma once

#include <string>
#include <vector>

#include "cgi/cgi_harness.h"

struct AdminResult {
    int status = -1;
    std::string out;
    std::string err;
};

// wbbs-admin -C <install dir> ARGS..., with `input` on standard input.
AdminResult run_admin(const CgiInstallation& install, const std::vector<std::string>& args,
                      const std::string& input = "");

// The same, failing the test unless it exits 0; returns standard output.
std::string admin_ok(const CgiInstallation& install, const std::vector<std::string>& args,
                     const std::string& input = "");

// orva.ini and every path under the data directory with its content, for
// "nothing changed" checks.
std::string snapshot(const CgiInstallation& install);
