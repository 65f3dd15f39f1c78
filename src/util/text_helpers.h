// Text helpers shared by the data store and the screens. Texts are
// NUL-terminated Shift_JIS; every helper steps over two-byte characters
// (is_lead_byte) as units unless its comment says it works byte by byte.
// A lead byte directly before the terminator counts as a one-byte character,
// so no helper ever reads past the end of a text.
//
// In-place transformations build their result in a scratch buffer and copy it
// back. The caller's buffer is taken to hold INPLACE_TEXT_SIZE bytes (the
// shared body buffer) unless its real size is passed; at most size - 1 bytes
// plus the terminator are written back. A result that would not fit is cut
// before the first piece (character, tag, entity) that does not fit, so a cut
// never splits a character or markup. If the scratch buffer cannot be
// obtained the text is left unchanged.
#pragma once

#include <cstddef>

constexpr std::size_t INPLACE_TEXT_SIZE = 104000;
// Enough for any long with thousands separators and a sign.
constexpr std::size_t KETADORI_TEXT_SIZE = 27;
// The working size of a CSV-quoted field.
constexpr std::size_t CSV_FIELD_SIZE = 4000;

// Byte offset of the first occurrence of keyword, or -1 (also for an empty text
// or keyword). A match starts only where a character starts, and covers whole
// characters of the text.
int G_StrFind(const char* in_buff, const char* keyword);

// Copies the first CSV field of a line into out_buff (quotes removed, doubled
// quotes made single) and returns the offset of the byte that ended it; the
// next field starts one further on. The two-argument form needs room for the
// whole line; the other cuts the field to out_size - 1 bytes.
int G_StrGetCSV(const char* in_buff, char* out_buff);
int G_StrGetCSV(const char* in_buff, char* out_buff, std::size_t out_size);

// Cuts the text to at most in_size - 1 bytes without splitting a character.
void G_setStrlength(char* in_buff, std::size_t in_size);

// Copies the URL that starts the text, up to its first end, space, CR, LF, ',',
// '<', '>' or two-byte character. The two-argument form needs room for the
// whole text; the other cuts the URL to url_size - 1 bytes.
void G_get_url(const char* in_data, char* url);
void G_get_url(const char* in_data, char* url, std::size_t url_size);

// Turns http(s):// URLs and mailto: addresses into anchors (HTTP and http only,
// no mixed case). URLs go behind the jump prefix cgi_name; in_target, when not
// empty, becomes the TARGET. Existing <A HREF ...</A> and <IMG ...> are left
// alone. A double quote inside an attribute value is written as &quot; so a
// URL can never close the attribute.
void G_Add_a_href(char* in_data, const char* in_target, const char* cgi_name,
                  std::size_t in_size = INPLACE_TEXT_SIZE);

// Wraps every occurrence of token outside tags in <B></B>. Works byte by byte,
// except that a match never starts on the second byte of a two-byte character;
// case-sensitive; an empty token (or one holding '<') changes nothing.
void G_Add_Bold(char* data, const char* token, std::size_t in_size = INPLACE_TEXT_SIZE);

// CR becomes "<BR>\n", LF is dropped. Stops once the result passes 99999 bytes.
void G_CrLf_to_BR(char* in, std::size_t in_size = INPLACE_TEXT_SIZE);

// Drops every LF.
void G_CrLf_to_Cr(char* in);

// Replaces each "<BR>" by a single CR.
void G_BR_to_CrLf(char* in);

// The message page's body conversion: leaves the text as it is.
void G_HtmlConvert(char* in);

// Escapes " & < > as &quot; &amp; &lt; &gt; (two-byte characters copied whole).
void G_HtmlConvert2(char* in, std::size_t in_size = INPLACE_TEXT_SIZE);

// Quotes a body for a reply: every line, empty or not, begins with '>' and
// ends with CR alone.
void G_Add_Res(char* in, std::size_t in_size = INPLACE_TEXT_SIZE);

// Encloses each run of quoted lines (first character '>') in
// <FONT COLOR="#color"> ... </FONT>; color is six hex digits without '#'.
void G_Add_Blue(char* in, const char* color, std::size_t in_size = INPLACE_TEXT_SIZE);

// Keeps only what follows the last sep byte.
void G_cut_name(char* in, char sep);

// Splits "client path,rest" at its first comma: name gets the bare file name
// (after the last '/' or '\\' before the comma), rest what follows the comma.
// Without a comma, name is the bare name of the whole text and rest is empty.
// The three-argument form needs buffers as large as the input.
void G_cut_filename(const char* in, char* name, char* rest);
void G_cut_filename(const char* in, char* name, std::size_t name_size, char* rest,
                    std::size_t rest_size);

// Puts a backslash before every apostrophe (for a single-quoted JavaScript
// string). A message entry of the table is smaller than the default: pass its size.
void G_ApostropheAddYen(char* in, std::size_t in_size = INPLACE_TEXT_SIZE);

// Doubles every apostrophe, byte by byte.
void G_AddQuart(char* in, std::size_t in_size = INPLACE_TEXT_SIZE);

// a-z to A-Z.
void G_ToUppers(char* in);

// Rewrites a decimal number with thousands separators (1000 -> 1,000). A
// negative number keeps its sign in front of the grouped magnitude. The text
// stays unchanged if the result would not fit in in_size bytes.
void G_ketadori(char* in, std::size_t in_size = KETADORI_TEXT_SIZE);

// Removes trailing spaces.
void G_TrimRight(char* in);

// Removes a trailing run of CR and LF.
void G_CutCrLf(char* in);

// CSV-quotes one field in place: a field with a double quote is enclosed in
// quotes with inner quotes doubled, a field with a comma is enclosed, others
// stay as they are.
void G_org2csv(char* in, std::size_t in_size = CSV_FIELD_SIZE);
