// Loading the folder's board settings into G_DIR_CONFIG.
#include <cstdlib>
#include <cstring>
#include <string>

#include "request/request_state.h"
#include "screens/folder_settings.h"
#include "store/folder_files.h"
#include "util/bytes.h"
#include "util/text_helpers.h"

namespace {

struct IntegerSetting {
    const char* key;
    int32_t DIR_CONFIG::*field;
};

struct TextSetting {
    const char* key;
    char* (*field)(DIR_CONFIG&);
    std::size_t width;
};

constexpr IntegerSetting kIntegerSettings[] = {
    {"ATTACH_MAX", &DIR_CONFIG::ATTACH_MAX},
    {"REWRITE_FLG", &DIR_CONFIG::REWRITE_FLG},
    {"RES_PERMIT_FLG", &DIR_CONFIG::RES_PERMIT_FLG},
    {"TIME_LIMIT_FLG", &DIR_CONFIG::TIME_LIMIT_FLG},
    {"DATETIME", &DIR_CONFIG::DATETIME},
    {"WRITER_ID", &DIR_CONFIG::WRITER_ID},
    {"HTML_MODE", &DIR_CONFIG::HTML_MODE},
    {"CONFIRM", &DIR_CONFIG::CONFIRM},
    {"LINE_RES", &DIR_CONFIG::LINE_RES},
    {"NICK_NAME", &DIR_CONFIG::NICK_NAME},
};

#define WBBS_TEXT_SETTING(name) \
    { #name, [](DIR_CONFIG& c) -> char* { return c.name; }, sizeof(DIR_CONFIG::name) }

const TextSetting kTextSettings[] = {
    WBBS_TEXT_SETTING(RES_HEADER),    WBBS_TEXT_SETTING(TITLEPIC),
    WBBS_TEXT_SETTING(BACKPIC1),      WBBS_TEXT_SETTING(BACKPIC2),
    WBBS_TEXT_SETTING(BACKPIC3),      WBBS_TEXT_SETTING(FONTCOLOR1),
    WBBS_TEXT_SETTING(FONTCOLOR2),    WBBS_TEXT_SETTING(FONTCOLOR3),
    WBBS_TEXT_SETTING(RESFONTCOLOR2), WBBS_TEXT_SETTING(RESFONTCOLOR3),
    WBBS_TEXT_SETTING(FRAMESET1),     WBBS_TEXT_SETTING(FRAMESET2),
    WBBS_TEXT_SETTING(FRAMESET3),
};

#undef WBBS_TEXT_SETTING

// A number as the settings file holds it: base 10, whatever follows ignored,
// kept within 32 bits so a hand-edited huge value cannot wrap into another one.
int32_t setting_number(const char* value) {
    const long n = std::strtol(value, nullptr, 10);
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(n);
}

void apply_setting(DIR_CONFIG& config, const char* key, const char* value) {
    for (const IntegerSetting& s : kIntegerSettings) {
        if (std::strcmp(key, s.key) == 0) {
            config.*s.field = setting_number(value);
            return;
        }
    }
    for (const TextSetting& s : kTextSettings) {
        if (std::strcmp(key, s.key) == 0) {
            // A value longer than its field (written by hand) is cut to fit,
            // never through a two-byte character.
            std::string fitted(value);
            G_setStrlength(fitted.data(), s.width);
            copy_field(s.field(config), s.width, fitted.c_str());
            return;
        }
    }
}

}  // namespace

int b_SET_DIR_CONFIG(long folder_no) {
    DIR_CONFIG& config = G_DIR_CONFIG;
    std::memset(&config, 0, sizeof config);
    copy_field(config.FRAMESET1, "10%");
    copy_field(config.FRAMESET2, "40%");
    copy_field(config.FRAMESET3, "50%");
    copy_field(config.RESFONTCOLOR2, "0000FF");
    copy_field(config.RESFONTCOLOR3, "0000FF");

    const int result = Fio_DIR_CONFIG_EACH(
        folder_no, [&](const char* key, const char* value) { apply_setting(config, key, value); });
    if (result != 0) return result;
    Fio_INFO_TXT(folder_no, 1, config.INFO, sizeof config.INFO);
    Fio_DEFO_TXT(folder_no, 1, config.DEFO, sizeof config.DEFO);
    return 0;
}
