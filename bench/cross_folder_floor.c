/* The floors of the cross-folder screens: what the same file work costs with
   plain C calls, started as a CGI program is, so that the board's requests can
   be set beside it. QUERY_STRING picks the work:

     index=PATH&marks=PATH[&write=1]
         reads the index file and the mark file once, in 128 KB blocks;
         with write=1 also writes the marks once (every message read).
     bodies=DATADIR&folders=1,2,3&messages=N&key=K[&key=K2 ...][&all=1]
         opens and reads body.txt of messages 1 to N of each folder, one read
         each, and searches it with strstr: a hit when any key occurs (all=1:
         when every key does), stopping at the first key that decides.

   Values are taken as they are (no URL decoding): the benchmark passes plain
   paths and words. The page printed is a line with the figures. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define BLOCK (128 * 1024)
#define BODY_SIZE 104000
#define MAX_KEYS 10
#define MAX_FOLDERS 100

static char query[8192];

/* The value of the n-th name=value pair with that name, or NULL. */
static const char* value_of(const char* name, int n) {
    static char values[MAX_KEYS + 4][2048];
    static int next = 0;
    const size_t len = strlen(name);
    for (char* p = query; *p != '\0';) {
        char* end = strchr(p, '&');
        const size_t pair = end != NULL ? (size_t)(end - p) : strlen(p);
        if (pair > len && strncmp(p, name, len) == 0 && p[len] == '=' && n-- == 0) {
            char* out = values[next++ % (MAX_KEYS + 4)];
            size_t v = pair - len - 1;
            if (v >= 2048) v = 2047;
            memcpy(out, p + len + 1, v);
            out[v] = '\0';
            return out;
        }
        p += pair + (end != NULL ? 1 : 0);
    }
    return NULL;
}

/* Reads the whole file in blocks; its bytes go to out when out is not NULL. */
static long read_file(const char* path, char* out, long room, unsigned long* sum) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) return -1;
    static char block[BLOCK];
    long total = 0;
    for (;;) {
        char* into = out != NULL ? out + total : block;
        const long want = out != NULL ? (room - total < BLOCK ? room - total : BLOCK) : BLOCK;
        if (want <= 0) break;
        const ssize_t got = read(fd, into, (size_t)want);
        if (got <= 0) break;
        *sum += (unsigned char)into[0];
        total += got;
    }
    close(fd);
    return total;
}

static int index_and_marks(void) {
    const char* index = value_of("index", 0);
    const char* marks = value_of("marks", 0);
    if (index == NULL || marks == NULL) return 0;
    const int write_marks = value_of("write", 0) != NULL;
    unsigned long sum = 0;
    const long index_bytes = read_file(index, NULL, 0, &sum);
    const long messages = index_bytes > 0 ? index_bytes / 288 : 0;
    struct stat st;
    const long mark_bytes = stat(marks, &st) == 0 ? (long)st.st_size : 0;
    const long room = (mark_bytes > messages * 4 ? mark_bytes : messages * 4) + 4;
    int* mark = calloc((size_t)room / 4 + 1, 4);
    if (mark == NULL) return 0;
    const long got = read_file(marks, (char*)mark, room, &sum);
    if (write_marks) {
        for (long i = 0; i < messages; ++i) {
            if (mark[i] == 0) mark[i] = 1;
        }
        const int fd = open(marks, O_RDWR | O_CREAT, 0600);
        if (fd >= 0) {
            if (pwrite(fd, mark, (size_t)messages * 4, 0) != (ssize_t)(messages * 4)) sum = 0;
            close(fd);
        }
    }
    printf("Content-type: text/html\n\n%ld records, %ld mark bytes, %lu\n", messages, got, sum);
    free(mark);
    return 1;
}

static int search_bodies(void) {
    const char* data = value_of("bodies", 0);
    const char* folder_list = value_of("folders", 0);
    const char* count = value_of("messages", 0);
    if (data == NULL || folder_list == NULL || count == NULL) return 0;
    char dir[1024];
    snprintf(dir, sizeof dir, "%s", data);
    long folders[MAX_FOLDERS];
    int n_folders = 0;
    for (const char* p = folder_list; *p != '\0' && n_folders < MAX_FOLDERS;) {
        folders[n_folders++] = strtol(p, NULL, 10);
        p = strchr(p, ',');
        if (p == NULL) break;
        ++p;
    }
    const char* keys[MAX_KEYS];
    int n_keys = 0;
    while (n_keys < MAX_KEYS && (keys[n_keys] = value_of("key", n_keys)) != NULL) ++n_keys;
    const int all = value_of("all", 0) != NULL;
    const long messages = strtol(count, NULL, 10);
    static char body[BODY_SIZE];
    long hits = 0;
    long missing = 0;
    for (int f = 0; f < n_folders; ++f) {
        for (long n = 1; n <= messages; ++n) {
            char path[1200];
            snprintf(path, sizeof path, "%s%ld/x%ld/body.txt", dir, folders[f], n);
            const int fd = open(path, O_RDONLY);
            if (fd < 0) {
                ++missing;
                continue;
            }
            const ssize_t got = read(fd, body, sizeof body - 1);
            close(fd);
            body[got > 0 ? got : 0] = '\0';
            int hit = all;
            for (int k = 0; k < n_keys; ++k) {
                const int found = strstr(body, keys[k]) != NULL;
                if (found != all) {
                    hit = found;
                    break;
                }
            }
            hits += hit;
        }
    }
    printf("Content-type: text/html\n\n%ld hits, %ld bodies missing\n", hits, missing);
    return 1;
}

int main(void) {
    const char* q = getenv("QUERY_STRING");
    snprintf(query, sizeof query, "%s", q != NULL ? q : "");
    if (index_and_marks() || search_bodies()) return 0;
    fputs("Content-type: text/html\n\nnothing to do\n", stdout);
    return 0;
}
