// Japanese character codes. Everything the board stores and prints is
// Shift_JIS; browsers may still send JIS (ISO-2022-JP) or EUC-JP, so request
// texts are classified by their bytes and converted in place.
#pragma once

#include <cstddef>

// 0 undecided (for example plain ASCII), 1 Shift_JIS, 2 JIS, 3 EUC-JP.
int whatKanjiCode(const char* strSrc);

// Converts a NUL-terminated JIS or EUC-JP text to Shift_JIS in place; Shift_JIS
// and undecided texts stay as they are.
void AutoConvertToShiftJis(char* strSrc);

// Convert the first nSrcLen bytes in place and terminate the result. The result
// is never longer than the input, so the buffer always has room.
void JisToShiftJisWithLen(char* lpszSrc, std::size_t nSrcLen);
void EucToShiftJisWithLen(char* lpszSrc, std::size_t nSrcLen);

// One JIS X 0208 pair (0x21-0x7E each) to its Shift_JIS pair, in place.
void jis2sjis(unsigned char* p1, unsigned char* p2);

// The other direction, for texts that leave the system. JIS output is longer
// than its input, so these take the size of the whole buffer: 0 converted (or
// nothing to convert), -1 the result would not fit (the text is left as it was).
int AutoConvertToJis(char* strSrc, std::size_t buff_size);
int ShiftJisToJisWithLen(char* lpszSrc, std::size_t nSrcLen, std::size_t buff_size);
