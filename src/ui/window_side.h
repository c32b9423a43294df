#pragma once

#include <vector>

#include "base/dialogs.h"
#include "ui/control.h"
#include "ui/forms/main_form.h"

namespace zrx::ui {

class FontCatalog;

// The window side of the program: the main form and the forms shown over it, the dialogs every
// box and modal window goes through, and the fonts. The window layer, the command line or a test
// supplies the dialogs and the font catalogue.
struct WindowSide {
    WindowSide(Dialogs& dialogsIn, FontCatalog& fontsIn) : dialogs(dialogsIn), fonts(fontsIn) {}

    Dialogs& dialogs;
    FontCatalog& fonts;
    UiFont uiFont;
    MainForm main;
    // Forms shown on top of the main window, most recent last.
    std::vector<Form*> openForms;
};

}  // namespace zrx::ui
