#include "upgrade_list/load_page.h"

#include "builder/list_reload.h"
#include "preview/change_column.h"
#include "shell/app.h"
#include "shell/text_utils.h"
#include "shell/working_database.h"
#include "ui/dialogs.h"
#include "upgrade_list/list_reader.h"
#include "upgrade_list/selection_grid.h"

namespace zrx {

void F_lstdir_Change(App& app) { app.main.F_lstfile.SetPath(app.main.F_lstdir.Path()); }

void F_lstDrive_Change(App& app) {
    ui::MainForm& m = app.main;
    m.F_lstdir.SetVisible(true);
    if (m.F_lstdir.SetPath(m.F_lstDrive.Drive())) {
        F_lstdir_Change(app);
    } else {
        m.F_lstdir.SetVisible(false);  // an unreadable drive only hides the folder list
    }
}

void F_lstok_Click(App& app) {
    ui::MainForm& m = app.main;
    app.ListPath = TrimBlanks(m.F_lstdir.Path());
    if (!app.ListPath.empty() && app.ListPath.back() == '/') app.ListPath.pop_back();
    if (app.env.BuilderMode) {
        ReloadUpgradeListIntoBuilder(app);
        return;
    }
    if (ReadUpgradeList(app) != 0) return;
    app.dialogs.SetBusy(true);
    AssignTargetDirs(app);
    BuildGridRows(app);
    FillPreferenceGrid(app);
    if (app.compareOnLoad) app.changeColumn.Refresh();
    m.F_Format.SetVisible(false);
    app.dialogs.SetBusy(false);
    ClearWorkingDatabase();
    m.F_lstfrm.SetVisible(false);
    m.F_Msg.SetVisible(true);
}

void ConnectLoadPage(App& app) {
    ui::MainForm& m = app.main;
    m.F_lstok.onClick = [&app] { F_lstok_Click(app); };
    m.F_lstdir.onChange = [&app] { F_lstdir_Change(app); };
    m.F_lstDrive.onChange = [&app] { F_lstDrive_Change(app); };
}

}  // namespace zrx
