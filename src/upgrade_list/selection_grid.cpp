#include "upgrade_list/selection_grid.h"

#include <algorithm>

#include "apply/targets.h"
#include "shell/app.h"
#include "shell/messages.h"
#include "shell/text_utils.h"
#include "ui/dialogs.h"

namespace zrx {

namespace {

constexpr int kUpdateColumn = 3;

// The file type of a data file, by the last four characters of its trimmed, upper-cased name.
std::string DataFileType(const std::string& name) {
    const std::string ending(Right(ToUpper(TrimBlanks(name)), 4));
    if (ending == ".DAT") return GetLocalMessage("Thermal data file", 4454);
    if (ending == ".TAL") return GetLocalMessage("Thermal analyzer file", 4455);
    if (ending == ".SPC") return GetLocalMessage("Spice profile file", 4456);
    if (ending == ".SBC") return "Spice subcircuit file";
    if (ending == ".DLL") return GetLocalMessage("System file", 4458);
    if (ending == ".MPL") return "Mixed Mode Parameter Lib File";
    if (ending == ".SML") return GetLocalMessage("Spice Model Lib File", 4457);
    return GetLocalMessage("Misc Lib file", 4459);
}

}  // namespace

void BuildGridRows(App& app) {
    std::vector<GridRow>& rows = app.GridRows;
    rows.assign(1, GridRow{});
    const UpgradeLists& l = app.lists;
    rows.reserve(l.PartItems.size() + l.SymbolItems.size() + l.PackageItems.size() + l.SpiceModelItems.size() +
                 l.MixedModelItems.size() + l.DataFileItems.size() + 1);
    const Environment& env = app.env;
    auto addElements = [&](const std::vector<ElementItem>& list, int kind, const std::string& targetDir,
                           const std::string& fileType, bool honourWithheld) {
        for (const ElementItem& item : list) {
            if (item.Name.empty() || (honourWithheld && item.Withheld == 1)) continue;
            GridRow& row = rows.back();
            row.Name = item.Name;
            row.TargetLib = item.TargetLib;
            row.TargetDir = targetDir;
            row.Kind = kind;
            row.FileType = fileType;
            if (kind == 2) row.UpgSymbolLib = item.UpgSymbolLib;
            rows.emplace_back();
        }
    };
    addElements(app.lists.PartItems, 1, env.LibDir, GetLocalMessage("Part file", 4466), false);
    addElements(app.lists.SymbolItems, 2, env.LibDir, GetLocalMessage("Symbol", 4467), false);
    addElements(app.lists.PackageItems, 3, env.LibDir, GetLocalMessage("Package", 4468), false);
    addElements(app.lists.SpiceModelItems, 5, env.ZSMmod, GetLocalMessage("Spice Model Lib File", ""), true);
    addElements(app.lists.MixedModelItems, 6, env.LibDir, GetLocalMessage("Mixed Mode Parameter Lib File", 4469), true);
    for (const DataFileItem& item : app.lists.DataFileItems) {
        if (item.Name.empty() || item.Withheld == 1) continue;
        GridRow& row = rows.back();
        row.Name = item.Name;
        row.TargetLib = IsSubcircuitFile(item.Name) ? item.TargetLib : item.TargetDir;
        row.TargetDir = item.TargetDir;
        row.Kind = 4;
        row.FileType = item.FileType.empty() ? DataFileType(item.Name) : TrimBlanks(item.FileType);
        rows.emplace_back();
    }
}

void FillPreferenceGrid(App& app) {
    ui::Grid& grid = app.main.F_Preferen;
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
        grid.SetColWidth(c, app.dialogs.TextWidth(columns[c].sample, app.uiFont));
        grid.SetTextMatrix(0, c, columns[c].header);
    }
    // One row per loaded element, offered or not: the elements skipped end the grid in empty rows.
    auto loaded = [](const auto& list) {
        return static_cast<int>(list.size()) - 1 + (!list.empty() && !list[0].Name.empty() ? 1 : 0);
    };
    const UpgradeLists& l = app.lists;
    grid.SetRows(1 + loaded(l.PartItems) + loaded(l.SymbolItems) + loaded(l.PackageItems) + loaded(l.DataFileItems) +
                 loaded(l.SpiceModelItems) + loaded(l.MixedModelItems));
    for (size_t i = 0; i + 1 < app.GridRows.size(); ++i) {
        const GridRow& row = app.GridRows[i];
        const int r = static_cast<int>(i) + 1;
        grid.SetTextMatrix(r, 0, row.Name);
        grid.SetTextMatrix(r, 1, row.TargetLib);
        grid.SetTextMatrix(r, 2, row.TargetDir);
        grid.SetTextMatrix(r, 3, "YES");
        grid.SetTextMatrix(r, 4, TrimBlanks(row.FileType));
    }
    grid.SetSelection(1, 0, 1, 0);
}

void ToggleUpdateCells(App& app) {
    ui::Grid& grid = app.main.F_Preferen;
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

void F_OverPrompt_Click(App& app, int index) {
    ui::MainForm& m = app.main;
    if (index == 0) {
        app.AskOverwrite = m.F_OverPrompt(0).Value();
        app.OverwriteAll = false;
    } else if (index == 1) {
        app.OverwriteAll = m.F_OverPrompt(1).Value();
        app.AskOverwrite = false;
    }
}

void CollectGridSelection(App& app) {
    UpgradeLists& lists = app.lists;
    lists.Reset();
    const ui::Grid& grid = app.main.F_Preferen;
    for (size_t i = 0; i + 1 < app.GridRows.size(); ++i)
        app.GridRows[i].Update = grid.TextMatrix(static_cast<int>(i) + 1, kUpdateColumn) == "YES" ? 1 : 0;
    for (size_t i = 0; i + 1 < app.GridRows.size(); ++i) {
        const GridRow& row = app.GridRows[i];
        auto appendElement = [&row](std::vector<ElementItem>& list, int32_t destKind) {
            ElementItem& item = list.back();
            item.Name = row.Name;
            item.TargetLib = row.TargetLib;
            item.Update = row.Update;
            item.DestKind = destKind;
            item.UpgSymbolLib = row.UpgSymbolLib;
            list.emplace_back();
        };
        switch (row.Kind) {
            case 1: appendElement(lists.PartItems, 1); break;
            case 2: appendElement(lists.SymbolItems, 1); break;
            case 3: appendElement(lists.PackageItems, 1); break;
            case 5: appendElement(lists.SpiceModelItems, 5); break;
            case 6: appendElement(lists.MixedModelItems, 1); break;
            case 4: {
                DataFileItem& item = lists.DataFileItems.back();
                item.Name = row.Name;
                item.TargetDir = row.TargetDir;
                item.TargetLib = row.TargetLib;
                item.Update = row.Update;
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

void ConnectSelectionGrid(App& app) {
    ui::MainForm& m = app.main;
    m.F_Preferen.onMouseUp = [&app] { ToggleUpdateCells(app); };
    m.F_OverPrompt(0).onClick = [&app] { F_OverPrompt_Click(app, 0); };
    m.F_OverPrompt(1).onClick = [&app] { F_OverPrompt_Click(app, 1); };
}

}  // namespace zrx
