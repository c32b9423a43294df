#pragma once

#include <cstdint>
#include <functional>

#include "apply/run_report.h"
#include "base/dialogs.h"
#include "ui/forms/summary_form.h"

namespace zrx {

class App;
class ChangeColumn;
struct Environment;

// Fills the summary grid from the run's report (columns as wide as `font` shows their samples);
// after an undo, copied rows say whether they were taken back.
void FillSummary(ui::SummaryForm& form, const RunReport& report, ui::Dialogs& dialogs, const ui::UiFont& font);
// "Save Summary": asks for a file name and writes the report's summary table.
void SaveSummary(ui::Dialogs& dialogs, const RunReport& report);
// "Undo this update" in the summary window of recorded run `run` (0: the run changed nothing, and
// nothing is offered); once it has brought something back it is offered no more, the grid's
// changes are worked out again and `undone` is told what became of the run's changes.
void ConnectUndo(ui::SummaryForm& form, ui::Dialogs& dialogs, const Environment& env, int64_t run,
                 ChangeColumn& changes, std::function<void(const history::RollbackResult&)> undone);
// Shows the summary of a run modally; returns when it is hidden or unloaded.
void ShowSummary(App& app, const RunReport& report);

}  // namespace zrx
