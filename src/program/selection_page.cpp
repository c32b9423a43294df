#include "program/selection_page.h"

#include <algorithm>

#include "base/messages.h"
#include "base/text_utils.h"
#include "upgrade_list/selection_grid.h"

namespace zrx {

namespace {

constexpr int kUpdateColumn = 3;

}  // namespace

void FillPreferenceGrid(ui::Grid& grid, const LoadedUpgrade& upgrade, ui::Dialogs& dialogs,
                        const ui::UiFont& font) {
    ui::Control::UpdateBlock block(grid);
    grid.SetRows(2);
    grid.SetCols(5);
    grid.SetFixedRows(1);
    grid.SetFixedCols(0);
    const struct {
        std::string header;
        const char* sample;
    } columns[] = {{GetLocalMessage("Lib Elements", 4425), " Lib Elements "},
                   {GetLocalMessage("Target Library", "4426 "), "TARGET LIBRARY "},
                   {GetLocalMessage("Target Subdir", 4427), "TARGET SUBDIRXXX"},
                   {GetLocalMessage("Update", 4428), " Update"},
                   {"Filetype", "XXXXXXXXXXXXXX"}};
    for (int c = 0; c < 5; ++c) {
        grid.SetColWidth(c, dialogs.TextWidth(columns[c].sample, font));
        grid.SetTextMatrix(0, c, columns[c].header);
    }
    grid.SetRows(1 + static_cast<int>(GridLineCount(upgrade.loaded)));
    // The rows' texts are the loaded list's; the grid works them out when they are shown.
    const GridRowTable& rows = upgrade.GridRows;
    const int offered = static_cast<int>(rows.size()) - 1;
    grid.SetComputedColumn(0, 1, offered, [&rows](size_t i) { return std::string(rows[i].Name); });
    grid.SetComputedColumn(1, 1, offered, [&rows](size_t i) { return std::string(rows[i].TargetLib); });
    grid.SetComputedColumn(2, 1, offered, [&rows](size_t i) { return std::string(rows[i].TargetDir); });
    grid.SetComputedColumn(kUpdateColumn, 1, offered, [](size_t) { return std::string("YES"); });
    grid.SetComputedColumn(4, 1, offered, [&rows](size_t i) { return TrimBlanks(rows[i].FileType); });
    grid.SetSelection(1, 0, 1, 0);
}

void ToggleUpdateCells(ui::Grid& grid) {
    const int remembered = grid.Col();
    if (remembered == kUpdateColumn) {
        const int first = std::min(grid.Row(), grid.RowSel());
        const int last = std::max(grid.Row(), grid.RowSel());
        for (int r = first; r <= last; ++r) {
            if (r < grid.FixedRows() || grid.TextMatrix(r, kUpdateColumn).empty()) continue;
            grid.SetRow(r);
            grid.SetTextMatrix(r, kUpdateColumn, grid.TextMatrix(r, kUpdateColumn) == "YES" ? "NO" : "YES");
        }
    }
    grid.SetCol(remembered);
}

std::vector<bool> GridSelection(const ui::Grid& grid, size_t offered) {
    std::vector<bool> selected(offered);
    for (size_t i = 0; i < offered; ++i)
        selected[i] = grid.TextMatrix(static_cast<int>(i) + 1, kUpdateColumn) == "YES";
    return selected;
}

}  // namespace zrx
