// How the screens print. A page is its fixed text, printed as written, with
// values put into it; every value is wrapped by the escaper of the place it
// goes to, and the format refuses at compile time any value that is not
// wrapped. So the safe print is the short call and an unescaped value stands
// out as raw() or msg() when the code is read:
//
//   emit("<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", lit("#FFFFFF"), text(name));
//   emit("<A HREF=\"%s?uid=%s&JOB=FRM223&SEL_NO=%d\">", exe(), url(cgi_uid), sel_no);
//
// In a format, %s takes a Safe, %d any integer, %% prints one '%'. Nothing
// else is allowed, and a mismatch of format and values does not compile.
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

// A piece of text that is fit to stand in the page where it is put.
struct Safe {
    std::string html;
};

// Element content (titles, names, ids, file names ...).
Safe text(const char* value);
// A value inside a quoted attribute (colours, sizes, prefilled values ...).
Safe attr(const char* value);
// A value inside the query string of a link or form address: escaped for the
// query, then for the attribute the address stands in.
Safe url(const char* value);
// A text meant as HTML (folder information, bodies): through the sanitizer.
Safe html(const char* value);
// A value inside a quoted JavaScript string of a SCRIPT element.
Safe js(const char* value);
// Message n of the message table: the program's own wording, printed as it is.
Safe msg(int n);
// Message n made fit for a single-quoted JavaScript string.
Safe msg_js(int n);
// This program's own address (JOB_EXE), for the start of links and form actions.
Safe exe();
// Literal text of the program itself (a fixed colour, a name of a frame).
Safe lit(const char* literal);
// A fixed-width field of a stored record as element text: up to its
// terminator, or its whole width when a damaged file left none.
template <std::size_t N>
std::string_view field_view(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return {field, n};
}
template <std::size_t N>
Safe field_text(const char (&field)[N]) {
    return text(std::string(field_view(field)).c_str());
}

// A value printed without escaping. Every use says why it is safe.
Safe raw(const char* value);

namespace page_format_detail {

template <class T>
concept Integer = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>;

template <class T>
constexpr char kind_of() {
    if constexpr (std::same_as<std::remove_cvref_t<T>, Safe>) {
        return 's';
    } else if constexpr (Integer<std::remove_cvref_t<T>>) {
        return 'd';
    } else {
        return '?';
    }
}

// Throwing in a constant evaluation is what makes a bad format fail to compile.
inline void format_mismatch(const char*) {}

template <class... Args>
consteval void check_format(std::string_view format) {
    constexpr char kinds[] = {kind_of<Args>()..., '\0'};
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        ++i;
        if (i == format.size()) throw "a format ends with a lone %";
        if (format[i] == '%') continue;
        if (format[i] != 's' && format[i] != 'd') throw "only %s, %d and %% are allowed";
        if (next >= sizeof...(Args)) throw "more conversions than values";
        if (kinds[next] != format[i]) throw "%s takes a Safe value, %d an integer";
        ++next;
    }
    if (next != sizeof...(Args)) throw "more values than conversions";
}

template <class... Args>
struct PageFormat {
    const char* text;
    std::size_t size;

    template <std::size_t N>
    consteval PageFormat(const char (&literal)[N]) : text(literal), size(N - 1) {
        check_format<Args...>(std::string_view(literal, N - 1));
    }
};

// Where the pieces go: standard output, or the text of a compose() while it runs.
void begin_capture(std::string* into);
void end_capture();

// Prints one value of the format.
void put(const Safe& value);
void put(long long value);
void put_text(const char* text, std::size_t size);

}  // namespace page_format_detail

// The five hidden fields that carry the session and the folder in a form:
// SKEY1, SKEY2, uid, JOB (job) and FOLDER_NO.
void session_fields(const char* job);

// Prints the format with its values, straight to standard output.
template <class... Args>
void emit(page_format_detail::PageFormat<std::type_identity_t<Args>...> format,
          const Args&... values) {
    using namespace page_format_detail;
    const char* cursor = format.text;
    const char* const end = format.text + format.size;
    // Prints the fixed text up to the next conversion and steps over it.
    auto next_piece = [&]() {
        for (;;) {
            const char* percent = static_cast<const char*>(
                __builtin_memchr(cursor, '%', static_cast<std::size_t>(end - cursor)));
            if (percent == nullptr) {
                put_text(cursor, static_cast<std::size_t>(end - cursor));
                cursor = end;
                return;
            }
            put_text(cursor, static_cast<std::size_t>(percent - cursor));
            cursor = percent + 2;  // the format check saw a character after every '%'
            if (percent[1] != '%') return;
            put_text("%", 1);
        }
    };
    [[maybe_unused]] auto one = [&](const auto& value) {
        next_piece();
        if constexpr (std::same_as<std::remove_cvref_t<decltype(value)>, Safe>) {
            put(value);
        } else {
            put(static_cast<long long>(value));
        }
    };
    (one(values), ...);
    if (cursor < end) next_piece();
}

// The same as emit, into a text: for a piece that is handed on as a whole
// (a body tag for the page frame).
template <class... Args>
Safe compose(page_format_detail::PageFormat<std::type_identity_t<Args>...> format,
             const Args&... values) {
    Safe result;
    page_format_detail::begin_capture(&result.html);
    emit<Args...>(format, values...);
    page_format_detail::end_capture();
    return result;
}

// Opens a frame's page: the standard body, or, when the folder has a
// background picture for the frame (1 header, 2 list, 3 detail), a body that
// loads it through this program.
void open_frame_page(const char* picture, int frame);
