#include "store/line_replies.h"

#include <cstring>

#include "store/line_file_engine.h"
#include "store/message_files.h"
#include "store/store_modes.h"
#include "store/data_paths.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

LINE_RES_TXT sLINE_RES_TXT;
LINE_RES_TXT sLINE_RES_TXT20[LINE_RES_BATCH];

namespace {

constexpr int MODE_APPEND = 2;

using ReplyPaths = GuardedFile;

bool reply_paths(long folder_no, long sel_no, ReplyPaths& paths) {
    return message_file_path(paths.lock, sizeof paths.lock, folder_no, sel_no, "lineres.chk") &&
           message_file_path(paths.data, sizeof paths.data, folder_no, sel_no, "lineres.txt");
}

// Ids, name and reply only; the numbers of the record stay as they are.
bool parse_reply(const char* line, LINE_RES_TXT& record) {
    LineFields fields(line);
    if (!fields.text(record.USER_ID) || !fields.text(record.USER_NAME)) return false;
    fields.rest(record.LINE_REPLY, sizeof record.LINE_REPLY);
    G_CutCrLf(record.LINE_REPLY);  // also a run of CRs before the line feed
    return true;
}

// The reply keeps its commas but never a line break, which would start a
// second reply under a name of the writer's choosing.
const char* format_reply(LineBuilder& builder, const LINE_RES_TXT& record) {
    return builder.text(record.USER_ID).text(record.USER_NAME).rest(record.LINE_REPLY).line();
}

int append_reply(const ReplyPaths& paths) {
    LineBuilder builder;
    return append_line(paths.lock, paths.data, format_reply(builder, sLINE_RES_TXT));
}

int select_reply(const ReplyPaths& paths) {
    long position = 0;
    bool found = false;
    const int result = scan_lines(paths.lock, paths.data, LINE_SIZE_LARGE, [&](const char* line) {
        LINE_RES_TXT record{};
        if (!parse_reply(line, record)) return true;
        if (++position != sLINE_RES_TXT.SUB_NO) return true;
        copy_field(sLINE_RES_TXT.USER_ID, record.USER_ID);
        copy_field(sLINE_RES_TXT.USER_NAME, record.USER_NAME);
        copy_field(sLINE_RES_TXT.LINE_REPLY, record.LINE_REPLY);
        found = true;
        return false;
    });
    if (result != STORE_OK) return result;
    return found ? STORE_OK : STORE_NOT_FOUND;
}

int change_reply(const ReplyPaths& paths, int sql_mode) {
    LineBuilder builder;
    const char* new_line = format_reply(builder, sLINE_RES_TXT);
    long position = 0;
    bool matched = false;
    return rewrite_lines(
        paths.lock, paths.data, LINE_SIZE_LARGE,
        [&](const char* line, LineOutput& out) {
            LINE_RES_TXT record{};
            if (!parse_reply(line, record)) return LineVerdict::drop;
            if (++position != sLINE_RES_TXT.SUB_NO) return LineVerdict::keep;
            matched = true;
            if (sql_mode == MODE_UPDATE) out.write(new_line);
            return LineVerdict::drop;
        },
        [&](LineOutput&) { return matched ? STORE_OK : STORE_NOT_FOUND; });
}

}  // namespace

int Fio_LINE_RES_TXT(int sql_mode) {
    ReplyPaths paths;
    if (!reply_paths(sLINE_RES_TXT.FOLDER_NO, sLINE_RES_TXT.SEL_NO, paths)) return STORE_CANNOT_OPEN;
    switch (sql_mode) {
        case MODE_SELECT: return select_reply(paths);
        case MODE_APPEND: return append_reply(paths);
        case MODE_DELETE:
        case MODE_UPDATE: return change_reply(paths, sql_mode);
        default: return STORE_NOT_FOUND;
    }
}

int Fio_LINE_RES_TXT20(long in_folder_no, long in_sel_no, long in_stpos) {
    std::memset(sLINE_RES_TXT20, 0, sizeof sLINE_RES_TXT20);
    ReplyPaths paths;
    if (!reply_paths(in_folder_no, in_sel_no, paths)) return STORE_CANNOT_OPEN;
    long line_no = 0;
    int filled = 0;
    return scan_lines(paths.lock, paths.data, LINE_SIZE_LARGE, [&](const char* line) {
        ++line_no;
        if (line_no <= in_stpos) return true;
        if (!parse_reply(line, sLINE_RES_TXT20[filled])) {
            sLINE_RES_TXT20[filled] = LINE_RES_TXT{};
            return true;
        }
        return ++filled < LINE_RES_BATCH;
    });
}
