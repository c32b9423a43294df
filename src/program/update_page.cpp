#include "program/update_page.h"

#include <string>
#include <vector>

#include "apply/run_guard.h"
#include "apply/update_run.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/text_utils.h"
#include "program/app.h"
#include "program/selection_page.h"
#include "program/summary_window.h"
#include "upgrade_list/selection_grid.h"

namespace zrx {

std::optional<RunReport> RunSelectedUpdate(App& app, const std::vector<bool>& selected,
                                           const std::function<void(const RunReport&)>& shown) {
    ui::MainForm& m = app.window.main;
    app.window.dialogs.ProcessEvents();
    if (!AskYesNo(app.window.dialogs,
                  GetLocalMessage("Are you sure you want to update the library files", 447)))
        return std::nullopt;
    // A second program updating the same installation at the same time would mix its writes with
    // this one's: the run holds the installation's lock while it changes anything.
    const InstallationLock lock(app.installation.env);
    if (!lock.Held()) {
        const std::string& problem = lock.Problem();
        ShowWarning(app.window.dialogs, StartsWith(problem, "an upgrade of this installation is in progress")
                                            ? "An upgrade of this installation is in progress in another program. "
                                              "Nothing was changed; try again when it has finished."
                                            : "The update cannot begin: " + problem + ".");
        return std::nullopt;
    }
    // Rows edited here since the last upgrade stay as they are, where the user asked for that.
    std::vector<bool> chosen = selected;
    std::vector<size_t> kept;
    if (app.run.KeepEdited) {
        const auto& local = app.changeColumn.Changes().local;
        for (size_t i = 0; i < chosen.size() && i < local.size(); ++i)
            if (chosen[i] && local[i] == preview::Local::Edited) {
                chosen[i] = false;
                kept.push_back(i);
            }
    }
    CollectSelection(app.upgrade.lists, app.upgrade.GridRows, chosen);
    ui::Button* const runButtons[] = {&m.F_Update, &m.F_Cancel, &m.F_Exit(0), &m.F_Exit(1), &m.F_Help(4)};
    for (ui::Button* button : runButtons) button->SetEnabled(false);
    m.F_Status.SetCaption(GetLocalMessage("Processing Library Files", 4413));
    app.window.dialogs.SetBusy(true);
    RunReport report =
        RunUpdate(app.installation.env, app.upgrade, app.verification, app.run, app.window.dialogs, m.F_Status);
    NoteKeptEdited(report, kept);
    if (report.ran && shown) shown(report);
    m.F_Status.SetCaption(GetLocalMessage("Done", "4414 "));
    for (ui::Button* button : runButtons) button->SetEnabled(true);
    if (!report.ran) return std::nullopt;
    return report;
}

void UpdateLibraries(App& app) {
    const std::vector<bool> selected = GridSelection(app.window.main.F_Preferen, app.upgrade.GridRows.size() - 1);
    const auto report = RunSelectedUpdate(app, selected, [&app](const RunReport& ran) { ShowSummary(app, ran); });
    if (report && app.run.SummaryFinished) app.CloseMainWindow();
}

void ConnectUpdatePage(App& app) {
    // Rows edited here are kept, or merged: one or neither, never both.
    ui::MainForm& m = app.window.main;
    m.P_KeepEdited.onClick = [&app, &m] {
        app.run.KeepEdited = m.P_KeepEdited.Value();
        if (app.run.KeepEdited) m.P_MergeEdited.SetValue(false), app.run.MergeEdited = false;
    };
    m.P_MergeEdited.onClick = [&app, &m] {
        app.run.MergeEdited = m.P_MergeEdited.Value();
        if (app.run.MergeEdited) m.P_KeepEdited.SetValue(false), app.run.KeepEdited = false;
    };
    app.window.main.F_Update.onClick = [&app] {
        UpdateLibraries(app);
        // What the rows would change is worked out again when the grid is shown again.
        app.changeColumn.MarkStale();
    };
}

}  // namespace zrx
