#pragma once

#include "ui/form.h"

namespace zrx::ui {

// INSTTXT, the readme viewer: the readme lines of the loaded list as one read-only text.
class ReadmeForm : public Form {
public:
    ReadmeForm() : Form("INSTTXT", "Zarnix Library Upgrade Utility ") {
        for (Control* c : std::initializer_list<Control*>{&F_Sumfrm, &F_Summary, &F_Help, &F_Prev}) Register(*c);
        F_Summary.SetFont(UiFont{"MS Sans Serif", 8, 0});
    }
    Frame F_Sumfrm{"F_Sumfrm"};
    TextBox F_Summary{"F_Summary", "", true, true};
    Button F_Help{"F_Help", -1, "Help"};
    Button F_Prev{"F_Prev", -1, "Close"};
};

}  // namespace zrx::ui
