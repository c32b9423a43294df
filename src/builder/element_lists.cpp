#include "builder/element_lists.h"

#include "base/dialogs.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_lists.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "kernel/library_handles.h"
#include "kernel/releasing_dialogs.h"
#include "kernel/zrxkernel.h"
#include "ui/forms/main_form.h"

namespace zrx {

namespace {

constexpr size_t kMaxSelected = 8000;

const char* LibraryKindId(int kind) { return kind == kParts ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY; }

template <typename Entry>
void RemoveEntry(std::vector<Entry>& table, int32_t count, int32_t index) {
    if (count <= 0 || index < 0 || index >= count || static_cast<size_t>(index) >= table.size()) return;
    table.erase(table.begin() + index);
}

}  // namespace

void FillElementList(BuilderState& builder, ui::MainForm& m, const Environment& env, ui::Dialogs& dialogs,
                     int kind) {
    const ui::MainForm::LibraryFrame frame = m.LibraryFrameOf(kind);
    const std::string file = frame.libraries->ListIndex() >= 0 ? frame.libraries->List(frame.libraries->ListIndex()) : "";
    frame.elements->Clear();
    if (TrimBlanks(file).empty()) return;
    std::string why;
    const auto folder = SourceFolder(env, *TablesOfKind(builder, m, env, kind).directory, why);
    const int32_t library = folder ? OpenLibraryIn(*folder, file, LibraryKindId(kind), 0) : 0;
    if (library < 1) return;
    dialogs.SetBusy(true);
    std::vector<std::string> names;
    for (int32_t i = 0;; ++i) {
        const char* name = E_GetLibDirName(library, i);
        if (name == nullptr) break;
        names.push_back(StringFromPointer(name));
    }
    frame.elements->SetItems(std::move(names));
    dialogs.SetBusy(false);
    E_CloseLibrary(library);
    ReleaseLibraries();  // the user looks at the list now; no lock stays on the library
}

void MoveChosenElements(BuilderState& builder, ui::MainForm& m, const Environment& env, ui::Dialogs& dialogs,
                        int kind) {
    const ui::MainForm::LibraryFrame frame = m.LibraryFrameOf(kind);
    const LibraryKindTables tables = TablesOfKind(builder, m, env, kind);
    dialogs.SetBusy(true);
    const std::vector<int> selected = frame.elements->SelectedIndices(kMaxSelected);
    const std::string file =
        frame.libraries->ListIndex() >= 0 ? frame.libraries->List(frame.libraries->ListIndex()) : std::string();
    // The library's file name and every element's name go into the upgrade list as they are.
    if (!selected.empty() && !CheckChoosable(dialogs, file, true)) {
        dialogs.SetBusy(false);
        return;
    }
    {
        ui::Control::UpdateBlock block(*tables.chosenList);
        for (const int index : selected) {
            const std::string name = frame.elements->List(index);
            if (!CheckChoosable(dialogs, name, false) || !CheckKeptWhole(dialogs, name, kind)) continue;
            if (kind == kSymbols) tables.chosenList->AddItem(name);
            else if (!AddChosenLine(builder, *tables.chosenList, name))
                continue;
            UpgElement& element = AppendEntry(*tables.chosen);
            element.Name = name;
            element.SourceIndex = LinkSourceLib(*tables.sources, *tables.directory, file, false);
        }
    }
    dialogs.SetBusy(false);
}

void RemoveListEntry(BuilderTables& t, int32_t code, int32_t count, int32_t index) {
    switch (code) {
        case kRemoveParts: RemoveEntry(t.UpgParts, count, index); break;
        case kRemoveSymbols: RemoveEntry(t.UpgSymbols, count, index); break;
        case kRemovePackages: RemoveEntry(t.UpgPackages, count, index); break;
        case kRemoveMiscFiles: RemoveEntry(t.UpgMiscFiles, count, index); break;
        case kRemoveSparams: RemoveEntry(t.UpgSparams, count, index); break;
        case kRemoveSbcFiles: RemoveEntry(t.UpgSbcFiles, count, index); break;
        case kRemoveTalFiles: RemoveEntry(t.UpgTalFiles, count, index); break;
        case kRemoveDatFiles: RemoveEntry(t.UpgDatFiles, count, index); break;
        case kRemoveSpcFiles: RemoveEntry(t.UpgSpcFiles, count, index); break;
        case kRemoveMparams: RemoveEntry(t.UpgMparams, count, index); break;
        default: break;
    }
}

void RemoveChosenElement(BuilderState& builder, ui::MainForm& m, const Environment& env, int kind) {
    static constexpr int32_t kCodes[] = {kRemoveParts, kRemoveSymbols, kRemovePackages, kRemoveSparams, kRemoveMparams};
    const LibraryKindTables tables = TablesOfKind(builder, m, env, kind);
    ui::ListBox& list = *tables.chosenList;
    for (int line = list.ListCount() - 1; line >= 0; --line) {
        if (!list.Selected(line)) continue;
        const int32_t source = (*tables.chosen)[static_cast<size_t>(line)].SourceIndex;
        if (source >= 0 && static_cast<size_t>(source) < tables.sources->size()) --(*tables.sources)[static_cast<size_t>(source)].RefCount;
        RemoveListEntry(builder.tables, kCodes[kind], static_cast<int32_t>(tables.chosen->size()) - 1, line);
        list.RemoveItem(line);
    }
}

}  // namespace zrx
