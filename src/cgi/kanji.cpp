#include "cgi/kanji.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned char ESC = 0x1B;
constexpr unsigned char SO = 0x0E;
constexpr unsigned char SI = 0x0F;
constexpr unsigned char FF = 0x0C;
constexpr unsigned char SS2 = 0x8E;  // EUC-JP single shift before a half-width katakana

enum class Mode { ascii, kanji, kana };

bool in_range(unsigned c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; }

// Collects output without ever writing past cap - 1 bytes, and counts what the
// whole output would need, so one routine both measures and converts.
struct Emitter {
    unsigned char* dst;
    std::size_t cap;
    std::size_t len = 0;
    void put(unsigned char c) {
        if (dst != nullptr && len + 1 < cap) dst[len] = c;
        ++len;
    }
    void escape(unsigned char a, unsigned char b) {
        put(ESC);
        put(a);
        put(b);
    }
};

bool sjis_lead(unsigned c) { return in_range(c, 0x81, 0x9F) || in_range(c, 0xE0, 0xEF); }
bool sjis_trail(unsigned c) { return in_range(c, 0x40, 0x7E) || in_range(c, 0x80, 0xFC); }

void sjis2jis(unsigned char& c1, unsigned char& c2) {
    int a = c1;
    int b = c2;
    int row = (a - (a < 0xA0 ? 0x70 : 0xB0)) * 2;
    if (b < 0x9F) {
        a = row - 1;
        b = b - (b >= 0x80 ? 0x20 : 0x1F);
    } else {
        a = row;
        b = b - 0x7E;
    }
    c1 = static_cast<unsigned char>(a);
    c2 = static_cast<unsigned char>(b);
}

// Shift_JIS to JIS: each run of double-byte characters between ESC $ B and
// ESC ( B, half-width katakana between ESC ( I and ESC ( B. Returns the length
// of the whole result (without terminator) even when dst has no room for it.
std::size_t sjis_to_jis(const unsigned char* src, std::size_t n, unsigned char* dst,
                        std::size_t cap) {
    Emitter out{dst, cap};
    Mode mode = Mode::ascii;
    auto enter = [&](Mode wanted) {
        if (mode == wanted) return;
        if (wanted == Mode::kanji) out.escape('$', 'B');
        if (wanted == Mode::kana) out.escape('(', 'I');
        if (wanted == Mode::ascii) out.escape('(', 'B');
        mode = wanted;
    };
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = src[i];
        if (sjis_lead(c) && i + 1 < n && sjis_trail(src[i + 1])) {
            unsigned char d = src[i + 1];
            enter(Mode::kanji);
            sjis2jis(c, d);
            out.put(c);
            out.put(d);
            i += 2;
        } else if (in_range(c, 0xA1, 0xDF)) {
            enter(Mode::kana);
            out.put(static_cast<unsigned char>(c & 0x7F));
            ++i;
        } else {
            enter(Mode::ascii);
            out.put(c);
            ++i;
        }
    }
    enter(Mode::ascii);
    return out.len;
}

// Writes a JIS conversion of src over dst, or leaves dst alone when it would not fit.
int store_as_jis(const unsigned char* src, std::size_t n, char* dst, std::size_t buff_size) {
    std::size_t need = sjis_to_jis(src, n, nullptr, 0);
    if (need + 1 > buff_size) return -1;
    sjis_to_jis(src, n, reinterpret_cast<unsigned char*>(dst), buff_size);
    dst[need] = '\0';
    return 0;
}

}  // namespace

int whatKanjiCode(const char* strSrc) {
    if (strSrc == nullptr) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(strSrc);
    const std::size_t n = std::strlen(strSrc);
    int result = 0;
    std::size_t k = 0;
    while (k < n) {
        unsigned c = s[k];
        if (c == ESC) {
            if (k + 1 >= n) break;
            unsigned c2 = s[k + 1];
            if (c2 == '$' || c2 == '(') {
                if (k + 2 >= n) break;
                unsigned c3 = s[k + 2];
                if (c2 == '$' && (c3 == '@' || c3 == 'B')) return 2;
                if (c2 == '(' && (c3 == 'B' || c3 == 'I' || c3 == 'J')) return 2;
                k += 3;
            } else {
                k += 2;
            }
            continue;
        }
        if (c == SO || c == SI) return 2;
        if (in_range(c, 0x81, 0x8D) || in_range(c, 0x8F, 0x9F)) return 1;
        if (c == SS2) {
            if (k + 1 >= n) break;
            unsigned d = s[k + 1];
            if (in_range(d, 0x40, 0xA0) || d >= 0xE0) return 1;
            result = 3;
            k += 2;
            continue;
        }
        if (c == 0xA0 || c == 0xFD || c == 0xFE) return 3;
        if (in_range(c, 0xA1, 0xFC)) {
            if (k + 1 >= n) break;
            if (!in_range(s[k + 1], 0xA1, 0xFE)) return 1;
            // Could still be two Shift_JIS half-width katakana; EUC-JP wins the tie.
            result = 3;
            k += 2;
            continue;
        }
        ++k;
    }
    return result;
}

void jis2sjis(unsigned char* p1, unsigned char* p2) {
    int c1 = *p1;
    int c2 = *p2;
    int first = ((c1 + 1) >> 1) + (c1 < 0x5F ? 0x70 : 0xB0);
    int second;
    if (c1 % 2 == 0) {
        second = c2 + 0x7E;
    } else {
        second = c2 < 0x60 ? c2 + 0x1F : c2 + 0x20;
    }
    *p1 = static_cast<unsigned char>(first);
    *p2 = static_cast<unsigned char>(second);
}

void JisToShiftJisWithLen(char* lpszSrc, std::size_t nSrcLen) {
    if (lpszSrc == nullptr || nSrcLen == 0) return;
    auto* s = reinterpret_cast<unsigned char*>(lpszSrc);
    // Every input unit yields at most as many bytes as it holds, so the output
    // never overtakes the input and the conversion can run in the same buffer.
    std::size_t in = 0;
    std::size_t out = 0;
    Mode mode = Mode::ascii;
    while (in < nSrcLen) {
        unsigned char c = s[in];
        if (c == ESC) {
            if (in + 1 >= nSrcLen || s[in + 1] == 0) break;
            unsigned char c2 = s[in + 1];
            if (c2 == '$' || c2 == '(') {
                if (in + 2 < nSrcLen) {
                    unsigned char c3 = s[in + 2];
                    Mode next = mode;
                    bool known = true;
                    if (c2 == '$' && (c3 == 'B' || c3 == '@')) {
                        next = Mode::kanji;
                    } else if (c2 == '(' && (c3 == 'B' || c3 == 'J')) {
                        next = Mode::ascii;
                    } else if (c2 == '(' && c3 == 'I') {
                        next = Mode::kana;
                    } else {
                        known = false;
                    }
                    if (known) {
                        mode = next;
                        in += 3;
                        continue;
                    }
                }
                in += 2;  // unknown designation: its third byte is ordinary input
                continue;
            }
            if (c2 == 'K') {
                mode = Mode::kanji;
                in += 2;
            } else if (c2 == 'H') {
                mode = Mode::ascii;
                in += 2;
            } else {
                in += 1;
            }
            continue;
        }
        if (c == SO || c == SI || c == FF) {
            ++in;
            continue;
        }
        if (mode == Mode::ascii) {
            s[out++] = c;
            ++in;
        } else if (mode == Mode::kana) {
            s[out++] = static_cast<unsigned char>(c | 0x80);
            ++in;
        } else {
            if (in + 1 >= nSrcLen) break;  // half a pair: dropped
            unsigned char c1 = c;
            unsigned char c2 = s[in + 1];
            jis2sjis(&c1, &c2);
            s[out++] = c1;
            s[out++] = c2;
            in += 2;
        }
    }
    if (out < nSrcLen) s[out] = '\0';
}

void EucToShiftJisWithLen(char* lpszSrc, std::size_t nSrcLen) {
    if (lpszSrc == nullptr || nSrcLen == 0) return;
    auto* s = reinterpret_cast<unsigned char*>(lpszSrc);
    std::size_t in = 0;
    std::size_t out = 0;
    while (in < nSrcLen) {
        unsigned char c = s[in];
        if (in_range(c, 0xA1, 0xFE) || c == SS2) {
            // A lead byte with nothing after it is dropped: left alone it would
            // swallow the terminator as its second byte in every later walk.
            if (in + 1 >= nSrcLen) break;
            unsigned char d = s[in + 1];
            if (c == SS2) {
                if (in_range(d, 0xA1, 0xDF)) {
                    s[out++] = d;
                } else {
                    s[out++] = c;
                    s[out++] = d;
                }
            } else if (in_range(d, 0xA1, 0xFE)) {
                unsigned char c1 = static_cast<unsigned char>(c - 0x80);
                unsigned char c2 = static_cast<unsigned char>(d - 0x80);
                jis2sjis(&c1, &c2);
                s[out++] = c1;
                s[out++] = c2;
            }
            in += 2;
            continue;
        }
        if (c != FF) s[out++] = c;
        ++in;
    }
    if (out < nSrcLen) s[out] = '\0';
}

void AutoConvertToShiftJis(char* strSrc) {
    if (strSrc == nullptr || strSrc[0] == '\0') return;
    switch (whatKanjiCode(strSrc)) {
        case 2:
            JisToShiftJisWithLen(strSrc, std::strlen(strSrc));
            break;
        case 3:
            EucToShiftJisWithLen(strSrc, std::strlen(strSrc));
            break;
        default:
            break;
    }
}

int ShiftJisToJisWithLen(char* lpszSrc, std::size_t nSrcLen, std::size_t buff_size) {
    if (lpszSrc == nullptr || nSrcLen == 0) return 0;
    auto* copy = static_cast<unsigned char*>(std::malloc(nSrcLen));
    if (copy == nullptr) return -1;
    std::memcpy(copy, lpszSrc, nSrcLen);
    int res = store_as_jis(copy, nSrcLen, lpszSrc, buff_size);
    std::free(copy);
    return res;
}

int AutoConvertToJis(char* strSrc, std::size_t buff_size) {
    if (strSrc == nullptr || strSrc[0] == '\0') return 0;
    const std::size_t n = std::strlen(strSrc);
    switch (whatKanjiCode(strSrc)) {
        case 1:
            return ShiftJisToJisWithLen(strSrc, n, buff_size);
        case 3: {
            // Through Shift_JIS, on a copy, so that a result that does not fit
            // leaves the caller's text untouched.
            auto* copy = static_cast<char*>(std::malloc(n + 1));
            if (copy == nullptr) return -1;
            std::memcpy(copy, strSrc, n + 1);
            EucToShiftJisWithLen(copy, n);
            int res = store_as_jis(reinterpret_cast<unsigned char*>(copy), std::strlen(copy),
                                   strSrc, buff_size);
            std::free(copy);
            return res;
        }
        default:
            return 0;
    }
}
