#include "apply/update_run.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include "apply/data_files.h"
#include "apply/element_transfer.h"
#include "apply/index_files.h"
#include "apply/model_transfer.h"
#include "apply/run_guard.h"
#include "apply/targets.h"
#include "apply/summary.h"
#include "history/run_record.h"
#include "trust/upgrade_check.h"
#include "kernel/zrxkernel.h"
#include "shell/app.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "base/dialogs.h"
#include "upgrade_list/selection_grid.h"

namespace zrx {

namespace {

// Saves the kernel reported as done but could not make durable (a full disk, say) are not copied
// after all: their elements (matched by their kind's target library and name) are marked so and
// reported in one box. Returns those saves, for the run's record.
std::vector<FailedSave> CheckSavesAreDurable(App& app) {
    std::vector<FailedSave> failed;
    if (E_FlushLibraries() != 0) return failed;
    for (int32_t i = 0; const char* name = E_FailedSave(i); ++i)
        failed.push_back({StringFromPointer(E_FailedSaveLibrary(i)), StringFromPointer(name)});
    E_ClearFailedSaves();
    MarkLostSaves(app, failed);
    return failed;
}

}  // namespace

void MarkLostSaves(App& app, const std::vector<FailedSave>& failed) {
    RealPaths realPaths;
    std::string names;
    int count = 0;
    ResolvedNames targets;
    const std::pair<int, std::vector<ElementItem>*> lists[] = {{1, &app.upgrade.lists.PartItems},
                                                               {2, &app.upgrade.lists.SymbolItems},
                                                               {3, &app.upgrade.lists.PackageItems},
                                                               {5, &app.upgrade.lists.SpiceModelItems},
                                                               {6, &app.upgrade.lists.MixedModelItems}};
    for (const auto& [kind, list] : lists)
        for (ElementItem& item : *list) {
            if (item.Copied != 1) continue;
            const std::string& library = realPaths.Of(targets.In(ElementTargetDir(app.installation.env, kind), item.TargetLib), true);
            const std::string name = kind == 5 || kind == 6 ? TrimBlanks(item.Name) : item.Name;
            const bool lost = std::any_of(failed.begin(), failed.end(), [&](const FailedSave& save) {
                return save.name == name && save.library == library;
            });
            if (!lost) continue;
            item.Copied = 0;
            if (++count <= 20) names += (names.empty() ? "" : ", ") + item.Name;
        }
    if (count > 20) names += " and " + std::to_string(count - 20) + " more";
    if (count > 0)
        app.window.dialogs.ShowMessage({"These elements could not be written to their libraries after all (is the disk "
                                 "full?): " + names + ". The summary shows them as not copied.",
                                 std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
}

void NoteNotRecorded(App& app, const std::string& why) {
    if (!app.run.unrecordedReasons.insert(why).second) return;
    app.window.dialogs.ShowMessage({"The update could not be recorded for undo: " + why +
                                 ". What could not be recorded was not changed; the summary shows it as not copied.",
                             std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
}

void CountRunElement(App& app) {
    RunState::RunProgress& progress = app.run.runProgress;
    if (progress.done < progress.total) ++progress.done;
    app.window.dialogs.ShowProgress(app.window.main.F_Status.Caption(), progress.done, progress.total);
}

void ResetCopyStatus(App& app) {
    for (auto* list : {&app.upgrade.lists.PartItems, &app.upgrade.lists.SymbolItems, &app.upgrade.lists.PackageItems,
                       &app.upgrade.lists.SpiceModelItems, &app.upgrade.lists.MixedModelItems})
        for (ElementItem& item : *list) item.Copied = 0;
    for (DataFileItem& item : app.upgrade.lists.DataFileItems) item.Copied = 0;
}

void UpdateLibraries(App& app) {
    ui::MainForm& m = app.window.main;
    app.window.dialogs.ProcessEvents();
    if (!AskYesNo(app.window.dialogs, GetLocalMessage("Are you sure you want to update the library files", 447))) return;
    // A second program updating the same installation at the same time would mix its writes with
    // this one's: the run holds the installation's lock while it changes anything.
    const InstallationLock lock(InstallationDir(app.installation.env));
    if (!lock.Held()) {
        const std::string& problem = lock.Problem();
        app.window.dialogs.ShowMessage({StartsWith(problem, "an upgrade of this installation is in progress")
                                     ? "An upgrade of this installation is in progress in another program. Nothing "
                                       "was changed; try again when it has finished."
                                     : "The update cannot begin: " + problem + ".",
                                 std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
        return;
    }
    CollectGridSelection(app);
    ui::Button* const runButtons[] = {&m.F_Update, &m.F_Cancel, &m.F_Exit(0), &m.F_Exit(1), &m.F_Help(4)};
    for (ui::Button* button : runButtons) button->SetEnabled(false);
    m.F_Status.SetCaption(GetLocalMessage("Processing Library Files", 4413));
    app.window.dialogs.SetBusy(true);
    ResetCopyStatus(app);
    app.run.refusedLibraries.clear();
    app.run.unrecordedReasons.clear();
    app.run.runProgress = {};
    for (const auto* list : {&app.upgrade.lists.PartItems, &app.upgrade.lists.SymbolItems, &app.upgrade.lists.PackageItems,
                             &app.upgrade.lists.SpiceModelItems, &app.upgrade.lists.MixedModelItems})
        for (const ElementItem& item : *list) app.run.runProgress.total += item.Update != 0 && !item.Name.empty() ? 1 : 0;
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
         app.verification.check.state == trust::UpgradeState::Signed ? app.verification.check.keyId : std::string()},
        recordError);
    app.run.lastRunId = 0;
    if (!record) {
        app.window.dialogs.SetBusy(false);
        app.window.dialogs.ShowMessage({"The update could not be recorded for undo: " + recordError +
                                     ". Nothing was changed.",
                                 std::string(kAppTitle), ui::Icon::Critical, ui::Buttons::Ok, false});
        m.F_Status.SetCaption(GetLocalMessage("Done", "4414 "));
        for (ui::Button* button : runButtons) button->SetEnabled(true);
        return;
    }
    app.run.runRecord = record.get();

    CopyDataFiles(app);
    UpdateSubcircuitIndex(app);
    if (CheckPathAvailable(app.installation.env.LibDir, app.window.dialogs) == 0) {
        TransferParts(app);
        TransferSymbols(app);
        TransferPackages(app);
        TransferMixedModels(app);
    }
    TransferSpiceModels(app);
    UpdateModelIndex(app);

    app.window.dialogs.SetBusy(false);
    app.window.dialogs.ShowProgress({}, 0, 0);
    const std::vector<FailedSave> failed = CheckSavesAreDurable(app);
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
