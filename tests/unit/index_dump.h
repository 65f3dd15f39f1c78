// Reads a folder's index files straight from disk, past the code under test,
// so that the tests can state the orders of the five files as lists of SEL_NO.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/message_index.h"
#include "unit/test_support.h"

namespace index_dump {

inline std::string index_path(long folder_no, int file_no) {
    return std::string(SYSINFO.DATA_FILE_PATH) + std::to_string(folder_no) + "/bbs" +
           std::to_string(file_no) + ".idx";
}

inline std::vector<BBS_IDX> records(long folder_no, int file_no) {
    const std::string bytes = test_support::read_file(index_path(folder_no, file_no));
    std::vector<BBS_IDX> out(bytes.size() / sizeof(BBS_IDX));
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(BBS_IDX));
    return out;
}

inline std::vector<int> sel_nos(long folder_no, int file_no) {
    std::vector<int> out;
    for (const BBS_IDX& r : records(folder_no, file_no)) out.push_back(r.SEL_NO);
    return out;
}

// The record of message sel_no in one file, or a cleared one when it is not there.
inline BBS_IDX find(long folder_no, int file_no, int sel_no) {
    for (const BBS_IDX& r : records(folder_no, file_no)) {
        if (r.SEL_NO == sel_no) return r;
    }
    return BBS_IDX{};
}

}  // namespace index_dump
