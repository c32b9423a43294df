#include "program/localization.h"

#include <cstdlib>

#include "base/messages.h"
#include "base/text_utils.h"
#include "ui/fonts.h"
#include "ui/form.h"

namespace zrx {

namespace {

struct Language {
    const char* code;
    int primary;
};

// Primary language numbers of the platform the locale identifiers come from.
constexpr Language kLanguages[] = {
    {"ar", 1},  {"bg", 2},  {"ca", 3},  {"zh", 4},  {"cs", 5},  {"da", 6},  {"de", 7},  {"el", 8},
    {"en", 9},  {"es", 10}, {"fi", 11}, {"fr", 12}, {"he", 13}, {"hu", 14}, {"is", 15}, {"it", 16},
    {"ja", 17}, {"ko", 18}, {"nl", 19}, {"nb", 20}, {"no", 20}, {"nn", 20}, {"pl", 21}, {"pt", 22},
    {"ro", 24}, {"ru", 25}, {"hr", 26}, {"sr", 26}, {"sk", 27}, {"sq", 28}, {"sv", 29}, {"th", 30},
    {"tr", 31}, {"id", 33}, {"uk", 34}, {"sl", 36}, {"et", 37}, {"lv", 38}, {"lt", 39}, {"vi", 42},
};

}  // namespace

LocaleId LocaleIdFromName(const std::string& locale) {
    LocaleId id;
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    const auto underscore = name.find_first_of("_-");
    std::string language = name.substr(0, underscore);
    std::string territory = underscore == std::string::npos ? "" : ToUpper(name.substr(underscore + 1));
    for (char& c : language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (language.empty() || language == "c" || language == "posix") return id;
    id.language = language;
    id.primary = 0;
    id.sub = 1;
    for (const Language& l : kLanguages)
        if (language == l.code) id.primary = l.primary;
    if (id.primary == 4) {
        // Traditional 1 (Taiwan), Simplified 2 (China), Hong Kong 3, Singapore 4, Macau 5.
        id.sub = territory == "TW"   ? 1
                 : territory == "HK" ? 3
                 : territory == "SG" ? 4
                 : territory == "MO" ? 5
                                     : 2;
        if (territory.empty() || territory == "CN") id.sub = 2;
    }
    return id;
}

LocaleId SystemLocaleId() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return LocaleIdFromName(value);
    }
    return LocaleId{};
}

int16_t LocaleCharset(const LocaleId& locale) {
    switch (locale.primary) {
        case 8:
            return 161;  // Greek
        case 2:
        case 25:
        case 34:
            return 204;  // Cyrillic
        case 31:
            return 162;  // Turkish
        case 13:
            return 177;  // Hebrew
        case 1:
            return 178;  // Arabic
        case 5:
        case 14:
        case 21:
        case 24:
        case 26:
        case 27:
        case 28:
        case 36:
            return 238;  // Central European
        case 37:
        case 38:
        case 39:
            return 186;  // Baltic
        case 30:
            return 222;  // Thai
        case 42:
            return 163;  // Vietnamese
        case 4:
            return locale.sub == 1 || locale.sub == 3 || locale.sub == 5 ? 136 : 134;
        case 17:
            return 128;
        case 18:
            return 129;
        default:
            return 0;  // Western
    }
}

ui::UiFont SelectUiFont(const LocaleId& locale, ui::FontCatalog& fonts) {
    // The table's fonts by name; where such a font is not installed, an installed one that shows
    // the language.
    auto cjk = [&](const char* name, const char* language, int16_t charset) {
        std::string candidate = name;
        if (!fonts.FontExists(candidate)) {
            const std::string installed = fonts.FontForLanguage(language);
            candidate = installed.empty() ? std::string(name) : installed;
        }
        return ui::UiFont{candidate, 9, charset};
    };
    switch (locale.primary) {
        case 4:
            if (locale.sub == 1) return cjk("\xE6\x96\xB0\xE7\xB4\xB0\xE6\x98\x8E\xE9\xAB\x94", "zh-TW", 136);
            if (locale.sub == 2) return cjk("\xE5\xAE\x8B\xE4\xBD\x93", "zh-CN", 134);
            return ui::UiFont{};  // other Chinese sub-languages keep the design fonts
        case 17:
            return cjk(
                "\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF", "ja",
                128);
        case 18:
            if (locale.sub == 1 || locale.sub == 2) return cjk("\xEA\xB5\xB4\xEB\xA6\xBC", "ko", 129);
            return ui::UiFont{"", 9, 129};
        default:
            break;
    }
    for (const char* name : {"MS Sans Serif", "Arial", "System"}) {
        std::string candidate = name;
        if (fonts.FontExists(candidate)) return ui::UiFont{candidate, 8, LocaleCharset(locale)};
    }
    return ui::UiFont{fonts.GeneralFont(), 8, LocaleCharset(locale)};
}

void LocalizeForm(ui::Form& form, const ui::UiFont& font) {
    if (!form.Tag().empty()) form.SetCaption(GetLocalMessage(form.Caption(), form.Tag()));
    for (ui::Control* control : form.Controls()) {
        if (!font.name.empty()) control->SetFont(font);
        control->SetBold(false);
        if (!control->Tag().empty()) control->SetCaption(GetLocalMessage(control->Caption(), control->Tag()));
    }
}

}  // namespace zrx
