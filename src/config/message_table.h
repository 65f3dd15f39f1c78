// The numbered user-visible messages of one language, loaded from wbbs.lng.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int STRDEF_COUNT = 1000;
constexpr int STRDEF_WIDTH = 202;

// Message n is STRDEF.Message[n]: at most STRDEF_WIDTH - 1 bytes, "" when the
// file does not define it. The texts are packed one after another instead of
// in 1000 fixed slots of 202 bytes: a request touches a few kilobytes rather
// than every slot's page, which is measurable in a process started per request.
class MessageTexts {
public:
    const char* operator[](long n) const {
        return n >= 0 && n < STRDEF_COUNT ? text_ + offset_[n] : text_;
    }
    // Sets message n (1..STRDEF_COUNT-1), cut to STRDEF_WIDTH - 1 bytes.
    void set(long n, const char* text);
    void clear();

private:
    void compact();

    // All members start as zero bytes, so the table lives in zeroed storage.
    // Offset 0 is the empty text (text_[0]) that unset entries point at; the
    // texts follow it, used_ bytes of them.
    uint32_t offset_[STRDEF_COUNT] = {};
    std::size_t used_ = 0;
    // Room for every entry at full width.
    char text_[1 + STRDEF_COUNT * STRDEF_WIDTH] = {};
};

struct STRDEF {
    MessageTexts Message;
};

extern struct STRDEF STRDEF;

// Empties the table, then loads the section "[language]". 0 when the file was
// read (whether or not the section exists), -1 when it could not be opened.
int StrdefFileOpen(const char* filename, const char* language);

// Lists the section names of the file, joined by commas, into language
// (language_size bytes). 0 read, -1 not opened.
int StrdefLanguageRes(const char* filename, char* language, std::size_t language_size);
