#include "apply/element_transfer.h"

#include "apply/kernel_wrappers.h"
#include "apply/targets.h"
#include "apply/update_run.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "kernel/working_database.h"
#include "kernel/zrxkernel.h"
#include "upgrade_list/list_reader.h"

namespace zrx {

namespace {

// What differs between parts, symbols and packages.
struct TransferKind {
    int32_t slot;
    bool clearBeforeLoading;  // parts and packages
    bool deleteAfterwards;    // parts (device map) and packages (symbol map)
    bool isPart;
    int32_t loadFailureCode;
    int32_t saveFailureCode;
    const char* questionPrefix;
    const char* loadingText;
    const char* loadingNumber;
    const char* savingText;
    const char* savingNumber;
    const char* beforePath;
};

constexpr TransferKind kPartTransfer{ZK_SLOT_PART,          true,
                                     true,                  true,
                                     4,                     2,
                                     "Part with same name ", "Loading part into memory",
                                     "4415",                "Saving part  ",
                                     "4416 ",               " to Library :-"};
constexpr TransferKind kSymbolTransfer{ZK_SLOT_SYMBOL,           false,
                                       false,                    false,
                                       8,                        7,
                                       "Symbol with same name ", "Loading symbol ",
                                       "4418 ",                  "Saving symbol  ",
                                       "4419 ",                  " to Library:-"};
constexpr TransferKind kPackageTransfer{ZK_SLOT_PACKAGE,           true,
                                        true,                      false,
                                        8,                         7,
                                        "Package with same name ", "Loading Package ",
                                        "4417 ",                   "Saving package  ",
                                        "991140 ",                 "to Lib :-"};

// What a transfer works with: the installation's directories, the upgrade's libraries, the run,
// the dialogs and the status line.
struct TransferRun {
    const Environment& env;
    LoadedUpgrade& upgrade;
    RunState& run;
    ui::Dialogs& dialogs;
    ui::StatusLine& status;
};

void Transfer(TransferRun t, std::vector<ElementItem>& list, const TransferKind& kind,
              const std::string& (*sourceOf)(const std::array<std::string, 6>&, const ElementItem&)) {
    if (IsPlaceholder(list)) return;
    RunState& run = t.run;
    ui::Dialogs& dialogs = t.dialogs;
    std::string why;
    const auto upgradeFolder = UpgradeFolder(t.upgrade, why);
    InstallationAccess access(t.env);
    ResolvedTargets targets(access);
    for (ElementItem& item : list) {
        dialogs.ProcessEvents();
        if (item.Update != 0) CountRunElement(run, dialogs, t.status);
        int32_t slot = kind.slot;
        const std::string& source = sourceOf(t.upgrade.UpgLibPath, item);
        const std::string sourceFile =
            upgradeFolder ? upgradeFolder->Spelling(FileNameOf(source)) : std::string();
        const std::string targetPath = JoinPath(t.env.LibDir, item.TargetLib);
        const Target* target = item.Update != 0 ? targets.In(t.env.LibDir, item.TargetLib, why) : nullptr;
        if (item.Update != 0 && target == nullptr) {
            // A target that may not be written (a link elsewhere, a folder in the way) is said once.
            ShowErrorByCode(dialogs, kind.saveFailureCode, item.Name);
            NoteRefusedLibrary(run, dialogs, targetPath, why);
            item.Copied = 0;
        } else if (item.Update != 0 &&
                   (IsRefusedLibrary(run, source) || IsRefusedLibrary(run, target->path))) {
            item.Copied = 0;  // its library was refused, and that was said
        } else if (item.Update != 0) {
            if (kind.clearBeforeLoading) ClearWorkingDatabase();
            int32_t failed = 1;
            if (upgradeFolder && kind.isPart)
                LoadPartFromLib(failed, slot, *upgradeFolder, sourceFile, item.Name);
            else if (upgradeFolder)
                LoadSymbolFromLib(failed, slot, *upgradeFolder, sourceFile, item.Name);
            if (failed != 0) {
                const bool refused = upgradeFolder && StringFromPointer(E_LastError()).size() > 0;
                ShowErrorByCode(dialogs, kind.loadFailureCode, item.Name);
                if (refused) NoteRefusedLibrary(run, dialogs, source);
                item.Copied = 0;
            } else {
                int32_t absent = 1;
                if (kind.isPart)
                    PartExistsInLib(absent, *target->folder, target->name, item.Name);
                else
                    SymbolExistsInLib(absent, *target->folder, target->name, item.Name);
                const bool ask = absent == 0 && !run.OverwriteAll && run.AskOverwrite;
                if (ask &&
                    !AskBeforeOverwrite(dialogs, std::string(kind.questionPrefix) + "(" + item.Name + ")" +
                                                     " are already stored in lib: " + target->path + "." +
                                                     "\r\n" + "Overwrite anyway ?")) {
                    item.Copied = 0;
                } else {
                    item.Copied = 0;
                    t.status.Say(GetLocalMessage(kind.loadingText, kind.loadingNumber) + "(" +
                                        item.Name + ")");
                    const RunRecordHooks::ElementSave save{*target,        kind.isPart, item.Name,
                                                           *upgradeFolder, sourceFile,  item.Name};
                    if (RecordBeforeSave(run, dialogs, save, kind.saveFailureCode, item.Name)) {
                        int32_t saveFailed = 1;
                        if (kind.isPart)
                            SavePartToLib(saveFailed, *target->folder, target->name, slot, item.Name);
                        else
                            SaveSymbolToLib(saveFailed, *target->folder, target->name, slot, item.Name);
                        const bool refused = saveFailed != 0 && StringFromPointer(E_LastError()).size() > 0;
                        // Copied only when the library is seen to hold it.
                        if (saveFailed == 0 && !SavedInPlace(run, save)) saveFailed = 1;
                        if (saveFailed != 0) {
                            if (run.runRecord) run.runRecord->ElementSaveFailed(save);
                            ShowErrorByCode(dialogs, kind.saveFailureCode, item.Name);
                            if (refused) NoteRefusedLibrary(run, dialogs, target->path);
                        } else {
                            t.status.Say(GetLocalMessage(kind.savingText, kind.savingNumber) + "(" +
                                                item.Name + ")" + kind.beforePath + target->path);
                            item.Copied = 1;
                        }
                    }
                }
            }
        }
        if (kind.deleteAfterwards) OM_Delete(kind.isPart ? DB_DeviceMap() : DB_SymbMap(), slot);
    }
}

const std::string& PartSource(const std::array<std::string, 6>& libraries, const ElementItem&) {
    return UpgradeLibraryOf(libraries, 1, {});
}
const std::string& SymbolSource(const std::array<std::string, 6>& libraries, const ElementItem& item) {
    return UpgradeLibraryOf(libraries, 2, item.UpgSymbolLib);
}
const std::string& PackageSource(const std::array<std::string, 6>& libraries, const ElementItem&) {
    return UpgradeLibraryOf(libraries, 3, {});
}

}  // namespace

bool NoteRefusedLibrary(RunState& run, ui::Dialogs& dialogs, const std::string& path) {
    const std::string reason = StringFromPointer(E_LastError());
    if (reason.empty()) return false;
    NoteRefusedLibrary(run, dialogs, path, reason);
    return true;
}

void NoteRefusedLibrary(RunState& run, ui::Dialogs& dialogs, const std::string& path,
                        const std::string& reason) {
    if (run.refusedLibraries.insert(path).second)
        ShowWarning(dialogs, "The library " + path + " cannot be used: " + reason +
                                 ". Its other elements of this run are not copied either.");
}

bool RecordBeforeSave(RunState& run, ui::Dialogs& dialogs, const RunRecordHooks::ElementSave& save,
                      int32_t failureCode, const std::string& failureText) {
    if (run.runRecord == nullptr) return true;
    std::string why;
    bool libraryRefused = false;
    if (run.runRecord->BeforeElementSave(save, why, libraryRefused)) return true;
    if (libraryRefused) {
        ShowErrorByCode(dialogs, failureCode, failureText);
        NoteRefusedLibrary(run, dialogs, save.library.path, why);
    } else {
        NoteNotRecorded(run, dialogs, why);
    }
    return false;
}

bool SavedInPlace(RunState& run, const RunRecordHooks::ElementSave& save) {
    return run.runRecord == nullptr || run.runRecord->AfterElementSave(save);
}

bool IsRefusedLibrary(const RunState& run, const std::string& path) {
    return run.refusedLibraries.count(path) != 0;
}

bool AskBeforeOverwrite(ui::Dialogs& dialogs, const std::string& question) {
    E_FlushLibraries();
    return AskYesNo(dialogs, question);
}

void TransferParts(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                   ui::StatusLine& status) {
    Transfer({env, upgrade, run, dialogs, status}, upgrade.lists.PartItems, kPartTransfer, PartSource);
}
void TransferSymbols(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                     ui::StatusLine& status) {
    Transfer({env, upgrade, run, dialogs, status}, upgrade.lists.SymbolItems, kSymbolTransfer, SymbolSource);
}
void TransferPackages(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                      ui::StatusLine& status) {
    Transfer({env, upgrade, run, dialogs, status}, upgrade.lists.PackageItems, kPackageTransfer,
             PackageSource);
}

}  // namespace zrx
