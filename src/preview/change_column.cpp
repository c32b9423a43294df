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

preview::RowChanges ShowChangeColumn(ui::Grid& grid, ui::Dialogs& dialogs, const ui::UiFont& font,
                                     const std::vector<GridRow>& rows, const Environment& env,
                                     const preview::UpgradeFolder& upgrade) {
    const std::string comparing = GetLocalMessage("Comparing the upgrade with the installation", 20024);
    dialogs.SetBusy(true);
    preview::RowChanges result =
        preview::CompareRows(rows, env, upgrade, [&dialogs, &comparing](size_t done, size_t total) {
            dialogs.ShowProgress(comparing, done, total);
            dialogs.ProcessEvents();
        });
    dialogs.ShowProgress({}, 0, 0);
    dialogs.SetBusy(false);

    ui::Control::UpdateBlock block(grid);
    if (grid.Cols() < kChangeColumn + 1) grid.SetCols(kChangeColumn + 1);
    grid.SetTextMatrix(0, kChangeColumn, GetLocalMessage("Change", 20020));
    int width = dialogs.TextWidth(grid.TextMatrix(0, kChangeColumn) + "  ", font);
    for (int change = 0; change <= static_cast<int>(preview::Change::Unreadable); ++change)
        width = std::max(
            width,
            dialogs.TextWidth(preview::LocalChangeWord(static_cast<preview::Change>(change)) + "  ", font));
    grid.SetColWidth(kChangeColumn, width);
    for (size_t i = 0; i < result.changes.size(); ++i) {
        const std::string& reason = result.ReasonOf(i);
        const std::string word = preview::LocalChangeWord(result.changes[i]);
        grid.SetTextMatrix(static_cast<int>(i) + 1, kChangeColumn,
                           reason.empty() ? word : word + ": " + reason);
    }
    return result;
}

void P_SameToNo_Click(ui::Grid& grid, const preview::RowChanges& rowChanges) {
    ui::Control::UpdateBlock block(grid);
    const auto& changes = rowChanges.changes;
    for (size_t i = 0; i < changes.size() && static_cast<int>(i) + 1 < grid.Rows(); ++i)
        if (changes[i] == preview::Change::Same &&
            !grid.TextMatrix(static_cast<int>(i) + 1, kUpdateColumn).empty())
            grid.SetTextMatrix(static_cast<int>(i) + 1, kUpdateColumn, "NO");
}

void RefreshChangeColumn(App& app) {
    app.rowChanges = ShowChangeColumn(app.main.F_Preferen, app.dialogs, app.uiFont, app.GridRows, app.env,
                                      {app.ListPath, app.UpgLibPath});
    app.rowChangesStale = false;
}

void ConnectPreview(App& app) {
    ui::MainForm& m = app.main;
    m.P_SameToNo.onClick = [&app] { P_SameToNo_Click(app.main.F_Preferen, app.rowChanges); };
    m.F_Msg.Subscribe([&app] {
        if (app.rowChangesStale && app.main.F_Msg.Visible() && !app.ended) RefreshChangeColumn(app);
    });
}

}  // namespace zrx
