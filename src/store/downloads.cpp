#include "store/downloads.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "store/file_primitives.h"
#include "store/line_file_engine.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

namespace {

constexpr std::size_t PATH_SIZE = 1200;
constexpr std::size_t MAP_LINE_SIZE = 1000;
constexpr std::size_t PIECE_SIZE = 1000;

// A header value must stay one line: every control byte goes, byte by byte,
// also one that follows a lead byte (the browser reads headers byte-wise).
void strip_control_bytes(char* text) {
    char* out = text;
    for (const char* p = text; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) continue;
        *out++ = *p;
    }
    *out = '\0';
}

// The bare name: after the last '/', then after the last '\\' (two-byte aware).
void bare_name(const char* path, char* name, std::size_t name_size) {
    copy_field(name, name_size, path);
    G_cut_name(name, '/');
    G_cut_name(name, '\\');
}

// The extension is what follows the last '.' of the bare name, when that dot
// is not its first character ("x.tar.gz" -> "gz", ".gif" -> none).
bool extension_of(const char* path, char* ext, std::size_t ext_size) {
    char name[PATH_SIZE];
    bare_name(path, name, sizeof name);
    const char* dot = nullptr;
    for (const char* p = name; *p != '\0'; ++p) {
        if (is_lead_byte(*p)) {
            if (p[1] == '\0') break;
            ++p;
            continue;
        }
        if (*p == '.' && p != name) dot = p;
    }
    if (dot == nullptr || dot[1] == '\0') return false;
    copy_field(ext, ext_size, dot + 1);
    return true;
}

// The site's own map; read only, so no lock and no creation of a missing file.
bool mime_type_for(const char* mime_filename, const char* ext, char* type, std::size_t type_size) {
    type[0] = '\0';
    char path[PATH_SIZE];
    if (mime_filename == nullptr || std::strlen(mime_filename) >= sizeof path) return false;
    copy_field(path, mime_filename);
    FILE* map = Cu_fopen(path, "r");
    if (map == nullptr) return false;
    char line[MAP_LINE_SIZE];
    while (std::fgets(line, sizeof line, map) != nullptr) {
        char field[MAP_LINE_SIZE];
        LineFields fields(line);
        if (!fields.text(field) || std::strcmp(field, ext) != 0) continue;
        if (!fields.text(type, type_size)) continue;  // no second comma: passed over
        break;
    }
    std::fclose(map);
    return type[0] != '\0';
}

void stream_file(int fh) {
    char piece[PIECE_SIZE];
    for (;;) {
        const long got = Cu_b_read(fh, piece, sizeof piece);
        if (got <= 0) break;
        std::fwrite(piece, 1, static_cast<std::size_t>(got), stdout);
    }
    std::fflush(stdout);
}

// The filename parameter as it goes into Content-Disposition. A name with a
// ';' or a '"' would end the parameter early and could add others of its own
// (a filename* that the browser saves under instead); such a name goes out as
// a quoted string. Every other name is printed as it is.
std::string disposition_name(const char* name) {
    if (std::strpbrk(name, ";\"") == nullptr) return name;
    std::string quoted = "\"";
    for (const char* p = name; *p != '\0'; ++p) {
        // Byte-wise: the browser unquotes before it decodes the name, so a
        // kanji whose second byte is a backslash comes back whole.
        if (*p == '"' || *p == '\\') quoted += '\\';
        quoted += *p;
    }
    quoted += '"';
    return quoted;
}

int open_existing(const char* in_filename) {
    char path[PATH_SIZE];
    if (std::strlen(in_filename) >= sizeof path) return -1;
    copy_field(path, in_filename);
    return Cu_b_open(path, 0);
}

}  // namespace

int Fio_MimeDownload(const char* in_filename, const char* mime_filename) {
    if (in_filename == nullptr || in_filename[0] == '\0') return -1;
    char ext[MAP_LINE_SIZE];
    if (!extension_of(in_filename, ext, sizeof ext)) return -2;
    char type[MAP_LINE_SIZE];
    if (!mime_type_for(mime_filename, ext, type, sizeof type)) return -2;
    strip_control_bytes(type);

    Cu_setmode();
    const int fh = open_existing(in_filename);
    if (fh < 0) return -1;
    std::printf("Content-type: %s\n\n", type);
    stream_file(fh);
    Cu_b_close(fh);
    return 0;
}

int Fio_file_DL(const char* in_filename) {
    if (in_filename == nullptr) in_filename = "";
    Cu_setmode();
    char name[PATH_SIZE];
    bare_name(in_filename, name, sizeof name);
    strip_control_bytes(name);
    std::printf("Content-Type: application/bin-stream\n");
    std::printf("Content-Disposition: attachment; filename=%s\n\n", disposition_name(name).c_str());
    const int fh = open_existing(in_filename);
    if (fh < 0) {
        std::fflush(stdout);
        return -1;
    }
    stream_file(fh);
    Cu_b_close(fh);
    return 0;
}

int Fio_MIMEMAP_create(const char* mime_filename) {
    static const char* const kTypes[][2] = {
        {"gif", "image/gif"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"png", "image/png"},
        {"GIF", "image/gif"}, {"JPG", "image/jpeg"}, {"JPEG", "image/jpeg"}, {"PNG", "image/png"},
    };
    char path[PATH_SIZE];
    if (mime_filename == nullptr || std::strlen(mime_filename) >= sizeof path) return -2;
    copy_field(path, mime_filename);
    const int fh = Cu_b_create_new(path);
    if (fh < 0) {
        struct stat st;
        return stat(path, &st) == 0 && S_ISREG(st.st_mode) ? 0 : -2;
    }
    std::string text;
    for (const auto& type : kTypes) text += LineBuilder().text(type[0]).text(type[1]).line();
    const bool written = Cu_b_write(fh, text.data(), text.size()) == static_cast<long>(text.size());
    Cu_b_close(fh);
    if (written) return 0;
    copy_field(path, mime_filename);
    Cu_remove(path);
    return -2;
}
