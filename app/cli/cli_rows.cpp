#include "cli/cli_rows.h"

#include "trust/upgrade_check.h"

#include <algorithm>
#include <iostream>

#include "base/text_file.h"
#include "base/text_utils.h"
#include "program/app.h"
#include "upgrade_list/selection_grid.h"

namespace zrx::cli {

namespace {

const char* KindName(int kind) {
    switch (kind) {
        case 1:
            return "part";
        case 2:
            return "symbol";
        case 3:
            return "package";
        case 4:
            return "data file";
        case 5:
            return "SPARAM model";
        case 6:
            return "MPARAM model";
        default:
            return "";
    }
}

bool IsSelected(const Selection& selected, size_t row) { return selected.empty() || (row < selected.size() && selected[row]); }

}  // namespace

std::string JsonText(const Json& document) {
    return document.dump(2, ' ', false, Json::error_handler_t::replace);
}

size_t OfferedCount(const App& app) { return app.upgrade.GridRows.size() - 1; }

size_t GridLines(const App& app) { return std::max(GridLineCount(app.upgrade.loaded), OfferedCount(app)); }

std::string GridLine(const App& app, size_t row, const Selection& selected) {
    if (row >= OfferedCount(app)) return "\t\t\t\t";
    const GridRow grid = app.upgrade.GridRows[row];
    return EscapeControls(grid.Name) + "\t" + EscapeControls(grid.TargetLib) + "\t" + EscapeControls(grid.TargetDir) +
           "\t" + (IsSelected(selected, row) ? "YES" : "NO") + "\t" + EscapeControls(TrimBlanks(grid.FileType));
}

std::string ChangeWordOf(const App& app, size_t row) {
    const auto& changes = app.changeColumn.Changes().changes;
    if (row >= OfferedCount(app) || row >= changes.size()) return {};
    return std::string(preview::ChangeWord(changes[row]));
}

Json RowJson(const App& app, size_t row, const Selection& selected) {
    const GridRow grid = app.upgrade.GridRows[row];
    Json json;
    json["element"] = ToDisplayUtf8(grid.Name);
    json["kind"] = KindName(grid.Kind);
    json["library"] = ToDisplayUtf8(grid.TargetLib);
    json["directory"] = ToDisplayUtf8(grid.TargetDir);
    json["update"] = IsSelected(selected, row) ? "YES" : "NO";
    json["file_type"] = ToDisplayUtf8(TrimBlanks(grid.FileType));
    const std::string change = ChangeWordOf(app, row);
    if (!change.empty()) {
        json["change"] = change;
        const std::string& reason = app.changeColumn.Changes().ReasonOf(row);
        if (!reason.empty()) json["reason"] = ToDisplayUtf8(reason);
        // Edited here since the last upgrade, or installed before the record kept what it installed.
        const auto& local = app.changeColumn.Changes().local;
        if (row < local.size() && local[row] != preview::Local::None)
            json["local"] = std::string(preview::LocalWord(local[row]));
        // Edited here and changed by the upgrade too: whether the two would merge.
        const auto& merge = app.changeColumn.Changes().merge;
        if (row < merge.size() && merge[row] != preview::Merge::None)
            json["merge"] = std::string(preview::MergeWord(merge[row]));
    }
    return json;
}

std::vector<size_t> OfferedRows(const App& app) {
    std::vector<size_t> rows(OfferedCount(app));
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = i;
    return rows;
}

Json RowsJson(const App& app, const std::vector<size_t>& rows, const Selection& selected) {
    Json json = Json::array();
    for (const size_t r : rows) json.push_back(RowJson(app, r, selected));
    return json;
}

Json VerificationJson(const trust::UpgradeCheck& check) {
    return Json{{"state", std::string(trust::StateWord(check.state))},
                {"key", check.keyId},
                {"trusted_comment", check.trustedComment},
                {"problems", check.problems},
                {"text", check.Describe()}};
}

void PrintJsonResult(const Json& rows, int status, const std::string& meaning, const trust::UpgradeCheck* check) {
    Json document{{"rows", rows}, {"exit_status", status}, {"meaning", meaning}};
    if (check != nullptr) document["verification"] = check->checked ? VerificationJson(*check) : Json();
    std::cout << JsonText(document) << "\n";
}

int DiffStatus(const App& app, const std::vector<size_t>& rows) {
    for (const size_t row : rows)
        if (ChangeWordOf(app, row) != "same") return 1;
    return 0;
}

std::string DiffMeaning(int status) {
    switch (status) {
        case 0:
            return "every row is the same as installed";
        case 1:
            return "some rows differ from the installation";
        default:
            return "nothing could be compared";
    }
}

bool ReadNameFile(const std::string& path, std::vector<std::string>& names, std::string& error) {
    auto input = TextInput::Open(path);
    if (!input) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    while (input->ReadLine(line)) {
        if (TrimmedBlanks(line).empty() || line.front() == '#') continue;
        names.push_back(line);
    }
    if (input->LineTooLong()) {
        error = path + ": a line is too long for an element name";
        return false;
    }
    return true;
}

}  // namespace zrx::cli
