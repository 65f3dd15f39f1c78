/* The floor of a CGI request: a static program that prints a fixed 2 KB page
   and exits. Whatever a request of wbbs.cgi costs above this is the board's own. */
#include <stdio.h>
#include <string.h>

int main(void) {
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
