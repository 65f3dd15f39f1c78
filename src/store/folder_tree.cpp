#include "store/folder_tree.h"

#include <cstring>
#include <string>

#include "store/data_paths.h"
#include "store/line_file_engine.h"
#include "store/store_modes.h"

TREE_DATA sTREE_DATA;

namespace {


// Deeper indentation than this would push a full line past the reader's
// 1000-byte buffer; no real tree comes near it.
constexpr int32_t MAX_WRITTEN_CLASS = 255;

using TreePaths = GuardedFile;

bool tree_paths(TreePaths& paths) {
    return data_file_path(paths.data, sizeof paths.data, "tree.mst") &&
           data_file_path(paths.lock, sizeof paths.lock, "tree_mst.chk");
}

int leading_spaces(const char* line) {
    int n = 0;
    while (line[n] == ' ') ++n;
    return n;
}

// A select's reading: the first seven fields must be there; the last four
// came later and read 0 when an older line lacks them.
bool parse_tree_line(const char* line, TREE_DATA& record) {
    record = TREE_DATA{};
    const int depth = leading_spaces(line);
    LineFields fields(line + depth);
    if (!fields.number(record.FOLDER_NO) || !fields.text(record.NAME) || !fields.number(record.MODE) ||
        !fields.text(record.CGI_NAME) || !fields.number(record.ACCESS_LEVEL) ||
        !fields.number(record.WRITE_LEVEL) || !fields.text(record.PIC_FILENAME)) {
        return false;
    }
    record.CLASS = depth;
    if (fields.number(record.TARGET) && fields.number(record.UPW) && fields.number(record.SKEY)) {
        fields.number(record.ICON_MODE);
    }
    return true;
}

// A writer's reading: only the folder number matters, and a line needs no
// more than its first comma to be kept.
bool tree_line_key(const char* line, long& folder_no) {
    LineFields fields(line + leading_spaces(line));
    return fields.number(folder_no);
}

// A field the caller filled may lack its terminator; never read past it.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::string format_tree_line(const TREE_DATA& record) {
    int32_t depth = record.CLASS;
    if (depth < 0) depth = 0;
    if (depth > MAX_WRITTEN_CLASS) depth = MAX_WRITTEN_CLASS;
    const std::string name = field_text(record.NAME);
    const std::string cgi_name = field_text(record.CGI_NAME);
    const std::string picture = field_text(record.PIC_FILENAME);
    LineBuilder builder;
    builder.number(record.FOLDER_NO)
        .text(name.c_str())
        .number(record.MODE)
        .text(cgi_name.c_str())
        .number(record.ACCESS_LEVEL)
        .number(record.WRITE_LEVEL)
        .text(picture.c_str())
        .number(record.TARGET)
        .number(record.UPW)
        .number(record.SKEY)
        .number(record.ICON_MODE);
    return std::string(static_cast<std::size_t>(depth), ' ') + builder.line();
}

int select_tree(const TreePaths& paths, long wanted, int search_mode) {
    TREE_DATA found{};
    bool matched = false;
    long position = 1;
    const int result = scan_lines(paths.lock, paths.data, LINE_SIZE_SMALL, [&](const char* line) {
        TREE_DATA record;
        if (!parse_tree_line(line, record)) return true;
        const bool hit = search_mode == SEARCH_BY_POSITION ? position == wanted : record.FOLDER_NO == wanted;
        if (!hit) {
            ++position;
            return true;
        }
        found = record;
        matched = true;
        return false;
    });
    if (result != STORE_OK) return result;
    if (!matched) return STORE_NOT_FOUND;
    sTREE_DATA = found;
    return STORE_OK;
}

int write_tree(const TreePaths& paths, long wanted, int sql_mode, int search_mode) {
    const std::string new_line = format_tree_line(sTREE_DATA);
    bool matched = false;
    bool duplicate = false;
    long position = 1;
    return rewrite_lines(
        paths.lock, paths.data, LINE_SIZE_SMALL,
        [&](const char* line, LineOutput& out) {
            long folder_no = 0;
            if (!tree_line_key(line, folder_no)) return LineVerdict::drop;
            if (!matched) {
                const bool hit =
                    search_mode == SEARCH_BY_POSITION ? position == wanted : folder_no == wanted;
                if (!hit) {
                    ++position;
                } else {
                    matched = true;
                    if (sql_mode == MODE_INSERT && search_mode == SEARCH_BY_KEY) {
                        duplicate = true;
                    } else if (sql_mode == MODE_INSERT) {
                        out.write(new_line.c_str());
                    } else {
                        if (sql_mode == MODE_UPDATE) {
                            out.write(new_line.c_str());
                        }
                        return LineVerdict::drop;
                    }
                }
            }
            return LineVerdict::keep;
        },
        [&](LineOutput& out) {
            if (duplicate) return STORE_NOTHING_TO_CHANGE;
            if (sql_mode == MODE_INSERT) {
                if (!matched) {
                    out.write(new_line.c_str());
                }
                return STORE_OK;
            }
            return matched ? STORE_OK : STORE_NOTHING_TO_CHANGE;
        });
}

}  // namespace

int Fio_TREE_DATA(long in_folder_no, int sql_mode, int search_mode) {
    if (search_mode != SEARCH_BY_KEY && search_mode != SEARCH_BY_POSITION) return STORE_NOT_FOUND;
    if (sql_mode < MODE_SELECT || sql_mode > MODE_UPDATE) return STORE_NOT_FOUND;
    TreePaths paths;
    if (!tree_paths(paths)) return STORE_CANNOT_OPEN;
    if (sql_mode == MODE_SELECT) return select_tree(paths, in_folder_no, search_mode);
    return write_tree(paths, in_folder_no, sql_mode, search_mode);
}
