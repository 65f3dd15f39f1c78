// Access control: each folder's list of user and group grants (acl.mst in the
// folder's directory), each user's groups (user_g.mst in the user's
// directory) and the suite's group master (group.mst in the data directory).
#pragma once

#include <cstdint>
#include <vector>

struct ACL_MST {
    int32_t FOLDER_NO;  // names the directory; not stored in the line
    char U_OR_G[2];     // "U" user entry, "G" group entry
    char USER_ID[22];   // of a "U" entry
    int32_t GROUP_ID;   // of a "G" entry
    int32_t PERMIT;     // access level the entry grants
};

struct USER_GROUP_MST {
    char USER_ID[22];  // names the directory; not stored in the line
    int32_t GROUP_ID;
};

struct GROUP_MST {
    int32_t GROUP_ID;
    char GROUP_NAME[82];
};

// The callers fill the key fields (and the folder or user that names the file)
// before a call; a select fills the rest and leaves the record as it was when
// it finds nothing.
extern ACL_MST sACL_MST;
extern USER_GROUP_MST sUSER_GROUP_MST;
extern GROUP_MST sGROUP_MST;

// Folder sACL_MST.FOLDER_NO. sql_mode 1 with search_mode 1: the first entry of
// kind sACL_MST.U_OR_G whose id is sACL_MST.USER_ID ("U") or sACL_MST.GROUP_ID
// ("G"), its PERMIT into sACL_MST (in_disp_no unused); 0 / -1 none. sql_mode 1
// with search_mode 2: the in_disp_no-th entry (from 1) into U_OR_G, USER_ID,
// GROUP_ID and PERMIT (only the id of its kind set); 0 / -1 past the end.
// 2 insert at the end (-3 duplicate), 3 delete, 4 update of the first entry
// with that kind and id (-3 none); the writes always go by key and take their
// line from sACL_MST (-3, touching nothing, when its kind is neither "U" nor
// "G"). -9 lock held, -2 a file could not be opened; other modes -1.
int Fio_ACL_MST(long in_disp_no, int sql_mode, int search_mode);

// What the access check needs of folder_no's acl.mst, read once: the PERMIT of
// the first "U" entry of user_id (the by-key select's match), and every "G"
// entry's group and PERMIT in the order the by-position select walks them.
struct FolderAccessEntries {
    bool user_found = false;
    int32_t user_permit = 0;
    struct Group {
        int32_t group_id;
        int32_t permit;
    };
    std::vector<Group> groups;
};
// 0, or what a select returns for the whole list (-9 lock held, -2 cannot open).
int Fio_ACL_MST_access(long folder_no, const char* user_id, FolderAccessEntries& entries);

// User sUSER_GROUP_MST.USER_ID (an id unfit for a path gives -1 and touches
// nothing). Lines hold group numbers in ascending order.
// 1 select: by key, whether in_disp_no is in the list (0 member, GROUP_ID set;
// -1 not, the scan stopping at the first larger number); by position, the
// in_disp_no-th number into GROUP_ID (0 / -1 past the end).
// 2 insert of sUSER_GROUP_MST.GROUP_ID: by key before the first larger number
// or at the end, by position before line in_disp_no or at the end; -3 when the
// number is already listed. 3 delete, 4 update (the line becomes GROUP_ID) of
// the first line holding in_disp_no (key) or at position in_disp_no; -3 none.
// -9 lock held, -2 a file could not be opened; other modes -1.
int Fio_USER_GROUP_MST(long in_disp_no, int sql_mode, int search_mode);

// group.mst, in the same way as Fio_USER_GROUP_MST: key GroupID, records
// through sGROUP_MST (a select fills GROUP_ID and GROUP_NAME, a write takes its
// line "GROUP_ID,GROUP_NAME," from it).
int Fio_GROUP_MST(long GroupID, int sql_mode, int search_mode);

// Replaces folder dscFOLDER_NO's acl.mst by a copy of srcFOLDER_NO's, line by
// line as read. 0 copied (also when both are the same folder), -2 the source
// is missing or a file cannot be opened (the destination then stays as it
// was), -9 a writer holds either list.
int Fio_ACL_MST_copy(long srcFOLDER_NO, long dscFOLDER_NO);
