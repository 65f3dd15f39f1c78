// Compares what the folders of a load-test site hold with the ledger of the
// posts sent (load_client): every post the board confirmed is stored exactly
// once, in its folder, under the message it answered, with its body and its
// attachment; no post is stored twice; nothing is stored that nobody sent; a
// post the board refused is not stored. A post whose delete the board
// confirmed is gone, one whose delete it refused is stored whole, and one whose
// delete got no answer is either; no message directory is left without its
// live record. Reads only.
//
//   load_inspect WWW_DIR LEDGER FOLDERS
//
// Exit status: 0 clean, 1 problems (each printed), 2 usage or unreadable input.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/data_paths.h"
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

struct Deleted {
    std::string state;  // acked, refused, unknown
    long folder = 0;
    long sel_no = 0;
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

std::string title_of(const BBS_IDX& record) {
    return std::string(record.WRITE_TITLE, strnlen(record.WRITE_TITLE, sizeof record.WRITE_TITLE));
}

// The numbers of the message directories "x<n>" in a folder's directory.
std::set<long> message_directories(long folder) {
    std::set<long> found;
    char path[2048];
    if (!folder_file_path(path, sizeof path, folder, "")) return found;
    yen_to_sura(path);
    DIR* dir = opendir(path);
    if (dir == nullptr) return found;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long n = entry->d_name[0] == 'x' ? std::strtol(entry->d_name + 1, &end, 10) : 0;
        struct stat st;
        if (n > 0 && *end == '\0' && stat((std::string(path) + entry->d_name).c_str(), &st) == 0 &&
            S_ISDIR(st.st_mode)) {
            found.insert(n);
        }
    }
    closedir(dir);
    return found;
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
    std::map<std::string, Deleted> deletes;
    std::map<std::pair<long, long>, bool> answered;  // (folder, number) some reply was sent to
    {
        std::ifstream ledger(ledger_path);
        std::string line;
        while (std::getline(ledger, line)) {
            std::istringstream fields(line);
            std::string first, token;
            if (!(fields >> first)) continue;
            const auto known_state = [](const std::string& state) {
                return state == "acked" || state == "refused" || state == "unknown";
            };
            bool read;
            if (first == "delete") {
                Deleted d;
                read = static_cast<bool>(fields >> d.state >> d.folder >> d.sel_no >> token) &&
                       known_state(d.state) && deletes.emplace(token, d).second;
            } else {
                Sent post;
                post.state = first;
                read = static_cast<bool>(fields >> post.folder >> post.parent >> token >> post.attachment) &&
                       known_state(post.state) && sent.emplace(token, post).second;
                // A refused reply was never stored: it keeps no place holder.
                if (read && post.parent != 0 && post.state != "refused") answered[{post.folder, post.parent}] = true;
            }
            read = read && (fields >> std::ws).eof();
            if (!read) {
                std::fprintf(stderr, "load_inspect: unreadable or repeated ledger line: %s\n", line.c_str());
                return 2;
            }
        }
        for (const auto& [token, d] : deletes) {
            const auto post = sent.find(token);
            if (post == sent.end() || post->second.state != "acked" || post->second.folder != d.folder) {
                std::fprintf(stderr, "load_inspect: delete of %s, which is no confirmed post of folder %ld\n",
                             token.c_str(), d.folder);
                return 2;
            }
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
    std::map<long, std::vector<BBS_IDX>> index;  // bbs1.idx of each folder
    long place_holders = 0;
    for (long folder = 1; folder <= folders; ++folder) {
        long live = 0, deleted = 0, listed_deleted = 0;
        const int scanned = scan_message_index(folder, 1, [&](long, const BBS_IDX& record) {
            index[folder].push_back(record);
            if (record.DEL_FLG != 0) {
                ++deleted;
                return true;
            }
            ++live;
            stored[title_of(record)].push_back({folder, record.SEL_NO, record.UP_NO});
            return true;
        });
        if (scanned != 0) {
            // Posts of this folder cannot be judged: the one problem is the unreadable index.
            unreadable.push_back(folder);
            problem("folder " + std::to_string(folder) + ": bbs1.idx unreadable (" + std::to_string(scanned) +
                    (scanned == -9 ? ", bbs.chk is there" : "") + ")");
            continue;
        }
        const std::vector<BBS_IDX>& records = index[folder];
        auto live_at = [&records](long n) {
            return n >= 1 && n <= static_cast<long>(records.size()) && records[n - 1].DEL_FLG == 0;
        };
        // A deleted message stays in the lists only as the place holder of its
        // replies: one was stored under it, or at least sent to its number.
        const int listed = scan_message_index(folder, 4, [&](long, const BBS_IDX& record) {
            if (record.DEL_FLG == 0) return true;
            ++listed_deleted;
            const bool has_reply = answered.count({folder, record.SEL_NO}) != 0 ||
                                   std::any_of(records.begin(), records.end(),
                                               [&](const BBS_IDX& r) { return r.UP_NO == record.SEL_NO; });
            if (!has_reply) {
                problem("folder " + std::to_string(folder) + ": deleted message " + std::to_string(record.SEL_NO) +
                        " is kept in the lists without any reply");
            }
            return true;
        });
        if (listed != 0) {
            problem("folder " + std::to_string(folder) + ": bbs4.idx unreadable (" + std::to_string(listed) + ")");
        }
        place_holders += listed_deleted;
        // The files of a message go with it: a directory without a live record is half a delete.
        for (const long n : message_directories(folder)) {
            if (live_at(n)) continue;
            const bool beyond = n > static_cast<long>(records.size());
            problem("folder " + std::to_string(folder) + ": directory x" + std::to_string(n) + " left for " +
                    (beyond ? std::string("a number bbs1.idx does not hold")
                            : "deleted message " + std::to_string(n) + " \"" + title_of(records[n - 1]) + "\""));
        }
        std::printf("  folder %ld: %ld messages in bbs1.idx (%ld marked deleted, %ld of them listed for their replies)\n",
                    folder, live + deleted, deleted, listed_deleted);
    }

    std::map<std::string, long> sent_count, stored_count, delete_count, delete_stored;
    long numbers_freed = 0;
    for (const auto& [token, post] : sent) {
        ++sent_count[post.state];
        if (std::find(unreadable.begin(), unreadable.end(), post.folder) != unreadable.end()) continue;
        const auto found = stored.find(token);
        const std::size_t copies = found == stored.end() ? 0 : found->second.size();
        const auto deleted = deletes.find(token);
        const std::string delete_state = deleted == deletes.end() ? "" : deleted->second.state;
        if (copies > 0) ++stored_count[post.state];
        if (!delete_state.empty()) {
            ++delete_count[delete_state];
            if (copies > 0) ++delete_stored[delete_state];
        }
        if (copies > 1) problem(token + " (" + post.state + ") stored " + std::to_string(copies) + " times");
        if (post.state == "acked" && copies == 0 && (delete_state.empty() || delete_state == "refused")) {
            problem(token + " confirmed but not stored (lost" +
                    (delete_state.empty() ? std::string(")") : ", though its delete was refused)"));
        }
        if (post.state == "refused" && copies > 0) problem(token + " refused with an error page but stored");
        if (delete_state == "acked" && copies > 0) {
            problem(token + " deleted with a confirmation but still stored as message " +
                    std::to_string(found->second.front().sel_no));
        }
        if (copies == 0) {
            // A gone message whose record is not its own any more: the delete cut
            // bbs1.idx, and the number is free or given to a later post.
            const std::vector<BBS_IDX>& records = index[post.folder];
            const long n = delete_state.empty() ? 0 : deleted->second.sel_no;
            if (n >= 1 && (n > static_cast<long>(records.size()) || title_of(records[n - 1]) != token)) {
                ++numbers_freed;
            }
            continue;
        }
        const Stored& at = found->second.front();
        if (!delete_state.empty() && at.sel_no != deleted->second.sel_no) {
            problem(token + " stored as message " + std::to_string(at.sel_no) + ", its delete named message " +
                    std::to_string(deleted->second.sel_no));
        }
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
    if (!deletes.empty()) {
        std::printf("  deletes confirmed %ld (still stored %ld), refused %ld (still stored %ld), without a complete "
                    "answer %ld (still stored %ld); deleted messages listed for their replies %ld, numbers freed "
                    "%ld\n",
                    delete_count["acked"], delete_stored["acked"], delete_count["refused"], delete_stored["refused"],
                    delete_count["unknown"], delete_stored["unknown"], place_holders, numbers_freed);
    }
    // Deletes sent and none confirmed: the checks above held for nothing.
    if (!deletes.empty() && delete_count["acked"] == 0) problem("no delete was confirmed");
    if (problems == 0) std::printf("  store matches the ledger\n");
    else std::printf("  %ld PROBLEMS: the store does not match the ledger\n", problems);
    return problems == 0 ? 0 : 1;
}
