/* The floor of a CGI request: a static program that prints a fixed 2 KB page
   and exits. Whatever a request of wbbs.cgi costs above this is the board's own.
   With QUERY_STRING "bytes=N" it prints a page of N bytes instead: the floor of
   sending a page that large. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int large_page(void) {
    const char* query = getenv("QUERY_STRING");
    if (query == NULL || strncmp(query, "bytes=", 6) != 0) return 0;
    const long bytes = strtol(query + 6, NULL, 10);
    if (bytes <= 0) return 0;
    char* page = malloc((size_t)bytes);
    if (page == NULL) return 0;
    memset(page, 'x', (size_t)bytes);
    fputs("Content-type: text/html\nPragma: no-cache\n\n", stdout);
    fwrite(page, 1, (size_t)bytes, stdout);
    free(page);
    return 1;
}

int main(void) {
    if (large_page()) return 0;
    static const char row[] =
        "<TR><TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">A row of the page</TD></TR>\n";
    char page[2048];
    size_t used = 0;
    while (used + sizeof row - 1 <= sizeof page) {
        memcpy(page + used, row, sizeof row - 1);
        used += sizeof row - 1;
    }
    memset(page + used, ' ', sizeof page - used);
    fputs("Content-type: text/html\nPragma: no-cache\n\n", stdout);
    fwrite(page, 1, sizeof page, stdout);
    return 0;
}
