#include "upgrade_list/load_page.h"

#include "archive/upgrade_archive.h"
#include "builder/list_reload.h"
#include "preview/change_column.h"
#include "shell/app.h"
#include "shell/paths.h"
#include "shell/text_utils.h"
#include "trust/open_upgrade.h"
#include "shell/working_database.h"
#include "ui/dialogs.h"
#include "upgrade_list/list_reader.h"
#include "upgrade_list/selection_grid.h"

namespace zrx {

namespace {

// The upgrade the load page points at: an archive chosen in the file list, else the folder.
std::string ChosenUpgrade(const ui::MainForm& m) {
    std::string folder = TrimBlanks(m.F_lstdir.Path());
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    const int chosen = m.F_lstfile.ListIndex();
    if (chosen >= 0 && chosen < static_cast<int>(m.F_lstfile.Items().size()) &&
        archive::IsArchiveName(m.F_lstfile.List(chosen)))
        return JoinPath(folder, m.F_lstfile.List(chosen));
    return folder;
}

void ShowUpgradeState(App& app) {
    if (app.env.BuilderMode) return;
    app.main.P_UpgradeState.SetCaption(UpgradeStateText(app, ChosenUpgrade(app.main)));
}

}  // namespace

void F_lstdir_Change(App& app) {
    app.main.F_lstfile.SetPath(app.main.F_lstdir.Path());
    ShowUpgradeState(app);
}

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
        // An archive is reloaded from the folder it unpacks to.
        const std::string chosen = ChosenUpgrade(m);
        if (chosen != app.ListPath && !OpenUpgradeArchive(app, chosen, app.ListPath)) return;
        ReloadUpgradeListIntoBuilder(app);
        return;
    }
    app.ListPath = ChosenUpgrade(m);
    if (!OpenUpgrade(app) || ReadUpgradeList(app) != 0) return;
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
    // An archive chosen in the file list is said to be one; a double click opens it.
    m.F_lstfile.onClick = [&app] { ShowUpgradeState(app); };
    m.F_lstfile.onDoubleClick = [&app] {
        if (ChosenUpgrade(app.main) != TrimBlanks(app.main.F_lstdir.Path())) F_lstok_Click(app);
    };
}

}  // namespace zrx
