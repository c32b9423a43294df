#pragma once

#include <cstdint>
#include <string>

#include "ui/control.h"

namespace zrx {
namespace ui {
class FontCatalog;
class Form;
}  // namespace ui

// A locale as the font choice sees it: the primary language (low 10 bits of the identifier) and
// the sub-language, with the language code it came from.
struct LocaleId {
    int primary = 9;  // English
    int sub = 1;
    std::string language = "en";
};

// The system's locale: the first non-empty of LC_ALL, LC_CTYPE and LANG ("ja_JP.UTF-8"), mapped
// to the primary and sub-language numbers of the platform it came from.
LocaleId SystemLocaleId();
LocaleId LocaleIdFromName(const std::string& locale);

// The character set of the user's locale (the platform's character-set codes); 0 when unknown.
int16_t LocaleCharset(const LocaleId& locale);

// The user-interface font for a locale: the Chinese, Japanese and Korean fonts of the table (or an
// installed font that displays the language), otherwise the first of "MS Sans Serif", "Arial" and
// "System" that exists, else the desktop's general font.
ui::UiFont SelectUiFont(const LocaleId& locale, ui::FontCatalog& fonts);

// Gives every control of the form the font (bold off) and replaces every caption that carries a
// message number in its Tag by the localised text.
void LocalizeForm(ui::Form& form, const ui::UiFont& font);

}  // namespace zrx
