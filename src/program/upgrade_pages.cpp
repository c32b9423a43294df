#include "program/upgrade_pages.h"

#include "archive/upgrade_archive.h"
#include "base/dialogs.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/list_reload.h"
#include "kernel/working_database.h"
#include "program/builder_page.h"
#include "program/change_column.h"
#include "program/app.h"
#include "trust/open_upgrade.h"
#include "upgrade_list/list_reader.h"
#include "program/selection_page.h"
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
    if (app.installation.env.BuilderMode) return;
    app.window.main.P_UpgradeState.SetCaption(
        UpgradeStateText(app.installation.env, ChosenUpgrade(app.window.main)));
}

}  // namespace

void F_lstdir_Change(App& app) {
    app.window.main.F_lstfile.SetPath(app.window.main.F_lstdir.Path());
    ShowUpgradeState(app);
}

void F_lstDrive_Change(App& app) {
    ui::MainForm& m = app.window.main;
    m.F_lstdir.SetVisible(true);
    if (m.F_lstdir.SetPath(m.F_lstDrive.Drive())) {
        F_lstdir_Change(app);
    } else {
        m.F_lstdir.SetVisible(false);  // an unreadable drive only hides the folder list
    }
}

bool ReloadIntoBuilder(App& app, const std::string& folderOrArchive) {
    // A reloaded upgrade is checked as any loaded one is, and reloaded from what was checked
    // (UpgradeDir: the private copy, or the folder an archive unpacks to): a tampered upgrade is
    // never rebuilt and signed anew. Asked first: until it is confirmed and the upgrade opened,
    // nothing the builder holds is touched (its reloaded files are read from the private folder of
    // an earlier reload).
    if (!ConfirmReload(app.window.dialogs)) return false;
    LoadedUpgrade candidate;
    candidate.ListPath = folderOrArchive;
    UpgradeVerification verification;
    verification.allowUnsigned = app.verification.allowUnsigned;
    if (!OpenUpgrade(app.installation.env, candidate, verification, app.window.dialogs,
                     trust::CopyScope::Everything)) {
        app.upgrade.ListPath.clear();
        return false;
    }
    app.upgrade.ListPath = candidate.ListPath;
    app.upgrade.UpgradeDir = candidate.UpgradeDir;
    app.upgrade.Folder = candidate.Folder;
    app.upgrade.InPlace = candidate.InPlace;
    app.verification.check = verification.check;
    app.verification.loadedUnsigned = verification.loadedUnsigned;
    app.verification.scratch = verification.scratch;
    ReloadUpgradeListIntoBuilder(app.builder, app.upgrade, app.installation.env, app.window.dialogs);
    app.builder.reloadedFrom = verification.scratch;
    ShowBuilder(app.builder, app.window.main);
    return !app.upgrade.ListPath.empty();
}

void F_lstok_Click(App& app) {
    ui::MainForm& m = app.window.main;
    app.upgrade.ListPath = TrimBlanks(m.F_lstdir.Path());
    if (!app.upgrade.ListPath.empty() && app.upgrade.ListPath.back() == '/') app.upgrade.ListPath.pop_back();
    if (app.installation.env.BuilderMode) {
        ReloadIntoBuilder(app, ChosenUpgrade(m));
        return;
    }
    LoadUpgrade(app, ChosenUpgrade(m));
}

bool LoadUpgrade(App& app, const std::string& folderOrArchive) {
    ui::MainForm& m = app.window.main;
    app.upgrade.ListPath = folderOrArchive;
    if (!OpenUpgrade(app.installation.env, app.upgrade, app.verification, app.window.dialogs) ||
        ReadUpgradeList(app.upgrade, app.window.dialogs) != 0)
        return false;
    app.window.dialogs.SetBusy(true);
    AssignTargetDirs(app.upgrade.loaded, app.installation.env);
    BuildGridRows(app.upgrade.GridRows, app.upgrade.loaded, app.installation.env);
    FillPreferenceGrid(m.F_Preferen, app.upgrade, app.window.dialogs, app.window.uiFont);
    if (app.upgrade.compareOnLoad) app.changeColumn.Refresh();
    m.F_Format.SetVisible(false);
    app.window.dialogs.SetBusy(false);
    ClearWorkingDatabase();
    m.F_lstfrm.SetVisible(false);
    m.F_Msg.SetVisible(true);
    return true;
}

void ConnectLoadPage(App& app) {
    ui::MainForm& m = app.window.main;
    m.F_lstok.onClick = [&app] { F_lstok_Click(app); };
    m.F_lstdir.onChange = [&app] { F_lstdir_Change(app); };
    m.F_lstDrive.onChange = [&app] { F_lstDrive_Change(app); };
    // An archive chosen in the file list is said to be one; a double click opens it.
    m.F_lstfile.onClick = [&app] { ShowUpgradeState(app); };
    m.F_lstfile.onDoubleClick = [&app] {
        if (ChosenUpgrade(app.window.main) != TrimBlanks(app.window.main.F_lstdir.Path())) F_lstok_Click(app);
    };
}

void F_OverPrompt_Click(App& app, int index) {
    ui::MainForm& m = app.window.main;
    if (index == 0) {
        app.run.AskOverwrite = m.F_OverPrompt(0).Value();
        app.run.OverwriteAll = false;
    } else if (index == 1) {
        app.run.OverwriteAll = m.F_OverPrompt(1).Value();
        app.run.AskOverwrite = false;
    }
}

void ConnectSelectionGrid(App& app) {
    ui::MainForm& m = app.window.main;
    m.F_Preferen.onMouseUp = [&m] { ToggleUpdateCells(m.F_Preferen); };
    m.F_OverPrompt(0).onClick = [&app] { F_OverPrompt_Click(app, 0); };
    m.F_OverPrompt(1).onClick = [&app] { F_OverPrompt_Click(app, 1); };
}

}  // namespace zrx
