#pragma once

#include <functional>

#include "ui/form.h"
#include "ui/grid.h"

namespace zrx::ui {

// The details of one offered row, side by side: each field of the installed element and of the
// upgrade's (the ones that differ marked), or a text file's unified diff. It only shows; nothing in
// it changes the installation.
class DetailsForm : public Form {
public:
    DetailsForm() : Form("INDETAIL", "Zarnix Library Upgrade Utility ") {
        for (Control* c : std::initializer_list<Control*>{&F_Title, &F_Fields, &F_Diff, &F_Close})
            Register(*c);
        F_Diff.SetFont(UiFont{"Courier New", 9, 0});
    }
    Label F_Title{"F_Title", ""};
    Grid F_Fields{"F_Fields"};
    TextBox F_Diff{"F_Diff", "", true, true};
    Button F_Close{"F_Close", -1, "Close", "20075"};
};

}  // namespace zrx::ui
