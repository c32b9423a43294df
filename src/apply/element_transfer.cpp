#include "apply/element_transfer.h"

#include "apply/kernel_wrappers.h"
#include "apply/targets.h"
#include "apply/update_run.h"
#include "kernel/zrxkernel.h"
#include "shell/app.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "kernel/working_database.h"
#include "base/dialogs.h"

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

void Transfer(App& app, std::vector<ElementItem>& list, const TransferKind& kind,
              const std::string& (*sourceOf)(const App&, const ElementItem&)) {
    if (IsPlaceholder(list)) return;
    ui::MainForm& m = app.window.main;
    ResolvedNames targets;
    for (ElementItem& item : list) {
        app.window.dialogs.ProcessEvents();
        if (item.Update != 0) CountRunElement(app);
        int32_t slot = kind.slot;
        const std::string& source = sourceOf(app, item);
        const std::string& target = targets.In(app.installation.env.LibDir, item.TargetLib);
        if (item.Update != 0 && (IsRefusedLibrary(app, source) || IsRefusedLibrary(app, target))) {
            item.Copied = 0;  // its library was refused, and that was said
        } else if (item.Update != 0) {
            if (kind.clearBeforeLoading) ClearWorkingDatabase();
            int32_t failed = 1;
            if (kind.isPart) LoadPartFromLib(failed, slot, source, item.Name);
            else LoadSymbolFromLib(failed, slot, source, item.Name);
            if (failed != 0) {
                const bool refused = StringFromPointer(E_LastError()).size() > 0;
                ShowErrorByCode(app.window.dialogs, kind.loadFailureCode, item.Name);
                if (refused) NoteRefusedLibrary(app, source);
                item.Copied = 0;
            } else {
                int32_t absent = 1;
                if (kind.isPart) PartExistsInLib(absent, target, item.Name);
                else SymbolExistsInLib(absent, target, item.Name);
                const bool ask = absent == 0 && !app.run.OverwriteAll && app.run.AskOverwrite;
                if (ask && !AskBeforeOverwrite(app, std::string(kind.questionPrefix) + "(" + item.Name + ")" +
                                                         " are already stored in lib: " + target + "." + "\r\n" +
                                                         "Overwrite anyway ?")) {
                    item.Copied = 0;
                } else {
                    item.Copied = 0;
                    m.F_Status.SetCaption(GetLocalMessage(kind.loadingText, kind.loadingNumber) + "(" + item.Name + ")");
                    const RunRecordHooks::ElementSave save{target, kind.isPart, item.Name, source, item.Name};
                    if (RecordBeforeSave(app, save, kind.saveFailureCode, item.Name)) {
                        int32_t saveFailed = 1;
                        if (kind.isPart) SavePartToLib(saveFailed, target, slot, item.Name);
                        else SaveSymbolToLib(saveFailed, target, slot, item.Name);
                        const bool refused = saveFailed != 0 && StringFromPointer(E_LastError()).size() > 0;
                        // Copied only when the library is seen to hold it.
                        if (saveFailed == 0 && !SavedInPlace(app, save)) saveFailed = 1;
                        if (saveFailed != 0) {
                            if (app.run.runRecord) app.run.runRecord->ElementSaveFailed(save);
                            ShowErrorByCode(app.window.dialogs, kind.saveFailureCode, item.Name);
                            if (refused) NoteRefusedLibrary(app, target);
                        } else {
                            m.F_Status.SetCaption(GetLocalMessage(kind.savingText, kind.savingNumber) + "(" +
                                                  item.Name + ")" + kind.beforePath + target);
                            item.Copied = 1;
                        }
                    }
                }
            }
        }
        if (kind.deleteAfterwards) OM_Delete(kind.isPart ? DB_DeviceMap() : DB_SymbMap(), slot);
    }
}

const std::string& PartSource(const App& app, const ElementItem&) { return UpgradeLibraryOf(app.upgrade.UpgLibPath, 1, {}); }
const std::string& SymbolSource(const App& app, const ElementItem& item) {
    return UpgradeLibraryOf(app.upgrade.UpgLibPath, 2, item.UpgSymbolLib);
}
const std::string& PackageSource(const App& app, const ElementItem&) { return UpgradeLibraryOf(app.upgrade.UpgLibPath, 3, {}); }

}  // namespace

bool NoteRefusedLibrary(App& app, const std::string& path) {
    const std::string reason = StringFromPointer(E_LastError());
    if (reason.empty()) return false;
    NoteRefusedLibrary(app, path, reason);
    return true;
}

void NoteRefusedLibrary(App& app, const std::string& path, const std::string& reason) {
    if (app.run.refusedLibraries.insert(path).second)
        app.window.dialogs.ShowMessage({"The library " + path + " cannot be used: " + reason +
                                     ". Its other elements of this run are not copied either.",
                                 std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
}

bool RecordBeforeSave(App& app, const RunRecordHooks::ElementSave& save, int32_t failureCode,
                      const std::string& failureText) {
    if (app.run.runRecord == nullptr) return true;
    std::string why;
    bool libraryRefused = false;
    if (app.run.runRecord->BeforeElementSave(save, why, libraryRefused)) return true;
    if (libraryRefused) {
        ShowErrorByCode(app.window.dialogs, failureCode, failureText);
        NoteRefusedLibrary(app, save.library, why);
    } else {
        NoteNotRecorded(app, why);
    }
    return false;
}

bool SavedInPlace(App& app, const RunRecordHooks::ElementSave& save) {
    return app.run.runRecord == nullptr || app.run.runRecord->AfterElementSave(save);
}

bool IsRefusedLibrary(const App& app, const std::string& path) { return app.run.refusedLibraries.count(path) != 0; }

bool AskBeforeOverwrite(App& app, const std::string& question) {
    E_FlushLibraries();
    return AskYesNo(app.window.dialogs, question);
}

void TransferParts(App& app) { Transfer(app, app.upgrade.lists.PartItems, kPartTransfer, PartSource); }
void TransferSymbols(App& app) { Transfer(app, app.upgrade.lists.SymbolItems, kSymbolTransfer, SymbolSource); }
void TransferPackages(App& app) { Transfer(app, app.upgrade.lists.PackageItems, kPackageTransfer, PackageSource); }

}  // namespace zrx
