// JIS / EUC-JP / Shift_JIS conversion of any bytes, each in a buffer exactly
// as large as its contract allows.
#include <algorithm>

#include "cgi/kanji.h"
#include "fuzz_input.h"

namespace {

bool in_range(unsigned c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; }

// Bytes that JIS text gives a meaning of their own (escapes, shifts, form feed).
bool has_jis_controls(const std::string& s) {
    return s.find_first_of("\x1b\x0e\x0f\x0c") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::size_t extra = in.byte();   // room beyond the text for the JIS direction
    const std::uint8_t p1 = in.byte();
    const std::uint8_t p2 = in.byte();
    const std::string bytes = in.rest();                 // may hold NUL bytes
    const std::string text = bytes.substr(0, bytes.find('\0'));  // as a C text

    // A JIS X 0208 pair always maps to a valid Shift_JIS pair.
    unsigned char c1 = static_cast<unsigned char>(0x21 + p1 % 94);
    unsigned char c2 = static_cast<unsigned char>(0x21 + p2 % 94);
    jis2sjis(&c1, &c2);
    FUZZ_CHECK(in_range(c1, 0x81, 0x9F) || in_range(c1, 0xE0, 0xEF));
    FUZZ_CHECK(in_range(c2, 0x40, 0x7E) || in_range(c2, 0x80, 0xFC));

    {
        ExactBuffer buf(text.size() + 1, text);
        const int code = whatKanjiCode(buf.data);
        FUZZ_CHECK(code >= 0 && code <= 3);
        AutoConvertToShiftJis(buf.data);
        FUZZ_CHECK(std::strlen(buf.data) <= text.size());
    }
    // The WithLen forms read and write only the first n bytes: a buffer of
    // exactly n bytes, without a terminator, must do.
    for (void (*convert)(char*, std::size_t) : {JisToShiftJisWithLen, EucToShiftJisWithLen}) {
        ExactBuffer bare(bytes.size());
        std::copy(bytes.begin(), bytes.end(), bare.data);
        convert(bare.data, bare.size);
        ExactBuffer text_buf(text.size() + 1, text);
        convert(text_buf.data, text.size());
        FUZZ_CHECK(std::strlen(text_buf.data) <= text.size());
    }
    // Shift_JIS to JIS: either the result fits the buffer, terminated, or the
    // text stays as it was. What it wrote converts back to the same bytes.
    {
        ExactBuffer buf(text.size() + 1 + extra * 3 % 97, text);
        const int res = ShiftJisToJisWithLen(buf.data, text.size(), buf.size);
        FUZZ_CHECK(res == 0 || res == -1);
        FUZZ_CHECK(buf.terminated());
        if (res != 0) {
            FUZZ_CHECK(text == buf.data);
        } else if (!has_jis_controls(text) && !text.empty()) {
            JisToShiftJisWithLen(buf.data, std::strlen(buf.data));
            FUZZ_CHECK(text == buf.data);
        }
    }
    {
        ExactBuffer buf(text.size() + 1 + extra, text);
        const int res = AutoConvertToJis(buf.data, buf.size);
        FUZZ_CHECK(res == 0 || res == -1);
        FUZZ_CHECK(buf.terminated());
        if (res != 0) FUZZ_CHECK(text == buf.data);
    }
    return 0;
}
