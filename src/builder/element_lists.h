#pragma once

#include <cstdint>

#include "base/dialogs.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"

namespace zrx {

// The builder's five library kinds, by their frame (F_Details) index.
enum BuilderKind : int { kParts = 0, kSymbols = 1, kPackages = 2, kSparams = 3, kMparams = 4 };

// The library selected in the kind's file list: its element names into the element list.
void FillElementList(BuilderState& builder, ui::MainForm& m, const Environment& env, ui::Dialogs& dialogs,
                     int kind);
// ">>": the selected element names (at most 8000) into the chosen list and table, each linked to
// its source library; a name already chosen (without regard to case) is skipped, except for
// symbols.
void MoveChosenElements(BuilderState& builder, ui::MainForm& m, const Environment& env, ui::Dialogs& dialogs,
                        int kind);
// "<<": the selected chosen element out of the list and table.
void RemoveChosenElement(BuilderState& builder, ui::MainForm& m, const Environment& env, int kind);

// Removal codes of RemoveListEntry: the table an entry is removed from.
enum RemovalCode : int32_t {
    kRemoveParts = 0,
    kRemoveSymbols = 1,
    kRemovePackages = 2,
    kRemoveMiscFiles = 3,
    kRemoveSparams = 4,
    kRemoveSbcFiles = 5,
    kRemoveTalFiles = 6,
    kRemoveDatFiles = 7,
    kRemoveSpcFiles = 8,
    kRemoveMparams = 9,
};
// Removes entry `index` of the table of `code`, whose entry count is `count`.
void RemoveListEntry(BuilderTables& tables, int32_t code, int32_t count, int32_t index);

}  // namespace zrx
