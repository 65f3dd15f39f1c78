// The frame every HTML page shares, and the small pages built on it. The
// writers print their texts as given: callers pass text already fit for HTML.
#pragma once

// Response header, head and body tag. An empty bg gives the standard body tag;
// otherwise bg stands in its place.
void G_header_printf(const char* bg);

// A whole error page: title, message and a button back.
void G_ErrMessage(const char* syori, const char* buff);

// A whole page with the identification error (message 7) and nothing else.
void G_IDerr();

// A whole page that sends the browser on to in_buff at once.
void G_URL_Jump(const char* in_buff);
