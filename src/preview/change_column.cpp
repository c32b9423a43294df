#include "preview/change_column.h"

#include <algorithm>
#include <unordered_map>

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
                                     const GridRowTable& rows, const Environment& env,
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
    // Rows share their cells' texts: each pair of change and reason is put into words once, and
    // each run of rows with the same pair is filled at once.
    std::unordered_map<uint64_t, std::string> texts;
    auto keyOf = [&result](size_t i) {
        return uint64_t{result.reasonOf[i]} << 8 | static_cast<uint64_t>(result.changes[i]);
    };
    for (size_t first = 0, count = result.changes.size(); first < count;) {
        const uint64_t key = keyOf(first);
        size_t end = first + 1;
        while (end < count && keyOf(end) == key) ++end;
        auto text = texts.find(key);
        if (text == texts.end()) {
            const std::string& reason = result.ReasonOf(first);
            const std::string word = preview::LocalChangeWord(result.changes[first]);
            text = texts.emplace(key, reason.empty() ? word : word + ": " + reason).first;
        }
        grid.FillColumn(kChangeColumn, static_cast<int>(first) + 1, static_cast<int>(end), text->second);
        first = end;
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
