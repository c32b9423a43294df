#include "apply/element_transfer.h"

#include "apply/kernel_wrappers.h"
#include "apply/targets.h"
#include "apply/update_run.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "history/installed_base.h"
#include "kernel/library_exchange.h"
#include "kernel/library_handles.h"
#include "kernel/working_database.h"
#include "kernel/zrxkernel.h"
#include "preview/element_merge.h"
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
    // The libraries the transfer reads and writes (and a merge reads), opened once for it.
    LibraryHandles& libraries;
};

// The upgrade library an element comes from: its path as the list names it, and its folder and
// file as the run reads it.
struct SourceLibrary {
    const std::string& path;
    const Directory* folder;
    std::string file;
};

// What a run that merges (RunState::MergeEdited) saves where the installed element was edited here
// since the last upgrade: nothing in particular where it was not, or where no base is known (the
// upgrade's replaces it, as without a merge); the installed one as it is where the upgrade offers
// what the last upgrade installed (`leave`); otherwise the merge, made in the working database
// (`object`). A conflict, or a base no longer kept, fails: the row is not copied.
struct EditedSave {
    int32_t object = 0;
    bool leave = false;
    std::vector<std::string> conflicts;  // nothing is saved
};
Result<EditedSave> MergeEdits(TransferRun& t, const Target& target, const TransferKind& kind,
                              const SourceLibrary& source, const std::string& name) {
    RunState& run = t.run;
    if (!run.MergeEdited || run.bases == nullptr || source.folder == nullptr) return EditedSave{};
    const std::string* base = run.bases->Of(target.path, name);
    if (base == nullptr) return EditedSave{};
    const char* libraryKind = kind.isPart ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY;
    std::string why;
    const int32_t installed = t.libraries.Open(*target.folder, target.name, libraryKind, false, &why);
    const int32_t offered = t.libraries.Open(*source.folder, source.file, libraryKind, false, &why);
    // Edited here or not cannot be told: nothing is saved over it.
    if (installed == 0 || offered == 0) return Failure{"it cannot be read to be merged: " + why};
    switch (preview::StepOf(*base, StringFromPointer(E_ElementDigest(installed, name.c_str())),
                            StringFromPointer(E_ElementDigest(offered, name.c_str())))) {
        case preview::MergeStep::None:
            return EditedSave{};
        case preview::MergeStep::Keep:
            return EditedSave{0, true};
        case preview::MergeStep::Merge:
            break;
    }
    auto merged =
        preview::MergeElementWithBase(*run.bases, *base, kind.isPart, installed, name, offered, name);
    if (!merged) return Failure{merged.Why()};
    if (!merged->conflicts.empty()) return EditedSave{0, false, std::move(merged->conflicts)};
    auto object = ElementObject(kind.isPart ? LibraryKind::Part : LibraryKind::Symbol, name, merged->element);
    if (!object) return Failure{"the merge cannot be made: " + object.Why()};
    return EditedSave{*object, false};
}

// Copies one selected element into its target library. What stops it has been said in its boxes
// as the run says it; the failure says it again for the summary.
// Long: the run's steps for one element, each of which may stop it with what it says
Outcome CopyElement(TransferRun& t, ElementItem& item, const TransferKind& kind, const SourceLibrary& source,
                    ResolvedTargets& targets, int32_t& slot) {
    RunState& run = t.run;
    ui::Dialogs& dialogs = t.dialogs;
    const Result<Target>& target = targets.In(t.env.LibDir, item.TargetLib);
    if (!target) {
        // A target that may not be written (a link elsewhere, a folder in the way) is said once.
        const std::string path = JoinPath(t.env.LibDir, item.TargetLib);
        ShowErrorByCode(dialogs, kind.saveFailureCode, item.Name);
        NoteRefusedLibrary(run, dialogs, path, target.Why());
        return Failure{RefusalOf(run, path)};
    }
    // Its library was refused before, and that was said.
    if (IsRefusedLibrary(run, source.path)) return Failure{RefusalOf(run, source.path)};
    if (IsRefusedLibrary(run, target->path)) return Failure{RefusalOf(run, target->path)};
    if (kind.clearBeforeLoading) ClearWorkingDatabase();
    // The upgrade library (the run's checked copy) stays open for the transfer's other elements.
    const char* libraryKind = kind.isPart ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY;
    std::string refusal;
    const int32_t from = source.folder != nullptr
                             ? t.libraries.Open(*source.folder, source.file, libraryKind, false, &refusal)
                             : 0;
    if (from == 0 || !LoadElementFrom(kind.isPart, from, slot, item.Name)) {
        ShowErrorByCode(dialogs, kind.loadFailureCode, item.Name);
        if (source.folder != nullptr && from == 0) {
            NoteRefusedLibrary(run, dialogs, source.path, refusal);
            return Failure{RefusalOf(run, source.path)};
        }
        return Failure{ErrorTextForCode(kind.loadFailureCode, item.Name).text};
    }
    // Whether the library holds it already matters only to a question or a merge: a run that asks
    // neither does not read the element an extra time.
    const bool asks = !run.OverwriteAll && run.AskOverwrite;
    const bool present = (asks || run.MergeEdited) &&
                         (kind.isPart ? PartExistsInLib(*target->folder, target->name, item.Name)
                                      : SymbolExistsInLib(*target->folder, target->name, item.Name));
    if (present && asks &&
        !AskBeforeOverwrite(dialogs, std::string(kind.questionPrefix) + "(" + item.Name + ")" +
                                         " are already stored in lib: " + target->path + "." + "\r\n" +
                                         "Overwrite anyway ?"))
        return Failure{kNotOverwritten};
    const auto edited =
        present ? MergeEdits(t, *target, kind, source, item.Name) : Result<EditedSave>(EditedSave{});
    if (!edited) {
        ShowWarning(dialogs, "The element " + item.Name + " of " + target->path +
                                 " is left as it is: " + edited.Why() + ".");
        return Failure{edited.Why()};
    }
    if (!edited->conflicts.empty()) {
        const std::string why = preview::ConflictReason(edited->conflicts);
        ShowWarning(dialogs,
                    "The element " + item.Name + " of " + target->path + " is left as it is: " + why + ".");
        for (const std::string& field : edited->conflicts)
            item.Conflicts += (item.Conflicts.empty() ? "" : ", ") + field;
        return Failure{why};
    }
    item.Merged = edited->leave || edited->object != 0;
    if (edited->leave) return {};  // what is installed is the merge already
    t.status.Say(GetLocalMessage(kind.loadingText, kind.loadingNumber) + "(" + item.Name + ")");
    const RunRecordHooks::ElementSave save{*target,     kind.isPart, item.Name,          *source.folder,
                                           source.file, item.Name,   edited->object != 0};
    if (Outcome recorded = RecordBeforeSave(run, dialogs, save, kind.saveFailureCode, item.Name); !recorded)
        return recorded;
    const int32_t saving = edited->object != 0 ? edited->object : slot;
    bool saved = kind.isPart ? SavePartToLib(*target->folder, target->name, saving, item.Name)
                             : SaveSymbolToLib(*target->folder, target->name, saving, item.Name);
    const bool refused = !saved && !StringFromPointer(E_LastError()).empty();
    if (edited->object != 0) OM_Delete(kind.isPart ? DB_DeviceMap() : DB_SymbMap(), edited->object);
    // Copied only when the library is seen to hold it.
    if (saved && !SavedInPlace(run, save)) saved = false;
    if (!saved) {
        if (run.runRecord) run.runRecord->ElementSaveFailed(save);
        ShowErrorByCode(dialogs, kind.saveFailureCode, item.Name);
        if (refused && NoteRefusedLibrary(run, dialogs, target->path))
            return Failure{RefusalOf(run, target->path)};
        return Failure{ErrorTextForCode(kind.saveFailureCode, item.Name).text};
    }
    t.status.Say(GetLocalMessage(kind.savingText, kind.savingNumber) + "(" + item.Name + ")" + kind.beforePath +
                 target->path);
    return {};
}

void Transfer(TransferRun t, std::vector<ElementItem>& list, const TransferKind& kind,
              const std::string& (*sourceOf)(const std::array<std::string, 6>&, const ElementItem&)) {
    if (IsPlaceholder(list)) return;
    const auto upgradeFolder = UpgradeFolder(t.upgrade);
    InstallationAccess access(t.env);
    ResolvedTargets targets(access);
    // The upgrade library's spelling in its folder, worked out for the first of its elements.
    const std::string* spelledPath = nullptr;
    std::string spelling;
    for (ElementItem& item : list) {
        t.dialogs.ProcessEvents();
        int32_t slot = kind.slot;
        if (item.Update != 0) {
            CountRunElement(t.run, t.dialogs, t.status);
            const std::string& path = sourceOf(t.upgrade.UpgLibPath, item);
            if (spelledPath != &path) {
                spelling = upgradeFolder ? (*upgradeFolder)->Spelling(FileNameOf(path)) : std::string();
                spelledPath = &path;
            }
            const SourceLibrary source{path, upgradeFolder ? upgradeFolder->get() : nullptr, spelling};
            const Outcome copied = CopyElement(t, item, kind, source, targets, slot);
            item.Copied = copied ? 1 : 0;
            item.Why = copied.Why();
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
    if (run.refusedLibraries.emplace(path, "the library " + path + " cannot be used: " + reason).second)
        ShowWarning(dialogs, "The library " + path + " cannot be used: " + reason +
                                 ". Its other elements of this run are not copied either.");
}

const std::string& RefusalOf(const RunState& run, const std::string& path) {
    static const std::string kNone;
    const auto it = run.refusedLibraries.find(path);
    return it != run.refusedLibraries.end() ? it->second : kNone;
}

Outcome RecordBeforeSave(RunState& run, ui::Dialogs& dialogs, const RunRecordHooks::ElementSave& save,
                         int32_t failureCode, const std::string& failureText) {
    if (run.runRecord == nullptr) return {};
    using Verdict = RunRecordHooks::SaveVerdict;
    const Verdict verdict = run.runRecord->BeforeElementSave(save);
    switch (verdict.kind) {
        case Verdict::Kind::Go:
            return {};
        case Verdict::Kind::LibraryRefused:
            ShowErrorByCode(dialogs, failureCode, failureText);
            NoteRefusedLibrary(run, dialogs, save.library.path, verdict.why);
            return Failure{RefusalOf(run, save.library.path)};
        case Verdict::Kind::NotRecorded:
            break;
    }
    NoteNotRecorded(run, dialogs, verdict.why);
    return Failure{"it could not be recorded for undo: " + verdict.why};
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
    LibraryHandles libraries;
    Transfer({env, upgrade, run, dialogs, status, libraries}, upgrade.lists.PartItems, kPartTransfer,
             PartSource);
}
void TransferSymbols(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                     ui::StatusLine& status) {
    LibraryHandles libraries;
    Transfer({env, upgrade, run, dialogs, status, libraries}, upgrade.lists.SymbolItems, kSymbolTransfer,
             SymbolSource);
}
void TransferPackages(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                      ui::StatusLine& status) {
    LibraryHandles libraries;
    Transfer({env, upgrade, run, dialogs, status, libraries}, upgrade.lists.PackageItems, kPackageTransfer,
             PackageSource);
}

}  // namespace zrx
