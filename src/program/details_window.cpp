#include "program/details_window.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "base/messages.h"
#include "preview/element_fields.h"
#include "program/app.h"
#include "ui/forms/details_form.h"
#include "upgrade_list/loaded_list.h"

namespace zrx {

namespace {

// Every field of the two sides, the installed element's order first: path, installed, upgrade.
struct FieldRow {
    std::string path;
    std::optional<std::string> installed, upgrade;
};
std::vector<FieldRow> SideBySide(const preview::ElementFields& installed,
                                 const preview::ElementFields& upgrade) {
    std::vector<FieldRow> rows;
    std::unordered_map<std::string, size_t> at;
    for (const auto& [path, value] : installed) {
        at.emplace(path, rows.size());
        rows.push_back({path, value, std::nullopt});
    }
    for (const auto& [path, value] : upgrade) {
        const auto it = at.find(path);
        if (it != at.end())
            rows[it->second].upgrade = value;
        else
            rows.push_back({path, std::nullopt, value});
    }
    return rows;
}

}  // namespace

void FillDetails(ui::DetailsForm& form, const GridRow& row, const preview::RowDetail& detail) {
    const std::string word = preview::LocalChangeWord(detail.change);
    form.F_Title.SetCaption(std::string(row.Name) + "  (" + std::string(row.TargetLib) + ", " +
                            std::string(row.TargetDir) +
                            "): " + (detail.reason.empty() ? word : word + ": " + detail.reason));
    ui::Grid& grid = form.F_Fields;
    ui::Control::UpdateBlock block(grid);
    grid.SetCols(4);
    grid.SetFixedRows(1);
    grid.SetFixedCols(0);
    const char* const headings[] = {"", "Field", "Installed", "Upgrade"};
    const char* const codes[] = {"", "20076", "20077", "20078"};
    for (int c = 0; c < 4; ++c)
        grid.SetTextMatrix(0, c, c == 0 ? std::string() : GetLocalMessage(headings[c], codes[c]));
    const bool element = detail.sides.element;
    form.F_Fields.SetVisible(element);
    form.F_Diff.SetVisible(!element);
    if (!element) {
        grid.SetRows(1);
        form.F_Diff.SetText(!detail.textDiff.empty() ? detail.textDiff : detail.sides.upgrade);
        return;
    }
    const auto installed = preview::FieldsOfElement(detail.sides.installed);
    const auto upgrade = preview::FieldsOfElement(detail.sides.upgrade);
    const std::vector<FieldRow> rows =
        SideBySide(installed.value_or(preview::ElementFields{}), upgrade.value_or(preview::ElementFields{}));
    grid.SetRows(1 + static_cast<int>(rows.size()));
    const std::string none = "(none)";
    for (size_t i = 0; i < rows.size(); ++i) {
        const int r = static_cast<int>(i) + 1;
        const FieldRow& field = rows[i];
        grid.SetTextMatrix(r, 0, field.installed != field.upgrade ? "*" : "");
        grid.SetTextMatrix(r, 1, field.path);
        grid.SetTextMatrix(r, 2, field.installed.value_or(none));
        grid.SetTextMatrix(r, 3, field.upgrade.value_or(none));
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
