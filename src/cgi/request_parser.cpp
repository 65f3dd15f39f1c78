#include "cgi/request_parser.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <initializer_list>

#include "cgi/kanji.h"
#include "config/sysinfo.h"
#include "store/file_primitives.h"
#include "util/bytes.h"

namespace cgi_parser {

// One pair per node; the node whose name is null ends the list.
struct _list {
    char* name;
    char* value;
    _list* next;
};

_list list;          // first node, static; later nodes are allocated
_list* cur = &list;  // node the next pair fills
unsigned long content_length;
unsigned long input_byte;  // body bytes the multipart reader has consumed

constexpr std::size_t databuff_size = 100002;
constexpr std::size_t value_limit = 100000;  // bytes of a text field collected
char g_databuff[databuff_size];   // value of a text field
char g_databuff2[databuff_size];  // name "=" value

long StrFind(const char* in_buff, const char* keyword);
void cgi_decode(char* in_data);
int cgi_setdata(const char* input_buffer, int mode);

namespace {

constexpr std::size_t header_text_size = 1000;
constexpr std::size_t path_size = 1100;  // data directory (1001) + "CGI" + a number
constexpr std::size_t max_delimiter = 99;
constexpr std::size_t hold_back = 2;     // the CR LF before a delimiter is not content

// ---- what one request may cost ----

// Bytes of names and values kept beyond max_length, so that a small
// configured limit still keeps the session and JOB fields of an oversize
// request (its screen has to reach the refusal).
constexpr std::size_t text_slack = 1024 * 1024;

// Past a bound (max_length, the text budget, cgi_max_uploads, cgi_max_pairs)
// the request is refused (-2) as a whole: pairs that do not fit and all later
// uploads are read and dropped, and the upload files it had stored already are
// removed. A refused request leaves no file behind, so a screen that refuses
// it has nothing to clean up.
struct Bounds {
    std::size_t text_budget;  // bytes of names and values that may be kept
    std::size_t text_bytes;   // bytes kept so far
    std::size_t pairs;
    std::size_t uploads;  // upload files tried
    bool refused;
};
Bounds g_bounds;

// The upload files this request created and wrote whole. All of them are
// upload_prefix ("<data directory>CGI") and a number, so cgi_is_upload looks
// past a path's first differing byte only when it has that prefix: the posting
// handler tries it at every comma of a value, and a value of commas must not
// cost its length for each of them.
std::vector<std::string> created_uploads;
std::string upload_prefix;

// Where the last cgi_getvalue hit stood: reading one name with count 0, 1,
// 2 ... goes on from there instead of walking the list from its start.
const _list* memo_node = nullptr;
int memo_count = 0;

void free_pairs() {
    created_uploads.clear();
    memo_node = nullptr;
    memo_count = 0;
    _list* node = &list;
    while (node != nullptr) {
        _list* next = node->next;
        std::free(node->name);
        std::free(node->value);
        if (node != &list) std::free(node);
        node = next;
    }
    list.name = nullptr;
    list.value = nullptr;
    list.next = nullptr;
    cur = &list;
}

char* copy_bytes(const char* src, std::size_t n) {
    auto* p = static_cast<char*>(std::malloc(n + 1));
    if (p == nullptr) return nullptr;
    std::memcpy(p, src, n);
    p[n] = '\0';
    return p;
}

int hex_digit(unsigned char c) { return c >= 'A' ? (c & 0xDF) - 'A' + 10 : c - '0'; }

// CGI/1.1 gives CONTENT_LENGTH as decimal digits only; anything else (or zero)
// is not a usable length.
bool parse_content_length(const char* text, unsigned long* out) {
    if (text == nullptr || *text == '\0') return false;
    unsigned long v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        unsigned long d = static_cast<unsigned long>(*p - '0');
        if (v > (ULONG_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    if (v == 0) return false;
    *out = v;
    return true;
}

// ---- body reader: fd 0 through one buffer, never past CONTENT_LENGTH ----

constexpr std::size_t input_chunk = 64 * 1024;
unsigned char g_inbuf[input_chunk];

struct InputState {
    std::size_t pos;
    std::size_t len;
    unsigned long taken;  // bytes read from fd 0
    bool ended;
};
InputState g_in;

bool refill() {
    if (g_in.ended || g_in.taken >= content_length) return false;
    unsigned long left = content_length - g_in.taken;
    std::size_t want = left < input_chunk ? static_cast<std::size_t>(left) : input_chunk;
    ssize_t n;
    do {
        n = read(0, g_inbuf, want);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        g_in.ended = true;
        return false;
    }
    g_in.taken += static_cast<unsigned long>(n);
    g_in.pos = 0;
    g_in.len = static_cast<std::size_t>(n);
    return true;
}

// Next body byte, or -1 when the body has ended.
int next_byte() {
    if (g_in.pos == g_in.len && !refill()) return -1;
    ++input_byte;
    return g_inbuf[g_in.pos++];
}

bool skip_line() {
    int c;
    do {
        c = next_byte();
    } while (c >= 0 && c != '\n');
    return c >= 0;
}

// Reads and drops up to n bytes of the body; how many there were.
unsigned long drain_input(unsigned long n) {
    unsigned long dropped = 0;
    while (dropped < n) {
        const unsigned long left = n - dropped;
        ssize_t got = read(0, g_inbuf, left < input_chunk ? static_cast<std::size_t>(left) : input_chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        dropped += static_cast<unsigned long>(got);
    }
    return dropped;
}

// ---- pairs within the bounds ----

void remove_upload(const char* path) {
    char os_path[path_size];
    copy_field(os_path, sizeof os_path, path);
    Cu_remove(os_path);
}

void refuse() {
    g_bounds.refused = true;
    for (const std::string& path : created_uploads) remove_upload(path.c_str());
    created_uploads.clear();
}

bool pair_fits(std::size_t text_length) {
    return g_bounds.pairs < cgi_max_pairs && text_length <= g_bounds.text_budget - g_bounds.text_bytes;
}

// Appends the pair of "name=value" when it fits, else refuses the request.
// false when it was not kept.
bool append_pair(const char* text, int mode) {
    const std::size_t length = std::strlen(text);
    if (!pair_fits(length)) {
        refuse();
        return false;
    }
    if (cgi_setdata(text, mode) != 0) return false;
    ++g_bounds.pairs;
    g_bounds.text_bytes += length;
    return true;
}

// ---- URL-encoded input ----

// cut: the text stops inside the body, so its last piece may be the head of
// a longer pair; it is left out rather than kept with a shortened value.
void parse_urlencoded(char* text, bool cut) {
    // Before the split and the decoding, so that an encoded "+" stays a plus.
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == '+') *p = ' ';
    }
    char* piece = text;
    for (;;) {
        char* amp = std::strchr(piece, '&');
        if (amp == nullptr) {
            if (*piece != '\0' && !cut) append_pair(piece, 1);
            return;
        }
        *amp = '\0';
        // Past a bound the rest is dropped unseen.
        if (!append_pair(piece, 1) && g_bounds.refused) return;
        piece = amp + 1;
    }
}

// The first keep bytes of a URL-encoded body of length bytes, as a text; the
// rest is read and dropped (*cut: there was some). The buffer grows with the
// data, so a large CONTENT_LENGTH alone costs no memory, and an oversize one
// never more than keep bytes.
char* read_urlencoded_body(unsigned long length, unsigned long keep, bool* cut) {
    *cut = false;
    const unsigned long wanted = length < keep ? length : keep;
    std::size_t cap = (wanted < 65536 ? wanted : 65536) + 1;
    auto* buf = static_cast<char*>(std::malloc(cap));
    if (buf == nullptr) return nullptr;
    std::size_t got = 0;
    while (got < wanted) {
        if (got + 1 == cap) {
            std::size_t want = (cap - 1) * 2;
            if (want > wanted) want = wanted;
            auto* bigger = static_cast<char*>(std::realloc(buf, want + 1));
            if (bigger == nullptr) {
                std::free(buf);
                return nullptr;
            }
            buf = bigger;
            cap = want + 1;
        }
        std::size_t room = cap - 1 - got;
        if (room > wanted - got) room = wanted - got;
        ssize_t n = read(0, buf + got, room);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    buf[got] = '\0';
    if (got == wanted && length > wanted) *cut = drain_input(length - wanted) > 0;
    return buf;
}

// ---- delimiter search ----

struct Delimiter {
    unsigned char text[max_delimiter + 1];
    std::size_t len;
    std::size_t border[max_delimiter];  // KMP: longest proper border of text[0..i]
};
Delimiter g_delim;

void set_delimiter(const char* content_type) {
    g_delim.len = 0;
    const char* b = std::strstr(content_type, "boundary=");
    if (b == nullptr) return;
    b += std::strlen("boundary=");
    g_delim.text[0] = '-';
    g_delim.text[1] = '-';
    std::size_t n = 2;
    while (n < max_delimiter && *b != '\0' && *b != ']') {
        g_delim.text[n++] = static_cast<unsigned char>(*b++);
    }
    g_delim.len = n;
    g_delim.border[0] = 0;
    std::size_t k = 0;
    for (std::size_t i = 1; i < n; ++i) {
        while (k > 0 && g_delim.text[i] != g_delim.text[k]) k = g_delim.border[k - 1];
        if (g_delim.text[i] == g_delim.text[k]) ++k;
        g_delim.border[i] = k;
    }
}

// Consumes the body up to and including the first occurrence of the delimiter
// and hands every byte before it to the sink, in order. The matched prefix is
// tracked with the border table, so each byte costs amortised constant work;
// outside a partial match whole runs up to the next possible start are passed
// on at once. false when the body ends first.
template <class Sink>
bool scan_to_delimiter(Sink& sink) {
    const unsigned char* d = g_delim.text;
    const std::size_t dl = g_delim.len;
    std::size_t m = 0;
    for (;;) {
        if (g_in.pos == g_in.len && !refill()) return false;
        if (m == 0) {
            const unsigned char* p = g_inbuf + g_in.pos;
            std::size_t avail = g_in.len - g_in.pos;
            const void* hit = std::memchr(p, d[0], avail);
            std::size_t span = hit != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - p) : avail;
            if (span > 0) {
                sink.put(p, span);
                g_in.pos += span;
                input_byte += span;
                continue;
            }
        }
        unsigned char c = g_inbuf[g_in.pos++];
        ++input_byte;
        std::size_t prev = m;
        while (m > 0 && d[m] != c) m = g_delim.border[m - 1];
        if (d[m] == c) ++m;
        if (m == dl) return true;
        // The held prefix plus c shrank to its longest border: what fell off the
        // front can no longer start a delimiter.
        std::size_t released = prev + 1 - m;
        if (released > prev) {
            sink.put(d, prev);
            sink.put(&c, 1);
        } else if (released > 0) {
            sink.put(d, released);
        }
    }
}

struct DiscardSink {
    void put(const unsigned char*, std::size_t) {}
};

struct TextSink {
    std::size_t len = 0;
    void put(const unsigned char* p, std::size_t n) {
        std::size_t room = value_limit - len;
        if (n > room) n = room;
        std::memcpy(g_databuff + len, p, n);
        len += n;
    }
};

constexpr std::size_t output_chunk = 64 * 1024;
unsigned char g_outbuf[output_chunk];

// Writes an upload through one buffer, always keeping its last two bytes back
// until the end, when they turn out to be the CR LF before the delimiter.
struct FileSink {
    int fh;
    std::size_t len = 0;
    bool failed = false;

    void put(const unsigned char* p, std::size_t n) {
        while (n > 0) {
            std::size_t k = output_chunk - len;
            if (k > n) k = n;
            std::memcpy(g_outbuf + len, p, k);
            len += k;
            p += k;
            n -= k;
            if (len == output_chunk) {
                write_out(len - hold_back);
                std::memmove(g_outbuf, g_outbuf + len - hold_back, hold_back);
                len = hold_back;
            }
        }
    }
    bool finish() {
        if (len > hold_back) write_out(len - hold_back);
        return !failed;
    }
    void write_out(std::size_t n) {
        const unsigned char* p = g_outbuf;
        while (n > 0 && !failed) {
            long w = Cu_b_write(fh, p, n);
            if (w <= 0) {
                failed = true;
                return;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    }
};

// ---- multipart headers ----

// Reads until the needle has been seen on the current line. 1 found, 0 the line
// ended first (its line feed consumed), -1 the body ended. The needles used here
// have no border, so a mismatch restarts the match at their first letter.
int find_on_line(const char* needle) {
    const std::size_t n = std::strlen(needle);
    std::size_t m = 0;
    for (;;) {
        int c = next_byte();
        if (c < 0) return -1;
        if (c == '\n') return 0;
        if (c == static_cast<unsigned char>(needle[m])) {
            if (++m == n) return 1;
        } else {
            m = c == static_cast<unsigned char>(needle[0]) ? 1 : 0;
        }
    }
}

// Reads bytes up to a stop byte into out (cut to size - 1). Returns the stop
// byte, or -1 when the body ended.
int read_until(char* out, std::size_t size, bool stop_at_line_end) {
    std::size_t n = 0;
    int c;
    for (;;) {
        c = next_byte();
        if (c < 0 || c == '"' || (stop_at_line_end && c == '\n')) break;
        if (n + 1 < size) out[n++] = static_cast<char>(c);
    }
    out[n] = '\0';
    return c;
}

// The field name from the disposition line; lines without a name are passed
// over. *line_open tells whether the rest of the line is still unread.
bool read_field_name(char* name, std::size_t size, bool* line_open) {
    for (;;) {
        int found = find_on_line("name=");
        if (found < 0) return false;
        if (found == 0) continue;
        if (next_byte() < 0) return false;  // the opening quote
        int stop = read_until(name, size, true);
        if (stop < 0) return false;
        if (name[0] != '\0') {
            *line_open = stop == '"';
            return true;
        }
        if (stop != '\n' && !skip_line()) return false;
    }
}

// The client's file name on the rest of the disposition line. 1 a file part,
// 0 a text field, -1 the body ended.
int read_file_name(char* filename, std::size_t size) {
    int found = find_on_line("filename=");
    if (found <= 0) return found;
    if (next_byte() < 0) return -1;  // the opening quote
    if (read_until(filename, size, false) < 0) return -1;
    return skip_line() ? 1 : -1;
}

// After the disposition line: either the empty line, or one more header line
// (such as Content-Type) and then the empty line.
bool skip_part_headers() {
    int c = next_byte();
    if (c < 0) return false;
    if (c == '\r') return skip_line();
    return skip_line() && skip_line();
}

// The two bytes after a delimiter: CR LF before another part, "--" after the last.
bool another_part_follows() {
    int first = next_byte();
    int second = next_byte();
    return first >= 0 && second >= 0 && second != '-';
}

// ---- multipart parts ----

// Joins the name, "=" and the rest of a pair in g_databuff2, cut at its end
// rather than overrun when a long name meets a value near the limit.
void compose_pair(std::initializer_list<const char*> parts) {
    std::size_t n = 0;
    for (const char* part : parts) {
        std::size_t len = std::strlen(part);
        std::size_t room = databuff_size - 1 - n;
        if (len > room) len = room;
        std::memcpy(g_databuff2 + n, part, len);
        n += len;
    }
    g_databuff2[n] = '\0';
}

bool read_text_part(const char* name) {
    TextSink sink;
    if (!scan_to_delimiter(sink)) return false;
    std::size_t n = sink.len >= hold_back ? sink.len - hold_back : 0;
    g_databuff[n] = '\0';
    compose_pair({name, "=", g_databuff});
    append_pair(g_databuff2, 2);
    return true;
}

// An upload is named "CGI" and a number made of the process id and a counter
// of this process: concurrent requests never pick the same name, and the
// choice costs no look at the directory. The counter runs on across calls of
// cgi_get, so a later call does not run into an earlier call's files.
constexpr long long serials_per_process = 1000000;
constexpr int upload_name_tries = 8;
long long upload_serial = 0;

void upload_path(char* path, long long n) {
    std::snprintf(path, path_size, "%s%lld", upload_prefix.c_str(), n);
}

long long serial_upload_number(bool advance) {
    const long long serial = upload_serial % serials_per_process;
    if (advance) ++upload_serial;
    return static_cast<long long>(getpid()) * serials_per_process + serial;
}

// After a clash (a file left by an earlier process of the same id) the next
// tries take random numbers rather than walking on through its files.
long long random_upload_number() {
    unsigned long long bits = 0;
    if (getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
        return serial_upload_number(true);
    }
    return static_cast<long long>(bits >> 1);
}

// Creates a fresh upload file exclusively. -1 (path names the last name
// tried) when none could be created.
int create_upload_file(char* path) {
    for (int attempt = 0; attempt < upload_name_tries; ++attempt) {
        upload_path(path, attempt == 0 ? serial_upload_number(true) : random_upload_number());
        char os_path[path_size];
        copy_field(os_path, sizeof os_path, path);
        errno = 0;
        const int fh = Cu_b_create_new(os_path);
        if (fh >= 0) return fh;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// A refused request's uploads are read and dropped; so are those whose file
// cannot be created or fully written. The pair names a path either way (one
// that holds no file of this request), so a dropped upload never reads like
// a field sent without a file.
bool read_file_part(const char* name, const char* filename) {
    if (filename[0] == '\0') {
        DiscardSink sink;
        if (!scan_to_delimiter(sink)) return false;
        compose_pair({name, "="});
        append_pair(g_databuff2, 2);
        return true;
    }
    // Checked before a file exists: one upload too many, or an upload whose
    // pair could not be kept, refuses the request.
    if (!g_bounds.refused &&
        (g_bounds.uploads == cgi_max_uploads ||
         !pair_fits(std::strlen(name) + std::strlen(filename) + path_size + 2))) {
        refuse();
    }
    char path[path_size];
    int fh = -1;
    if (g_bounds.refused) {
        upload_path(path, serial_upload_number(false));
    } else {
        ++g_bounds.uploads;
        fh = create_upload_file(path);
    }
    bool found;
    if (fh < 0) {
        DiscardSink sink;
        found = scan_to_delimiter(sink);
    } else {
        FileSink sink{fh};
        found = scan_to_delimiter(sink);
        bool complete = found && sink.finish();
        Cu_b_close(fh);
        // A cut-off or half-written upload must not be taken for the real file.
        if (!complete) {
            remove_upload(path);
        } else if (found) {
            created_uploads.emplace_back(path);
        }
    }
    if (!found) return false;
    compose_pair({name, "=", filename, ",", path});
    append_pair(g_databuff2, 2);
    return true;
}

// Pairs are appended as their parts complete; a part cut off by the end of the
// body is left out.
void parse_multipart(const char* content_type) {
    set_delimiter(content_type);
    if (g_delim.len == 0) return;
    input_byte = 0;
    DiscardSink preamble;
    if (!scan_to_delimiter(preamble) || !another_part_follows()) return;
    for (;;) {
        char name[header_text_size];
        char filename[header_text_size];
        bool line_open = false;
        if (!read_field_name(name, sizeof name, &line_open)) return;
        int file_part = 0;
        if (line_open) {
            file_part = read_file_name(filename, sizeof filename);
            if (file_part < 0) return;
        }
        if (!skip_part_headers()) return;
        bool complete = file_part == 1 ? read_file_part(name, filename) : read_text_part(name);
        if (!complete || !another_part_follows()) return;
    }
}

}  // namespace

long StrFind(const char* in_buff, const char* keyword) {
    if (in_buff == nullptr || keyword == nullptr || *in_buff == '\0' || *keyword == '\0') return -1;
    const std::size_t klen = std::strlen(keyword);
    std::size_t i = 0;
    while (in_buff[i] != '\0') {
        bool two_byte = is_lead_byte(in_buff[i]) && in_buff[i + 1] != '\0';
        if ((!two_byte || klen >= 2) && std::strncmp(in_buff + i, keyword, klen) == 0) {
            return static_cast<long>(i);
        }
        i += two_byte ? 2 : 1;
    }
    return -1;
}

void cgi_decode(char* in_data) {
    std::size_t r = 0;
    std::size_t w = 0;
    while (in_data[r] != '\0') {
        // A "%" without two characters after it is kept as it stands.
        if (in_data[r] == '%' && in_data[r + 1] != '\0' && in_data[r + 2] != '\0') {
            int hi = hex_digit(static_cast<unsigned char>(in_data[r + 1]));
            int lo = hex_digit(static_cast<unsigned char>(in_data[r + 2]));
            in_data[w++] = static_cast<char>(static_cast<unsigned char>((hi * 16 + lo) & 0xFF));
            r += 3;
        } else {
            in_data[w++] = in_data[r++];
        }
    }
    in_data[w] = '\0';
}

// mode 1: URL-encoded source, decoded and converted to Shift_JIS;
// mode 2: multipart source, stored as sent. 0 appended, -1 no memory.
int cgi_setdata(const char* input_buffer, int mode) {
    const std::size_t len = std::strlen(input_buffer);
    const long eq = StrFind(input_buffer, "=");
    const std::size_t name_len = eq < 0 ? len : static_cast<std::size_t>(eq);
    char* name = copy_bytes(input_buffer, name_len);
    char* value = eq < 0 ? nullptr : copy_bytes(input_buffer + name_len + 1, len - name_len - 1);
    auto* next = static_cast<_list*>(std::calloc(1, sizeof(_list)));
    if (name == nullptr || (eq >= 0 && value == nullptr) || next == nullptr) {
        std::free(name);
        std::free(value);
        std::free(next);
        return -1;
    }
    if (mode == 1) {
        cgi_decode(name);
        AutoConvertToShiftJis(name);
        if (value != nullptr) {
            cgi_decode(value);
            AutoConvertToShiftJis(value);
        }
    }
    cur->name = name;
    cur->value = value;
    cur->next = next;
    cur = next;
    return 0;
}

}  // namespace cgi_parser

using namespace cgi_parser;

int cgi_get(long max_length) {
    Cu_setmode();
    free_pairs();
    content_length = 0;
    input_byte = 0;
    g_in = InputState{};
    const std::size_t limit = max_length < 0 ? 0 : static_cast<std::size_t>(max_length);
    g_bounds = Bounds{limit + text_slack, 0, 0, 0, false};
    upload_prefix.assign(SYSINFO.DATA_FILE_PATH).append("CGI");

    const char* method = std::getenv("REQUEST_METHOD");
    if (method != nullptr && std::strcmp(method, "GET") == 0) {
        const char* query = std::getenv("QUERY_STRING");
        if (query == nullptr || *query == '\0') return 0;
        char* text = copy_bytes(query, std::strlen(query));
        if (text == nullptr) return -1;
        parse_urlencoded(text, false);
        std::free(text);
        return g_bounds.refused ? -2 : 0;
    }
    if (method == nullptr || std::strcmp(method, "POST") != 0) return 0;

    if (!parse_content_length(std::getenv("CONTENT_LENGTH"), &content_length)) {
        content_length = 0;
        return -2;
    }
    // An oversize body is parsed all the same (within the bounds); the caller
    // decides what to refuse.
    if (max_length < 0 || content_length > static_cast<unsigned long>(max_length)) {
        g_bounds.refused = true;
    }

    char content_type[header_text_size];
    copy_field(content_type, sizeof content_type, std::getenv("CONTENT_TYPE"));
    if (std::strcmp(content_type, "application/x-www-form-urlencoded") == 0) {
        bool cut = false;
        char* text = read_urlencoded_body(content_length, g_bounds.text_budget, &cut);
        if (text == nullptr) return -1;
        parse_urlencoded(text, cut);
        std::free(text);
    } else {
        parse_multipart(content_type);
    }
    return g_bounds.refused ? -2 : 0;
}

bool cgi_is_upload(const char* path) {
    if (path == nullptr || cgi_parser::created_uploads.empty()) return false;
    const std::string& prefix = cgi_parser::upload_prefix;
    if (std::strncmp(path, prefix.c_str(), prefix.size()) != 0) return false;
    const char* number = path + prefix.size();
    for (const std::string& created : cgi_parser::created_uploads) {
        if (std::strcmp(number, created.c_str() + prefix.size()) == 0) return true;
    }
    return false;
}

int cgi_getvalue(const char* serch_name, int in_count, char* out_buff, std::size_t in_size) {
    if (out_buff == nullptr || in_size == 0) return -1;
    out_buff[0] = '\0';
    if (serch_name == nullptr) return -1;
    const _list* node = &list;
    int seen = 0;
    if (memo_node != nullptr && in_count >= memo_count && std::strcmp(memo_node->name, serch_name) == 0) {
        node = memo_node;
        seen = memo_count;
    }
    for (; node != nullptr && node->name != nullptr; node = node->next) {
        if (std::strcmp(node->name, serch_name) != 0) continue;
        if (seen == in_count) {
            memo_node = node;
            memo_count = seen;
            copy_field(out_buff, in_size, node->value);
            return 0;
        }
        ++seen;
    }
    return -1;
}

void cgi_free() {
    free_pairs();
    char pattern[path_size];
    std::snprintf(pattern, sizeof pattern, "%sCGI*", SYSINFO.DATA_FILE_PATH);
    Cu_forEachFile(pattern, [](const char* name) {
        char path[path_size + 256];
        std::snprintf(path, sizeof path, "%s%s", SYSINFO.DATA_FILE_PATH, name);
        Cu_removefile1h(path, 60);
    });
}
