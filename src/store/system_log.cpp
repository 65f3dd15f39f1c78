#include "store/system_log.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/sysinfo.h"
#include "store/data_paths.h"
#include "store/line_file_engine.h"
#include "util/bytes.h"
#include "util/dates.h"

SYSTEM_LOG sSYSTEM_LOG;

namespace {

using LogPaths = GuardedFile;

bool log_paths(LogPaths& paths) {
    return data_file_path(paths.lock, sizeof paths.lock, "system.chk") &&
           data_file_path(paths.data, sizeof paths.data, "system.log");
}

// false for a line that lacks one of the six commas.
bool parse_log_line(const char* line, SYSTEM_LOG& record) {
    record = SYSTEM_LOG{};
    LineFields fields(line);
    return fields.text(record.LOG_DATE) && fields.text(record.USER_ID) &&
           fields.text(record.USER_NAME) && fields.text(record.ACTION) &&
           fields.text(record.REMOTE_ADDR) && fields.text(record.USER_AGENT);
}

std::string log_line(const SYSTEM_LOG& record) {
    // Fields are read no further than their width, even from a record whose
    // terminator was overwritten.
    auto field = [](const char* text, std::size_t width) { return std::string(text, strnlen(text, width)); };
    LineBuilder builder;
    builder.text(field(record.LOG_DATE, sizeof record.LOG_DATE).c_str())
        .text(field(record.USER_ID, sizeof record.USER_ID).c_str())
        .text(field(record.USER_NAME, sizeof record.USER_NAME).c_str())
        .text(field(record.ACTION, sizeof record.ACTION).c_str())
        .text(field(record.REMOTE_ADDR, sizeof record.REMOTE_ADDR).c_str())
        .text(field(record.USER_AGENT, sizeof record.USER_AGENT).c_str());
    return builder.line();
}

int select_log(const LogPaths& paths, long position) {
    SYSTEM_LOG record;
    long n = 0;
    bool found = false;
    const int result = scan_lines(paths.lock, paths.data, LINE_SIZE_SMALL, [&](const char* line) {
        if (!parse_log_line(line, record)) return true;
        if (++n < position) return true;
        found = true;
        return false;
    });
    if (result != STORE_OK) return result;
    if (!found) return STORE_NOT_FOUND;
    sSYSTEM_LOG = record;
    return STORE_OK;
}

// Delete (3) or update (4) of the position-th line.
int write_log(const LogPaths& paths, long position, int sql_mode) {
    const std::string new_line = log_line(sSYSTEM_LOG);
    long n = 0;
    bool matched = false;
    return rewrite_lines(
        paths.lock, paths.data, LINE_SIZE_SMALL,
        [&](const char*, LineOutput& out) {
            if (++n == position) {
                matched = true;
                if (sql_mode == 4) out.write(new_line.c_str());
                return LineVerdict::drop;
            }
            return LineVerdict::keep;
        },
        [&](LineOutput&) { return matched ? STORE_OK : STORE_NOTHING_TO_CHANGE; });
}

}  // namespace

int Fio_SYSTEM_LOG(long in_position, int sql_mode) {
    if (sql_mode < 1 || sql_mode > 4) return STORE_NOT_FOUND;
    LogPaths paths;
    if (!log_paths(paths)) return STORE_CANNOT_OPEN;
    const long position = in_position < 1 ? 1 : in_position;
    if (sql_mode == 1) return select_log(paths, position);
    // The log grows without bound: an insert adds its line, it does not copy the file.
    if (sql_mode == 2) return append_line(paths.lock, paths.data, log_line(sSYSTEM_LOG).c_str());
    return write_log(paths, position, sql_mode);
}

int system_log_event(const char* user_id, const char* user_name, const char* action,
                     const char* remote_addr, const char* user_agent) {
    if (std::strtol(SYSINFO.LOG_DATE, nullptr, 10) < 1) return STORE_OK;
    sSYSTEM_LOG = SYSTEM_LOG{};
    Tm_set_date(sSYSTEM_LOG.LOG_DATE);
    copy_field(sSYSTEM_LOG.USER_ID, user_id);
    copy_field(sSYSTEM_LOG.USER_NAME, user_name);
    copy_field(sSYSTEM_LOG.ACTION, action);
    copy_field(sSYSTEM_LOG.REMOTE_ADDR, remote_addr);
    copy_field(sSYSTEM_LOG.USER_AGENT, user_agent);
    return Fio_SYSTEM_LOG(0, 2);
}
