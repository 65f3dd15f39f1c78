#include "screens/html_sanitizer.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "util/bytes.h"

namespace {

// Gumbo reads UTF-8 and turns C1 and most C0 control characters into U+FFFD, yet
// 0x80-0x9F are everyday Shift_JIS second bytes. So the bytes travel through the
// parse disguised and are turned back on the way out:
//  - each run of Shift_JIS text (bytes from 0x80 up, with the second byte of each
//    two-byte character) becomes one private-use code point of planes 15 and 16
//    standing for the whole run: the parser then handles one character where it
//    would handle dozens, which is most of its time on Japanese text;
//  - a control byte, or a byte of a run past the placeholders' capacity, becomes
//    U+F700 + byte.
// A run never holds a byte below 0x40, and every HTML delimiter lies there, so the
// parser sees the markup a browser sees and a run's bytes are safe to write raw.
constexpr char32_t kByteBase = 0xF700;
constexpr char32_t kPlane15 = 0xF0000;
constexpr char32_t kPlane16 = 0x100000;
constexpr std::size_t kPerPlane = 0xFFFE;  // U+xFFFE and U+xFFFF are noncharacters
constexpr std::size_t kRunCapacity = 2 * kPerPlane;

bool is_carried(char32_t c) {
    return (c >= 0x7F && c <= 0xFF) || (c >= 0x01 && c <= 0x08) || c == 0x0B ||
           (c >= 0x0E && c <= 0x1F);
}

char* put_utf8(char* w, char32_t cp) {
    if (cp < 0x10000) {
        *w++ = static_cast<char>(0xE0 | (cp >> 12));
    } else {
        *w++ = static_cast<char>(0xF0 | (cp >> 18));
        *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    }
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    return w;
}

// One code point of the parser's (valid) UTF-8; never reads past end.
char32_t next_code_point(const unsigned char*& p, const unsigned char* end) {
    const unsigned char c = *p++;
    if (c < 0x80) return c;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    char32_t cp = c & (0x3F >> more);
    for (; more > 0 && p < end; --more) cp = (cp << 6) | (*p++ & 0x3F);
    return cp;
}

// Where the digits of a numeric character reference starting at html[amp] end,
// if its value falls in one of the ranges above; otherwise 0.
std::size_t disguised_reference_end(std::string_view html, std::size_t amp, bool& hex) {
    std::size_t i = amp + 1;
    if (i >= html.size() || html[i] != '#') return 0;
    ++i;
    hex = i < html.size() && (html[i] == 'x' || html[i] == 'X');
    if (hex) ++i;
    const std::size_t digits = i;
    std::uint32_t value = 0;
    for (; i < html.size(); ++i) {
        const char c = html[i];
        std::uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            digit = static_cast<std::uint32_t>((c | 0x20) - 'a' + 10);
        } else {
            break;
        }
        value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + digit, 0x110000);
    }
    if (i == digits) return 0;
    const bool ours = (value >= kByteBase && value <= kByteBase + 0xFF) ||
                      (value >= kPlane15 && value <= 0x10FFFF);
    return ours ? i : 0;
}

// The text as the parser reads it, and the way back to its bytes.
class ParserInput {
public:
    explicit ParserInput(std::string_view html)
        : buffer_(std::make_unique_for_overwrite<char[]>(html.size() * 4 + 1)) {
        char* w = buffer_.get();
        std::size_t i = 0;
        while (i < html.size()) {
            const auto c = static_cast<unsigned char>(html[i]);
            bool hex = false;
            std::size_t digits_end = 0;
            if (c == '&' && (digits_end = disguised_reference_end(html, i, hex)) != 0) {
                // A user's reference to one of those code points becomes one to
                // U+FFFD, so that every one the parse gives back is really ours.
                const std::string_view replacement = hex ? "&#xFFFD" : "&#65533";
                w = std::copy(replacement.begin(), replacement.end(), w);
                i = digits_end;
            } else if (c < 0x80) {
                if (is_carried(c)) {
                    w = put_utf8(w, kByteBase + c);
                } else {
                    *w++ = html[i];
                }
                ++i;
            } else {
                i = put_run(html, i, w);
            }
        }
        size_ = static_cast<std::size_t>(w - buffer_.get());
    }

    const char* data() const { return buffer_.get(); }
    std::size_t size() const { return size_; }

    // The bytes a code point of the parse result stands for, or empty when it is
    // none of ours.
    std::string_view bytes_of(char32_t cp) const {
        if (cp >= kByteBase && cp <= kByteBase + 0xFF && is_carried(cp - kByteBase)) {
            return single_byte(static_cast<unsigned char>(cp - kByteBase));
        }
        std::size_t k;
        if (cp >= kPlane15 && cp < kPlane15 + kPerPlane) {
            k = cp - kPlane15;
        } else if (cp >= kPlane16 && cp < kPlane16 + kPerPlane) {
            k = kPerPlane + (cp - kPlane16);
        } else {
            return {};
        }
        return k < runs_.size() ? runs_[k] : std::string_view{};
    }

private:
    // The run of Shift_JIS text starting at html[i], grouped as a browser's decoder
    // groups it (a lead byte never takes a byte below 0x40 as its second); returns
    // where it ends.
    std::size_t put_run(std::string_view html, std::size_t i, char*& w) {
        std::size_t end = i;
        while (end < html.size() && static_cast<unsigned char>(html[end]) >= 0x80) {
            const bool pair = is_lead_byte(html[end]) && end + 1 < html.size() &&
                              static_cast<unsigned char>(html[end + 1]) >= 0x40;
            end += pair ? 2 : 1;
        }
        if (runs_.size() < kRunCapacity) {
            const std::size_t k = runs_.size();
            runs_.push_back(html.substr(i, end - i));
            w = put_utf8(w, k < kPerPlane ? kPlane15 + k : kPlane16 + (k - kPerPlane));
            return end;
        }
        for (; i < end; ++i) {
            const auto b = static_cast<unsigned char>(html[i]);
            if (b >= 0x80) {
                w = put_utf8(w, kByteBase + b);
            } else {
                *w++ = html[i];
            }
        }
        return end;
    }

    static std::string_view single_byte(unsigned char b) {
        static const std::array<char, 256> every_byte = [] {
            std::array<char, 256> bytes{};
            for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i);
            return bytes;
        }();
        return {&every_byte[b], 1};
    }

    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0;
    std::vector<std::string_view> runs_;  // the bytes of run k
};

// A non-ASCII code point for the page: the bytes it stands for, anything else
// (only from a character reference) as a numeric reference, since a Shift_JIS page
// cannot hold it.
void append_code_point(std::string& out, const ParserInput& input, char32_t cp) {
    const std::string_view bytes = input.bytes_of(cp);
    if (!bytes.empty()) {
        out += bytes;
        return;
    }
    char ref[16];
    const int n = std::snprintf(ref, sizeof ref, "&#%u;", static_cast<unsigned>(cp));
    out.append(ref, static_cast<std::size_t>(n));
}

// Decoded parser text, escaped for element content or for a double-quoted value.
void append_escaped(std::string& out, const ParserInput& input, const char* text, bool in_attribute) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + std::strlen(text);
    while (p < end) {
        if (*p >= 0x80) {
            append_code_point(out, input, next_code_point(p, end));
            continue;
        }
        const char c = static_cast<char>(*p++);
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += in_attribute ? "&quot;" : "\""; break;
            case '\'': out += in_attribute ? "&#39;" : "'"; break;
            case '\r': out += in_attribute ? "&#13;" : "\r"; break;
            case '\n': out += in_attribute ? "&#10;" : "\n"; break;
            default: out += c; break;
        }
    }
}

// Source text as it stood in the input (entities, CR and quotes untouched).
void append_original(std::string& out, const ParserInput& input, const GumboStringPiece& piece) {
    const auto* p = reinterpret_cast<const unsigned char*>(piece.data);
    const unsigned char* end = p + piece.length;
    while (p < end) {
        const unsigned char* ascii = p;
        while (p < end && *p < 0x80) ++p;
        out.append(reinterpret_cast<const char*>(ascii), static_cast<std::size_t>(p - ascii));
        if (p < end) append_code_point(out, input, next_code_point(p, end));
    }
}

// Whether a browser would take an HREF / SRC value for one of the allowed schemes
// or for a link without a scheme. Read the way its URL parser reads it: leading
// and trailing spaces and control characters stripped, tab, LF and CR ignored
// anywhere, the scheme compared without case.
bool is_allowed_url(const char* value) {
    std::string seen;  // ASCII as the browser will see it, any other character as 0x80
    const auto* p = reinterpret_cast<const unsigned char*>(value);
    const unsigned char* end = p + std::strlen(value);
    while (p < end) {
        char32_t cp = next_code_point(p, end);
        if (cp >= kByteBase && cp <= kByteBase + 0xFF && is_carried(cp - kByteBase)) cp -= kByteBase;
        if (cp == '\t' || cp == '\n' || cp == '\r') continue;
        seen += static_cast<char>(cp < 0x80 ? cp : 0x80);
    }
    const auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    std::size_t begin = 0;
    std::size_t stop = seen.size();
    while (begin < stop && is_blank(seen[begin])) ++begin;
    while (stop > begin && is_blank(seen[stop - 1])) --stop;

    const auto is_alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (begin == stop || !is_alpha(seen[begin])) return true;  // no scheme
    std::string scheme;
    for (std::size_t i = begin; i < stop; ++i) {
        const char c = seen[i];
        if (c == ':') {
            return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "mailto";
        }
        if (!is_alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return true;  // a character no scheme holds: a relative link
        }
        scheme += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return true;
}

enum class Treatment : unsigned char {
    drop_tags,      // the default: tags go, content stays
    drop_tags_raw,  // the same, but its content is raw text (never entity-decoded)
    keep,
    keep_void,
    drop_whole,
};

struct TagTable {
    std::array<Treatment, GUMBO_TAG_LAST + 1> treatment{};
    std::array<std::string, GUMBO_TAG_LAST + 1> name;  // upper case, kept tags only
};

const TagTable& tag_table() {
    static const TagTable table = [] {
        TagTable t;
        for (GumboTag tag :
             {GUMBO_TAG_A,      GUMBO_TAG_ABBR,    GUMBO_TAG_B,      GUMBO_TAG_BIG,
              GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_CAPTION, GUMBO_TAG_CENTER, GUMBO_TAG_CODE,
              GUMBO_TAG_DD,     GUMBO_TAG_DIV,     GUMBO_TAG_DL,     GUMBO_TAG_DT,
              GUMBO_TAG_EM,     GUMBO_TAG_FONT,    GUMBO_TAG_H1,     GUMBO_TAG_H2,
              GUMBO_TAG_H3,     GUMBO_TAG_H4,      GUMBO_TAG_H5,     GUMBO_TAG_H6,
              GUMBO_TAG_I,      GUMBO_TAG_LI,      GUMBO_TAG_OL,     GUMBO_TAG_P,
              GUMBO_TAG_PRE,    GUMBO_TAG_S,       GUMBO_TAG_SMALL,  GUMBO_TAG_SPAN,
              GUMBO_TAG_STRIKE, GUMBO_TAG_STRONG,  GUMBO_TAG_SUB,    GUMBO_TAG_SUP,
              GUMBO_TAG_TABLE,  GUMBO_TAG_TBODY,   GUMBO_TAG_TD,     GUMBO_TAG_TFOOT,
              GUMBO_TAG_TH,     GUMBO_TAG_THEAD,   GUMBO_TAG_TR,     GUMBO_TAG_TT,
              GUMBO_TAG_U,      GUMBO_TAG_UL}) {
            t.treatment[tag] = Treatment::keep;
        }
        for (GumboTag tag : {GUMBO_TAG_BR, GUMBO_TAG_HR, GUMBO_TAG_IMG}) {
            t.treatment[tag] = Treatment::keep_void;
        }
        for (GumboTag tag :
             {GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TEXTAREA, GUMBO_TAG_TITLE,
              GUMBO_TAG_IFRAME, GUMBO_TAG_OBJECT, GUMBO_TAG_EMBED, GUMBO_TAG_NOSCRIPT,
              GUMBO_TAG_TEMPLATE, GUMBO_TAG_SVG, GUMBO_TAG_MATH}) {
            t.treatment[tag] = Treatment::drop_whole;
        }
        for (GumboTag tag :
             {GUMBO_TAG_XMP, GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES, GUMBO_TAG_PLAINTEXT}) {
            t.treatment[tag] = Treatment::drop_tags_raw;
        }
        for (int tag = 0; tag < GUMBO_TAG_LAST; ++tag) {
            if (t.treatment[tag] != Treatment::keep && t.treatment[tag] != Treatment::keep_void) {
                continue;
            }
            for (const char* c = gumbo_normalized_tagname(static_cast<GumboTag>(tag)); *c; ++c) {
                t.name[tag] += static_cast<char>(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c);
            }
        }
        return t;
    }();
    return table;
}

struct KeptAttribute {
    std::string_view name;  // as the parser gives it: lower case
    std::string_view upper;
    GumboTag only_on;  // GUMBO_TAG_LAST: on any kept element
    bool is_url;
};

constexpr KeptAttribute kKeptAttributes[] = {
    {"align", "ALIGN", GUMBO_TAG_LAST, false},
    {"alt", "ALT", GUMBO_TAG_LAST, false},
    {"bgcolor", "BGCOLOR", GUMBO_TAG_LAST, false},
    {"border", "BORDER", GUMBO_TAG_LAST, false},
    {"cellpadding", "CELLPADDING", GUMBO_TAG_LAST, false},
    {"cellspacing", "CELLSPACING", GUMBO_TAG_LAST, false},
    {"color", "COLOR", GUMBO_TAG_LAST, false},
    {"colspan", "COLSPAN", GUMBO_TAG_LAST, false},
    {"face", "FACE", GUMBO_TAG_LAST, false},
    {"height", "HEIGHT", GUMBO_TAG_LAST, false},
    {"href", "HREF", GUMBO_TAG_A, true},
    {"nowrap", "NOWRAP", GUMBO_TAG_LAST, false},
    {"rowspan", "ROWSPAN", GUMBO_TAG_LAST, false},
    {"size", "SIZE", GUMBO_TAG_LAST, false},
    {"src", "SRC", GUMBO_TAG_IMG, true},
    {"target", "TARGET", GUMBO_TAG_A, false},
    {"title", "TITLE", GUMBO_TAG_LAST, false},
    {"valign", "VALIGN", GUMBO_TAG_LAST, false},
    {"width", "WIDTH", GUMBO_TAG_LAST, false},
};

const KeptAttribute* kept_attribute(GumboTag tag, std::string_view name) {
    for (const KeptAttribute& a : kKeptAttributes) {
        if (a.name == name) {
            return a.only_on == GUMBO_TAG_LAST || a.only_on == tag ? &a : nullptr;
        }
    }
    return nullptr;
}

void write_start_tag(std::string& out, const ParserInput& input, const GumboElement& element) {
    out += '<';
    out += tag_table().name[element.tag];
    for (unsigned i = 0; i < element.attributes.length; ++i) {
        const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
        const KeptAttribute* kept = kept_attribute(element.tag, attribute->name);
        if (kept == nullptr || (kept->is_url && !is_allowed_url(attribute->value))) continue;
        out += ' ';
        out += kept->upper;
        out += "=\"";
        append_escaped(out, input, attribute->value, true);
        out += '"';
    }
    out += '>';
}

void write_text(std::string& out, const ParserInput& input, const GumboText& text, bool raw) {
    // Where the source held no '<' its bytes mean what they meant; a text that held
    // one (a stray '<', markup the parser skipped, raw text) is written decoded.
    GumboStringPiece original = text.original_text;
    // The parser lets a text that opens with CR LF start at the LF.
    if (original.length > 0 && original.data > input.data() && original.data[0] == '\n' &&
        original.data[-1] == '\r') {
        --original.data;
        ++original.length;
    }
    if (!raw && original.length > 0 && std::memchr(original.data, '<', original.length) == nullptr) {
        append_original(out, input, original);
    } else {
        append_escaped(out, input, text.text, false);
    }
}

bool starts_with_line_feed(const GumboVector& children) {
    if (children.length == 0) return false;
    const auto* first = static_cast<const GumboNode*>(children.data[0]);
    return (first->type == GUMBO_NODE_TEXT || first->type == GUMBO_NODE_WHITESPACE) &&
           first->v.text.text[0] == '\n';
}

// Depth-first over the tree without recursion: nesting depth is up to the writer.
void write_children(std::string& out, const ParserInput& input, const GumboNode* root) {
    struct Open {
        const GumboNode* node;
        unsigned next;
        bool written;  // its tags are kept
        bool raw;
    };
    const TagTable& table = tag_table();
    std::vector<Open> open{{root, 0, false, false}};
    while (!open.empty()) {
        Open& top = open.back();
        const GumboElement& parent = top.node->v.element;
        if (top.next == parent.children.length) {
            if (top.written) {
                out += "</";
                out += table.name[parent.tag];
                out += '>';
            }
            open.pop_back();
            continue;
        }
        const bool raw = top.raw;
        const auto* child = static_cast<const GumboNode*>(parent.children.data[top.next++]);
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE) {
            write_text(out, input, child->v.text, raw);
            continue;
        }
        if (child->type != GUMBO_NODE_ELEMENT) continue;  // comments, CDATA, templates
        // What the parser builds for <ISINDEX> (a form with its prompt) no browser shows.
        if (child->parse_flags & GUMBO_INSERTION_FROM_ISINDEX) continue;

        const GumboElement& element = child->v.element;
        const Treatment treatment = element.tag_namespace == GUMBO_NAMESPACE_HTML
                                        ? table.treatment[element.tag]
                                        : Treatment::drop_whole;
        switch (treatment) {
            case Treatment::drop_whole:
                break;
            case Treatment::keep_void:
                write_start_tag(out, input, element);
                break;
            case Treatment::keep:
                write_start_tag(out, input, element);
                // A browser drops one line feed right after <PRE>; give it one to drop.
                if (element.tag == GUMBO_TAG_PRE && starts_with_line_feed(element.children)) {
                    out += '\n';
                }
                open.push_back({child, 0, true, false});
                break;
            case Treatment::drop_tags:
            case Treatment::drop_tags_raw:
                open.push_back({child, 0, false, treatment == Treatment::drop_tags_raw});
                break;
        }
    }
}

struct ParseDeleter {
    const GumboOptions* options;
    void operator()(GumboOutput* output) const { gumbo_destroy_output(options, output); }
};

}  // namespace

std::string sanitize_html(std::string_view html) {
    // Without a '<' there is no markup, and the text is already safe as element content.
    if (html.find('<') == std::string_view::npos) return std::string(html);

    const ParserInput input(html);
    GumboOptions options = kGumboDefaultOptions;
    options.fragment_context = GUMBO_TAG_BODY;
    options.max_errors = 0;  // nobody reads them; recording them costs time
    const std::unique_ptr<GumboOutput, ParseDeleter> parsed(
        gumbo_parse_with_options(&options, input.data(), input.size()), ParseDeleter{&options});

    std::string out;
    out.reserve(html.size() + html.size() / 8);
    if (parsed != nullptr && parsed->root != nullptr) write_children(out, input, parsed->root);
    return out;
}
