#pragma once

#include <string>

namespace zrx {

class App;
namespace history {
struct RollbackResult;
}
namespace ui {
class SummaryForm;
class Grid;
}  // namespace ui

// Fills the summary grid from the six lists as they are after the run; after an undo (`undo`),
// copied rows say whether they were taken back.
void FillSummary(App& app, ui::SummaryForm& form, const history::RollbackResult* undo = nullptr);
// "Save Summary": asks for a file name and writes the grid's rows.
void F_Save_Click(App& app, ui::SummaryForm& form);
// Writes rows 1 to the last of the summary grid as tab-separated lines (columns 0 to 3, CR LF).
// False, with the reason, when the file cannot be written.
bool WriteSummaryFile(const ui::Grid& grid, const std::string& path, std::string& error);
// Shows the summary window modally; returns when it is hidden or unloaded.
void ShowSummary(App& app);

}  // namespace zrx
