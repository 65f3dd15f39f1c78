// The installed message file: both languages complete, Shift_JIS clean, and every text fit
// for the place where the board prints it. Reads the built wbbs.lng only, byte by byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Every message number the board prints, by screen family.
const std::set<int> kPrintedNumbers = {
    // page head, login and session errors, results of posting and one-line replies
    1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 19, 233, 234, 257, 258, 400, 431, 433, 450,
    // header frame
    100, 101, 102, 103, 229, 300, 434,
    // message list
    230, 300, 301, 302, 303, 304, 305, 306, 307, 308, 309, 310, 311, 312, 313, 314, 315,
    316, 317, 318, 319, 320, 321, 404, 405, 420, 446,
    // message frame
    219, 402, 403, 407, 412, 413, 414, 415, 416, 422, 424, 425, 426, 427, 428, 429, 452,
    454, 455, 456, 457,
    // compose form and the pages after a post
    226, 227, 401, 406, 408, 409, 410, 411, 417, 418, 419, 421, 423, 430, 432,
    // search
    435, 436, 437, 438, 439, 440, 441, 443, 451,
    // unread list
    447, 448, 449,
    // folder settings
    9, 21, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214, 215,
    216, 217, 218, 220, 221, 222, 223, 224, 225, 228, 231, 232, 235, 236, 444, 445,
    // moving a thread
    453,
};

// Printed inside JavaScript string literals ('...' or "..."); a quote or a backslash there
// breaks the page's script.
const std::set<int> kScriptNumbers = {101, 200, 234, 307, 309, 400, 420, 422,
                                      428, 433, 436, 448, 449, 453, 456, 457};

constexpr std::size_t kMaxTextBytes = 201;

struct Message {
    int number;
    std::string text;
};

struct Section {
    std::vector<Message> messages;
    std::vector<std::string> raw_lines;  // header included, as installed
    std::vector<std::string> malformed;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_sjis_lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Sections by name. Blank lines and '#' comments are skipped; any other line must be
// "NNN text", since the loader would silently misread a two-digit or tab-separated one.
std::map<std::string, Section> read_sections(std::string* error) {
    std::ifstream in(WBBS_LNG_PATH, std::ios::binary);
    if (!in) {
        *error = std::string("cannot open ") + WBBS_LNG_PATH;
        return {};
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    std::map<std::string, Section> sections;
    Section* current = nullptr;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(start, end - start);
        start = end + 1;

        if (!line.empty() && line[0] == '[') {
            const std::size_t close = line.find(']');
            current = &sections[line.substr(1, close == std::string::npos ? std::string::npos : close - 1)];
            current->raw_lines.push_back(line);
            continue;
        }
        if (current == nullptr) {
            if (!line.empty()) sections[""].malformed.push_back(line);
            continue;
        }
        current->raw_lines.push_back(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.size() >= 4 && is_digit(line[0]) && is_digit(line[1]) && is_digit(line[2]) &&
            line[3] == ' ' && line.substr(0, 3) != "000") {
            current->messages.push_back({std::stoi(line.substr(0, 3)), line.substr(4)});
        } else {
            current->malformed.push_back(line);
        }
    }
    return sections;
}

class MessageFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        sections_ = read_sections(&error);
        ASSERT_TRUE(error.empty()) << error;
        ASSERT_TRUE(sections_.count("English")) << "no [English] section";
        ASSERT_TRUE(sections_.count("Japanese")) << "no [Japanese] section";
    }

    std::map<std::string, Section> sections_;
};

TEST_F(MessageFile, BothLanguagesDefineEveryPrintedNumberOnce) {
    EXPECT_EQ(sections_.size(), 2u) << "only [English] and [Japanese] are expected";
    std::map<std::string, std::set<int>> numbers;
    for (const auto& [name, section] : sections_) {
        for (const std::string& line : section.malformed) ADD_FAILURE() << "[" << name << "] malformed line: " << line;
        for (const Message& m : section.messages) {
            EXPECT_TRUE(numbers[name].insert(m.number).second) << "[" << name << "] defines " << m.number << " twice";
        }
    }
    EXPECT_EQ(numbers["English"], numbers["Japanese"]);
    for (int n : kPrintedNumbers) {
        EXPECT_TRUE(numbers["English"].count(n)) << "message " << n << " missing";
    }
}

TEST_F(MessageFile, JapaneseIsShiftJisAndEnglishIsPlainAscii) {
    for (const std::string& line : sections_["Japanese"].raw_lines) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto b = static_cast<unsigned char>(line[i]);
            const bool ok_single = (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\r' || (b >= 0xA1 && b <= 0xDF);
            if (ok_single) continue;
            const bool ok_lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
            const auto t = i + 1 < line.size() ? static_cast<unsigned char>(line[i + 1]) : 0;
            const bool ok_trail = (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC);
            ASSERT_TRUE(ok_lead && ok_trail) << "byte " << i << " of the line starting " << line.substr(0, 3);
            ++i;
        }
    }
    for (const std::string& line : sections_["English"].raw_lines) {
        for (char c : line) ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "non-ASCII byte in: " << line;
    }
}

TEST_F(MessageFile, TextsFitTheTableAndStayOnOneLine) {
    for (const auto& [name, section] : sections_) {
        for (const Message& m : section.messages) {
            EXPECT_LE(m.text.size(), kMaxTextBytes) << "[" << name << "] " << m.number;
            EXPECT_FALSE(m.text.empty()) << "[" << name << "] " << m.number;
            EXPECT_EQ(m.text.find_first_of("\r\n"), std::string::npos) << "[" << name << "] " << m.number;
        }
    }
}

TEST_F(MessageFile, PageHeadDeclaresShiftJisAndATitle) {
    for (const auto& [name, section] : sections_) {
        for (const Message& m : section.messages) {
            if (m.number == 1) {
                EXPECT_NE(m.text.find("charset=Shift_JIS"), std::string::npos) << name;
                EXPECT_NE(m.text.find("<TITLE>"), std::string::npos) << name;
                EXPECT_NE(m.text.find("</TITLE>"), std::string::npos) << name;
            }
            if (m.number == 2) {
                // Printed inside <!-- -->: a "--" would end the comment early.
                EXPECT_EQ(m.text.find("--"), std::string::npos) << name;
            }
        }
    }
}

TEST_F(MessageFile, TextsInsideScriptsAndAttributesCannotEndThem) {
    for (const auto& [name, section] : sections_) {
        for (const Message& m : section.messages) {
            const bool in_script = kScriptNumbers.count(m.number) > 0;
            for (std::size_t i = 0; i < m.text.size(); ++i) {
                const auto b = static_cast<unsigned char>(m.text[i]);
                if (is_sjis_lead(b)) {
                    ++i;  // a trail byte may equal a quote or backslash; it is part of a character
                    continue;
                }
                // Captions go into VALUE="..." attributes; only the page head is raw HTML.
                if (m.number != 1) {
                    EXPECT_NE(b, '"') << "[" << name << "] " << m.number;
                }
                if (in_script) {
                    EXPECT_NE(b, '\'') << "[" << name << "] " << m.number;
                    EXPECT_NE(b, '\\') << "[" << name << "] " << m.number;
                }
            }
        }
    }
}

}  // namespace
