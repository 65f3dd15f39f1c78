#include "store/users.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <array>
#include <memory>
#include <vector>

#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "store/lock.h"
#include "store/personal_settings.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

USER_MST sUSER_MST;

namespace {

constexpr std::size_t PATH_SIZE = 1200;
constexpr std::size_t USER_LINE_SIZE = LINE_SIZE_LARGE;  // lines up to 9999 bytes
constexpr int PASSWORD_PAIRS = 20;                       // characters kept in storage

using ListPaths = GuardedFile;

bool list_paths(int mst_no, ListPaths& paths) {
    static const char* const names[] = {"user", "user2", "user3", "user4"};
    if (mst_no < 1 || mst_no > 4) return false;
    char file[16];
    std::snprintf(file, sizeof file, "%s.chk", names[mst_no - 1]);
    if (!data_file_path(paths.lock, sizeof paths.lock, file)) return false;
    std::snprintf(file, sizeof file, "%s.mst", names[mst_no - 1]);
    return data_file_path(paths.data, sizeof paths.data, file);
}

// An id that can stand in user.mst and name the user's directory.
bool usable_user_id(const char* id) {
    return is_safe_path_component(id) && std::strlen(id) < sizeof sUSER_MST.USER_ID;
}

// One line of a user list: the id as stored and in upper case for comparing.
class UserLine {
public:
    UserLine()
        : stored_(text_buffer(USER_LINE_SIZE)),
          upper_(text_buffer(USER_LINE_SIZE)) {}

    void read(const char* line) {
        copy_field(stored_.get(), USER_LINE_SIZE, line);
        G_CutCrLf(stored_.get());
        copy_field(upper_.get(), USER_LINE_SIZE, stored_.get());
        G_ToUppers(upper_.get());
    }
    const char* stored() const { return stored_.get(); }
    bool is(const char* upper_key) const { return std::strcmp(upper_.get(), upper_key) == 0; }

private:
    std::unique_ptr<char[]> stored_;
    std::unique_ptr<char[]> upper_;
};

void empty_user_with_id(const char* id) {
    sUSER_MST = USER_MST{};
    copy_field(sUSER_MST.USER_ID, id);
}

int select_user(const char* UserID) {
    sUSER_MST = USER_MST{};
    if (!usable_user_id(UserID)) return STORE_NOT_FOUND;
    ListPaths paths;
    if (!list_paths(1, paths)) return STORE_CANNOT_OPEN;
    char key[sizeof sUSER_MST.USER_ID];
    copy_field(key, UserID);
    G_ToUppers(key);

    {
        // Its buffers go before the settings are read, which then reuse the memory.
        UserLine user;
        bool found = false;
        const int result = scan_lines(paths.lock, paths.data, USER_LINE_SIZE, [&](const char* line) {
            user.read(line);
            found = user.is(key);
            return !found;
        });
        if (result != STORE_OK) return result;
        if (!found) return STORE_NOT_FOUND;
        empty_user_with_id(user.stored());
    }
    // A missing settings file leaves the defaults. Settings being rewritten
    // are another matter: the defaults would make a shared account look like
    // a personal one and escape the folders' ban, so the user is not loaded.
    if (Fio_PERSONAL_MST_ALL(sUSER_MST.USER_ID, 1) == STORE_LOCK_BUSY) {
        sUSER_MST = USER_MST{};
        return STORE_LOCK_BUSY;
    }
    return STORE_OK;
}

// Insert (2), delete (3) or update (4). The settings of an insert or update
// are stored from inside the rewrite, so that user.chk is held while
// personal.chk is taken (the one order in which these two locks nest), and a
// failure to store them leaves user.mst as it was.
int write_user(const char* key_id, int sql_mode) {
    if (!usable_user_id(key_id)) return STORE_NOT_FOUND;
    ListPaths paths;
    if (!list_paths(1, paths)) return STORE_CANNOT_OPEN;
    char key[sizeof sUSER_MST.USER_ID];
    copy_field(key, key_id);
    G_ToUppers(key);

    UserLine user;
    bool matched = false;
    char stored[sizeof sUSER_MST.USER_ID] = {};
    return rewrite_lines(
        paths.lock, paths.data, USER_LINE_SIZE,
        [&](const char* line, LineOutput&) {
            user.read(line);
            if (user.is(key)) {
                if (!matched) copy_field(stored, user.stored());
                matched = true;
                if (sql_mode == 3) return LineVerdict::drop;
            }
            return LineVerdict::keep;
        },
        [&](LineOutput& out) {
            switch (sql_mode) {
                case 2: {
                    if (matched) return STORE_NOTHING_TO_CHANGE;
                    LineBuilder line;
                    out.write(line.rest(sUSER_MST.USER_ID).line());
                    return Fio_PERSONAL_MST_ALL(sUSER_MST.USER_ID, 2);
                }
                case 3:
                    return matched ? STORE_OK : STORE_NOT_FOUND;
                default:
                    if (!matched) return STORE_NOT_FOUND;
                    copy_field(sUSER_MST.USER_ID, stored);
                    return Fio_PERSONAL_MST_ALL(sUSER_MST.USER_ID, 2);
            }
        });
}

using PasswordPaths = GuardedFile;

bool password_paths(const char* user_id, PasswordPaths& paths) {
    return user_file_path(paths.lock, sizeof paths.lock, user_id, "password.chk") &&
           user_file_path(paths.data, sizeof paths.data, user_id, "password.mst");
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// The key's characters from the last to the first, and round again.
class KeyCycle {
public:
    explicit KeyCycle(const char* key)
        : key_(key != nullptr ? key : ""), last_(static_cast<long>(std::strlen(key_)) - 1), k_(last_) {}
    unsigned char next() {
        if (last_ < 0) return 0;
        const unsigned char c = static_cast<unsigned char>(key_[k_]);
        if (--k_ < 0) k_ = last_;
        return c;
    }

private:
    const char* key_;
    long last_;
    long k_;
};

bool is_dir(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int Fio_USER_MST(const char* UserID, int sql_mode) {
    switch (sql_mode) {
        case 1: return select_user(UserID);
        case 3: return write_user(UserID, 3);
        case 2:
        case 4: return write_user(sUSER_MST.USER_ID, sql_mode);
        default: return STORE_NOT_FOUND;
    }
}

int Fio_USER_MST2(long line_no, int mst_no) {
    sUSER_MST = USER_MST{};
    ListPaths paths;
    if (!list_paths(mst_no, paths)) return STORE_NOT_FOUND;
    const long wanted = line_no < 1 ? 1 : line_no;

    UserLine user;
    long n = 0;
    const int result = scan_lines(paths.lock, paths.data, USER_LINE_SIZE, [&](const char* line) {
        if (++n < wanted) return true;
        user.read(line);
        return false;
    });
    if (result != STORE_OK) return result;
    if (n < wanted) return STORE_NOT_FOUND;
    empty_user_with_id(user.stored());
    Fio_PERSONAL_MST_ALL(sUSER_MST.USER_ID, 1);
    return STORE_OK;
}

int for_each_user_id(const std::function<void(const char* user_id)>& visit) {
    ListPaths paths;
    if (!list_paths(1, paths)) return STORE_CANNOT_OPEN;
    // Ids are kept at the width of USER_ID, as Fio_USER_MST2 hands them on.
    std::vector<std::array<char, sizeof sUSER_MST.USER_ID>> ids;
    UserLine user;
    const int result = scan_lines(paths.lock, paths.data, USER_LINE_SIZE, [&](const char* line) {
        user.read(line);
        if (user.stored()[0] == '\0') return false;
        copy_field(ids.emplace_back().data(), sizeof sUSER_MST.USER_ID, user.stored());
        return true;
    });
    // A read that failed part way still hands on the ids read before it.
    for (const auto& id : ids) visit(id.data());
    return result;
}

int Fio_MST_PASSWORD(const char* UserID, int sql_mode) {
    if (UserID == nullptr || UserID[0] == '\0') return STORE_NOT_FOUND;
    if (sql_mode < 1 || sql_mode > 4 || !usable_user_id(UserID)) return STORE_NOT_FOUND;
    PasswordPaths paths;
    if (!password_paths(UserID, paths)) return STORE_NOT_FOUND;

    if (sql_mode == 1) {
        sUSER_MST.USER_PASS[0] = '\0';
        char scrambled[LINE_SIZE_SMALL] = {};
        const int result = scan_lines(paths.lock, paths.data, sizeof scrambled, [&](const char* line) {
            copy_field(scrambled, line);
            return false;
        });
        if (result != STORE_OK) return result;
        f03_encryption(scrambled, 2, UserID);
        copy_field(sUSER_MST.USER_PASS, scrambled);
        return STORE_OK;
    }
    if (sql_mode == 3) {
        FileLock lock(paths.lock);
        if (!lock.held()) return STORE_LOCK_BUSY;
        return Cu_remove(paths.data);
    }
    char scrambled[F03_SCRAMBLED_SIZE];
    copy_field(scrambled, sUSER_MST.USER_PASS);
    f03_encryption(scrambled, 1, UserID);
    // The old content is left out whole; the new text carries no line break.
    return rewrite_lines(
        paths.lock, paths.data, LINE_SIZE_SMALL,
        [](const char*, LineOutput&) { return LineVerdict::drop; },
        [&](LineOutput& out) {
            out.write(scrambled);
            return STORE_OK;
        });
}

void f03_encryption(char* in_buff, int mode, const char* key_id, std::size_t in_size) {
    if (in_buff == nullptr || in_size == 0 || (mode != 1 && mode != 2)) return;
    KeyCycle key(key_id);
    char out[F03_SCRAMBLED_SIZE] = {};
    std::size_t n = 0;
    if (mode == 1) {
        // Two digits a byte, as many as fit the caller's buffer.
        for (int i = 0; i < PASSWORD_PAIRS && in_buff[i] != '\0' && n + 3 <= in_size; ++i) {
            const unsigned char p = static_cast<unsigned char>(in_buff[i]);
            const unsigned char c = static_cast<unsigned char>(~p) ^ key.next();
            std::snprintf(out + n, sizeof out - n, "%02x", c);
            n += 2;
        }
    } else {
        // A pair starts wherever the text goes on; an odd last digit pairs with
        // the terminator, which counts 0.
        for (int i = 0; i < PASSWORD_PAIRS && in_buff[2 * i] != '\0' && n + 1 < in_size; ++i) {
            const unsigned char c = static_cast<unsigned char>(f03_atocx(in_buff + 2 * i));
            out[n++] = static_cast<char>(static_cast<unsigned char>(~c) ^ key.next());
            if (in_buff[2 * i + 1] == '\0') break;
        }
    }
    std::memcpy(in_buff, out, n);
    in_buff[n] = '\0';
}

int f03_atocx(const char* in_buff) {
    if (in_buff == nullptr || in_buff[0] == '\0') return 0;
    return hex_digit(in_buff[0]) * 16 + hex_digit(in_buff[1]);
}

int make_user_directory(const char* user_id) {
    if (!usable_user_id(user_id)) return STORE_NOT_FOUND;
    char path[PATH_SIZE];
    if (!data_file_path(path, sizeof path, "user")) return STORE_CANNOT_OPEN;
    Cu_mkdir(path);
    if (!user_file_path(path, sizeof path, user_id, "")) return STORE_CANNOT_OPEN;
    Cu_mkdir(path);
    return is_dir(path) ? STORE_OK : STORE_CANNOT_OPEN;
}

int remove_user_directory(const char* user_id) {
    if (!usable_user_id(user_id)) return STORE_NOT_FOUND;
    char path[PATH_SIZE];
    if (!user_file_path(path, sizeof path, user_id, "")) return STORE_CANNOT_OPEN;
    Cu_DelDIR(path);
    return is_dir(path) ? STORE_CANNOT_OPEN : STORE_OK;
}
