// The one place in the store that writes to the browser: a stored file (an
// attachment or a folder picture) streamed to standard output, headers first.
#pragma once

// Streams in_filename under the MIME type that the map file mime_filename
// ("ext,type," lines, extension compared exactly) gives for the extension of
// its bare name: "Content-type: <type>\n\n", then the bytes unchanged.
// -1 empty name or unreadable file (nothing printed); -2 no extension, no map
// or no type for it (nothing printed, so the caller can fall back).
int Fio_MimeDownload(const char* in_filename, const char* mime_filename);

// Streams in_filename as a download to be saved, named by its bare file name
// (after the last '/' and then the last '\\'); control characters of the name
// never reach the header. 0; -1 after the two header lines when the file
// cannot be opened.
int Fio_file_DL(const char* in_filename);
