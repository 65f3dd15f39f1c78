// Compares what the folders of a load-test site hold with the ledger of the
// posts sent (load_client): every post the board confirmed is stored exactly
// once, in its folder, under the message it answered, with its body and its
// attachment; no post is stored twice; nothing is stored that nobody sent; a
// post the board refused is not stored. Reads only.
//
//   load_inspect WWW_DIR LEDGER FOLDERS
//
// Exit status: 0 clean, 1 problems (each printed), 2 usage or unreadable input.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/file_primitives.h"
#include "store/message_files.h"
#include "store/message_index.h"

namespace {

struct Sent {
    std::string state;  // acked, refused, unknown
    long folder = 0;
    long parent = 0;
    std::string attachment;  // "-" for none
};

struct Stored {
    long folder;
    long sel_no;
    long up_no;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string data_path(long folder, long sel_no, const char* file) {
    char path[2048];
    if (!message_file_path(path, sizeof path, folder, sel_no, file)) return "";
    yen_to_sura(path);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: load_inspect WWW_DIR LEDGER FOLDERS\n");
        return 2;
    }
    const std::string ledger_path = argv[2];
    const long folders = std::strtol(argv[3], nullptr, 10);
    std::map<std::string, Sent> sent;
    {
        std::ifstream ledger(ledger_path);
        std::string state, token, attachment;
        long folder, parent;
        while (ledger >> state >> folder >> parent >> token >> attachment) {
            if (sent.count(token) != 0) {
                std::fprintf(stderr, "load_inspect: token %s sent twice\n", token.c_str());
                return 2;
            }
            sent[token] = {state, folder, parent, attachment};
        }
    }
    if (chdir(argv[1]) != 0 || SysFileOpen("orva.ini") != 0) {
        std::fprintf(stderr, "load_inspect: no orva.ini in %s\n", argv[1]);
        return 2;
    }

    long problems = 0;
    auto problem = [&problems](const std::string& text) {
        ++problems;
        if (problems <= 200) std::printf("  PROBLEM %s\n", text.c_str());
    };
    std::map<std::string, std::vector<Stored>> stored;
    std::vector<long> unreadable;
    for (long folder = 1; folder <= folders; ++folder) {
        long live = 0, deleted = 0;
        const int scanned = scan_message_index(folder, 1, [&](long, const BBS_IDX& record) {
            if (record.DEL_FLG != 0) {
                ++deleted;
                return true;
            }
            ++live;
            const std::string title(record.WRITE_TITLE, strnlen(record.WRITE_TITLE, sizeof record.WRITE_TITLE));
            stored[title].push_back({folder, record.SEL_NO, record.UP_NO});
            return true;
        });
        if (scanned != 0) {
            // Posts of this folder cannot be judged: the one problem is the unreadable index.
            unreadable.push_back(folder);
            problem("folder " + std::to_string(folder) + ": bbs1.idx unreadable (" + std::to_string(scanned) +
                    (scanned == -9 ? ", bbs.chk is there" : "") + ")");
        }
        std::printf("  folder %ld: %ld messages in bbs1.idx (%ld marked deleted)\n", folder, live + deleted, deleted);
    }

    std::map<std::string, long> sent_count, stored_count;
    for (const auto& [token, post] : sent) {
        ++sent_count[post.state];
        if (std::find(unreadable.begin(), unreadable.end(), post.folder) != unreadable.end()) continue;
        const auto found = stored.find(token);
        const std::size_t copies = found == stored.end() ? 0 : found->second.size();
        if (copies > 0) ++stored_count[post.state];
        if (copies > 1) problem(token + " (" + post.state + ") stored " + std::to_string(copies) + " times");
        if (post.state == "acked" && copies == 0) problem(token + " confirmed but not stored (lost)");
        if (post.state == "refused" && copies > 0) problem(token + " refused with an error page but stored");
        if (copies == 0) continue;
        const Stored& at = found->second.front();
        if (at.folder != post.folder) problem(token + " stored in folder " + std::to_string(at.folder));
        if (at.up_no != post.parent) {
            problem(token + " stored as message " + std::to_string(at.sel_no) + " under " + std::to_string(at.up_no) +
                    ", sent as an answer to " + std::to_string(post.parent));
        }
        // The files of the message: its body, and its attachment when one was sent.
        const bool body = read_file(data_path(at.folder, at.sel_no, "body.txt")).find("Body of " + token + "\n") == 0;
        bool attachment = true;
        if (post.attachment != "-") {
            char path[2048];
            attachment = attachment_file_path(path, sizeof path, at.folder, at.sel_no, 1, post.attachment.c_str());
            if (attachment) {
                yen_to_sura(path);
                attachment = read_file(path).find("attachment of " + token + "\n") == 0;
            }
            // The file alone is not enough: the detail frame offers what add_file.txt lists.
            const std::string listed = std::to_string(at.sel_no) + ",1," + post.attachment + ",\n";
            const std::string records = read_file(data_path(at.folder, at.sel_no, "add_file.txt"));
            attachment = attachment && (records.compare(0, listed.size(), listed) == 0 ||
                                        records.find("\n" + listed) != std::string::npos);
        }
        // A post killed part way is stored whole or not at all.
        if (!body || !attachment) {
            problem(token + " (" + post.state + ", message " + std::to_string(at.sel_no) + ") stored without its " +
                    (body ? "attachment" : "body"));
        }
    }
    for (const auto& [title, copies] : stored) {
        if (sent.count(title) == 0) {
            problem("message " + std::to_string(copies.front().sel_no) + " in folder " +
                    std::to_string(copies.front().folder) + " titled \"" + title + "\" was never sent");
        }
    }
    std::printf("  posts confirmed %ld (stored %ld), refused %ld (stored %ld), without a complete answer %ld "
                "(stored %ld)\n",
                sent_count["acked"], stored_count["acked"], sent_count["refused"], stored_count["refused"],
                sent_count["unknown"], stored_count["unknown"]);
    if (problems == 0) std::printf("  store matches the ledger\n");
    else std::printf("  %ld PROBLEMS: the store does not match the ledger\n", problems);
    return problems == 0 ? 0 : 1;
}
