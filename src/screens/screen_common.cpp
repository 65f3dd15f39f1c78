#include "screens/screen_common.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cgi/request_parser.h"
#include "request/request_state.h"
#include "screens/page_output.h"
#include "store/confirmations.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

long request_number(const char* name, std::size_t size) {
    std::unique_ptr<char[]> value = text_buffer(size);
    value[0] = '\0';
    cgi_getvalue(name, 0, value.get(), size);
    return std::strtol(value.get(), nullptr, 10);
}

bool two_frame_layout() { return G_USER_MST.BBS_FRAME_MODE == 1; }

void new_message_button(bool in_list_frame) {
    if (ACL_LEVEL <= 1) return;
    emit("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST ", exe());
    if (G_USER_MST.WRITE_MODE == 1) {
        if (!two_frame_layout()) {
            emit("TARGET=\"FRM223SEL%d\"", cgi_FOLDER_NO);
        } else if (!in_list_frame) {
            emit("TARGET=\"FRM222SEL%d\"", cgi_FOLDER_NO);
        }
    } else if (G_USER_MST.WRITE_MODE == 2) {
        emit("TARGET=\"WBWRITE%d\"", cgi_FOLDER_NO);
    }
    emit(">\n");
    session_fields("BWRITE_NEW");
    emit("<TD>\n");
    emit("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\" >\n", msg(300));
    emit("</FORM>\n");
    emit("</TD>\n");
}

void record_confirmation(long folder_no, long sel_no) {
    std::memset(&sCONFIRM_TXT, 0, sizeof sCONFIRM_TXT);
    sCONFIRM_TXT.FOLDER_NO = static_cast<int32_t>(folder_no);
    sCONFIRM_TXT.SEL_NO = static_cast<int32_t>(sel_no);
    copy_field(sCONFIRM_TXT.USER_ID, G_USER_MST.USER_ID);
    sCONFIRM_TXT.CONFIRM_LEVEL = 1;
    copy_field(sCONFIRM_TXT.USER_NAME, G_USER_MST.USER_NAME);
    if (Fio_CONFIRM_TXT(2) != 0) Fio_CONFIRM_TXT(4);
}

void open_script() {
    emit("<SCRIPT Language=\"JavaScript\">\n");
    emit("<!--\n");
}

void close_script() {
    emit("// -->\n");
    emit("</SCRIPT>\n");
}

bool split_upload_value(const char* value, std::string& name, std::string& temporary) {
    const std::size_t length = std::strlen(value);
    std::size_t comma = length;
    for (std::size_t i = length; i-- > 0;) {
        if (value[i] == ',' && cgi_is_upload(value + i + 1)) {
            comma = i;
            break;
        }
    }
    if (comma == length) return false;

    std::vector<char> client(value, value + comma);
    client.push_back('\0');
    for (std::size_t i = 0; i < comma; ++i) {
        if (client[i] == ',') client[i] = '_';
    }
    // Without commas left, the split finds no rest: the name is the bare name.
    std::vector<char> bare(client.size());
    std::vector<char> rest(client.size());
    G_cut_filename(client.data(), bare.data(), bare.size(), rest.data(), rest.size());
    name = bare.data();
    temporary = value + comma + 1;
    return true;
}
