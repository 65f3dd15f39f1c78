// The pages after a post: the confirmation with a button back to the folder,
// and the page that closes the compose window.
#include "config/sysinfo.h"
#include "request/page_frame.h"
#include "request/request_state.h"
#include "screens/page_output.h"
#include "screens/screen_common.h"
#include "screens/posting.h"

namespace {

// The heading and the line under it, in the folder's detail-frame colour
// when it has one (none before the settings are loaded).
void heading_and_line(const char* colour, int line) {
    const bool coloured = colour[0] != '\0';
    emit("<FONT SIZE=\"5\"");
    if (coloured) emit(" COLOR=\"#%s\"", attr(colour));
    emit(">");
    emit("<B>%s</B></FONT>\n", msg(417));
    emit("<HR>\n");
    if (coloured) emit("<FONT COLOR=\"#%s\">", attr(colour));
    emit("%s<P>\n", msg(line));
    if (coloured) emit("</FONT>\n");
}

}  // namespace

void b_BWRITEWR_FIX() {
    open_frame_page(G_DIR_CONFIG.BACKPIC3, 3);

    open_script();
    emit("var count=0;\n");
    emit("function postcheck(){\n");
    emit("count++;\n");
    emit("document.INPUT.SUB.value=\"%s\";\n", msg(420));
    emit("if ( count < 2 ){ return true; }\n");
    emit("else { return false; }\n");
    emit("}\n");
    close_script();

    heading_and_line(G_DIR_CONFIG.FONTCOLOR3, 418);

    emit("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST TARGET=\"FRM22%s\">\n",
         exe(), attr(SYSINFO.SITE_ID));
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"%s\">\n", attr(cgi_SKEY1));
    emit("<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"%s\">\n", attr(cgi_SKEY2));
    emit("<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"ROOM\">\n");
    emit("<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"%d\">\n", cgi_FOLDER_NO);
    emit("<INPUT TYPE=\"hidden\" name=\"uid\" value=\"%s\">\n", attr(cgi_uid));
    emit("<P>\n");
    emit("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\" onClick=\"return postcheck()\"> \n", msg(419));
    emit("</FORM>\n");
    emit("</BODY>\n");
    emit("</HTML>\n");
}

void b_BWRITEWR_FIX2() {
    // Runs before the session check and the folder's settings: no background
    // picture (its address would carry keys not yet checked) and no colour.
    G_header_printf("");

    open_script();
    emit("self.close()\n");
    close_script();

    heading_and_line("", 421);
    emit("</BODY>\n");
    emit("</HTML>\n");
}
