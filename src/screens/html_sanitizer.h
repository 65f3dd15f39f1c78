// The sanitizer for HTML that users and folder administrators write (message
// bodies, a folder's information text) before it is printed into other users'
// pages: formatting survives, script never does.
//
// The text is parsed the way a browser parses it (Gumbo, an HTML5 parser, as the
// content of BODY) and written back from the tree, keeping only:
//  - elements A ABBR B BIG BLOCKQUOTE BR CAPTION CENTER CODE DD DIV DL DT EM FONT
//    H1-H6 HR I IMG LI OL P PRE S SMALL SPAN STRIKE STRONG SUB SUP TABLE TBODY TD
//    TFOOT TH THEAD TR TT U UL. SCRIPT STYLE TEXTAREA TITLE IFRAME OBJECT EMBED
//    NOSCRIPT TEMPLATE SVG MATH go with all their content; any other element
//    loses its tags and keeps its (sanitized) content; comments go.
//  - attributes ALIGN ALT BGCOLOR BORDER CELLPADDING CELLSPACING COLOR COLSPAN FACE
//    HEIGHT HREF (A) NOWRAP ROWSPAN SIZE SRC (IMG) TARGET (A) TITLE VALIGN WIDTH;
//    an HREF or SRC only with an http, https, ftp or mailto URL or one without a
//    scheme (the board's own links).
// Names come out in upper case, every attribute value in double quotes and
// escaped, text escaped where it held a '<'. Shift_JIS bytes come out as they
// went in; a text without any '<' comes back unchanged.
//
// What one text may cost is bounded, so that a short hostile text cannot stall
// every page that shows it:
//  - nesting: past a budget of parsing work (a scan sums the elements open
//    around each token) the rest of the text is written as plain text;
//  - memory and output: a parse that asks for more than 16 MB + 64 bytes per
//    input byte, or writes more than 8 times the input + 64 KB, is abandoned and
//    the whole text is written as plain text (html_text).
#pragma once

#include <span>
#include <string>
#include <string_view>

std::string sanitize_html(std::string_view html);

// The allow-list above, read-only, for checks that parse what the sanitizer
// wrote. Names in upper case; only_on names the one element an attribute is
// kept on (empty: any kept element); is_url marks HREF and SRC.
struct SanitizerAttribute {
    std::string_view name;
    std::string_view only_on;
    bool is_url;
};
std::span<const std::string_view> sanitizer_kept_elements();
std::span<const SanitizerAttribute> sanitizer_kept_attributes();
