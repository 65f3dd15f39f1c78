// The comma-separated lines of the master files: fields cut into fixed-width
// buffers, a built line read back field for field, the CSV field reader, the
// file-name split and the two-byte-aware search.
#include <vector>

#include "fuzz_input.h"
#include "store/line_file_engine.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

namespace {

std::size_t char_len(const char* p) { return is_lead_byte(p[0]) && p[1] != '\0' ? 2 : 1; }

// The search as its contract words it, one character start after the other.
int find_reference(const char* text, const char* keyword) {
    if (*text == '\0' || *keyword == '\0') return -1;
    for (std::size_t i = 0; text[i] != '\0'; i += char_len(text + i)) {
        std::size_t j = 0;
        while (keyword[j] != '\0') {
            const std::size_t n = char_len(keyword + j);
            if (char_len(text + i + j) != n || std::memcmp(text + i + j, keyword + j, n) != 0) break;
            j += n;
        }
        if (keyword[j] == '\0') return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts(1);
    for (char c : s) {
        if (c == sep) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::size_t width = 1 + in.byte() % 48;
    const std::size_t other_width = 1 + in.byte() % 48;
    const std::size_t keyword_length = in.byte() % 8;
    const std::size_t keyword_at = in.byte();
    std::string line = in.rest();
    line = line.substr(0, line.find('\0'));
    const char* text = line.c_str();

    // Fields of a stored line, each into a buffer of its own width.
    {
        LineFields fields(text);
        for (std::size_t k = 0;; ++k) {
            const std::size_t w = k % 2 ? width : other_width;
            ExactBuffer field(w);
            if (!fields.text(field.data, w)) break;
            FUZZ_CHECK(std::strlen(field.data) < w);
            long number = 0;
            if (k % 3 == 2 && !fields.number(number)) break;
        }
        ExactBuffer rest(width);
        fields.rest(rest.data, width);
        FUZZ_CHECK(std::strlen(rest.data) < width);
    }
    // A line built from fields (split at 0x1F) gives the same fields back.
    {
        const std::vector<std::string> parts = split(line, '\x1f');
        LineBuilder builder;
        for (std::size_t k = 0; k + 1 < parts.size(); ++k) builder.text(parts[k].c_str());
        builder.rest(parts.back().c_str());
        const std::string built = builder.line();
        LineFields fields(built.c_str());
        for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
            ExactBuffer field(built.size() + 1);
            FUZZ_CHECK(fields.text(field.data, field.size));
            FUZZ_CHECK(csv_field_text(parts[k].c_str()) == field.data);
        }
        std::string expected = parts.back();
        for (char& c : expected) {
            if (c == '\r' || c == '\n') c = ' ';
        }
        ExactBuffer rest(built.size() + 1);
        fields.rest(rest.data, rest.size);
        FUZZ_CHECK(expected == rest.data);
    }
    // The CSV field reader, cut to width or with room for the whole line.
    {
        ExactBuffer field(width);
        const int stop = G_StrGetCSV(text, field.data, width);
        FUZZ_CHECK(stop >= 0 && static_cast<std::size_t>(stop) <= line.size());
        FUZZ_CHECK(std::strlen(field.data) < width);
        ExactBuffer whole(line.size() + 1);
        FUZZ_CHECK(G_StrGetCSV(text, whole.data) == stop);
        FUZZ_CHECK(std::strncmp(whole.data, field.data, std::strlen(field.data)) == 0);
    }
    {
        ExactBuffer name(width);
        ExactBuffer rest(other_width);
        G_cut_filename(text, name.data, width, rest.data, other_width);
        FUZZ_CHECK(std::strlen(name.data) < width && std::strlen(rest.data) < other_width);
        ExactBuffer name_whole(line.size() + 1);
        ExactBuffer rest_whole(line.size() + 1);
        G_cut_filename(text, name_whole.data, rest_whole.data);
    }
    // The search against its definition, with a keyword taken from the line.
    const std::string keyword = line.substr(keyword_at * line.size() / 256, keyword_length);
    FUZZ_CHECK(G_StrFind(text, keyword.c_str()) == find_reference(text, keyword.c_str()));
    return 0;
}
