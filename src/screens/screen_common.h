// Small rules that several screens share.
#pragma once

#include <cstddef>
#include <string>

// A number parameter of the request, read into a buffer of `size` bytes as
// the screens read it and taken as base 10. Whatever a hand-made URL holds
// gives a number: no digits give 0, a value past the range of long gives its
// limit. Callers check the range before a number reaches a file.
long request_number(const char* name, std::size_t size);

// True when the user sees a folder in two frames (header, and one frame for
// the list or a message). Any BBS_FRAME_MODE but 1 gives the usual three.
bool two_frame_layout();

// The new-message button of the header and list frames, for users who may
// write (level 2 and above). The form opens the compose form where the user's
// WRITE_MODE says: 1 the detail frame (in two frames the second frame, which a
// button in that frame reaches without naming it), 2 the compose window.
void new_message_button(bool in_list_frame);

// Records that the user has read message sel_no of the folder (a level-1
// confirmation, stored or refreshed). The caller has checked the message.
void record_confirmation(long folder_no, long sel_no);

// The opening and closing lines of a page's script block (the comment hides
// the script from browsers that do not run it).
void open_script();
void close_script();

// Splits the value of a file field ("client name,temporary path") at the comma
// before this request's upload file; the client's name may hold commas of its
// own. The name comes back bare (after its last '/' or '\\'), its commas
// made '_', as the comma-separated files can hold it.
// False, and nothing set, when the value names no upload file of this request.
bool split_upload_value(const char* value, std::string& name, std::string& temporary);
