#include "util/html_escape.h"

#include <cstring>

namespace {

// The entity of a byte that must not appear raw in HTML, or nullptr.
const char* entity_of(char c, bool escape_line_breaks) {
    switch (c) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        case '\'': return "&#39;";
        case '\r': return escape_line_breaks ? "&#13;" : nullptr;
        case '\n': return escape_line_breaks ? "&#10;" : nullptr;
        default: return nullptr;
    }
}

std::string escape(const char* in, bool escape_line_breaks) {
    std::string out;
    if (in == nullptr) return out;
    out.reserve(std::strlen(in));
    for (const char* p = in; *p != '\0'; ++p) {
        const char* entity = entity_of(*p, escape_line_breaks);
        if (entity != nullptr) {
            out += entity;
        } else {
            out += *p;
        }
    }
    return out;
}

bool is_unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '_' || c == '.' || c == '~';
}

}  // namespace

std::string html_text(const char* in) { return escape(in, false); }

std::string html_attr(const char* in) { return escape(in, true); }

std::string url_arg(const char* in) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    if (in == nullptr) return out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(in); *p != 0; ++p) {
        if (is_unreserved(*p)) {
            out += static_cast<char>(*p);
        } else {
            out += '%';
            out += hex[*p >> 4];
            out += hex[*p & 0x0F];
        }
    }
    return out;
}
