#pragma once

#include "ui/form.h"
#include "ui/grid.h"

namespace zrx::ui {

// INSUMRY, the summary of an update run.
class SummaryForm : public Form {
public:
    SummaryForm() : Form("INSUMRY", "Zarnix Library Upgrade Utility ") {
        for (Control* c :
             std::initializer_list<Control*>{&F_Result, &F_Resgrid, &F_Save, &F_PrevDef, &F_Finish, &F_Help, &P_Undo})
            Register(*c);
    }
    Label F_Result{"F_Result", "Library  Update Summary"};
    Grid F_Resgrid{"F_Resgrid"};
    Button F_Save{"F_Save", -1, "Save Summary"};
    Button F_PrevDef{"F_PrevDef", -1, "<<  Back"};
    Button F_Finish{"F_Finish", -1, "Finish"};
    Button F_Help{"F_Help", -1, "Help"};
    // Beyond the form's own controls: takes back the run the summary shows.
    Button P_Undo{"P_Undo", -1, "Undo this update", "20040"};
    // Runs each time the window is shown.
    std::function<void()> onActivate;
};

}  // namespace zrx::ui
