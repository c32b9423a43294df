#include "program/main_window.h"

#include "base/dialogs.h"
#include "base/paths.h"
#include "program/app.h"
#include "program/readme_viewer.h"

namespace zrx {

const char* HelpFileName() {
    return "ZRXLIBUG.HLP";
}

std::string HelpFilePath(const std::string& serverPath) {
    // Beside the program (as the suite installs it, and in the build tree), else in the data
    // directory of the installation the program runs from.
    const std::string beside = JoinPath(serverPath, HelpFileName());
    if (IsRegularFile(beside)) return beside;  // file-access: the program's own help file
    const std::string shared =
        JoinPath(JoinPath(JoinPath(serverPath, ".."), "share/zrxlibug"), HelpFileName());
    return IsRegularFile(shared) ? shared : beside;  // file-access: the program's own help file
}

void ShowHelp(App& app) {
    app.window.dialogs.ShowHelp(HelpFilePath(app.installation.env.ServerPath));
}

void F_Proceed_Click(App& app) {
    if (app.window.main.F_Preferen.Rows() == 1) return;
    app.window.main.F_Msg.SetVisible(false);
    app.window.main.F_Deffrm.SetVisible(true);
}

void F_Cancel_Click(App& app) {
    app.window.main.F_Deffrm.SetVisible(false);
    app.window.main.F_Msg.SetVisible(true);
}

void F_Exit_Click(App& app) {
    app.CloseMainWindow();
}
void F_Terminate_Click(App& app) {
    app.CloseMainWindow();
}
void M_exit_Click(App& app) {
    app.CloseMainWindow();
}
void F_Info_Click(App& app) {
    ShowReadmeViewer(app);
}
void F_Help_Click(App& app) {
    ShowHelp(app);
}

void M_Build_Click(App& app) {
    app.window.main.F_chgfrm.SetVisible(true);
    app.window.main.F_Format.SetVisible(false);
    app.window.main.F_lstfrm.SetVisible(false);
}

void M_Upgload_Click(App& app) {
    app.window.main.F_lstfrm.SetVisible(true);
    app.window.main.F_Format.SetVisible(false);
}

void M_Fileitems_Click(App& app, int index) {
    ui::MainForm& m = app.window.main;
    m.F_Format.SetVisible(true);
    m.F_chgfrm.SetVisible(false);
    m.F_lstfrm.SetVisible(false);
    for (int i = 0; i < 10; ++i) m.F_Details(i).SetVisible(false);
    if (index == 5) {
        // The subcircuit frame always opens at the subcircuit directory; a directory that cannot
        // be read leaves the lists as they are.
        m.F_sbcdrive.SetDriveFor(app.installation.env.ZSMsbk);
        if (m.F_sbcdir.SetPath(app.installation.env.ZSMsbk)) m.F_SBCItem.SetPath(m.F_sbcdir.Path());
    }
    if (index >= 0 && index < 10) m.F_Details(index).SetVisible(true);
}

void ConnectMainWindow(App& app) {
    ui::MainForm& m = app.window.main;
    m.F_Proceed.onClick = [&app] { F_Proceed_Click(app); };
    m.F_Cancel.onClick = [&app] { F_Cancel_Click(app); };
    for (const auto& [index, button] : m.F_Exit.Members()) button->onClick = [&app] { F_Exit_Click(app); };
    for (const auto& [index, button] : m.F_Help.Members()) button->onClick = [&app] { F_Help_Click(app); };
    m.F_Terminate.onClick = [&app] { F_Terminate_Click(app); };
    m.M_exit.onClick = [&app] { M_exit_Click(app); };
    m.F_Info.onClick = [&app] { F_Info_Click(app); };
    m.M_Build.onClick = [&app] { M_Build_Click(app); };
    m.M_Upgload.onClick = [&app] { M_Upgload_Click(app); };
    for (const auto& [index, item] : m.M_Fileitems.Members()) {
        const int i = index;
        item->onClick = [&app, i] { M_Fileitems_Click(app, i); };
    }
}

}  // namespace zrx
