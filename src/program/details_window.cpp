#include "program/details_window.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "base/messages.h"
#include "preview/element_fields.h"
#include "program/app.h"
#include "program/change_column.h"
#include "ui/forms/details_form.h"
#include "upgrade_list/loaded_list.h"

namespace zrx {

namespace {

// Every field of the sides, the installed element's order first, then the upgrade's, then the
// base's: path, installed, upgrade, last installed.
struct FieldRow {
    std::string path;
    std::optional<std::string> sides[3];
};
std::vector<FieldRow> SideBySide(const preview::ElementFields* const (&sides)[3]) {
    std::vector<FieldRow> rows;
    std::unordered_map<std::string, size_t> at;
    for (int side = 0; side < 3; ++side) {
        if (sides[side] == nullptr) continue;
        for (const auto& [path, value] : *sides[side]) {
            const auto [it, added] = at.emplace(path, rows.size());
            if (added) rows.push_back({path, {}});
            rows[it->second].sides[side] = value;
        }
    }
    return rows;
}

}  // namespace

void FillDetails(ui::DetailsForm& form, const GridRow& row, const preview::RowDetail& detail) {
    const std::string word = ChangeText(detail.change, detail.local, detail.merge);
    form.F_Title.SetCaption(std::string(row.Name) + "  (" + std::string(row.TargetLib) + ", " +
                            std::string(row.TargetDir) +
                            "): " + (detail.reason.empty() ? word : word + ": " + detail.reason));
    // The third side, what the last upgrade installed, where it is kept.
    const bool withBase =
        detail.sides.element ? detail.sides.baseFields.has_value() : detail.sides.base.has_value();
    const int columns = withBase ? 5 : 4;
    ui::Grid& grid = form.F_Fields;
    ui::Control::UpdateBlock block(grid);
    grid.SetCols(columns);
    grid.SetFixedRows(1);
    grid.SetFixedCols(0);
    const char* const headings[] = {"", "Field", "Installed", "Upgrade", "Last installed"};
    const char* const codes[] = {"", "20076", "20077", "20078", "20087"};
    for (int c = 0; c < columns; ++c)
        grid.SetTextMatrix(0, c, c == 0 ? std::string() : GetLocalMessage(headings[c], codes[c]));
    const bool element = detail.sides.element;
    form.F_Fields.SetVisible(element);
    form.F_Diff.SetVisible(!element);
    if (!element) {
        grid.SetRows(1);
        std::string text = !detail.textDiff.empty() ? detail.textDiff : detail.sides.upgrade;
        if (!detail.localDiff.empty()) text += "\n" + detail.localDiff;
        form.F_Diff.SetText(text);
        return;
    }
    const preview::ElementFields* const sides[3] = {&detail.sides.installedFields,
                                                    &detail.sides.upgradeFields,
                                                    withBase ? &*detail.sides.baseFields : nullptr};
    const std::vector<FieldRow> rows = SideBySide(sides);
    grid.SetRows(1 + static_cast<int>(rows.size()));
    const std::string none = "(none)";
    for (size_t i = 0; i < rows.size(); ++i) {
        const int r = static_cast<int>(i) + 1;
        const FieldRow& field = rows[i];
        grid.SetTextMatrix(r, 0, field.sides[0] != field.sides[1] ? "*" : "");
        grid.SetTextMatrix(r, 1, field.path);
        for (int side = 0; side + 2 < columns; ++side)
            grid.SetTextMatrix(r, 2 + side, field.sides[side].value_or(none));
    }
}

void ShowRowDetails(App& app, size_t row) {
    if (row >= app.upgrade.GridRows.size() - 1) return;  // the spare empty row offers nothing
    const std::vector<preview::RowDetail> details = app.changeColumn.Details({row});
    ui::DetailsForm form;
    form.F_Close.onClick = [&form] { form.SetVisible(false); };
    FillDetails(form, app.upgrade.GridRows[row], details.front());
    app.window.openForms.push_back(&form);
    app.window.dialogs.ShowModal(form);
    std::erase(app.window.openForms, &form);
}

void ConnectDetails(App& app) {
    ui::MainForm& m = app.window.main;
    const auto current = [&app, &m] {
        const int row = m.F_Preferen.Row();
        if (row >= 1) ShowRowDetails(app, static_cast<size_t>(row - 1));
    };
    m.P_Details.onClick = current;
    m.F_Preferen.onDoubleClick = current;
}

}  // namespace zrx
