// The request, parsed once per process into an ordered list of name/value
// pairs: GET query strings, URL-encoded POST bodies and multipart POST bodies
// with file uploads. Every other module reads parameters through cgi_getvalue.
#pragma once

#include <cstddef>

// Reads REQUEST_METHOD, QUERY_STRING, CONTENT_LENGTH, CONTENT_TYPE and the body
// on standard input (never more than CONTENT_LENGTH bytes). An earlier list is
// released first.
//  0  parsed (also: no or unknown request method, empty query string)
// -1  no memory for a URL-encoded input; the list is empty
// -2  POST without a usable CONTENT_LENGTH (nothing parsed), or a body larger
//     than max_length (text fields parsed; uploads read and dropped)
//
// An uploaded file's value is "<client file name>,<temporary path>"; the file
// "<DATA_FILE_PATH>CGI<n>" holds exactly the uploaded bytes. A file field sent
// without a file reads as empty.
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
