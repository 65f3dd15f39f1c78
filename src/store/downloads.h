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

// For a new installation: creates the map mime_filename with the picture
// types that folder pictures and attached pictures are shown inline with
// (gif, jpeg, png, in lower and upper case). Types a browser could run script
// from (HTML, SVG, XML) are not in it, so such attachments are downloaded.
// An existing map is the site's own and stays as it is. 0 created or already
// there; -2 it could not be created or fully written.
int Fio_MIMEMAP_create(const char* mime_filename);
