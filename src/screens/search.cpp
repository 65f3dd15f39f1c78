#include "screens/search.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cgi/request_parser.h"
#include "request/folder_walk.h"
#include "request/request_state.h"
#include "request/session.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "store/folder_tree.h"
#include "store/message_files.h"
#include "store/message_index.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

namespace {

constexpr int kMaxKeywords = 10;
constexpr std::size_t kConditionSize = 252;
constexpr std::size_t kWriterSize = 82;
constexpr std::size_t kNumberSize = 4002;
// "<B>" and "</B>" around one match.
constexpr std::size_t kBoldTags = 7;

struct SearchQuery {
    char condition[kConditionSize] = {};
    char writer[kWriterSize] = {};
    int stat = 1;  // 1 any condition, 2 all
    std::vector<std::string> keywords;
};

// The keyword text split at ASCII blanks (never inside a two-byte character);
// empty pieces dropped, at most ten kept.
std::vector<std::string> split_keywords(const char* condition) {
    std::vector<std::string> keywords;
    std::string piece;
    auto finish = [&]() {
        if (piece.empty()) return;
        char slot[kConditionSize];
        copy_field(slot, piece.c_str());
        G_TrimRight(slot);
        if (slot[0] != '\0') keywords.push_back(std::string(slot));
        piece.clear();
    };
    for (std::size_t i = 0; condition[i] != '\0' && keywords.size() < kMaxKeywords;) {
        if (is_lead_byte(condition[i]) && condition[i + 1] != '\0') {
            piece.append(condition + i, 2);
            i += 2;
        } else if (condition[i] == ' ') {
            finish();
            ++i;
        } else {
            piece += condition[i];
            ++i;
        }
    }
    if (keywords.size() < kMaxKeywords) finish();
    return keywords;
}

bool occurs(const char* text, const std::string& keyword) { return G_StrFind(text, keyword.c_str()) != -1; }

// A text field with the matches of each token in bold, the text escaped and
// only the added tags left as markup. The tokens go in one after the other, as
// G_Add_Bold would put them into the plain text: a later token never matches
// across a tag an earlier one added.
Safe bold_text(const std::string& value, const std::vector<std::string>& tokens) {
    const std::size_t n = value.size();
    // Tags added before raw position p; a close goes in front of the tags that
    // are already there (it follows the previous character), an open behind them.
    std::vector<std::string> tags(n + 1);
    for (const std::string& token : tokens) {
        const std::size_t len = token.size();
        if (len == 0 || len > n) continue;
        std::size_t i = 0;
        while (i + len <= n) {
            bool match = value.compare(i, len, token) == 0;
            for (std::size_t q = i + 1; match && q < i + len; ++q) {
                if (!tags[q].empty()) match = false;
            }
            if (match) {
                tags[i] += "<B>";
                tags[i + len].insert(0, "</B>");
                i += len;
            } else {
                i += (is_lead_byte(value[i]) && i + 1 < n) ? 2 : 1;
            }
        }
    }
    Safe out;
    std::string segment;
    for (std::size_t p = 0; p <= n; ++p) {
        if (!tags[p].empty()) {
            out.html += text(segment.c_str()).html;
            segment.clear();
            out.html += tags[p];
        }
        if (p < n) segment += value[p];
    }
    out.html += text(segment.c_str()).html;
    return out;
}

// Non-overlapping occurrences of token, byte by byte: no pass of G_Add_Bold
// can make more matches than this.
std::size_t occurrences(const char* data, std::size_t size, const std::string& token) {
    if (token.empty()) return 0;
    std::size_t count = 0;
    const char* end = data + size;
    for (const char* p = data; p + token.size() <= end;) {
        const void* found = memmem(p, static_cast<std::size_t>(end - p), token.data(), token.size());
        if (found == nullptr) break;
        ++count;
        p = static_cast<const char*>(found) + token.size();
    }
    return count;
}

// The body with the matches in bold, through the sanitizer. The buffer has
// room for every tag the keywords can add, so nothing is cut.
Safe bold_body(const char* body, const std::vector<std::string>& keywords) {
    const std::size_t size = std::strlen(body);
    std::size_t room = size + 1;
    for (const std::string& keyword : keywords) room += kBoldTags * occurrences(body, size, keyword);
    std::unique_ptr<char[]> copy(new char[room]);
    std::memcpy(copy.get(), body, size + 1);
    for (const std::string& keyword : keywords) G_Add_Bold(copy.get(), keyword.c_str(), room);
    return html(copy.get());
}

// The body of message sel_no into G_WRITE_DATA; false (and an empty body)
// when it cannot be read.
bool read_body(long folder, long sel_no) {
    G_WRITE_DATA[0] = '\0';
    if (Fio_BODY_TXT(folder, sel_no, 1, G_WRITE_DATA, sizeof G_WRITE_DATA) != 0) {
        G_WRITE_DATA[0] = '\0';
        return false;
    }
    return true;
}

// Whether message sel_no (record `record`) meets the query; leaves its body
// in G_WRITE_DATA (empty when it cannot be read) when it does.
bool is_hit(const SearchQuery& query, long folder, long sel_no, const BBS_IDX& record) {
    const std::string writer_name(field_view(record.WRITER_NAME));
    const std::string title(field_view(record.WRITE_TITLE));
    const bool has_writer = query.writer[0] != '\0';
    if (query.stat == 1) {
        bool hit = has_writer && G_StrFind(writer_name.c_str(), query.writer) != -1;
        for (std::size_t k = 0; !hit && k < query.keywords.size(); ++k) {
            hit = occurs(title.c_str(), query.keywords[k]);
        }
        if (hit) {
            read_body(folder, sel_no);
            return true;
        }
        if (!read_body(folder, sel_no)) return false;
        for (const std::string& keyword : query.keywords) {
            if (occurs(G_WRITE_DATA, keyword)) return true;
        }
        return false;
    }
    if (has_writer && G_StrFind(writer_name.c_str(), query.writer) == -1) return false;
    // The body is read in any case: a hit shows it. The first keyword found
    // in neither the title nor the body decides.
    const bool has_body = read_body(folder, sel_no);
    for (const std::string& keyword : query.keywords) {
        if (occurs(title.c_str(), keyword)) continue;
        if (!has_body || !occurs(G_WRITE_DATA, keyword)) return false;
    }
    return true;
}

void print_hit(const SearchQuery& query, long folder, long sel_no, const BBS_IDX& record) {
    const std::string writer_name(field_view(record.WRITER_NAME));
    const std::string title(field_view(record.WRITE_TITLE));
    std::vector<std::string> writer_token;
    if (query.writer[0] != '\0') writer_token.emplace_back(query.writer);
    emit("<A HREF=\"%s?SKEY1=%s&SKEY2=%s&uid=%s&JOB=FRM223&FOLDER_NO=%d&SEL_NO=%d\"", exe(), url(cgi_SKEY1),
         url(cgi_SKEY2), url(cgi_uid), folder, sel_no);
    // In two frames the message takes the list's place.
    if (!two_frame_layout()) emit(" TARGET=\"FRM223SEL%d\"", folder);
    emit(">");
    emit("%s[%d]", msg(312), sel_no);
    emit("%s</A> [%s]<BR>\n", bold_text(title, query.keywords), bold_text(writer_name, writer_token));
    const Safe body = G_WRITE_DATA[0] != '\0' ? bold_body(G_WRITE_DATA, query.keywords) : Safe{};
    emit("%s<P>\n", body);
}

// Searches one folder, messages 1 to N in order, printing each hit. The index
// is read once from its start; each body at most once.
long search_folder(const SearchQuery& query, long folder) {
    long hits = 0;
    scan_message_index(folder, 1, [&](long k, const BBS_IDX& record) {
        if (record.SEL_NO == 0 || record.DEL_FLG != 0) return true;
        const long sel_no = k + 1;
        if (is_hit(query, folder, sel_no, record)) {
            ++hits;
            print_hit(query, folder, sel_no, record);
        }
        return true;
    });
    return hits;
}

// The ROOM_NO values as sent, up to the first empty or 0; each folder once.
std::vector<long> requested_rooms() {
    std::vector<long> rooms;
    std::set<long> seen;
    std::unique_ptr<char[]> value(new char[kNumberSize]);
    for (int n = 0;; ++n) {
        value[0] = '\0';
        cgi_getvalue("ROOM_NO", n, value.get(), kNumberSize);
        if (value[0] == '\0') break;
        const long folder = std::strtol(value.get(), nullptr, 10);
        if (folder == 0) break;
        if (seen.insert(folder).second) rooms.push_back(folder);
    }
    return rooms;
}

// A folder the search may read: a board folder the user may open.
bool may_search(long folder) {
    if (G_chk_ACL(folder) <= 0) return false;
    return Fio_TREE_DATA(folder, 1, 1) == 0 && sTREE_DATA.MODE == 3;
}

// One option per board folder the user may see, in tree order.
void folder_selector(const std::vector<long>& rooms) {
    emit("<DT>%s\n", msg(451));
    emit("<DD><SELECT NAME=\"ROOM_NO\" SIZE=5 MULTIPLE>\n");
    for_each_open_board_folder([&](const TREE_DATA& folder) {
        emit("<OPTION VALUE=\"%d\" ", folder.FOLDER_NO);
        for (long r : rooms) {
            if (r == folder.FOLDER_NO) {
                emit("SELECTED ");
                break;
            }
        }
        emit(">%d:%s\n", folder.FOLDER_NO, field_text(folder.NAME));
    });
    emit("</SELECT>\n");
}

void search_script() {
    emit("<SCRIPT Language=\"JavaScript\">\n");
    emit("<!--\n");
    emit("function onLoad(){\n");
    emit("document.INPUT.CONDITION.focus();\n");
    emit("}\n");
    emit("var count=0;\n");
    emit("function title_chk(){\n");
    emit("if ( document.INPUT.CONDITION.value==\"\" ) {\n");
    emit("window.alert( \"%s\" );\n", msg(436));
    emit("return false }\n");
    emit("count++;\n");
    emit("document.INPUT.SUB.value=\"%s\";\n", msg(420));
    emit("if ( count < 2 ){ return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    emit("// -->\n");
    emit("</SCRIPT>\n");
}

void search_form(const SearchQuery& query, bool all_folders, const std::vector<long>& rooms) {
    emit("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", exe());
    // The same kind of search again.
    session_fields(all_folders ? "ALLSEARCH" : "SEARCH");
    emit("%s<BR>\n", msg(436));
    emit("%s<BR>\n", msg(437));
    emit("<INPUT TYPE=\"text\" NAME=\"CONDITION\" SIZE=\"40\" MAXLENGTH=\"250\" VALUE=\"%s\">\n",
         attr(query.condition));
    emit("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\"> \n", msg(434));
    emit("<P>\n");
    emit("%s<BR>\n", msg(314));
    emit("<INPUT TYPE=\"text\" NAME=\"WRITER\" SIZE=\"30\" MAXLENGTH=\"80\" VALUE=\"%s\">\n", attr(query.writer));
    emit("<P>\n");
    emit("<DT>%s\n", msg(438));
    if (query.stat == 1) {
        emit("<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"1\" checked>%s\n", msg(439));
        emit("<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"2\">%s\n", msg(440));
    } else {
        emit("<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"1\">%s\n", msg(439));
        emit("<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"2\" checked>%s\n", msg(440));
    }
    emit("<P>\n");
    if (all_folders) folder_selector(rooms);
    emit("</FORM>\n");
}

}  // namespace

void b_SEARCH(long in_folder_no) {
    const bool all_folders = in_folder_no == 0;
    SearchQuery query;
    cgi_getvalue("CONDITION", 0, query.condition, sizeof query.condition);
    cgi_getvalue("WRITER", 0, query.writer, sizeof query.writer);
    const long stat = request_number("STAT", kNumberSize);
    query.stat = stat <= 1 ? 1 : 2;
    const std::vector<long> rooms = all_folders ? requested_rooms() : std::vector<long>{};

    // The settings of a folder are loaded only for the one-folder search.
    const DIR_CONFIG& config = G_DIR_CONFIG;
    open_frame_page(all_folders ? "" : config.BACKPIC2, 2);
    search_script();
    const bool coloured = !all_folders && config.FONTCOLOR2[0] != '\0';
    if (coloured) emit("<FONT COLOR=\"#%s\">", attr(config.FONTCOLOR2));
    emit("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", msg(434));
    emit("%s<BR>\n", msg(435));
    emit("<HR>\n");
    search_form(query, all_folders, rooms);

    if (query.condition[0] != '\0') {
        emit("<HR>\n");
        query.keywords = split_keywords(query.condition);
        emit("%s<P>\n", msg(441));
        long hits = 0;
        if (all_folders) {
            for (long folder : rooms) {
                // A folder the user may not open is passed over unseen.
                if (may_search(folder)) hits += search_folder(query, folder);
            }
        } else {
            hits = search_folder(query, in_folder_no);
        }
        emit("<B>total hit %d%s</B><P>\n", hits, msg(443));
    }
    emit("<HR>\n");
    if (coloured) emit("</FONT>");
    emit("</BODY>\n");
    emit("</HTML>\n");
}
