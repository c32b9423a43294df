#include "program/summary_window.h"

#include <algorithm>
#include <optional>

#include "base/messages.h"
#include "base/text_utils.h"
#include "history/undo_action.h"
#include "program/app.h"
#include "program/change_column.h"
#include "program/main_window.h"

namespace zrx {

void FillSummary(ui::SummaryForm& form, const RunReport& report, ui::Dialogs& dialogs, const ui::UiFont& font) {
    ui::Grid& grid = form.F_Resgrid;
    ui::Control::UpdateBlock block(grid);
    const std::vector<SummaryLine> table = SummaryTable(report);
    grid.SetCols(5);
    grid.SetRows(1 + static_cast<int>(table.size()));
    grid.SetFixedRows(1);
    grid.SetFixedCols(0);
    const SummaryLine headings = SummaryHeadings();
    const char* const samples[] = {"Library ElementS ", " Library Name   ", " Target Dir ", "XXXXXXXXXXXX",
                                   "XXXXXXXXXXXXXXXXXXXXXXX"};
    for (int c = 0; c < 5; ++c) {
        grid.SetTextMatrix(0, c, headings[static_cast<size_t>(c)]);
        grid.SetColWidth(c, dialogs.TextWidth(samples[c], font));
    }
    if (const auto caption = SummaryCaption(report)) form.F_Result.SetCaption(*caption);
    for (size_t r = 0; r < table.size(); ++r)
        for (int c = 0; c < 5; ++c) grid.SetTextMatrix(static_cast<int>(r) + 1, c, table[r][static_cast<size_t>(c)]);
}

void SaveSummary(ui::Dialogs& dialogs, const RunReport& report) {
    const auto chosen = dialogs.AskSaveFileName({"TXT", "Text Files (*.TXT)|*.TXT", "Upginfo"});
    if (!chosen || chosen->empty() || TrimBlanks(*chosen) == "Upginfo") return;
    if (const Outcome saved = WriteSummaryFile(report, *chosen); !saved)
        ShowWarning(dialogs, "The summary could not be saved to " + *chosen + ": " + saved.Why());
}

void ConnectUndo(ui::SummaryForm& form, ui::Dialogs& dialogs, const Environment& env, int64_t run,
                 ChangeColumn& changes, std::function<void(const history::RollbackResult&)> undone) {
    form.P_Undo.SetCaption(GetLocalMessage("Undo this update", 20040));
    form.P_Undo.SetEnabled(run != 0);
    form.P_Undo.onClick = [&form, &dialogs, &env, run, &changes, undone = std::move(undone)] {
        if (run == 0) return;
        const auto result = P_Undo_Click(dialogs, env, run);
        if (!result || result->outcome == history::RollbackResult::Outcome::NothingDone) return;
        form.P_Undo.SetEnabled(false);
        changes.MarkStale();
        if (undone) undone(*result);
    };
}

void ShowSummary(App& app, const RunReport& shown) {
    ui::SummaryForm form;
    RunReport report = shown;
    form.onActivate = [&app, &form, &report] {
        app.run.SummaryFinished = false;
        FillSummary(form, report, app.window.dialogs, app.window.uiFont);
    };
    form.F_Save.onClick = [&app, &report] { SaveSummary(app.window.dialogs, report); };
    form.F_Finish.onClick = [&app, &form] {
        app.run.SummaryFinished = true;
        form.SetVisible(false);
    };
    form.F_PrevDef.onClick = [&form] { form.SetVisible(false); };
    form.F_Help.onClick = [&app] { ShowHelp(app); };
    ConnectUndo(form, app.window.dialogs, app.installation.env, report.runId, app.changeColumn,
                [&report, &form](const history::RollbackResult& result) {
                    NoteUndo(report, result);
                    form.onActivate();
                });
    form.onActivate();
    app.window.openForms.push_back(&form);
    app.window.dialogs.ShowModal(form);
    std::erase(app.window.openForms, &form);
}

}  // namespace zrx
