#include "apply/model_transfer.h"

#include "apply/element_transfer.h"
#include "apply/targets.h"
#include "apply/update_run.h"
#include "base/dialogs.h"
#include "base/fields.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "history/installed_base.h"
#include "kernel/library_handles.h"
#include "kernel/working_database.h"
#include "kernel/zrxkernel.h"
#include "preview/element_merge.h"
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

// A transfer of models: the upgrade's model library, and the target library open for writing
// (consecutive models of one library share it; a model is never probed on, or saved into, another
// model's library: one that failed after its library was opened leaves the handle on that library).
class ModelTransfer {
public:
    ModelTransfer(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                  ui::StatusLine& status, bool spice)
        : m_run(run),
          m_dialogs(dialogs),
          m_status(status),
          m_spice(spice),
          m_upgradeLibrary(UpgradeLibraryOf(upgrade.UpgLibPath, spice ? 5 : 6, {})),
          m_targetDir(ElementTargetDir(env, spice ? 5 : 6)),
          m_destKind(spice ? 5 : 1),
          m_access(env),
          m_targets(m_access) {
        if (auto folder = UpgradeFolder(upgrade)) {
            m_upgradeFolder = std::move(*folder);
            m_upgradeFile = m_upgradeFolder->Spelling(FileNameOf(m_upgradeLibrary));
        }
    }
    ~ModelTransfer() {
        E_CloseLibrary(m_targetHandle);
        E_CloseLibrary(m_upgradeHandle);
        DropOrphanSymbols(kModelMaskA, kModelMaskB, kSchematicUse);
    }
    ModelTransfer(const ModelTransfer&) = delete;
    ModelTransfer& operator=(const ModelTransfer&) = delete;

    // Copies one selected model. What stops it has been said in its boxes as the run says it; the
    // failure says it again for the summary.
    Outcome Copy(ElementItem& item) {
        const std::string name = item.Name;
        const Result<Target>& resolved = m_targets.In(m_targetDir, item.TargetLib);
        if (!resolved) {
            // A target that may not be written (a link elsewhere, a folder in the way) is said once.
            const std::string path = JoinPath(m_targetDir, item.TargetLib);
            ShowErrorByCode(m_dialogs, 3, path);
            NoteRefusedLibrary(m_run, m_dialogs, path, resolved.Why());
            return Failure{RefusalOf(m_run, path)};
        }
        const std::string& target = resolved->path;
        // Its library was refused before, and that was said.
        if (IsRefusedLibrary(m_run, m_upgradeLibrary)) return Failure{RefusalOf(m_run, m_upgradeLibrary)};
        if (IsRefusedLibrary(m_run, target)) return Failure{RefusalOf(m_run, target)};
        if (target != m_targetPath) CloseLibraries();
        if (Outcome loaded = Load(name); !loaded) return loaded;
        if (item.DestKind != m_destKind) return Failure{"its destination code is not the one of its kind"};
        const std::string trimmedName = TrimBlanks(name);
        if (!MayOverwrite(*resolved, name, trimmedName)) return Failure{kNotOverwritten};
        if (EditedHere(*resolved, name, trimmedName)) {
            const std::string why =
                "a simulator model edited here since the last upgrade is not merged (its "
                "index lines are read from it); it is left as it is";
            ShowWarning(m_dialogs,
                        "The model " + trimmedName + " of " + target + " is left as it is: " + why + ".");
            return Failure{why};
        }
        m_status.Say((m_spice ? GetLocalMessage("Loading SML (model) ", "4477 ")
                              : GetLocalMessage("Loading mixed mode parameter (model) ", 4473)) +
                     "(" + name + ")");
        // Recorded before the library is opened for writing: that makes a missing one.
        const RunRecordHooks::ElementSave save{*resolved, false, trimmedName, *m_upgradeFolder, m_upgradeFile, name};
        if (Outcome recorded = RecordBeforeSave(m_run, m_dialogs, save, 3, target); !recorded) return recorded;
        if (Outcome saved = Save(*resolved, save, name, trimmedName); !saved) return saved;
        if (m_spice) {
            O_Rename(m_slot, "");
            if (!ReadModelTexts(m_slot, item)) return Failure{"its saved model holds no text to index"};
            m_status.Say(GetLocalMessage("Saving SML parameter(model)  ", 4478) + "(" + name + ")" +
                         GetLocalMessage(" to Library:-", 4475) + target);
        } else {
            m_status.Say(GetLocalMessage("Saving mixed mode parameter (model)  ", "4474 ") + "(" + name + ")" +
                         GetLocalMessage(" to Library:-", 4475) + target);
        }
        return {};
    }

    // After each model, selected or not.
    void DropOrphans() { DropOrphanSymbols(kModelMaskA, kModelMaskB, kSchematicUse); }
    void StartModel() { m_slot = ZK_SLOT_MODEL; }

private:
    Outcome Fail(int32_t code, const std::string& extra) {
        ShowErrorByCode(m_dialogs, code, extra);
        return Failure{ErrorTextForCode(code, extra).text};
    }

    void CloseLibraries() {
        E_CloseLibWrite(m_targetHandle);
        E_CloseLibrary(m_targetHandle);
        E_CloseLibrary(m_upgradeHandle);
        m_targetHandle = 0;
        m_targetPath.clear();
    }

    // Loads the model from the upgrade's library into the working database, as a copy under its name.
    Outcome Load(const std::string& name) {
        m_upgradeHandle =
            m_upgradeFolder ? OpenLibraryIn(*m_upgradeFolder, m_upgradeFile, ZK_KIND_SYMBOL_LIBRARY, 0) : 0;
        if (m_upgradeHandle < 1) {
            Outcome failed = Fail(6, m_upgradeLibrary);
            if (NoteRefusedLibrary(m_run, m_dialogs, m_upgradeLibrary)) return Failure{RefusalOf(m_run, m_upgradeLibrary)};
            return failed;
        }
        ClearWorkingDatabase();
        const int32_t cursor = E_OpenLibToRead(m_upgradeHandle, name.c_str());
        if (cursor > 0) {
            if (const int32_t id = S_LoadSymbol(ZK_SLOT_MODEL, cursor); id != 0) {
                m_slot = id;
                O_Rename(S_Symbol(m_slot), name.c_str());
            }
        }
        O_Rename(S_Symbol(m_slot), name.c_str());
        const int32_t copy = S_CopySymbol(m_slot, 0);
        E_CloseLibrary(m_upgradeHandle);
        if (copy == 0) return Fail(8, name);
        O_Rename(S_Symbol(copy), name.c_str());
        return {};
    }

    // Whether the model may go in: it is not there yet, or the run overwrites, or the user says so.
    bool MayOverwrite(const Target& target, const std::string& name, const std::string& trimmedName) {
        // The probe uses the open target library, or a reading handle of its own.
        const int32_t probe =
            m_targetHandle > 0 ? m_targetHandle : OpenLibraryIn(*target.folder, target.name, ZK_KIND_SYMBOL_LIBRARY, 0);
        bool present = false;
        if (probe > 0) {
            present = !trimmedName.empty() && E_OpenLibToRead(probe, trimmedName.c_str()) > 0;
            if (probe != m_targetHandle) E_CloseLibrary(probe);
        }
        if (!present || m_run.OverwriteAll || !m_run.AskOverwrite) return true;
        const std::string question =
            m_spice ? GetLocalMessage("SML parameter(model) with same name ", 4476) + "(" + name + ")" +
                          " are already stored in lib: " + target.path + "." + "\r\n" +
                          GetLocalMessage("Overwrite anyway ?", 4472)
                    : GetLocalMessage("Mixed mode parameter (model) with same name", 4470) + "(" + name + ")" +
                          GetLocalMessage("is already stored in lib: ", 4471) + target.path + "\r\n" +
                          GetLocalMessage("Overwrite anyway ?", 4472);
        return AskBeforeOverwrite(m_dialogs, question);
    }

    // Whether a run that merges meets a model edited here since the last upgrade that the upgrade
    // would replace: a model is not merged (the index lines of the run are read from the upgrade's),
    // and its edits are not lost either.
    bool EditedHere(const Target& target, const std::string& name, const std::string& trimmedName) {
        if (!m_run.MergeEdited || m_run.bases == nullptr || !m_upgradeFolder) return false;
        const std::string* base = m_run.bases->Of(target.path, trimmedName);
        if (base == nullptr) return false;
        LibraryHandles libraries;
        const int32_t installed = libraries.Open(*target.folder, target.name, ZK_KIND_SYMBOL_LIBRARY);
        const int32_t offered = libraries.Open(*m_upgradeFolder, m_upgradeFile, ZK_KIND_SYMBOL_LIBRARY);
        const std::string now =
            installed > 0 ? StringFromPointer(E_ElementDigest(installed, trimmedName.c_str())) : "";
        const std::string upgrade =
            offered > 0 ? StringFromPointer(E_ElementDigest(offered, name.c_str())) : "";
        return preview::StepOf(*base, now, upgrade) != preview::MergeStep::None;
    }

    // Saves the copy into the target library, opened for writing once for its models.
    Outcome Save(const Target& target, const RunRecordHooks::ElementSave& save, const std::string& name,
                 const std::string& trimmedName) {
        if (m_targetHandle < 1) {
            m_targetHandle = OpenLibraryIn(*target.folder, target.name, ZK_KIND_SYMBOL_LIBRARY, -1);
            m_targetPath = target.path;
        }
        if (m_targetHandle < 1) {
            m_targetHandle = 0;
            m_targetPath.clear();
            if (m_run.runRecord) m_run.runRecord->ElementSaveFailed(save);
            Outcome failed = Fail(3, target.path);
            if (NoteRefusedLibrary(m_run, m_dialogs, target.path)) return Failure{RefusalOf(m_run, target.path)};
            return failed;
        }
        if (trimmedName.empty()) return Failure{"a model without a name is not saved"};
        const auto symbol = FindSymbolByName(0, trimmedName);
        const int32_t cursor = symbol ? E_OpenLibToWrite(m_targetHandle, trimmedName.c_str()) : 0;
        if (cursor < 1) {
            if (m_run.runRecord) m_run.runRecord->ElementSaveFailed(save);
            return Fail(7, name);
        }
        const int32_t saved = S_SaveSymbol(*symbol, cursor);
        E_CloseLibWrite(m_targetHandle);
        // Copied only when the library is seen to hold it.
        if (saved == 0 || !SavedInPlace(m_run, save)) {
            if (m_run.runRecord) m_run.runRecord->ElementSaveFailed(save);
            ShowErrorByCode(m_dialogs, 2, name);
            return Fail(7, name);
        }
        return {};
    }

    RunState& m_run;
    ui::Dialogs& m_dialogs;
    ui::StatusLine& m_status;
    const bool m_spice;
    const std::string& m_upgradeLibrary;
    const std::string& m_targetDir;
    const int32_t m_destKind;
    InstallationAccess m_access;
    ResolvedTargets m_targets;
    std::shared_ptr<const Directory> m_upgradeFolder;
    std::string m_upgradeFile;
    int32_t m_upgradeHandle = 0;
    int32_t m_targetHandle = 0;
    std::string m_targetPath;  // the path the target library was opened on
    int32_t m_slot = ZK_SLOT_MODEL;
};

void TransferModels(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                    ui::StatusLine& status, bool spice) {
    std::vector<ElementItem>& list = spice ? upgrade.lists.SpiceModelItems : upgrade.lists.MixedModelItems;
    if (IsPlaceholder(list)) return;
    ModelTransfer transfer(env, upgrade, run, dialogs, status, spice);
    for (ElementItem& item : list) {
        dialogs.ProcessEvents();
        transfer.StartModel();
        if (item.Update != 0) {
            CountRunElement(run, dialogs, status);
            const Outcome copied = transfer.Copy(item);
            item.Copied = copied ? 1 : 0;
            item.Why = copied.Why();
        }
        transfer.DropOrphans();
    }
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
