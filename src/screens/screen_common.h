// Small rules that several screens share.
#pragma once

#include <cstddef>

// A number parameter of the request, read into a buffer of `size` bytes as
// the screens read it and taken as base 10. Whatever a hand-made URL holds
// gives a number: no digits give 0, a value past the range of long gives its
// limit. Callers check the range before a number reaches a file.
long request_number(const char* name, std::size_t size);

// True when the user sees a folder in two frames (header, and one frame for
// the list or a message). Any BBS_FRAME_MODE but 1 gives the usual three.
bool two_frame_layout();
