#include "screens/screen_common.h"

#include <cstdlib>
#include <memory>

#include "cgi/request_parser.h"
#include "request/request_state.h"

long request_number(const char* name, std::size_t size) {
    std::unique_ptr<char[]> value = std::make_unique<char[]>(size);
    value[0] = '\0';
    cgi_getvalue(name, 0, value.get(), size);
    return std::strtol(value.get(), nullptr, 10);
}

bool two_frame_layout() { return G_USER_MST.BBS_FRAME_MODE == 1; }
