#include "util/text_helpers.h"

#include "util/html_escape.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "util/bytes.h"

namespace {

// Length of the character at p. A lead byte right before the terminator stands
// alone, so walks stop at the terminator instead of stepping over it.
std::size_t char_len(const char* p) {
    return (is_lead_byte(p[0]) && p[1] != '\0') ? 2 : 1;
}

bool starts_with(const char* p, const char* prefix) {
    return std::strncmp(p, prefix, std::strlen(prefix)) == 0;
}

// Whether the keyword's characters equal the text's characters at text.
bool matches_at(const char* text, const char* keyword) {
    std::size_t j = 0;
    while (keyword[j] != '\0') {
        const std::size_t n = char_len(keyword + j);
        if (char_len(text + j) != n || std::memcmp(text + j, keyword + j, n) != 0) return false;
        j += n;
    }
    return true;
}

// The scratch buffer of an in-place transformation. Pieces are appended whole
// or not at all; once one does not fit, everything after it is dropped too.
// Between open_piece() and close_piece() several appends form one piece.
class Output {
public:
    explicit Output(std::size_t buffer_size)
        : buf_(buffer_size > 0 ? new (std::nothrow) char[buffer_size] : nullptr),
          limit_(buffer_size > 0 ? buffer_size - 1 : 0) {}

    bool ok() const { return buf_ != nullptr; }
    std::size_t size() const { return len_; }

    bool full() const { return full_; }

    // Keeps n bytes free for a closing piece that must fit even when the text is cut.
    void hold_back(std::size_t n) {
        held_ = n <= limit_ - len_ ? n : limit_ - len_;
        limit_ -= held_;
    }
    // The same as part of the current piece: when the n bytes are not free,
    // the piece fails like any other that does not fit.
    void reserve(std::size_t n) {
        if (full_) return;
        if (n > limit_ - len_) {
            full_ = true;
            if (in_piece_) len_ = piece_start_;
            return;
        }
        held_ += n;
        limit_ -= n;
    }
    // Gives the kept room back once its closing piece is no longer due.
    void release() {
        limit_ += held_;
        held_ = 0;
    }
    // Writes the closing piece into the room kept by hold_back.
    void add_final(const char* s) {
        limit_ += held_;
        held_ = 0;
        full_ = false;
        add(s);
    }

    void add(const char* p, std::size_t n) {
        if (full_) return;
        if (n > limit_ - len_) {
            full_ = true;
            if (in_piece_) len_ = piece_start_;
            return;
        }
        std::memcpy(buf_.get() + len_, p, n);
        len_ += n;
    }
    void add(const char* s) { add(s, std::strlen(s)); }
    void add(char c) { add(&c, 1); }

    // An attribute value: a double quote would end the attribute early.
    void add_attr(const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (p[i] == '"') {
                add("&quot;");
            } else {
                add(p[i]);
            }
        }
    }
    void add_attr(const char* s) { add_attr(s, std::strlen(s)); }

    void open_piece() { in_piece_ = true; piece_start_ = len_; }
    void close_piece() { in_piece_ = false; }

    // Copies the result over the caller's buffer (which it fits by construction).
    void store(char* dst) const {
        std::memcpy(dst, buf_.get(), len_);
        dst[len_] = '\0';
    }

private:
    std::unique_ptr<char[]> buf_;
    std::size_t limit_;
    std::size_t held_ = 0;
    std::size_t len_ = 0;
    bool full_ = false;
    bool in_piece_ = false;
    std::size_t piece_start_ = 0;
};

// Copies one character (one or two bytes) at p and returns its length.
std::size_t copy_char(Output& out, const char* p) {
    const std::size_t n = char_len(p);
    out.add(p, n);
    return n;
}

bool ends_url(unsigned char c) {
    return c == '\0' || c == '\r' || c == '\n' || c == ' ' || c == ',' || c == '<' || c == '>' ||
           (c >= 0x7F && c <= 0xA0) || c > 0xDF;
}

std::size_t url_length(const char* p) {
    std::size_t n = 0;
    while (!ends_url(static_cast<unsigned char>(p[n]))) ++n;
    return n;
}

// Offset of the first closing tag of an anchor ("</A>" or "</a>"), or -1.
int find_anchor_end(const char* text) {
    for (std::size_t i = 0; text[i] != '\0'; i += char_len(text + i)) {
        if (starts_with(text + i, "</A>") || starts_with(text + i, "</a>")) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void copy_chars(Output& out, const char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n && p[i] != '\0') i += copy_char(out, p + i);
}

// Offset just after the last '/' or '\\' before end.
std::size_t bare_name_start(const char* in, std::size_t end) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < end; i += char_len(in + i)) {
        if (in[i] == '/' || in[i] == '\\') start = i + 1;
    }
    return start;
}

void copy_bytes(char* dst, std::size_t dst_size, const char* src, std::size_t n) {
    if (dst_size == 0) return;
    if (n > dst_size - 1) n = dst_size - 1;
    std::memmove(dst, src, n);
    dst[n] = '\0';
}

}  // namespace

int G_StrFind(const char* in_buff, const char* keyword) {
    if (in_buff == nullptr || keyword == nullptr || *in_buff == '\0' || *keyword == '\0') return -1;
    // The library's byte search proposes each place the keyword's bytes stand;
    // only one where a character starts, matched character by character, is
    // an occurrence. The walk over the characters goes on from the last
    // place, so the text is walked once at most, and not at all before a
    // place is proposed (the search over a body that lacks the keyword costs
    // the byte search alone).
    std::size_t start = 0;  // a character starts here
    for (const char* found = std::strstr(in_buff, keyword); found != nullptr;
         found = std::strstr(found + 1, keyword)) {
        const std::size_t at = static_cast<std::size_t>(found - in_buff);
        while (start < at) start += char_len(in_buff + start);
        if (start == at && matches_at(found, keyword)) return static_cast<int>(at);
    }
    return -1;
}

int G_StrGetCSV(const char* in_buff, char* out_buff) {
    if (in_buff == nullptr) return 0;
    return G_StrGetCSV(in_buff, out_buff, std::strlen(in_buff) + 1);
}

int G_StrGetCSV(const char* in_buff, char* out_buff, std::size_t out_size) {
    if (in_buff == nullptr || out_buff == nullptr || out_size == 0) return 0;
    const bool quoted = in_buff[0] == '"';
    std::size_t i = quoted ? 1 : 0;
    std::size_t o = 0;
    bool cut = false;  // once a character did not fit, the rest of the field is dropped
    auto put = [&](const char* p, std::size_t n) {
        if (cut || o + n > out_size - 1) {
            cut = true;
            return;
        }
        std::memcpy(out_buff + o, p, n);
        o += n;
    };
    for (;;) {
        const char c = in_buff[i];
        if (c == '\0' || c == '\r' || c == '\n') break;
        if (!quoted && c == ',') break;
        if (quoted && c == '"') {
            if (in_buff[i + 1] == '"') {
                put("\"", 1);
                i += 2;
                continue;
            }
            ++i;
            break;
        }
        const std::size_t n = char_len(in_buff + i);
        put(in_buff + i, n);
        i += n;
    }
    out_buff[o] = '\0';
    return static_cast<int>(i);
}

void G_setStrlength(char* in_buff, std::size_t in_size) {
    if (in_buff == nullptr) return;
    for (std::size_t i = 0; in_buff[i] != '\0';) {
        const std::size_t n = char_len(in_buff + i);
        if (i + n + 1 > in_size) {
            in_buff[i] = '\0';
            return;
        }
        i += n;
    }
}

void G_get_url(const char* in_data, char* url) {
    if (in_data == nullptr) return;
    G_get_url(in_data, url, std::strlen(in_data) + 1);
}

void G_get_url(const char* in_data, char* url, std::size_t url_size) {
    if (in_data == nullptr || url == nullptr) return;
    copy_bytes(url, url_size, in_data, url_length(in_data));
}

void G_Add_a_href(char* in_data, const char* in_target, const char* cgi_name,
                  std::size_t in_size) {
    if (in_data == nullptr) return;
    if (in_target == nullptr) in_target = "";
    if (cgi_name == nullptr) cgi_name = "";
    Output out(in_size);
    if (!out.ok()) return;
    std::size_t i = 0;
    while (in_data[i] != '\0') {
        const char* p = in_data + i;
        // Only these can start an address or an anchor: the rest is copied
        // without trying every prefix (a long body is mostly such bytes).
        const bool may_start = *p == 'H' || *p == 'h' || *p == 'M' || *p == 'm' || *p == '<';
        if (is_lead_byte(*p) || !may_start) {
            i += copy_char(out, p);
        } else if (starts_with(p, "HTTP://") || starts_with(p, "http://") ||
                   starts_with(p, "HTTPS://") || starts_with(p, "https://")) {
            const std::size_t n = url_length(p);
            out.open_piece();
            out.add("<A HREF=\"");
            out.add_attr(cgi_name);
            if (*cgi_name != '\0') {
                // Behind the jump prefix the address is one query value: its
                // own '&', '#' and '+' must reach the jump unchanged.
                out.add_attr(url_arg(std::string(p, n).c_str()).c_str());
            } else {
                out.add_attr(p, n);
            }
            out.add("\"");
            if (*in_target != '\0') {
                out.add(" TARGET=\"");
                out.add_attr(in_target);
                out.add("\"");
            }
            out.add(">");
            out.add(p, n);
            out.add("</A>");
            out.close_piece();
            i += n;
        } else if (starts_with(p, "MAILTO:") || starts_with(p, "mailto:")) {
            const std::size_t n = url_length(p);
            out.open_piece();
            out.add("<A HREF=\"");
            out.add_attr(p, n);
            out.add("\">");
            out.add(p + 7, n - 7);
            out.add("</A>");
            out.close_piece();
            i += n;
        } else if (starts_with(p, "<A HREF") || starts_with(p, "<a href")) {
            // An anchor the writer made: its URLs must not be linked again.
            const int close = find_anchor_end(p + 7);
            if (close < 0) {
                copy_chars(out, p, std::strlen(p));
                break;
            }
            copy_chars(out, p, 7 + static_cast<std::size_t>(close));
            out.add("</A>");
            i += 7 + static_cast<std::size_t>(close) + 4;
        } else if (starts_with(p, "<IMG") || starts_with(p, "<img")) {
            const int close = G_StrFind(p + 4, ">");
            if (close < 0) {
                copy_chars(out, p, std::strlen(p));
                break;
            }
            const std::size_t n = 4 + static_cast<std::size_t>(close) + 1;
            copy_chars(out, p, n);
            i += n;
        } else {
            i += copy_char(out, p);
        }
    }
    out.store(in_data);
}

void G_Add_Bold(char* data, const char* token, std::size_t in_size) {
    if (data == nullptr || token == nullptr) return;
    const std::size_t token_len = std::strlen(token);
    // '<' always starts a tag, so a token holding one can never match.
    if (token_len == 0 || std::strchr(token, '<') != nullptr) return;
    Output out(in_size);
    if (!out.ok()) return;
    bool in_tag = false;
    std::size_t i = 0;
    while (data[i] != '\0') {
        const char c = data[i];
        if (in_tag) {
            out.add(c);
            if (c == '>') in_tag = false;
            ++i;
        } else if (c == '<') {
            out.add(c);
            in_tag = true;
            ++i;
        } else if (std::strncmp(data + i, token, token_len) == 0) {
            out.open_piece();
            out.add("<B>");
            out.add(data + i, token_len);
            out.add("</B>");
            out.close_piece();
            i += token_len;
        } else {
            // A failed candidate gives up one character only: the match may start
            // at the next one, but never on a second byte. A '<' after a lead byte
            // is left to open its tag, as the browser reads it.
            std::size_t n = char_len(data + i);
            if (n == 2 && data[i + 1] == '<') n = 1;
            out.add(data + i, n);
            i += n;
        }
    }
    out.store(data);
}

void G_CrLf_to_BR(char* in, std::size_t in_size) {
    if (in == nullptr) return;
    Output out(in_size);
    if (!out.ok()) return;
    for (std::size_t i = 0; in[i] != '\0' && out.size() <= 99999;) {
        if (in[i] == '\r') {
            out.add("<BR>\n");
            ++i;
        } else if (in[i] == '\n') {
            ++i;
        } else {
            i += copy_char(out, in + i);
        }
    }
    out.store(in);
}

void G_CrLf_to_Cr(char* in) {
    if (in == nullptr) return;
    std::size_t o = 0;
    for (std::size_t i = 0; in[i] != '\0';) {
        const std::size_t n = char_len(in + i);
        if (!(n == 1 && in[i] == '\n')) {
            std::memmove(in + o, in + i, n);
            o += n;
        }
        i += n;
    }
    in[o] = '\0';
}

void G_BR_to_CrLf(char* in) {
    if (in == nullptr) return;
    std::size_t o = 0;
    for (std::size_t i = 0; in[i] != '\0';) {
        if (starts_with(in + i, "<BR>")) {
            in[o++] = '\r';
            i += 4;
            continue;
        }
        const std::size_t n = char_len(in + i);
        std::memmove(in + o, in + i, n);
        o += n;
        i += n;
    }
    in[o] = '\0';
}

void G_HtmlConvert(char*) {}

void G_HtmlConvert2(char* in, std::size_t in_size) {
    if (in == nullptr) return;
    Output out(in_size);
    if (!out.ok()) return;
    for (std::size_t i = 0; in[i] != '\0';) {
        switch (in[i]) {
            case '"': out.add("&quot;"); ++i; break;
            case '&': out.add("&amp;"); ++i; break;
            case '<': out.add("&lt;"); ++i; break;
            case '>': out.add("&gt;"); ++i; break;
            default: i += copy_char(out, in + i); break;
        }
    }
    out.store(in);
}

void G_Add_Res(char* in, std::size_t in_size) {
    if (in == nullptr) return;
    Output out(in_size);
    if (!out.ok()) return;
    bool line_start = true;
    for (std::size_t i = 0; in[i] != '\0';) {
        const char c = in[i];
        if (c == '\n') {
            line_start = true;
            ++i;
            continue;
        }
        const std::size_t n = char_len(in + i);
        out.open_piece();
        if (line_start) out.add('>');
        out.add(in + i, n);
        out.close_piece();
        line_start = c == '\r';
        i += n;
    }
    out.store(in);
}

void G_Add_Blue(char* in, const char* color, std::size_t in_size) {
    if (in == nullptr) return;
    if (color == nullptr) color = "";
    enum State { plain_line, line_start, quoted_line, after_quoted };
    static const char close_tag[] = "</FONT>";
    Output out(in_size);
    if (!out.ok()) return;
    State state = line_start;
    for (std::size_t i = 0; in[i] != '\0' && !out.full();) {
        const char c = in[i];
        if (c == '\r') {
            if (state == plain_line) state = line_start;
            if (state == quoted_line) state = after_quoted;
            out.add(c);
            ++i;
        } else if (c == '\n') {
            out.add(c);
            ++i;
        } else if (c == '>' && state == line_start) {
            out.open_piece();
            out.add("<FONT COLOR=\"#");
            out.add_attr(color);
            out.add("\">>");
            // A cut text must still close its element: room for it is kept while it is open.
            out.reserve(sizeof close_tag - 1);
            out.close_piece();
            if (!out.full()) state = quoted_line;
            ++i;
        } else if (c == '>' && state == after_quoted) {
            out.add(c);
            state = quoted_line;
            ++i;
        } else {
            const std::size_t n = char_len(in + i);
            if (state == after_quoted) out.release();  // the tag below uses that room
            out.open_piece();
            if (state == after_quoted) out.add(close_tag);
            out.add(in + i, n);
            out.close_piece();
            if (!out.full() && (state == after_quoted || state == line_start)) state = plain_line;
            i += n;
        }
    }
    if (state == quoted_line || state == after_quoted) out.add_final(close_tag);
    out.store(in);
}

void G_cut_name(char* in, char sep) {
    if (in == nullptr) return;
    std::size_t start = 0;
    for (std::size_t i = 0; in[i] != '\0';) {
        const std::size_t n = char_len(in + i);
        if (n == 1 && in[i] == sep) start = i + 1;
        i += n;
    }
    std::memmove(in, in + start, std::strlen(in + start) + 1);
}

void G_cut_filename(const char* in, char* name, char* rest) {
    if (in == nullptr) return;
    const std::size_t size = std::strlen(in) + 1;
    G_cut_filename(in, name, size, rest, size);
}

void G_cut_filename(const char* in, char* name, std::size_t name_size, char* rest,
                    std::size_t rest_size) {
    if (in == nullptr || name == nullptr || rest == nullptr) return;
    std::size_t comma = 0;
    while (in[comma] != '\0' && in[comma] != ',') comma += char_len(in + comma);
    const std::size_t start = bare_name_start(in, comma);
    const char* after = in[comma] == ',' ? in + comma + 1 : in + comma;
    copy_bytes(rest, rest_size, after, std::strlen(after));
    copy_bytes(name, name_size, in + start, comma - start);
}

void G_ApostropheAddYen(char* in, std::size_t in_size) {
    if (in == nullptr) return;
    Output out(in_size);
    if (!out.ok()) return;
    for (std::size_t i = 0; in[i] != '\0';) {
        if (in[i] == '\'') {
            out.add("\\'");
            ++i;
        } else {
            i += copy_char(out, in + i);
        }
    }
    out.store(in);
}

void G_AddQuart(char* in, std::size_t in_size) {
    if (in == nullptr) return;
    Output out(in_size);
    if (!out.ok()) return;
    for (std::size_t i = 0; in[i] != '\0'; ++i) {
        if (in[i] == '\'') {
            out.add("''");
        } else {
            out.add(in[i]);
        }
    }
    out.store(in);
}

void G_ToUppers(char* in) {
    if (in == nullptr) return;
    for (std::size_t i = 0; in[i] != '\0';) {
        const std::size_t n = char_len(in + i);
        if (n == 1 && in[i] >= 'a' && in[i] <= 'z') in[i] = static_cast<char>(in[i] - 'a' + 'A');
        i += n;
    }
}

void G_ketadori(char* in, std::size_t in_size) {
    if (in == nullptr) return;
    const long value = std::strtol(in, nullptr, 10);
    // The magnitude as unsigned, so that the most negative long has one too.
    const unsigned long magnitude =
        value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, "%lu", magnitude);
    if (n <= 0) return;
    char grouped[48];
    std::size_t o = 0;
    if (value < 0) grouped[o++] = '-';
    for (int k = 0; k < n; ++k) {
        if (k > 0 && (n - k) % 3 == 0) grouped[o++] = ',';
        grouped[o++] = digits[k];
    }
    grouped[o] = '\0';
    if (o + 1 > in_size) return;
    std::memcpy(in, grouped, o + 1);
}

void G_TrimRight(char* in) {
    if (in == nullptr) return;
    std::size_t keep = 0;
    for (std::size_t i = 0; in[i] != '\0';) {
        const std::size_t n = char_len(in + i);
        if (!(n == 1 && in[i] == ' ')) keep = i + n;
        i += n;
    }
    in[keep] = '\0';
}

void G_CutCrLf(char* in) {
    if (in == nullptr) return;
    std::size_t keep = 0;
    for (std::size_t i = 0; in[i] != '\0';) {
        const std::size_t n = char_len(in + i);
        if (!(n == 1 && (in[i] == '\r' || in[i] == '\n'))) keep = i + n;
        i += n;
    }
    in[keep] = '\0';
}

void G_org2csv(char* in, std::size_t in_size) {
    if (in == nullptr) return;
    bool has_quote = false;
    bool has_comma = false;
    for (std::size_t i = 0; in[i] != '\0';) {
        const std::size_t n = char_len(in + i);
        if (n == 1 && in[i] == '"') has_quote = true;
        if (n == 1 && in[i] == ',') has_comma = true;
        i += n;
    }
    if (!has_quote && !has_comma) return;
    Output out(in_size);
    if (!out.ok()) return;
    out.add('"');
    out.hold_back(1);  // the closing quote always fits
    for (std::size_t i = 0; in[i] != '\0';) {
        if (in[i] == '"') {
            out.add("\"\"");
            ++i;
        } else {
            i += copy_char(out, in + i);
        }
    }
    out.add_final("\"");
    out.store(in);
}
