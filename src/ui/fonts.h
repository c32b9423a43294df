#pragma once

#include <string>

namespace zrx::ui {

// What the window system knows about its fonts.
class FontCatalog {
public:
    virtual ~FontCatalog() = default;
    // True when a font of that name exists (compared without regard to case); the name becomes
    // the name the font reports.
    virtual bool FontExists(std::string& name) = 0;
    // An installed font family that displays a language ("zh-TW", "zh-CN", "ja", "ko"), or "".
    virtual std::string FontForLanguage(const std::string& language) = 0;
    // The desktop's general user-interface font.
    virtual std::string GeneralFont() = 0;
};

}  // namespace zrx::ui
