#include "preview/change_column.h"

#include <algorithm>

#include "preview/change_preview.h"
#include "shell/app.h"
#include "shell/messages.h"
#include "ui/dialogs.h"

namespace zrx {

namespace {

constexpr int kUpdateColumn = 3;
constexpr int kChangeColumn = 5;

}  // namespace

void ShowChangeColumn(App& app) {
    app.rowChangesStale = false;
    ui::Grid& grid = app.main.F_Preferen;
    const std::string comparing = GetLocalMessage("Comparing the upgrade with the installation", 20024);
    app.dialogs.SetBusy(true);
    app.rowChanges = preview::CompareRows(app.GridRows, app.env, {app.ListPath, app.UpgLibPath},
                                          [&app, &comparing](size_t done, size_t total) {
                                              app.dialogs.ShowProgress(comparing, done, total);
                                              app.dialogs.ProcessEvents();
                                          });
    app.dialogs.ShowProgress({}, 0, 0);
    app.dialogs.SetBusy(false);

    ui::Control::UpdateBlock block(grid);
    if (grid.Cols() < kChangeColumn + 1) grid.SetCols(kChangeColumn + 1);
    grid.SetTextMatrix(0, kChangeColumn, GetLocalMessage("Change", 20020));
    int width = app.dialogs.TextWidth(grid.TextMatrix(0, kChangeColumn) + "  ", app.uiFont);
    for (int change = 0; change <= static_cast<int>(preview::Change::Unreadable); ++change)
        width = std::max(
            width, app.dialogs.TextWidth(
                       preview::LocalChangeWord(static_cast<preview::Change>(change)) + "  ", app.uiFont));
    grid.SetColWidth(kChangeColumn, width);
    for (size_t i = 0; i < app.rowChanges.changes.size(); ++i) {
        const std::string& reason = app.rowChanges.ReasonOf(i);
        const std::string word = preview::LocalChangeWord(app.rowChanges.changes[i]);
        grid.SetTextMatrix(static_cast<int>(i) + 1, kChangeColumn,
                           reason.empty() ? word : word + ": " + reason);
    }
}

void P_SameToNo_Click(App& app) {
    ui::Grid& grid = app.main.F_Preferen;
    ui::Control::UpdateBlock block(grid);
    const auto& changes = app.rowChanges.changes;
    for (size_t i = 0; i < changes.size() && static_cast<int>(i) + 1 < grid.Rows(); ++i)
        if (changes[i] == preview::Change::Same &&
            !grid.TextMatrix(static_cast<int>(i) + 1, kUpdateColumn).empty())
            grid.SetTextMatrix(static_cast<int>(i) + 1, kUpdateColumn, "NO");
}

void MarkChangesStale(App& app) {
    app.rowChangesStale = true;
}

void ConnectPreview(App& app) {
    ui::MainForm& m = app.main;
    m.P_SameToNo.onClick = [&app] { P_SameToNo_Click(app); };
    m.F_Msg.Subscribe([&app] {
        if (app.rowChangesStale && app.main.F_Msg.Visible() && !app.ended) ShowChangeColumn(app);
    });
}

}  // namespace zrx
