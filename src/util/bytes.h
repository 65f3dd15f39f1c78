// Byte-level rules shared by every routine that walks stored text.
#pragma once

#include <cstddef>
#include <memory>

// Texts are Shift_JIS. A byte from 0x7F to 0xA0 or from 0xE0 to 0xFF starts a
// two-byte character whose second byte is never examined as a delimiter.
// (Wider than the standard's lead-byte ranges on purpose: stored data relies on it.)
inline bool is_lead_byte(unsigned char c) {
    return (c >= 0x7F && c <= 0xA0) || c >= 0xE0;
}
inline bool is_lead_byte(char c) { return is_lead_byte(static_cast<unsigned char>(c)); }

// The one bounded copy into a fixed-width field: copies at most width - 1 bytes
// of src and always terminates. A null src gives an empty field.
void copy_field(char* dst, std::size_t width, const char* src);

// A buffer of size bytes (at least 1) holding "". Its bytes are not cleared:
// a process started per request then touches only the memory a text fills.
inline std::unique_ptr<char[]> text_buffer(std::size_t size) {
    std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(size);
    buffer[0] = '\0';
    return buffer;
}

template <std::size_t N>
inline void copy_field(char (&dst)[N], const char* src) {
    copy_field(dst, N, src);
}
