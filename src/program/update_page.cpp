#include "program/update_page.h"

#include <string>
#include <vector>

#include "apply/run_guard.h"
#include "apply/summary.h"
#include "apply/update_run.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "history/run_record.h"
#include "history/undo_action.h"
#include "program/app.h"
#include "program/main_window.h"
#include "trust/upgrade_check.h"
#include "ui/forms/summary_form.h"
#include "upgrade_list/selection_grid.h"

namespace zrx {

namespace {

// Shows the summary window modally; returns when it is hidden or unloaded.
void ShowSummary(App& app) {
    ui::SummaryForm form;
    std::optional<history::RollbackResult> undo;
    form.onActivate = [&app, &form, &undo] {
        app.run.SummaryFinished = false;
        FillSummary(form, app.upgrade.lists, app.installation.env, app.window.dialogs, app.window.uiFont,
                    undo ? &*undo : nullptr);
    };
    form.F_Save.onClick = [&app, &form] { F_Save_Click(app.window.dialogs, form); };
    form.F_Finish.onClick = [&app, &form] {
        app.run.SummaryFinished = true;
        form.SetVisible(false);
    };
    form.F_PrevDef.onClick = [&form] { form.SetVisible(false); };
    form.F_Help.onClick = [&app] { ShowHelp(app); };
    ConnectUndo(form, app.window.dialogs, app.installation.env, app.run.lastRunId, app.changeColumn,
                [&undo, &form](const history::RollbackResult& result) {
                    undo = result;
                    form.onActivate();
                });
    form.onActivate();
    app.window.openForms.push_back(&form);
    app.window.dialogs.ShowModal(form);
    std::erase(app.window.openForms, &form);
}

}  // namespace

void UpdateLibraries(App& app) {
    ui::MainForm& m = app.window.main;
    app.window.dialogs.ProcessEvents();
    if (!AskYesNo(app.window.dialogs,
                  GetLocalMessage("Are you sure you want to update the library files", 447)))
        return;
    // A second program updating the same installation at the same time would mix its writes with
    // this one's: the run holds the installation's lock while it changes anything.
    const InstallationLock lock(app.installation.env);
    if (!lock.Held()) {
        const std::string& problem = lock.Problem();
        app.window.dialogs.ShowMessage(
            {StartsWith(problem, "an upgrade of this installation is in progress")
                 ? "An upgrade of this installation is in progress in another program. Nothing "
                   "was changed; try again when it has finished."
                 : "The update cannot begin: " + problem + ".",
             std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
        return;
    }
    CollectGridSelection(app.upgrade.lists, app.upgrade.GridRows, app.window.main.F_Preferen);
    ui::Button* const runButtons[] = {&m.F_Update, &m.F_Cancel, &m.F_Exit(0), &m.F_Exit(1), &m.F_Help(4)};
    for (ui::Button* button : runButtons) button->SetEnabled(false);
    m.F_Status.SetCaption(GetLocalMessage("Processing Library Files", 4413));
    app.window.dialogs.SetBusy(true);
    ResetCopyStatus(app.upgrade.lists);
    app.run.refusedLibraries.clear();
    app.run.unrecordedReasons.clear();
    app.run.runProgress = {};
    for (const auto* list :
         {&app.upgrade.lists.PartItems, &app.upgrade.lists.SymbolItems, &app.upgrade.lists.PackageItems,
          &app.upgrade.lists.SpiceModelItems, &app.upgrade.lists.MixedModelItems})
        for (const ElementItem& item : *list)
            app.run.runProgress.total += item.Update != 0 && !item.Name.empty() ? 1 : 0;
    for (const DataFileItem& item : app.upgrade.lists.DataFileItems)
        app.run.runProgress.total += item.Update == 1 && item.Withheld == 0 && !item.Name.empty() ? 1 : 0;
    RemoveStaleTemporaries(app.installation.env);
    SettleLeftLibraries(app.installation.env);

    // The run is recorded for undo as it goes: each change is recorded right before it is made. A
    // run whose record cannot be begun changes nothing.
    std::string recordError;
    auto record = history::RunRecorder::Begin(
        app.installation.env,
        {app.upgrade.ListPath, std::string(trust::StateWord(app.verification.check.state)),
         app.verification.check.state == trust::UpgradeState::Signed ? app.verification.check.keyId
                                                                     : std::string()},
        recordError);
    app.run.lastRunId = 0;
    if (!record) {
        app.window.dialogs.SetBusy(false);
        app.window.dialogs.ShowMessage(
            {"The update could not be recorded for undo: " + recordError + ". Nothing was changed.",
             std::string(kAppTitle), ui::Icon::Critical, ui::Buttons::Ok, false});
        m.F_Status.SetCaption(GetLocalMessage("Done", "4414 "));
        for (ui::Button* button : runButtons) button->SetEnabled(true);
        return;
    }
    app.run.runRecord = record.get();

    RunUpdateSteps(app.installation.env, app.upgrade, app.run, app.window.dialogs, m.F_Status);

    app.window.dialogs.SetBusy(false);
    app.window.dialogs.ShowProgress({}, 0, 0);
    const std::vector<FailedSave> failed =
        CheckSavesAreDurable(app.upgrade.lists, app.installation.env, app.window.dialogs);
    app.run.runRecord = nullptr;
    app.run.lastRunId = record->Finish(failed);
    record.reset();
    ShowSummary(app);
    m.F_Status.SetCaption(GetLocalMessage("Done", "4414 "));
    for (ui::Button* button : runButtons) button->SetEnabled(true);
    if (app.run.SummaryFinished) app.CloseMainWindow();
}

void ConnectUpdatePage(App& app) {
    app.window.main.F_Update.onClick = [&app] {
        UpdateLibraries(app);
        // What the rows would change is worked out again when the grid is shown again.
        app.changeColumn.MarkStale();
    };
}

}  // namespace zrx
