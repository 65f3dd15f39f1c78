// The text helpers with small buffers (sizes 1, 2, 3, ... chosen by the input):
// never a byte past the buffer, always terminated, and a cut result is the
// start of the uncut one, cut where a character ends.
#include <algorithm>
#include <functional>

#include "fuzz_input.h"
#include "util/bytes.h"
#include "util/html_escape.h"
#include "util/text_helpers.h"

namespace {

// How a helper's result may be cut when it does not fit.
enum class Cut {
    at_character,  // the start of the uncut result, ending where a character ends
    at_byte,       // the start of the uncut result (the helper works byte by byte)
    closed,        // a closing piece is always written: only the bounds are checked
    whole,         // all or nothing
};

struct Helper {
    std::function<void(char*, std::size_t)> run;
    Cut cut;
};

// Whether a character of s ends at `at` (a lead byte before the end stands alone).
bool is_char_boundary(const std::string& s, std::size_t at) {
    std::size_t i = 0;
    while (i < at) i += is_lead_byte(s[i]) && i + 1 < s.size() ? 2 : 1;
    return i == at;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::uint8_t choice = in.byte();
    const std::size_t small = 1 + in.byte() % 70;
    const std::string token = in.take(in.byte() % 6);
    std::string text = in.rest();
    text = text.substr(0, text.find('\0'));

    const bool target = choice & 0x80;
    const Helper helpers[] = {
        {[&](char* s, std::size_t n) {
             G_Add_a_href(s, target ? "_blank" : "", target ? "wbbs.cgi?JOB=JUMPLINK&URL=" : "", n);
         }, Cut::at_character},
        {[&](char* s, std::size_t n) { G_Add_Bold(s, token.c_str(), n); }, Cut::at_byte},
        {[](char* s, std::size_t n) { G_CrLf_to_BR(s, n); }, Cut::at_character},
        {[](char* s, std::size_t n) { G_HtmlConvert2(s, n); }, Cut::at_character},
        {[](char* s, std::size_t n) { G_Add_Res(s, n); }, Cut::at_character},
        {[](char* s, std::size_t n) { G_ApostropheAddYen(s, n); }, Cut::at_character},
        {[](char* s, std::size_t n) { G_AddQuart(s, n); }, Cut::at_byte},
        {[](char* s, std::size_t n) { G_Add_Blue(s, "FF0000", n); }, Cut::closed},
        {[](char* s, std::size_t n) { G_org2csv(s, n); }, Cut::closed},
        {[](char* s, std::size_t n) { G_ketadori(s, n); }, Cut::whole},
    };
    const Helper& helper = helpers[(choice & 0x7F) % std::size(helpers)];

    // The text as a caller holds it in a buffer of `small` bytes, and the same
    // text in a buffer where nothing is cut (no helper grows a text 32 times).
    const std::string held = text.substr(0, small - 1);
    ExactBuffer cut(small, held);
    helper.run(cut.data, small);
    FUZZ_CHECK(cut.terminated());
    ExactBuffer room(held.size() * 32 + 512, held);
    helper.run(room.data, room.size);
    const std::string whole = room.data;
    const std::string got = cut.data;
    switch (helper.cut) {
        case Cut::at_character:
            FUZZ_CHECK(is_char_boundary(whole, got.size()));
            [[fallthrough]];
        case Cut::at_byte:
            FUZZ_CHECK(whole.compare(0, got.size(), got) == 0);
            break;
        case Cut::closed:
            break;
        case Cut::whole:
            FUZZ_CHECK(got == whole || got == held);
            break;
    }

    // The helpers that only shrink a text, in a buffer of its own size.
    for (void (*shrink)(char*) : {G_CrLf_to_Cr, G_BR_to_CrLf, G_ToUppers, G_TrimRight, G_CutCrLf}) {
        ExactBuffer buf(text.size() + 1, text);
        shrink(buf.data);
        FUZZ_CHECK(std::strlen(buf.data) <= text.size());
    }
    {
        ExactBuffer buf(text.size() + 1, text);
        G_cut_name(buf.data, token.empty() ? '/' : token[0]);
        ExactBuffer url(small - 1);
        G_get_url(text.c_str(), url.data, url.size);
        FUZZ_CHECK(url.size == 0 || url.terminated());
    }
    {
        ExactBuffer buf(text.size() + 1, text);
        G_setStrlength(buf.data, small - 1);
        const std::string kept = buf.data;
        FUZZ_CHECK(kept.size() < std::max<std::size_t>(small - 1, 1));
        FUZZ_CHECK(text.compare(0, kept.size(), kept) == 0 && is_char_boundary(text, kept.size()));
    }
    // Escaped text never holds a byte that could end its element or attribute.
    FUZZ_CHECK(html_text(text.c_str()).find_first_of("<>\"'") == std::string::npos);
    FUZZ_CHECK(html_attr(text.c_str()).find_first_of("<>\"'\r\n") == std::string::npos);
    FUZZ_CHECK(url_arg(text.c_str()).find_first_not_of(
                   "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~%") == std::string::npos);
    return 0;
}
