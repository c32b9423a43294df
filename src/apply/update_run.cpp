#include "apply/update_run.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "apply/data_files.h"
#include "apply/element_transfer.h"
#include "apply/index_files.h"
#include "apply/model_transfer.h"
#include "apply/run_guard.h"
#include "apply/targets.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "history/installed_base.h"
#include "history/run_record.h"
#include "kernel/zrxkernel.h"
#include "trust/upgrade_check.h"
#include "trust/upgrade_verification.h"

namespace zrx {

std::vector<FailedSave> CheckSavesAreDurable(UpgradeLists& lists, const Environment& env,
                                             ui::Dialogs& dialogs) {
    std::vector<FailedSave> failed;
    if (E_FlushLibraries() != 0) return failed;
    for (int32_t i = 0; const char* name = E_FailedSave(i); ++i)
        failed.push_back({StringFromPointer(E_FailedSaveLibrary(i)), StringFromPointer(name)});
    E_ClearFailedSaves();
    MarkLostSaves(lists, env, dialogs, failed);
    return failed;
}

void MarkLostSaves(UpgradeLists& upgradeLists, const Environment& env, ui::Dialogs& dialogs,
                   const std::vector<FailedSave>& failed) {
    std::string names;
    int count = 0;
    InstallationAccess access(env);
    ResolvedTargets targets(access);
    const std::pair<int, std::vector<ElementItem>*> lists[] = {{1, &upgradeLists.PartItems},
                                                               {2, &upgradeLists.SymbolItems},
                                                               {3, &upgradeLists.PackageItems},
                                                               {5, &upgradeLists.SpiceModelItems},
                                                               {6, &upgradeLists.MixedModelItems}};
    for (const auto& [kind, list] : lists)
        for (ElementItem& item : *list) {
            if (item.Copied != 1) continue;
            // The kernel names a library by its real path (where a link leads): so is this one.
            const Result<Target>& target = targets.In(ElementTargetDir(env, kind), item.TargetLib);
            if (!target) continue;
            const std::string library = target->folder->RealPathOf(target->name);
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
        ShowWarning(dialogs, "These elements could not be written to their libraries after all (is the disk "
             "full?): " +
                 names + ". The summary shows them as not copied.");
}

void NoteNotRecorded(RunState& run, ui::Dialogs& dialogs, const std::string& why) {
    if (!run.unrecordedReasons.insert(why).second) return;
    ShowWarning(dialogs, "The update could not be recorded for undo: " + why +
             ". What could not be recorded was not changed; the summary shows it as not copied.");
}

void CountRunElement(RunState& run, ui::Dialogs& dialogs, const ui::StatusLine& status) {
    RunState::RunProgress& progress = run.runProgress;
    if (progress.done < progress.total) ++progress.done;
    dialogs.ShowProgress(status.Said(), progress.done, progress.total);
}

void ResetCopyStatus(UpgradeLists& lists) {
    for (auto* list : {&lists.PartItems, &lists.SymbolItems, &lists.PackageItems, &lists.SpiceModelItems,
                       &lists.MixedModelItems})
        for (ElementItem& item : *list) item.Copied = 0, item.Merged = false, item.Conflicts.clear();
    for (DataFileItem& item : lists.DataFileItems)
        item.Copied = 0, item.Merged = false, item.Conflicts.clear();
}

void RunUpdateSteps(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                    ui::StatusLine& status) {
    CopyDataFiles(env, upgrade, run, dialogs, status);
    UpdateSubcircuitIndex(env, upgrade, run, dialogs, status);
    std::string libDir = env.LibDir;
    // The availability test of the library directory the run makes, as the suite does; the run then
    // reaches the directory through its held handle.
    if (CheckPathAvailable(libDir, dialogs) == 0) {  // file-access: shows whether LibDir can be used
        TransferParts(env, upgrade, run, dialogs, status);
        TransferSymbols(env, upgrade, run, dialogs, status);
        TransferPackages(env, upgrade, run, dialogs, status);
        TransferMixedModels(env, upgrade, run, dialogs, status);
    }
    TransferSpiceModels(env, upgrade, run, dialogs, status);
    UpdateModelIndex(env, upgrade, run, dialogs, status);
}

RunReport RunUpdate(const Environment& env, LoadedUpgrade& upgrade, const UpgradeVerification& verification,
                    RunState& run, ui::Dialogs& dialogs, ui::StatusLine& status) {
    ResetCopyStatus(upgrade.lists);
    run.refusedLibraries.clear();
    run.unrecordedReasons.clear();
    run.runProgress = {};
    const UpgradeLists& lists = upgrade.lists;
    for (const auto* list :
         {&lists.PartItems, &lists.SymbolItems, &lists.PackageItems, &lists.SpiceModelItems, &lists.MixedModelItems})
        for (const ElementItem& item : *list) run.runProgress.total += item.Update != 0 && !item.Name.empty() ? 1 : 0;
    for (const DataFileItem& item : lists.DataFileItems)
        run.runProgress.total += item.Update == 1 && item.Withheld == 0 && !item.Name.empty() ? 1 : 0;
    RemoveStaleTemporaries(env);
    SettleLeftLibraries(env);

    // A run that merges reads what the runs before it installed first, with the installation's
    // lock held: nothing changes them meanwhile.
    std::optional<history::InstalledBases> bases;
    if (run.MergeEdited) {
        auto read = history::InstalledBases::Read(env);
        if (!read) {
            dialogs.SetBusy(false);
            ShowCritical(dialogs,
                         "The edits made here cannot be merged: " + read.Why() + ". Nothing was changed.");
            return {};
        }
        bases = std::move(*read);
    }
    // The run is recorded for undo as it goes: each change is recorded right before it is made. A
    // run whose record cannot be begun changes nothing.
    auto begun = history::RunRecorder::Begin(
        env,
        {upgrade.ListPath, std::string(trust::StateWord(verification.check.state)),
         verification.check.state == trust::UpgradeState::Signed ? verification.check.keyId : std::string()});
    run.lastRunId = 0;
    if (!begun) {
        dialogs.SetBusy(false);
        ShowCritical(dialogs,
                     "The update could not be recorded for undo: " + begun.Why() + ". Nothing was changed.");
        return {};
    }
    std::unique_ptr<history::RunRecorder> record = std::move(*begun);
    if (!record->BasesProblem().empty())
        ShowWarning(dialogs, "What this update installs cannot be kept for merging later edits: " +
                                 record->BasesProblem() + ". The update goes on.");
    run.runRecord = record.get();
    run.bases = bases ? &*bases : nullptr;
    RunUpdateSteps(env, upgrade, run, dialogs, status);
    run.bases = nullptr;
    dialogs.SetBusy(false);
    dialogs.ShowProgress({}, 0, 0);
    const std::vector<FailedSave> failed = CheckSavesAreDurable(upgrade.lists, env, dialogs);
    run.runRecord = nullptr;
    run.lastRunId = record->Finish(failed);
    record.reset();
    RunReport report = MakeRunReport(upgrade.lists, upgrade.GridRows, env);
    report.ran = true;
    report.runId = run.lastRunId;
    return report;
}

}  // namespace zrx
