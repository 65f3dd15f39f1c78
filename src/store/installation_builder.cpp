#include "store/installation_builder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "store/access_lists.h"
#include "store/data_paths.h"
#include "store/file_primitives.h"
#include "store/folder_files.h"
#include "store/folder_tree.h"
#include "store/line_file_engine.h"
#include "store/personal_settings.h"
#include "store/users.h"
#include "util/bytes.h"

namespace {

struct Item {
    std::vector<std::string> words;                 // the words before the first key=value
    std::map<std::string, std::string> attributes;  // key=value pairs
};

// Splits a line into words; "..." keeps spaces; key="..." is one word.
bool split_words(const std::string& line, std::vector<std::string>& words) {
    std::string word;
    bool quoted = false;
    bool in_word = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
            continue;
        }
        if (!quoted && (c == ' ' || c == '\t')) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        word += c;
        in_word = true;
    }
    if (in_word) words.push_back(word);
    return !quoted;
}

bool parse_item(const std::string& line, Item& item) {
    std::vector<std::string> words;
    if (!split_words(line, words)) return false;
    for (const std::string& word : words) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0) {
            if (!item.attributes.empty()) return false;  // positional words come first
            item.words.push_back(word);
        } else {
            item.attributes[word.substr(0, equals)] = word.substr(equals + 1);
        }
    }
    return !item.words.empty();
}

std::string attribute(const Item& item, const char* key, const char* fallback) {
    const auto it = item.attributes.find(key);
    return it != item.attributes.end() ? it->second : fallback;
}

long number(const Item& item, const char* key, long fallback) {
    const auto it = item.attributes.find(key);
    return it != item.attributes.end() ? std::strtol(it->second.c_str(), nullptr, 10) : fallback;
}

long word_number(const Item& item, std::size_t index) {
    return std::strtol(item.words[index].c_str(), nullptr, 10);
}

int add_folder(const Item& item) {
    if (item.words.size() != 2) return -1;
    const long folder_no = word_number(item, 1);
    std::memset(&sTREE_DATA, 0, sizeof sTREE_DATA);
    sTREE_DATA.CLASS = static_cast<int32_t>(number(item, "class", 0));
    sTREE_DATA.FOLDER_NO = static_cast<int32_t>(folder_no);
    copy_field(sTREE_DATA.NAME, attribute(item, "name", "Folder").c_str());
    sTREE_DATA.MODE = static_cast<int32_t>(number(item, "mode", 3));
    copy_field(sTREE_DATA.CGI_NAME, attribute(item, "cgi", "wbbs.cgi").c_str());
    sTREE_DATA.ACCESS_LEVEL = static_cast<int32_t>(number(item, "access", 0));
    sTREE_DATA.WRITE_LEVEL = static_cast<int32_t>(number(item, "write", 0));
    copy_field(sTREE_DATA.PIC_FILENAME, attribute(item, "icon", "").c_str());
    sTREE_DATA.ICON_MODE = static_cast<int32_t>(number(item, "icon_mode", 0));
    const int made = make_folder_directory(folder_no);
    if (made != 0) return made;
    return Fio_TREE_DATA(folder_no, 2, 1);
}

int add_user(const Item& item) {
    if (item.words.size() != 2) return -1;
    const std::string& id = item.words[1];
    const int made = make_user_directory(id.c_str());
    if (made != 0) return made;
    std::memset(&sUSER_MST, 0, sizeof sUSER_MST);
    copy_field(sUSER_MST.USER_ID, id.c_str());
    copy_field(sUSER_MST.USER_NAME, attribute(item, "name", id.c_str()).c_str());
    sUSER_MST.USER_LEVEL = number(item, "level", 1);
    copy_field(sUSER_MST.E_MAIL_ADDR, attribute(item, "mail", "").c_str());
    sUSER_MST.P_GROUP = number(item, "group", 0);
    sUSER_MST.USER_DISP_DEF = number(item, "disp", 5);
    sUSER_MST.MODE = number(item, "mode", 1);
    sUSER_MST.WRITE_MODE = number(item, "write_mode", 1);
    sUSER_MST.BBS_FRAME_MODE = number(item, "frame_mode", 0);
    sUSER_MST.TREE_MODE = number(item, "tree_mode", 0);
    copy_field(sUSER_MST.LANGUAGE, attribute(item, "language", "").c_str());
    copy_field(sUSER_MST.PICFILE, attribute(item, "picture", "").c_str());
    // The password file first: a user line without one lets anyone in with
    // an empty password.
    const USER_MST user = sUSER_MST;
    copy_field(sUSER_MST.USER_PASS, attribute(item, "password", "").c_str());
    const int stored = Fio_MST_PASSWORD(id.c_str(), 2);
    if (stored != 0) return stored;
    sUSER_MST = user;
    return Fio_USER_MST(id.c_str(), 2);
}

int add_group(const Item& item) {
    if (item.words.size() != 2) return -1;
    std::memset(&sGROUP_MST, 0, sizeof sGROUP_MST);
    sGROUP_MST.GROUP_ID = static_cast<int32_t>(word_number(item, 1));
    copy_field(sGROUP_MST.GROUP_NAME, attribute(item, "name", "").c_str());
    return Fio_GROUP_MST(sGROUP_MST.GROUP_ID, 2, 1);
}

int add_member(const Item& item) {
    if (item.words.size() != 3) return -1;
    std::memset(&sUSER_GROUP_MST, 0, sizeof sUSER_GROUP_MST);
    copy_field(sUSER_GROUP_MST.USER_ID, item.words[1].c_str());
    sUSER_GROUP_MST.GROUP_ID = static_cast<int32_t>(word_number(item, 2));
    return Fio_USER_GROUP_MST(sUSER_GROUP_MST.GROUP_ID, 2, 1);
}

int add_grant(const Item& item) {
    if (item.words.size() != 5) return -1;
    std::memset(&sACL_MST, 0, sizeof sACL_MST);
    sACL_MST.FOLDER_NO = static_cast<int32_t>(word_number(item, 1));
    if (item.words[2] == "user") {
        copy_field(sACL_MST.U_OR_G, "U");
        copy_field(sACL_MST.USER_ID, item.words[3].c_str());
    } else if (item.words[2] == "group") {
        copy_field(sACL_MST.U_OR_G, "G");
        sACL_MST.GROUP_ID = static_cast<int32_t>(word_number(item, 3));
    } else {
        return -1;
    }
    sACL_MST.PERMIT = static_cast<int32_t>(word_number(item, 4));
    return Fio_ACL_MST(0, 2, 1);
}

int add_setting(const Item& item) {
    if (item.words.size() != 4) return -1;
    const long folder_no = word_number(item, 1);
    char value[1000];
    copy_field(value, item.words[3].c_str());
    if (Fio_DIR_CONFIG(folder_no, 4, item.words[2].c_str(), value) == 0) return 0;
    return Fio_DIR_CONFIG(folder_no, 2, item.words[2].c_str(), value);
}

int add_personal(const Item& item) {
    if (item.words.size() != 4) return -1;
    char value[PERSONAL_LINE_SIZE];
    copy_field(value, item.words[3].c_str());
    const char* user = item.words[1].c_str();
    if (Fio_PERSONAL_MST(user, 4, item.words[2].c_str(), value) == 0) return 0;
    return Fio_PERSONAL_MST(user, 2, item.words[2].c_str(), value);
}

int add_item(const Item& item) {
    const std::string& kind = item.words[0];
    if (kind == "folder") return add_folder(item);
    if (kind == "user") return add_user(item);
    if (kind == "group") return add_group(item);
    if (kind == "member") return add_member(item);
    if (kind == "grant") return add_grant(item);
    if (kind == "setting") return add_setting(item);
    if (kind == "personal") return add_personal(item);
    return -1;
}

// What each kind of item takes: its word count and attributes, which of its
// words and attributes are numbers, and which words name a user.
struct ItemShape {
    const char* kind;
    std::size_t words;
    std::vector<std::size_t> number_words;
    std::vector<std::size_t> user_words;
    std::vector<const char*> text_attributes;
    std::vector<const char*> number_attributes;
};

const std::vector<ItemShape>& item_shapes() {
    static const std::vector<ItemShape> shapes = {
        {"folder", 2, {1}, {}, {"name", "cgi", "icon"}, {"access", "write", "mode", "class", "icon_mode"}},
        {"user", 2, {}, {1}, {"password", "name", "language", "mail", "picture"},
         {"level", "group", "mode", "write_mode", "disp", "frame_mode", "tree_mode"}},
        {"group", 2, {1}, {}, {"name"}, {}},
        {"member", 3, {2}, {1}, {}, {}},
        {"grant", 5, {1, 4}, {}, {}, {}},
        {"setting", 4, {1}, {}, {}, {}},
        {"personal", 4, {}, {1}, {}, {}},
    };
    return shapes;
}

bool is_number(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0 && value >= INT32_MIN && value <= INT32_MAX;
}

// What the password file keeps; a longer one would be stored cut and never match.
constexpr std::size_t kLongestPassword = 20;

std::string password_problem(const Item& item) {
    const auto it = item.attributes.find("password");
    if (it == item.attributes.end() || it->second.empty()) {
        return "user " + item.words[1] + " needs a password (without one, anyone could log in with an empty one)";
    }
    if (it->second.size() > kLongestPassword) {
        return "the password of " + item.words[1] + " is longer than " + std::to_string(kLongestPassword) + " bytes";
    }
    for (unsigned char c : it->second) {
        if (c < 0x20 || c == 0x7F) return "the password of " + item.words[1] + " holds a control character";
    }
    return "";
}

bool is_user_id(const std::string& id) {
    return is_safe_path_component(id.c_str()) && id.size() < sizeof(USER_MST::USER_ID) &&
           id.find(',') == std::string::npos;
}

// Empty when the item can be written; otherwise why not.
std::string item_problem(const Item& item) {
    const std::string& kind = item.words[0];
    for (const ItemShape& shape : item_shapes()) {
        if (kind != shape.kind) continue;
        if (item.words.size() != shape.words) {
            return kind + " takes " + std::to_string(shape.words - 1) + " words before its attributes";
        }
        for (std::size_t n : shape.number_words) {
            if (!is_number(item.words[n])) return "'" + item.words[n] + "' is not a number";
        }
        for (std::size_t n : shape.user_words) {
            if (!is_user_id(item.words[n])) return "'" + item.words[n] + "' cannot be a user id";
        }
        if (kind == "setting" && DIR_CONFIG_check(item.words[2].c_str(), item.words[3].c_str()) != 0) {
            return "'" + item.words[2] + " " + item.words[3] + "' is no folder setting the board reads";
        }
        if (kind == "grant" && item.words[2] != "user" && item.words[2] != "group") {
            return "a grant is for 'user' or 'group', not '" + item.words[2] + "'";
        }
        if (kind == "grant" && item.words[2] == "group" && !is_number(item.words[3])) {
            return "'" + item.words[3] + "' is not a group number";
        }
        if (kind == "grant" && item.words[2] == "user" && !is_user_id(item.words[3])) {
            return "'" + item.words[3] + "' cannot be a user id";
        }
        for (const auto& [key, value] : item.attributes) {
            auto named = [&attribute = key](const char* name) { return attribute == name; };
            const bool text = std::any_of(shape.text_attributes.begin(), shape.text_attributes.end(), named);
            const bool numeric =
                std::any_of(shape.number_attributes.begin(), shape.number_attributes.end(), named);
            if (!text && !numeric) return kind + " has no attribute '" + key + "'";
            if (numeric && !is_number(value)) return key + "='" + value + "' is not a number";
        }
        if (kind == "user") return password_problem(item);
        return "";
    }
    return "unknown item '" + kind + "'";
}

}  // namespace

namespace {

// The items of the description with their line numbers; -1 (and the reason)
// at the first line that cannot be written.
int read_items(const char* description, std::vector<std::pair<int, Item>>& items, std::string* error) {
    std::istringstream lines(description != nullptr ? description : "");
    std::string line;
    int line_no = 0;
    while (std::getline(lines, line)) {
        ++line_no;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (line.back() == '\r') line.pop_back();
        Item item;
        const std::string problem =
            parse_item(line, item) ? item_problem(item) : "cannot be read (quotes or word order)";
        if (!problem.empty()) {
            if (error != nullptr) *error = "line " + std::to_string(line_no) + ": " + problem;
            return -1;
        }
        items.emplace_back(line_no, std::move(item));
    }
    return 0;
}

}  // namespace

int check_installation(const char* description, std::string* error) {
    std::vector<std::pair<int, Item>> items;
    return read_items(description, items, error);
}

namespace {

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// A select would create a missing list file (or fail in a missing directory).
bool list_exists(char* path) {
    yen_to_sura(path);
    struct stat st;
    return stat(path, &st) == 0;
}

// What the description adds, on top of what the data directory holds.
class Known {
public:
    std::string user(const std::string& id) {
        const auto added = users_.find(upper(id));
        if (added != users_.end()) return added->second == id ? "" : "user " + id + " is written " + added->second;
        if (Fio_USER_MST(id.c_str(), 1) != 0) return "there is no user " + id;
        // Its directory is named as the user list spells it.
        if (id != sUSER_MST.USER_ID) return "user " + id + " is written " + sUSER_MST.USER_ID;
        return "";
    }
    bool group(long no) { return groups_.count(no) != 0 || Fio_GROUP_MST(no, 1, 1) == 0; }
    bool folder(long no) { return folders_.count(no) != 0 || Fio_TREE_DATA(no, 1, 1) == 0; }

    // Empty when the item neither clashes with what is there nor names what is not.
    std::string problem(const Item& item) {
        const std::string& kind = item.words[0];
        const std::string& first = item.words[1];
        if (kind == "folder") {
            const long no = word_number(item, 1);
            if (folder(no)) return "folder " + first + " exists";
            folders_.insert(no);
        } else if (kind == "user") {
            if (users_.count(upper(first)) != 0 || Fio_USER_MST(first.c_str(), 1) == 0) {
                return "user " + first + " exists";
            }
            const long primary = number(item, "group", 0);
            if (primary != 0 && !group(primary)) return "there is no group " + std::to_string(primary);
            users_[upper(first)] = first;
        } else if (kind == "group") {
            const long no = word_number(item, 1);
            if (group(no)) return "group " + first + " exists";
            groups_.insert(no);
        } else if (kind == "member") {
            const std::string missing = user(first);
            if (!missing.empty()) return missing;
            const long no = word_number(item, 2);
            if (!group(no)) return "there is no group " + item.words[2];
            if (!members_.insert(first + "," + item.words[2]).second) {
                return first + " is already in group " + item.words[2];
            }
            char path[DATA_PATH_SIZE];
            std::memset(&sUSER_GROUP_MST, 0, sizeof sUSER_GROUP_MST);
            copy_field(sUSER_GROUP_MST.USER_ID, first.c_str());
            if (user_file_path(path, sizeof path, first.c_str(), "user_g.mst") && list_exists(path) &&
                Fio_USER_GROUP_MST(no, 1, 1) == 0) {
                return first + " is already in group " + item.words[2];
            }
        } else if (kind == "grant") {
            const long no = word_number(item, 1);
            if (!folder(no)) return "there is no folder " + first;
            const bool for_user = item.words[2] == "user";
            if (for_user) {
                const std::string missing = user(item.words[3]);
                if (!missing.empty()) return missing;
            } else if (!group(word_number(item, 3))) {
                return "there is no group " + item.words[3];
            }
            const std::string who = for_user ? upper(item.words[3]) : item.words[3];
            const std::string key = first + "," + item.words[2] + "," + who;
            if (!grants_.insert(key).second) return "folder " + first + " has that grant already";
            char path[DATA_PATH_SIZE];
            std::memset(&sACL_MST, 0, sizeof sACL_MST);
            sACL_MST.FOLDER_NO = static_cast<int32_t>(no);
            copy_field(sACL_MST.U_OR_G, for_user ? "U" : "G");
            if (for_user) copy_field(sACL_MST.USER_ID, item.words[3].c_str());
            sACL_MST.GROUP_ID = for_user ? 0 : static_cast<int32_t>(word_number(item, 3));
            if (folder_file_path(path, sizeof path, no, "acl.mst") && list_exists(path) && Fio_ACL_MST(0, 1, 1) == 0) {
                return "folder " + first + " has that grant already";
            }
        } else if (kind == "setting") {
            if (!folder(word_number(item, 1))) return "there is no folder " + first;
        } else if (kind == "personal") {
            return user(first);
        }
        return "";
    }

private:
    std::map<std::string, std::string> users_;  // upper case -> as written
    std::set<long> groups_;
    std::set<long> folders_;
    std::set<std::string> members_;
    std::set<std::string> grants_;
};

}  // namespace

int check_installation_against_store(const char* description, std::string* error) {
    std::vector<std::pair<int, Item>> items;
    if (read_items(description, items, error) != 0) return -1;
    Known known;
    for (const auto& [number, item] : items) {
        const std::string problem = known.problem(item);
        if (!problem.empty()) {
            if (error != nullptr) *error = "line " + std::to_string(number) + ": " + problem;
            return -1;
        }
    }
    return 0;
}

int build_installation(const char* description, std::string* error) {
    // Every line is read and checked before the first write, so a description
    // with a mistake anywhere changes nothing.
    std::vector<std::pair<int, Item>> items;
    if (read_items(description, items, error) != 0) return -1;
    for (const auto& [number, item] : items) {
        const int result = add_item(item);
        if (result != 0) {
            if (error != nullptr) {
                *error = "line " + std::to_string(number) + " (" + item.words[0] + " " + item.words[1] +
                         "): store result " + std::to_string(result) + " " + store_result_text(result);
            }
            return result;
        }
    }
    return 0;
}
