// The sanitizer over any text: what it writes, parsed again the way a browser
// parses a Shift_JIS page, holds only elements and attributes of its own
// allow-list, no link with a refused scheme and no comment; and sanitizing it
// again changes nothing.
#include <gumbo.h>

#include <algorithm>
#include <vector>

#include "fuzz_input.h"
#include "screens/html_sanitizer.h"

namespace {

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return u;
}

// Bytes outside printable ASCII as \xNN, for the report.
std::string printable(const std::string& s) {
    std::string p;
    for (const char c : s) {
        char hex[8];
        const auto b = static_cast<unsigned char>(c);
        std::snprintf(hex, sizeof hex, b >= 0x20 && b < 0x7F ? "%c" : "\\x%02X", b);
        p += hex;
    }
    return p;
}

// The page as a browser's Shift_JIS decoder hands it to the HTML parser, with
// every non-ASCII character made one and the same UTF-8 character.
std::string as_browser_reads(const std::string& page) {
    std::string utf8;
    for (std::size_t i = 0; i < page.size(); ++i) {
        const auto b = static_cast<unsigned char>(page[i]);
        if (b < 0x80) {
            utf8 += page[i];
            continue;
        }
        const auto next = i + 1 < page.size() ? static_cast<unsigned char>(page[i + 1]) : 0;
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        if (lead && ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC))) ++i;
        utf8 += "\xE3\x81\x82";
    }
    return utf8;
}

// A scheme the browser would follow that is none of http, https, ftp, mailto.
bool refused_scheme(const char* value) {
    std::string v;
    for (const char* p = value; *p != '\0'; ++p) {
        if (*p != '\t' && *p != '\n' && *p != '\r') v += *p;
    }
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!v.empty() && blank(v.back())) v.pop_back();
    const std::size_t begin = std::find_if_not(v.begin(), v.end(), blank) - v.begin();
    const auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (begin == v.size() || !alpha(v[begin])) return false;
    std::size_t i = begin;
    while (i < v.size() && (alpha(v[i]) || (v[i] >= '0' && v[i] <= '9') || v[i] == '+' || v[i] == '-' || v[i] == '.')) ++i;
    if (i == v.size() || v[i] != ':') return false;
    const std::string scheme = upper(std::string_view(v).substr(begin, i - begin));
    return scheme != "HTTP" && scheme != "HTTPS" && scheme != "FTP" && scheme != "MAILTO";
}

void check_element(const GumboElement& e) {
    FUZZ_CHECK(e.tag_namespace == GUMBO_NAMESPACE_HTML);
    const std::string name = e.tag == GUMBO_TAG_UNKNOWN
                                 ? upper(std::string_view(e.original_tag.data, e.original_tag.length))
                                 : upper(gumbo_normalized_tagname(e.tag));
    const auto elements = sanitizer_kept_elements();
    if (std::find(elements.begin(), elements.end(), name) == elements.end()) {
        std::fprintf(stderr, "element not on the allow-list: %s\n", name.c_str());
        std::abort();
    }
    const auto attributes = sanitizer_kept_attributes();
    for (unsigned i = 0; i < e.attributes.length; ++i) {
        const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
        const std::string attribute = upper(a->name);
        const auto kept = std::find_if(attributes.begin(), attributes.end(),
                                       [&](const SanitizerAttribute& k) { return k.name == attribute; });
        if (kept == attributes.end() || (!kept->only_on.empty() && kept->only_on != name) ||
            (kept->is_url && refused_scheme(a->value))) {
            std::fprintf(stderr, "attribute not allowed: %s %s=\"%s\"\n", name.c_str(), attribute.c_str(), a->value);
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string html(reinterpret_cast<const char*>(data), size);
    const std::string out = sanitize_html(html);

    const std::string page = as_browser_reads(out);
    GumboOptions options = kGumboDefaultOptions;
    options.fragment_context = GUMBO_TAG_BODY;
    options.max_errors = 0;
    GumboOutput* parsed = gumbo_parse_with_options(&options, page.data(), page.size());
    std::vector<const GumboNode*> pending;
    const GumboVector& top = parsed->root->v.element.children;
    for (unsigned i = 0; i < top.length; ++i) pending.push_back(static_cast<const GumboNode*>(top.data[i]));
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        FUZZ_CHECK(node->type != GUMBO_NODE_COMMENT && node->type != GUMBO_NODE_CDATA);
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) continue;
        check_element(node->v.element);
        const GumboVector& children = node->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) pending.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
    gumbo_destroy_output(&options, parsed);

    const std::string again = sanitize_html(out);
    if (again != out) {
        std::fprintf(stderr, "not idempotent:\n%s\n%s\n", printable(out).c_str(), printable(again).c_str());
        std::abort();
    }
    return 0;
}
