#include "apply/model_transfer.h"

#include "apply/element_transfer.h"
#include "apply/targets.h"
#include "apply/update_run.h"
#include "base/dialogs.h"
#include "base/fields.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "kernel/library_handles.h"
#include "kernel/working_database.h"
#include "kernel/zrxkernel.h"
#include "upgrade_list/list_reader.h"

namespace zrx {

namespace {

constexpr int32_t kModelMaskA = ZK_CLASS_SCHEMATIC;
constexpr int32_t kModelMaskB = ZK_CLASS_MODEL;
constexpr int32_t kSchematicUse = 1;

// The texts of a saved simulator model: the first text item's first two comma-separated fields
// and the second item's whole text. False when the first item is no text item or is empty.
bool ReadModelTexts(int32_t symbol, ElementItem& item) {
    const int32_t items = S_SymbolItemArray(symbol);
    const int32_t first = IA_SearchMaskLink(items, 1, 32, 0);
    if (first == 0) return false;
    ZK_ItemRecord record{};
    if (I_ReadItem(S_SymbolItem(items, first), &record) != ZK_ITEM_TEXT) return false;
    const std::string text = StringFromPointer(record.text);
    if (text.empty()) return false;
    const FieldList fields = SplitByComma(text);
    if (fields.Count() == 0) return false;
    item.Texts().ModelText1 = fields.Field(1);
    if (fields.Count() >= 2) item.Texts().ModelText2 = fields.Field(2);
    const int32_t second = IA_SearchMaskLink(items, 1, 32, 1);
    if (second != 0) {
        ZK_ItemRecord third{};
        if (I_ReadItem(S_SymbolItem(items, second), &third) == ZK_ITEM_TEXT) item.Texts().ModelText3 = StringFromPointer(third.text);
    }
    return true;
}

void TransferModels(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                    ui::StatusLine& status, bool spice) {
    std::vector<ElementItem>& list = spice ? upgrade.lists.SpiceModelItems : upgrade.lists.MixedModelItems;
    if (IsPlaceholder(list)) return;
    const std::string& upgradeLibrary = UpgradeLibraryOf(upgrade.UpgLibPath, spice ? 5 : 6, {});
    std::string why;
    const auto upgradeFolder = UpgradeFolder(upgrade, why);
    const std::string upgradeFile =
        upgradeFolder ? upgradeFolder->Spelling(FileNameOf(upgradeLibrary)) : std::string();
    const std::string& targetDir = ElementTargetDir(env, spice ? 5 : 6);
    const int32_t destKind = spice ? 5 : 1;
    int32_t upgradeHandle = 0;
    // The open target library and the path it was opened on: consecutive models for one library
    // share it, and a model is never probed on, or saved into, another model's library (a model
    // that failed after its library was opened leaves the handle on that library).
    int32_t targetHandle = 0;
    std::string targetHandlePath;
    InstallationAccess access(env);
    ResolvedTargets targets(access);

    for (ElementItem& item : list) {
        dialogs.ProcessEvents();
        if (item.Update != 0) CountRunElement(run, dialogs, status);
        int32_t slot = ZK_SLOT_MODEL;
        const std::string name = item.Name;
        bool present = false;
        bool notCopied = false;
        auto fail = [&](int32_t code, const std::string& extra) {
            ShowErrorByCode(dialogs, code, extra);
            notCopied = true;
        };
        [&] {
            if (item.Update == 0) return;
            const Target* resolved = targets.In(targetDir, item.TargetLib, why);
            if (resolved == nullptr) {
                // A target that may not be written (a link elsewhere, a folder in the way) is said once.
                fail(3, JoinPath(targetDir, item.TargetLib));
                NoteRefusedLibrary(run, dialogs, JoinPath(targetDir, item.TargetLib), why);
                return;
            }
            const std::string& target = resolved->path;
            if (IsRefusedLibrary(run, upgradeLibrary) || IsRefusedLibrary(run, target)) {
                notCopied = true;  // its library was refused, and that was said
                return;
            }
            if (target != targetHandlePath) {
                E_CloseLibWrite(targetHandle);
                E_CloseLibrary(targetHandle);
                E_CloseLibrary(upgradeHandle);
                targetHandle = 0;
                targetHandlePath.clear();
            }
            upgradeHandle =
                upgradeFolder ? OpenLibraryIn(*upgradeFolder, upgradeFile, ZK_KIND_SYMBOL_LIBRARY, 0) : 0;
            if (upgradeHandle < 1) {
                fail(6, upgradeLibrary);
                NoteRefusedLibrary(run, dialogs, upgradeLibrary);
                return;
            }
            ClearWorkingDatabase();
            const int32_t cursor = E_OpenLibToRead(upgradeHandle, name.c_str());
            if (cursor > 0) {
                if (const int32_t id = S_LoadSymbol(ZK_SLOT_MODEL, cursor); id != 0) {
                    slot = id;
                    O_Rename(S_Symbol(slot), name.c_str());
                }
            }
            O_Rename(S_Symbol(slot), name.c_str());
            const int32_t copy = S_CopySymbol(slot, 0);
            if (copy == 0) {
                E_CloseLibrary(upgradeHandle);
                return fail(8, name);
            }
            O_Rename(S_Symbol(copy), name.c_str());
            E_CloseLibrary(upgradeHandle);
            if (item.DestKind != destKind) return;

            const std::string trimmedName = TrimBlanks(name);
            // The probe uses the open target library, or a reading handle of its own.
            const int32_t probe = targetHandle > 0 ? targetHandle
                                                   : OpenLibraryIn(*resolved->folder, resolved->name,
                                                                   ZK_KIND_SYMBOL_LIBRARY, 0);
            if (probe > 0) {
                present = !trimmedName.empty() && E_OpenLibToRead(probe, trimmedName.c_str()) > 0;
                if (probe != targetHandle) E_CloseLibrary(probe);
            }
            if (present && !run.OverwriteAll && run.AskOverwrite) {
                const std::string question =
                    spice ? GetLocalMessage("SML parameter(model) with same name ", 4476) + "(" + name + ")" +
                                " are already stored in lib: " + target + "." + "\r\n" +
                                GetLocalMessage("Overwrite anyway ?", 4472)
                          : GetLocalMessage("Mixed mode parameter (model) with same name", 4470) + "(" + name + ")" +
                                GetLocalMessage("is already stored in lib: ", 4471) + target + "\r\n" +
                                GetLocalMessage("Overwrite anyway ?", 4472);
                if (!AskBeforeOverwrite(dialogs, question)) {
                    notCopied = true;
                    return;
                }
            }
            item.Copied = 0;
            status.Say((spice ? GetLocalMessage("Loading SML (model) ", "4477 ")
                                     : GetLocalMessage("Loading mixed mode parameter (model) ", 4473)) +
                              "(" + name + ")");
            // Recorded before the library is opened for writing: that makes a missing one.
            const RunRecordHooks::ElementSave save{*resolved,      false,       trimmedName,
                                                   *upgradeFolder, upgradeFile, name};
            if (!RecordBeforeSave(run, dialogs, save, 3, target)) {
                notCopied = true;
                return;
            }
            if (targetHandle < 1) {
                targetHandle = OpenLibraryIn(*resolved->folder, resolved->name, ZK_KIND_SYMBOL_LIBRARY, -1);
                targetHandlePath = target;
            }
            if (targetHandle < 1) {
                targetHandle = 0;
                targetHandlePath.clear();
                if (run.runRecord) run.runRecord->ElementSaveFailed(save);
                fail(3, target);
                NoteRefusedLibrary(run, dialogs, target);
                return;
            }
            if (trimmedName.empty()) return;
            int32_t error = 1, symbol = 0;
            FindSymbolByName(error, 0, symbol, trimmedName);
            const int32_t cursor2 = error == 0 ? E_OpenLibToWrite(targetHandle, trimmedName.c_str()) : 0;
            if (cursor2 < 1) {
                if (run.runRecord) run.runRecord->ElementSaveFailed(save);
                return fail(7, name);
            }
            const int32_t saved = S_SaveSymbol(symbol, cursor2);
            E_CloseLibWrite(targetHandle);
            // Copied only when the library is seen to hold it.
            if (saved == 0 || !SavedInPlace(run, save)) {
                if (run.runRecord) run.runRecord->ElementSaveFailed(save);
                item.Copied = 0;
                ShowErrorByCode(dialogs, 2, name);
                return fail(7, name);
            }
            if (spice) {
                O_Rename(slot, "");
                if (!ReadModelTexts(slot, item)) return;  // saved, but not counted as copied
                status.Say(GetLocalMessage("Saving SML parameter(model)  ", 4478) + "(" + name + ")" +
                                  GetLocalMessage(" to Library:-", 4475) + target);
            } else {
                status.Say(GetLocalMessage("Saving mixed mode parameter (model)  ", "4474 ") + "(" +
                                  name + ")" + GetLocalMessage(" to Library:-", 4475) + target);
            }
            item.Copied = 1;
        }();
        DropOrphanSymbols(kModelMaskA, kModelMaskB, kSchematicUse);
        if (notCopied) item.Copied = 0;
    }
    E_CloseLibrary(targetHandle);
    E_CloseLibrary(upgradeHandle);
    DropOrphanSymbols(kModelMaskA, kModelMaskB, kSchematicUse);
}

}  // namespace

void TransferMixedModels(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                         ui::StatusLine& status) {
    TransferModels(env, upgrade, run, dialogs, status, false);
}
void TransferSpiceModels(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                         ui::StatusLine& status) {
    TransferModels(env, upgrade, run, dialogs, status, true);
}

}  // namespace zrx
