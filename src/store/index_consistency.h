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

// Appends one readable text per problem found to `problems`. Reads only (the
// lock is tested, and a missing index file counts as empty), unless a writer
// killed part way left its journal: that change is taken back first, under
// the lock, as the folder's next writer would.
// 0 when the files were read (whether or not problems were found); -2 when a
// file could not be read; -9 while a writer holds the lock.
int check_message_index(long folder_no, std::vector<std::string>& problems);

// What a rebuild found and wrote.
struct IndexRebuild {
    long messages = 0;         // records now in bbs1.idx
    long listed = 0;           // records now in bbs4.idx and bbs5.idx
    long threads = 0;          // roots now in bbs2.idx and bbs3.idx
    long from_lists = 0;       // numbers bbs1.idx lacked, taken from the other four files
    long from_directories = 0; // numbers known only by their message directory
    long filled = 0;           // numbers known nowhere, written as deleted place holders
};

// Writes a folder's five index files anew from what is left: bbs1.idx first;
// a number it lacks (or holds under another number) from the other four
// files; a message directory "x<n>" that no file knows as a live message
// titled "(recovered)" with the body's time, and any other gap as a deleted
// number, so that numbering stays. Thread fields follow from UP_NO (a reply to
// no earlier message becomes a root), the message lists hold the live messages
// and the deleted ones above them, in tree order; bbs2.idx the roots in order
// of posting with their reply counts (never lower than before); bbs3.idx and
// bbs5.idx keep the thread order bbs3.idx had, a thread it lacked placed by
// its latest date. Under "bbs.chk", each file replaced by one rename.
// 0; -9 the lock is held; -2 a file could not be read or written.
int rebuild_message_index(long folder_no, IndexRebuild* summary);
