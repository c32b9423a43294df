#include <CLI/CLI.hpp>

#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "base/text_utils.h"
#include "cli/cli_commands.h"
#include "cli/cli_rows.h"
#include "cli/cli_session.h"
#include "preview/element_fields.h"

namespace zrx::cli {

void AddShowCommand(CLI::App& parent, int& status) {
    static std::string suite, folder;
    static bool json = false, allowUnsigned = false;
    CLI::App* show = parent.add_subcommand("show", "Print the selection grid an upgrade folder offers");
    show->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    show->add_flag("--json", json, "Print one JSON document instead of tab-separated lines");
    AddUpgradeOptions(show, folder, allowUnsigned);
    show->callback([&status] {
        Session session;
        session.app.upgrade.compareOnLoad = json;  // the text lines show no change
        session.app.verification.allowUnsigned = allowUnsigned;
        if (!Start(session, suite, false) || !LoadUpgradeFolder(session, folder)) {
            status = kExitFailure;
            if (json)
                PrintJsonResult(Json::array(), status, "the upgrade could not be loaded",
                                &session.app.verification.check);
            return;
        }
        const App& app = session.app;
        status = 0;
        if (json) {
            PrintJsonResult(RowsJson(app, OfferedRows(app)), status, "the grid was shown",
                            &app.verification.check);
            return;
        }
        for (size_t r = 0; r < GridLines(app); ++r) std::cout << GridLine(app, r) << "\n";
    });
}

namespace {

// The rows diff prints: every offered row, or those of the names --only gives.
std::vector<size_t> DiffRows(const App& app, const std::vector<std::string>& only) {
    std::vector<size_t> rows = OfferedRows(app);
    if (only.empty()) return rows;
    const std::set<std::string> names(only.begin(), only.end());
    std::erase_if(rows,
                  [&](size_t row) { return !names.contains(std::string(app.upgrade.GridRows[row].Name)); });
    return rows;
}

// --detail as JSON: the fields that differ, or the text diff.
Json DetailJson(const preview::RowDetail& detail) {
    Json json = Json::object();
    if (!detail.fields.empty()) {
        Json fields = Json::array();
        for (const preview::FieldDifference& field : detail.fields)
            fields.push_back({{"path", ToDisplayUtf8(field.path)},
                              {"installed", field.installed ? Json(ToDisplayUtf8(*field.installed)) : Json()},
                              {"upgrade", field.upgrade ? Json(ToDisplayUtf8(*field.upgrade)) : Json()}});
        if (detail.fields.front().withBase)
            for (size_t i = 0; i < fields.size(); ++i) {
                const auto& base = detail.fields[i].base;
                fields[i]["last_installed"] = base ? Json(ToDisplayUtf8(*base)) : Json();
            }
        json["fields"] = std::move(fields);
    }
    if (!detail.textDiff.empty()) json["diff"] = ToDisplayUtf8(detail.textDiff);
    if (!detail.localDiff.empty()) json["edited"] = ToDisplayUtf8(detail.localDiff);
    return json;
}

// --detail as text: each differing field on a line of its own, or the text diff, indented under
// the row's line.
void PrintIndented(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();  // the files' own line ends, CR LF
        std::cout << "  " << EscapeControls(line) << "\n";
        start = end == std::string::npos ? text.size() : end + 1;
    }
}

void PrintDetail(const preview::RowDetail& detail) {
    if (detail.local == preview::Local::Edited)
        std::cout << "  edited here since the last upgrade"
                  << (detail.merge == preview::Merge::Clean ? "; the upgrade's changes merge into it"
                      : detail.merge == preview::Merge::Conflict
                          ? "; the upgrade changes the same fields or lines"
                          : "")
                  << "\n";
    for (const preview::FieldDifference& field : detail.fields)
        std::cout << "  " << preview::DifferenceLine(field) << "\n";
    PrintIndented(detail.textDiff);
    PrintIndented(detail.localDiff);
}

}  // namespace

void AddDiffCommand(CLI::App& parent, int& status) {
    static std::string suite, folder;
    static bool json = false, allowUnsigned = false, detail = false;
    static std::vector<std::string> only;
    CLI::App* diff = parent.add_subcommand(
        "diff", "Print what each offered row would change: new, changed, same, older, missing or unreadable");
    diff->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    diff->add_flag("--json", json, "Print one JSON document instead of tab-separated lines");
    diff->add_flag(
        "--detail", detail,
        "Under each changed row, the fields that differ (path: installed -> upgrade), or for a file "
        "a unified diff");
    diff->add_option("--only", only, "Only the rows of these element or file names");
    AddUpgradeOptions(diff, folder, allowUnsigned);
    diff->footer("Exit status: 0 when every row is the same as installed, 1 when any row differs, 2 when nothing "
                 "could be compared.");
    diff->callback([&status] {
        Session session;
        session.app.verification.allowUnsigned = allowUnsigned;
        if (!Start(session, suite, false) || !LoadUpgradeFolder(session, folder)) {
            status = kExitFailure;
            if (json)
                PrintJsonResult(Json::array(), status, DiffMeaning(status), &session.app.verification.check);
            return;
        }
        const App& app = session.app;
        const std::vector<size_t> rows = DiffRows(app, only);
        status = DiffStatus(app, rows);
        const std::vector<preview::RowDetail> details =
            detail ? app.changeColumn.Details(rows, false) : std::vector<preview::RowDetail>();
        if (json) {
            Json list = RowsJson(app, rows);
            for (size_t i = 0; i < details.size(); ++i) list[i]["detail"] = DetailJson(details[i]);
            PrintJsonResult(list, status, DiffMeaning(status), &app.verification.check);
            return;
        }
        // Every line of the grid (the empty ones after the offered rows too), or the rows asked for.
        const size_t lines = only.empty() ? GridLines(app) : rows.size();
        for (size_t i = 0; i < lines; ++i) {
            const size_t row = only.empty() ? i : rows[i];
            std::cout << ChangeWordOf(app, row) << "\t" << GridLine(app, row) << "\n";
            if (i < details.size()) PrintDetail(details[i]);
        }
    });
}

}  // namespace zrx::cli
