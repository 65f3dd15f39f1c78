// Escaping for every text that comes from a user or a data file, at the point
// where it is printed. A null pointer gives an empty result.
//
// All three work byte by byte, deliberately ignoring two-byte characters: a
// Shift_JIS second byte is never below 0x40, so none of the escaped bytes can be
// the second half of a valid character, while a two-byte-aware walk would let a
// malformed lead byte swallow a following '<' or quote.
#pragma once

#include <string>

// Element content: & < > " ' become &amp; &lt; &gt; &quot; &#39;.
std::string html_text(const char* in);

// An attribute value, safe inside single or double quotes: the same set as
// html_text, and CR / LF as &#13; / &#10; so a value keeps its line breaks
// without breaking the tag.
std::string html_attr(const char* in);

// A value inside a query string: every byte except A-Z a-z 0-9 - _ . ~ is
// written as %XX (upper-case hex); a space is %20.
std::string url_arg(const char* in);
