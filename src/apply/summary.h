#pragma once

#include <string>

#include "base/dialogs.h"
#include "kernel/installation.h"
#include "ui/control.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx {

namespace history {
struct RollbackResult;
}
namespace ui {
class SummaryForm;
class Grid;
}  // namespace ui

// Fills the summary grid from the six lists as they are after the run (columns as wide as `font`
// shows their samples); after an undo (`undo`), copied rows say whether they were taken back.
void FillSummary(ui::SummaryForm& form, const UpgradeLists& lists, const Environment& env,
                 ui::Dialogs& dialogs, const ui::UiFont& font, const history::RollbackResult* undo = nullptr);
// "Save Summary": asks for a file name and writes the grid's rows.
void F_Save_Click(ui::Dialogs& dialogs, ui::SummaryForm& form);
// Writes rows 1 to the last of the summary grid as tab-separated lines (columns 0 to 3, CR LF).
// False, with the reason, when the file cannot be written.
bool WriteSummaryFile(const ui::Grid& grid, const std::string& path, std::string& error);

}  // namespace zrx
