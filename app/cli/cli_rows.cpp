#include "cli/cli_rows.h"

#include "trust/upgrade_check.h"

#include <iostream>

#include "base/text_file.h"
#include "base/text_utils.h"
#include "program/app.h"

namespace zrx::cli {

namespace {

constexpr int kColumns = 5;

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

// The index into GridRows and the changes of a grid row, or -1.
long RowIndex(const App& app, int row) {
    const long index = static_cast<long>(row) - 1;
    return index >= 0 && static_cast<size_t>(index) + 1 < app.upgrade.GridRows.size() ? index : -1;
}

}  // namespace

std::string JsonText(const Json& document) {
    return document.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::string GridLine(const App& app, int row) {
    std::string line;
    for (int c = 0; c < kColumns; ++c)
        line += (c ? "\t" : "") + EscapeControls(app.window.main.F_Preferen.TextMatrix(row, c));
    return line;
}

bool Offered(const App& app, int row) {
    return !app.window.main.F_Preferen.TextMatrix(row, 3).empty() && RowIndex(app, row) >= 0;
}

std::string ChangeWordOf(const App& app, int row) {
    const long index = RowIndex(app, row);
    const auto& changes = app.changeColumn.Changes().changes;
    if (!Offered(app, row) || static_cast<size_t>(index) >= changes.size()) return {};
    return std::string(preview::ChangeWord(changes[static_cast<size_t>(index)]));
}

Json RowJson(const App& app, int row) {
    const ui::Grid& grid = app.window.main.F_Preferen;
    const long index = RowIndex(app, row);
    Json json;
    json["element"] = ToDisplayUtf8(grid.TextMatrix(row, 0));
    json["kind"] = KindName(index >= 0 ? app.upgrade.GridRows[static_cast<size_t>(index)].Kind : 0);
    json["library"] = ToDisplayUtf8(grid.TextMatrix(row, 1));
    json["directory"] = ToDisplayUtf8(grid.TextMatrix(row, 2));
    json["update"] = grid.TextMatrix(row, 3);
    json["file_type"] = ToDisplayUtf8(grid.TextMatrix(row, 4));
    const std::string change = ChangeWordOf(app, row);
    if (!change.empty()) {
        json["change"] = change;
        const std::string& reason = app.changeColumn.Changes().ReasonOf(static_cast<size_t>(index));
        if (!reason.empty()) json["reason"] = ToDisplayUtf8(reason);
    }
    return json;
}

std::vector<int> OfferedRows(const App& app) {
    std::vector<int> rows;
    for (int r = 1; r < app.window.main.F_Preferen.Rows(); ++r)
        if (Offered(app, r)) rows.push_back(r);
    return rows;
}

Json RowsJson(const App& app, const std::vector<int>& rows) {
    Json json = Json::array();
    for (const int r : rows) json.push_back(RowJson(app, r));
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

int DiffStatus(const App& app, const std::vector<int>& rows) {
    for (const int row : rows)
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
