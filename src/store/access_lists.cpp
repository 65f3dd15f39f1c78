#include "store/access_lists.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "store/store_modes.h"
#include "util/bytes.h"

ACL_MST sACL_MST;
USER_GROUP_MST sUSER_GROUP_MST;
GROUP_MST sGROUP_MST;

namespace {


bool known_modes(int sql_mode, int search_mode) {
    return sql_mode >= MODE_SELECT && sql_mode <= MODE_UPDATE &&
           (search_mode == SEARCH_BY_KEY || search_mode == SEARCH_BY_POSITION);
}

using ListPaths = GuardedFile;

// A field the caller filled may lack its terminator; never read past it.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// ---- acl.mst ------------------------------------------------------------------

// One entry as the line holds it; the id is kept whole so that a long id in the
// file can never match a shorter one by being cut.
struct AclLine {
    char kind[2] = {};
    std::unique_ptr<char[]> id = text_buffer(LINE_SIZE_SMALL);
    int32_t permit = 0;

    bool parse(const char* line) {
        LineFields fields(line);
        return fields.text(kind) && fields.text(id.get(), LINE_SIZE_SMALL) && fields.number(permit);
    }
    int32_t group_id() const { return static_cast<int32_t>(std::strtol(id.get(), nullptr, 10)); }
};

// What a by-key call looks for, taken from sACL_MST once, in the form the lines
// are written in.
struct AclKey {
    std::string kind;
    std::string user_id;
    int32_t group_id;

    bool matches(const AclLine& entry) const {
        if (kind != entry.kind) return false;
        if (kind == "U") return user_id == entry.id.get();
        if (kind == "G") return group_id == entry.group_id();
        return false;
    }
};

AclKey acl_key(const ACL_MST& record) {
    const std::string kind = field_text(record.U_OR_G);
    return AclKey{csv_field_text(kind.c_str()), csv_field_text(field_text(record.USER_ID).c_str()),
                  record.GROUP_ID};
}

bool acl_paths(ListPaths& paths, long folder_no) {
    return folder_file_path(paths.data, sizeof paths.data, folder_no, "acl.mst") &&
           folder_file_path(paths.lock, sizeof paths.lock, folder_no, "acl.chk");
}

int select_acl(const ListPaths& paths, long in_disp_no, int search_mode) {
    const AclKey key = acl_key(sACL_MST);
    AclLine entry;
    bool found = false;
    long position = 1;
    const int result = scan_lines(paths.lock, paths.data, LINE_SIZE_SMALL, [&](const char* line) {
        if (!entry.parse(line)) return true;
        if (search_mode == SEARCH_BY_POSITION) {
            found = position++ == in_disp_no;
        } else {
            found = key.matches(entry);
        }
        return !found;
    });
    if (result != STORE_OK) return result;
    if (!found) return STORE_NOT_FOUND;
    sACL_MST.PERMIT = entry.permit;
    if (search_mode == SEARCH_BY_POSITION) {
        copy_field(sACL_MST.U_OR_G, entry.kind);
        sACL_MST.USER_ID[0] = '\0';
        sACL_MST.GROUP_ID = 0;
        if (entry.kind[0] == 'U') copy_field(sACL_MST.USER_ID, entry.id.get());
        if (entry.kind[0] == 'G') sACL_MST.GROUP_ID = entry.group_id();
    }
    return STORE_OK;
}

int write_acl(const ListPaths& paths, int sql_mode) {
    const AclKey key = acl_key(sACL_MST);
    LineBuilder builder;
    if (key.kind == "U") {
        builder.text("U").text(key.user_id.c_str()).number(sACL_MST.PERMIT);
    } else if (key.kind == "G") {
        builder.text("G").number(key.group_id).number(sACL_MST.PERMIT);
    } else {
        return STORE_NOTHING_TO_CHANGE;  // no line format for it: nothing is written
    }
    const std::string new_line = builder.line();
    AclLine entry;
    return rewrite_keyed(paths.lock, paths.data, LINE_SIZE_SMALL, sql_mode, new_line.c_str(),
                         {true, STORE_NOTHING_TO_CHANGE}, [&](const char* line) {
                             if (!entry.parse(line)) return LineMatch::malformed;
                             return key.matches(entry) ? LineMatch::match : LineMatch::other;
                         });
}

// ---- user_g.mst and group.mst: numbered lists in ascending order --------------

template <class Record>
using ParseNumbered = bool (*)(const char* line, Record& record);

bool parse_user_group(const char* line, USER_GROUP_MST& record) {
    LineFields fields(line);
    return fields.number(record.GROUP_ID);
}

bool parse_group(const char* line, GROUP_MST& record) {
    LineFields fields(line);
    return fields.number(record.GROUP_ID) && fields.text(record.GROUP_NAME);
}

// By key the scan stops at the first larger number: the list is kept in
// ascending order, so the number cannot come later.
template <class Record>
int select_numbered(const ListPaths& paths, long wanted, int search_mode, ParseNumbered<Record> parse,
                    Record& found) {
    bool matched = false;
    long position = 1;
    const int result = scan_lines(paths.lock, paths.data, LINE_SIZE_SMALL, [&](const char* line) {
        Record record{};
        if (!parse(line, record)) return true;
        if (search_mode == SEARCH_BY_POSITION) {
            matched = position++ == wanted;
        } else {
            if (record.GROUP_ID > wanted) return false;
            matched = record.GROUP_ID == wanted;
        }
        if (matched) found = record;
        return !matched;
    });
    if (result != STORE_OK) return result;
    return matched ? STORE_OK : STORE_NOT_FOUND;
}

// Insert places new_number (by key before the first larger number, by position
// before line wanted) and refuses a number already listed; delete and update
// act on the first line holding wanted (key) or at position wanted.
template <class Record>
int write_numbered(const ListPaths& paths, long wanted, int sql_mode, int search_mode,
                   ParseNumbered<Record> parse, long new_number, const std::string& new_line) {
    bool matched = false;
    bool duplicate = false;
    long position = 1;
    return rewrite_lines(
        paths.lock, paths.data, LINE_SIZE_SMALL,
        [&](const char* line, LineOutput& out) {
            Record record{};
            if (!parse(line, record)) return LineVerdict::drop;
            const bool at_position = position++ == wanted;
            if (sql_mode == MODE_INSERT) {
                if (record.GROUP_ID == new_number) duplicate = true;
                const bool here = search_mode == SEARCH_BY_POSITION ? at_position : record.GROUP_ID > new_number;
                if (!matched && here) {
                    matched = true;
                    out.write(new_line.c_str());
                }
            } else if (!matched &&
                       (search_mode == SEARCH_BY_POSITION ? at_position : record.GROUP_ID == wanted)) {
                matched = true;
                if (sql_mode == MODE_UPDATE) {
                    out.write(new_line.c_str());
                }
                return LineVerdict::drop;
            }
            return LineVerdict::keep;
        },
        [&](LineOutput& out) {
            if (sql_mode != MODE_INSERT) return matched ? STORE_OK : STORE_NOTHING_TO_CHANGE;
            if (duplicate) return STORE_NOTHING_TO_CHANGE;
            if (!matched) {
                out.write(new_line.c_str());
            }
            return STORE_OK;
        });
}

}  // namespace

int Fio_ACL_MST(long in_disp_no, int sql_mode, int search_mode) {
    if (!known_modes(sql_mode, search_mode)) return STORE_NOT_FOUND;
    ListPaths paths;
    if (!acl_paths(paths, sACL_MST.FOLDER_NO)) return STORE_CANNOT_OPEN;
    if (sql_mode == MODE_SELECT) return select_acl(paths, in_disp_no, search_mode);
    return write_acl(paths, sql_mode);
}

int Fio_ACL_MST_access(long folder_no, const char* user_id, FolderAccessEntries& entries) {
    entries = FolderAccessEntries{};
    ListPaths paths;
    if (!acl_paths(paths, folder_no)) return STORE_CANNOT_OPEN;
    ACL_MST wanted{};
    copy_field(wanted.U_OR_G, "U");
    copy_field(wanted.USER_ID, user_id);
    const AclKey key = acl_key(wanted);
    AclLine entry;
    return scan_lines(paths.lock, paths.data, LINE_SIZE_SMALL, [&](const char* line) {
        if (!entry.parse(line)) return true;
        if (!entries.user_found && key.matches(entry)) {
            entries.user_found = true;
            entries.user_permit = entry.permit;
        }
        if (entry.kind[0] == 'G') entries.groups.push_back({entry.group_id(), entry.permit});
        return true;
    });
}

int Fio_USER_GROUP_MST(long in_disp_no, int sql_mode, int search_mode) {
    if (!known_modes(sql_mode, search_mode)) return STORE_NOT_FOUND;
    const std::string user_id = field_text(sUSER_GROUP_MST.USER_ID);
    ListPaths paths;
    // An id that could leave the user's directory is no user: nothing is touched.
    if (!user_file_path(paths.data, sizeof paths.data, user_id.c_str(), "user_g.mst") ||
        !user_file_path(paths.lock, sizeof paths.lock, user_id.c_str(), "user_g.chk")) {
        return STORE_NOT_FOUND;
    }
    if (sql_mode == MODE_SELECT) {
        USER_GROUP_MST found{};
        const int result =
            select_numbered<USER_GROUP_MST>(paths, in_disp_no, search_mode, parse_user_group, found);
        if (result == STORE_OK) sUSER_GROUP_MST.GROUP_ID = found.GROUP_ID;
        return result;
    }
    const std::string new_line = LineBuilder().number(sUSER_GROUP_MST.GROUP_ID).line();
    return write_numbered<USER_GROUP_MST>(paths, in_disp_no, sql_mode, search_mode, parse_user_group,
                                          sUSER_GROUP_MST.GROUP_ID, new_line);
}

int Fio_GROUP_MST(long GroupID, int sql_mode, int search_mode) {
    if (!known_modes(sql_mode, search_mode)) return STORE_NOT_FOUND;
    ListPaths paths;
    if (!data_file_path(paths.data, sizeof paths.data, "group.mst") ||
        !data_file_path(paths.lock, sizeof paths.lock, "group.chk")) {
        return STORE_CANNOT_OPEN;
    }
    if (sql_mode == MODE_SELECT) {
        GROUP_MST found{};
        const int result = select_numbered<GROUP_MST>(paths, GroupID, search_mode, parse_group, found);
        if (result == STORE_OK) sGROUP_MST = found;
        return result;
    }
    const std::string name = field_text(sGROUP_MST.GROUP_NAME);
    const std::string new_line = LineBuilder().number(sGROUP_MST.GROUP_ID).text(name.c_str()).line();
    return write_numbered<GROUP_MST>(paths, GroupID, sql_mode, search_mode, parse_group, sGROUP_MST.GROUP_ID,
                                     new_line);
}

int Fio_ACL_MST_copy(long srcFOLDER_NO, long dscFOLDER_NO) {
    if (srcFOLDER_NO == dscFOLDER_NO) return STORE_OK;
    ListPaths source;
    ListPaths target;
    if (!acl_paths(source, srcFOLDER_NO) || !acl_paths(target, dscFOLDER_NO)) return STORE_CANNOT_OPEN;
    // A missing source is refused before the destination is touched; reading
    // it would create it empty and wipe the destination's grants.
    char probe[sizeof source.data];
    copy_field(probe, source.data);
    yen_to_sura(probe);
    struct stat status;
    if (::stat(probe, &status) != 0) return STORE_CANNOT_OPEN;
    // The copy goes through the destination's own rewrite, so it replaces the
    // list in one rename and never interleaves with a writer of it.
    return rewrite_lines(
        target.lock, target.data, LINE_SIZE_SMALL, [](const char*, LineOutput&) { return LineVerdict::drop; },
        [&](LineOutput& out) {
            return scan_lines(source.lock, source.data, LINE_SIZE_SMALL, [&](const char* line) {
                out.write(line);
                return true;
            });
        });
}
