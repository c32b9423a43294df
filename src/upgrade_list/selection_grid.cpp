#include "upgrade_list/selection_grid.h"

#include <algorithm>

#include "base/dialogs.h"
#include "base/messages.h"
#include "base/text_utils.h"

namespace zrx {

namespace {

constexpr int kUpdateColumn = 3;

}  // namespace

void BuildGridRows(GridRowTable& rows, const LoadedList& loaded, const Environment& env) {
    rows.Build(loaded, env);
}

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
    // One row per loaded element, offered or not: the elements skipped end the grid in empty rows.
    // A kind counts its last index, and one more when its first element has a name: a first
    // record without a name (as the empty placeholder has none) adds no row.
    const LoadedList& l = upgrade.loaded;
    auto loaded = [&l](int kind) {
        const size_t count = l.Count(kind);
        return count == 0 ? 0 : static_cast<int>(count - 1) + (l.Records(kind)[0].nameLength != 0 ? 1 : 0);
    };
    grid.SetRows(1 + loaded(kPartRecord) + loaded(kSymbolRecord) + loaded(kPackageRecord) + loaded(kDataFileRecord) +
                 loaded(kSparamRecord) + loaded(kMparamRecord));
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

void CollectGridSelection(UpgradeLists& lists, const GridRowTable& rows, const ui::Grid& grid) {
    lists.Reset();
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        const GridRow row = rows[i];
        const int32_t update = grid.TextMatrix(static_cast<int>(i) + 1, kUpdateColumn) == "YES" ? 1 : 0;
        auto appendElement = [&row, update](std::vector<ElementItem>& list, int32_t destKind) {
            ElementItem& item = list.back();
            item.Name = row.Name;
            item.TargetLib = row.TargetLib;
            item.Update = update;
            item.DestKind = destKind;
            item.UpgSymbolLib = row.UpgSymbolLib;
            list.emplace_back();
        };
        switch (row.Kind) {
            case kPartRecord: appendElement(lists.PartItems, 1); break;
            case kSymbolRecord: appendElement(lists.SymbolItems, 1); break;
            case kPackageRecord: appendElement(lists.PackageItems, 1); break;
            case kSparamRecord: appendElement(lists.SpiceModelItems, 5); break;
            case kMparamRecord: appendElement(lists.MixedModelItems, 1); break;
            case kDataFileRecord: {
                DataFileItem& item = lists.DataFileItems.back();
                item.Name = row.Name;
                item.TargetDir = row.TargetDir;
                item.TargetLib = row.TargetLib;
                item.Update = update;
                item.FileType = row.FileType;
                lists.DataFileItems.emplace_back();
                break;
            }
            default: break;
        }
    }
    auto dropSpare = [](auto& list) {
        if (list.size() > 1) list.pop_back();
    };
    dropSpare(lists.PartItems);
    dropSpare(lists.SymbolItems);
    dropSpare(lists.PackageItems);
    dropSpare(lists.DataFileItems);
    dropSpare(lists.SpiceModelItems);
    dropSpare(lists.MixedModelItems);
}

}  // namespace zrx
