#include "screens/page_output.h"

#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "config/message_table.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "screens/html_sanitizer.h"
#include "util/bytes.h"
#include "util/html_escape.h"
#include "util/text_helpers.h"

Safe text(const char* value) { return {html_text(value)}; }

Safe attr(const char* value) { return {html_attr(value)}; }

Safe url(const char* value) { return {html_attr(url_arg(value).c_str())}; }

Safe html(const char* value) { return {sanitize_html(value != nullptr ? value : "")}; }

Safe msg(int n) {
    if (n < 0 || n >= STRDEF_COUNT) return {};
    return {STRDEF.Message[n]};
}

Safe msg_js(int n) {
    if (n < 0 || n >= STRDEF_COUNT) return {};
    // An apostrophe doubles the length at most.
    char quoted[2 * STRDEF_WIDTH];
    copy_field(quoted, STRDEF.Message[n]);
    G_ApostropheAddYen(quoted, sizeof quoted);
    return {quoted};
}

Safe js(const char* value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    if (value == nullptr) return {out};
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p != 0; ++p) {
        // A whole two-byte character goes as it is: its second byte may be
        // 0x5C, which is no backslash once the page is decoded. A lead byte
        // without a valid second byte stands alone, so the byte after it is
        // escaped like any other.
        if (is_lead_byte(*p) && p[1] >= 0x40 && p[1] <= 0xFC && p[1] != 0x7F) {
            out += static_cast<char>(p[0]);
            out += static_cast<char>(p[1]);
            ++p;
            continue;
        }
        const bool plain = *p >= 0x20 && *p != '\\' && *p != '"' && *p != '\'' && *p != '<' &&
                           *p != '>' && *p != '&';
        if (plain) {
            out += static_cast<char>(*p);
        } else {
            out += "\\x";
            out += hex[*p >> 4];
            out += hex[*p & 0x0F];
        }
    }
    return {out};
}

Safe exe() { return attr(JOB_EXE); }

Safe lit(const char* literal) { return {literal}; }

Safe raw(const char* value) { return {value != nullptr ? value : ""}; }

void session_fields(const char* job) {
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"%s\">\n", attr(cgi_SKEY1));
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"%s\">\n", attr(cgi_SKEY2));
    emit("<INPUT TYPE=\"hidden\" name=\"uid\" value=\"%s\">\n", attr(cgi_uid));
    emit("<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"%s\">\n", attr(job));
    emit("<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"%d\">\n", cgi_FOLDER_NO);
}

void open_frame_page(const char* picture, int frame) {
    if (picture == nullptr || picture[0] == '\0') {
        G_header_printf("");
        return;
    }
    const Safe body =
        compose("<BODY BACKGROUND=\"%s?JOB=BG%d_DL&SKEY1=%s&SKEY2=%s&uid=%s&FOLDER_NO=%d\" >\n", exe(),
                frame, url(cgi_SKEY1), url(cgi_SKEY2), url(G_USER_MST.USER_ID), cgi_FOLDER_NO);
    G_header_printf(body.html.c_str());
}

namespace page_format_detail {

namespace {
std::string* capture = nullptr;
}

void begin_capture(std::string* into) { capture = into; }
void end_capture() { capture = nullptr; }

void put_text(const char* text, std::size_t size) {
    if (size == 0) return;
    if (capture != nullptr) {
        capture->append(text, size);
        return;
    }
#if defined(__GLIBC__)
    // A page is thousands of small pieces, and fwrite's own work per call was
    // a third of a long page's instructions. A piece that fits goes straight
    // into the stream's buffer, as glibc's putc_unlocked does; a line-buffered
    // or unbuffered stream has no room there, so it always takes fwrite.
    FILE* out = stdout;
    if (out->_IO_write_end - out->_IO_write_ptr >= static_cast<std::ptrdiff_t>(size)) {
        std::memcpy(out->_IO_write_ptr, text, size);
        out->_IO_write_ptr += size;
        return;
    }
#endif
    // One process prints one page: nothing else writes to stdout meanwhile.
    fwrite_unlocked(text, 1, size, stdout);
}

void put(const Safe& value) { put_text(value.html.data(), value.html.size()); }

void put(long long value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    put_text(digits, static_cast<std::size_t>(end - digits));
}

}  // namespace page_format_detail
