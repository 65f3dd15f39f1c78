// A check that the five message index files of a folder agree with each
// other, for the tests and for administration: every message of "bbs1.idx" in
// "bbs4.idx" and "bbs5.idx" unless it was removed for good, the same records
// everywhere, the thread roots in "bbs2.idx" and "bbs3.idx" with the same
// reply counts, each thread in one piece and in tree order, the thread orders
// of "bbs4.idx" and "bbs5.idx" those of "bbs2.idx" and "bbs3.idx".
//
// A reply to a message that had already been removed for good is accepted
// where the insert puts it (after the rest of its thread); its thread may then
// lack its root in the thread lists.
#pragma once

#include <string>
#include <vector>

// Appends one readable text per problem found to `problems`. Reads only: the
// lock is tested, never taken, and a missing index file counts as empty.
// 0 when the files were read (whether or not problems were found); -2 when a
// file could not be read; -9 while a writer holds the lock.
int check_message_index(long folder_no, std::vector<std::string>& problems);
