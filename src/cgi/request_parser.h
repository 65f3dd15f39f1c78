// The request, parsed once per process into an ordered list of name/value
// pairs: GET query strings, URL-encoded POST bodies and multipart POST bodies
// with file uploads. Every other module reads parameters through cgi_getvalue.
#pragma once

#include <cstddef>

// What one request may keep. Upload files: the attachment slots of a post (a
// folder offers at most 99) and the five pictures of the settings form.
// Pairs: far more than a post or the settings form sends, room for an unread
// list with thousands of messages ticked, while a body of nothing but "&"
// does not turn into millions of nodes.
inline constexpr std::size_t cgi_max_uploads = 99 + 5;
inline constexpr std::size_t cgi_max_pairs = 10000;

// Reads REQUEST_METHOD, QUERY_STRING, CONTENT_LENGTH, CONTENT_TYPE and the body
// on standard input (never more than CONTENT_LENGTH bytes). An earlier list is
// released first; the function may be called any number of times.
//  0  parsed (also: no or unknown request method, empty query string)
// -1  no memory for a URL-encoded input; the list is empty
// -2  POST without a usable CONTENT_LENGTH (nothing parsed), or a request over
//     a bound: a body larger than max_length, more than cgi_max_uploads files,
//     more than cgi_max_pairs pairs, or names and values of more than
//     max_length + 1 MB. The pairs that fit are kept (of a URL-encoded body
//     only whole pairs within its first max_length + 1 MB bytes); the rest of
//     the body is read and dropped, and the request keeps no upload file.
//
// An uploaded file's value is "<client file name>,<path>"; when the upload
// was kept, the file "<DATA_FILE_PATH>CGI<n>" holds exactly the uploaded
// bytes (see cgi_is_upload). A file field sent without a file reads as empty.
int cgi_get(long max_length);

// Copies the value of the in_count-th pair (from 0) named exactly serch_name,
// cut to in_size - 1 bytes. Empty when there is no such pair.
// 0 found, -1 not found.
int cgi_getvalue(const char* serch_name, int in_count, char* out_buff, std::size_t in_size);

// True when path is an upload file this request's parser created and wrote
// whole. A text field can carry any "name,path" value: only a path that
// passes this may be moved or removed as an upload.
bool cgi_is_upload(const char* path);

// Releases the list, then removes upload temporary files of earlier requests
// that have not changed for an hour.
void cgi_free();
