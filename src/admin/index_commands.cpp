// A folder's message index: check, rebuild, and the sweep of expired messages.
#include <cstdio>
#include <string>
#include <vector>

#include "admin/arguments.h"
#include "admin/commands.h"
#include "store/expiry_sweep.h"
#include "store/folder_tree.h"
#include "store/index_consistency.h"
#include "store/line_file_engine.h"

namespace {

constexpr int BOARD_FOLDER = 3;

// The folders a command works on: the one named (which must be in the tree),
// or every folder of the tree (board folders only when boards_only).
int chosen_folders(const Invocation& call, const Arguments& args, bool boards_only, std::vector<long>& folders) {
    if (!args.positional().empty()) {
        long folder_no = 0;
        const int found = existing_folder(call, args.positional()[0], &folder_no);
        if (found == EXIT_DONE) folders.push_back(folder_no);
        return found;
    }
    for (long position = 1;; ++position) {
        const int read = Fio_TREE_DATA(position, 1, 2);
        if (read == STORE_NOT_FOUND) return EXIT_DONE;
        if (read != STORE_OK) return store_failure("reading tree.mst", read);
        if (!boards_only || sTREE_DATA.MODE == BOARD_FOLDER) folders.push_back(sTREE_DATA.FOLDER_NO);
    }
}

// Prints each problem of the folder's index; false when any was found or the
// files could not be read.
bool check_folder(long folder_no) {
    std::vector<std::string> problems;
    const int checked = check_message_index(folder_no, problems);
    if (checked != STORE_OK) {
        std::printf("folder %ld: not checked: store result %d %s\n", folder_no, checked, store_result_text(checked));
        return false;
    }
    for (const std::string& problem : problems) std::printf("folder %ld: %s\n", folder_no, problem.c_str());
    return problems.empty();
}

}  // namespace

int run_check(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 0, 1)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::vector<long> folders;
    const int chosen = chosen_folders(call, args, false, folders);
    if (chosen != EXIT_DONE) return chosen;
    long failed = 0;
    for (long folder_no : folders) failed += check_folder(folder_no) ? 0 : 1;
    std::printf("%zu folder%s checked, %ld with problems\n", folders.size(), folders.size() == 1 ? "" : "s", failed);
    return failed == 0 ? EXIT_DONE : EXIT_PROBLEMS;
}

int run_rebuild(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {}, 1, 1)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::vector<long> folders;
    const int chosen = chosen_folders(call, args, false, folders);
    if (chosen != EXIT_DONE) return chosen;
    const long folder_no = folders.front();
    IndexRebuild summary;
    const int rebuilt = rebuild_message_index(folder_no, &summary);
    if (rebuilt != STORE_OK) return store_failure("rebuilding the index of folder " + args.positional()[0], rebuilt);
    std::printf("folder %ld: %ld messages, %ld listed in %ld threads", folder_no, summary.messages, summary.listed,
                summary.threads);
    std::printf("; %ld taken from the other index files, %ld from message directories, %ld numbers filled as deleted\n",
                summary.from_lists, summary.from_directories, summary.filled);
    return check_folder(folder_no) ? EXIT_DONE : EXIT_PROBLEMS;
}

int run_sweep(const Invocation& call) {
    Arguments args;
    if (!args.parse(call.words, {{"daily", false}}, 0, 1)) return usage_error(call.command, args.error());
    const int opened = open_installation(call);
    if (opened != EXIT_DONE) return opened;
    std::vector<long> folders;
    const int chosen = chosen_folders(call, args, true, folders);
    if (chosen != EXIT_DONE) return chosen;
    int status = EXIT_DONE;
    for (long folder_no : folders) {
        const int swept = args.has("daily") ? Fio_CHK_DATE_TXT(folder_no) : sweep_expired_messages(folder_no);
        if (swept != STORE_OK) status = store_failure("the sweep of folder " + std::to_string(folder_no), swept);
    }
    return status;
}
