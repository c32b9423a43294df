#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <iostream>
#include <set>

#include "apply/run_report.h"
#include "base/messages.h"
#include "base/text_utils.h"
#include "cli/cli_commands.h"
#include "cli/cli_rows.h"
#include "cli/cli_session.h"
#include "program/update_page.h"
#include "trust/upgrade_check.h"

namespace zrx::cli {

namespace {

// The summary as an aligned table on standard output: its headings, a rule, and its lines.
void PrintSummary(const RunReport& report) {
    std::vector<SummaryLine> lines{SummaryHeadings()};
    for (SummaryLine& line : SummaryTable(report)) lines.push_back(std::move(line));
    std::array<size_t, 5> widths{};
    for (SummaryLine& line : lines)
        for (size_t c = 0; c < line.size(); ++c) {
            line[c] = ToDisplayUtf8(EscapeControls(line[c]));
            widths[c] = std::max(widths[c], line[c].size());
        }
    for (size_t r = 0; r < lines.size(); ++r) {
        std::string text;
        for (size_t c = 0; c < widths.size(); ++c)
            text += lines[r][c] + (c + 1 < widths.size() ? std::string(widths[c] - lines[r][c].size() + 2, ' ') : "");
        std::cout << TrimTrailingBlanks(text) << "\n";
        if (r == 0) {
            size_t total = 0;
            for (const size_t w : widths) total += w + 2;
            std::cout << std::string(total - 2, '-') << "\n";
        }
    }
}

// The offered rows with their outcome after a run, for scripts, in the grid's order; a row not
// copied says why, where the run said.
Json AppliedRows(const App& app, const RunReport& report, const Selection& selected) {
    Json rows = Json::array();
    for (const ReportRow& row : report.rows) {
        Json json = RowJson(app, row.gridIndex, selected);
        json["status"] = row.outcome == RowOutcome::Skipped  ? "skipped"
                         : row.outcome == RowOutcome::Copied ? "copied"
                                                             : "not copied";
        if (row.outcome == RowOutcome::NotCopied && !row.why.empty()) json["why"] = ToDisplayUtf8(row.why);
        rows.push_back(std::move(json));
    }
    return rows;
}

std::string ApplyMeaning(int status) {
    switch (status) {
        case 0: return "every selected element was copied";
        case 1: return "some selected elements were not copied";
        default: return "nothing ran";
    }
}

}  // namespace

void AddApplyCommand(CLI::App& parent, int& status) {
    static std::string suite, folder, summaryFile;
    static bool yes = false, ask = false, overwrite = false, dryRun = false, json = false, skipSame = false,
                allowUnsigned = false;
    static std::vector<std::string> only, skip, onlyFiles, skipFiles;
    CLI::App* apply = parent.add_subcommand("apply", "Apply an upgrade folder to an installation");
    apply->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    apply->add_flag("--yes", yes, "Answer the confirmation with Yes");
    auto* askOption = apply->add_flag("--ask", ask, "Ask before overwriting an element that is already there");
    apply->add_flag("--overwrite", overwrite, "Overwrite existing elements without asking (the default)")
        ->excludes(askOption);
    apply->add_option("--only", only, "Copy only the elements of these names");
    apply->add_option("--skip", skip, "Do not copy the elements of these names");
    apply->add_option("--only-from", onlyFiles, "Copy only the elements named in this file (one a line, # comments)");
    apply->add_option("--skip-from", skipFiles, "Do not copy the elements named in this file (one a line, # comments)");
    apply->add_flag("--skip-same", skipSame, "Do not copy rows that are the same as installed");
    apply->add_flag("--dry-run", dryRun, "Print what the run would change (as diff does) and change nothing");
    apply->add_flag("--json", json, "Print one JSON document instead of the summary table");
    apply->add_option("--summary", summaryFile, "Save the summary as Save Summary does");
    AddUpgradeOptions(apply, folder, allowUnsigned);
    apply->footer("Exit status: 0 every selected element copied, 1 some not copied, 2 nothing ran. With --dry-run: "
                  "0 when every selected row is the same as installed, 1 when any differs, 2 when nothing could be "
                  "compared.");
    apply->callback([&status] {
        auto failJson = [](int code, const std::string& meaning, const trust::UpgradeCheck* check = nullptr) {
            if (json) PrintJsonResult(Json::array(), code, meaning, check);
            return code;
        };
        std::vector<std::string> onlyList = only, skipList = skip;
        for (const auto& [files, names] : {std::pair{&onlyFiles, &onlyList}, std::pair{&skipFiles, &skipList}}) {
            for (const std::string& file : *files) {
                std::string error;
                if (!ReadNameFile(file, *names, error)) {
                    Fail(error);
                    status = failJson(kExitFailure, dryRun ? DiffMeaning(kExitFailure) : ApplyMeaning(kExitFailure));
                    return;
                }
            }
        }
        Session session;
        App& app = session.app;
        // The rows' changes are worked out only where this command uses them.
        app.upgrade.compareOnLoad = json || dryRun || skipSame;
        app.verification.allowUnsigned = allowUnsigned;
        if (!Start(session, suite, false) || !LoadUpgradeFolder(session, folder)) {
            status = failJson(kExitFailure, dryRun ? DiffMeaning(kExitFailure) : ApplyMeaning(kExitFailure),
                              &app.verification.check);
            return;
        }
        // Every element is offered; --only and --skip (and their files) take rows out by element
        // name, --skip-same those that would change nothing.
        const std::set<std::string> onlyNames(onlyList.begin(), onlyList.end()), skipNames(skipList.begin(), skipList.end());
        const bool onlySome = !only.empty() || !onlyFiles.empty();
        const auto& changes = app.changeColumn.Changes().changes;
        Selection selected(OfferedCount(app), true);
        std::vector<size_t> touched;
        for (size_t i = 0; i < selected.size(); ++i) {
            const std::string name(app.upgrade.GridRows[i].Name);
            if ((onlySome && !onlyNames.count(name)) || skipNames.count(name)) selected[i] = false;
            if (skipSame && i < changes.size() && changes[i] == preview::Change::Same) selected[i] = false;
            if (selected[i]) touched.push_back(i);
        }
        if (dryRun) {
            status = DiffStatus(app, touched);
            if (json) {
                PrintJsonResult(RowsJson(app, touched, selected), status, DiffMeaning(status), &app.verification.check);
            } else {
                for (const size_t r : touched) std::cout << ChangeWordOf(app, r) << "\t" << GridLine(app, r, selected) << "\n";
            }
            return;
        }
        // The run's overwrite option, as the update page's two options set it.
        app.run.AskOverwrite = ask;
        app.run.OverwriteAll = !ask;

        const std::string confirmation = GetLocalMessage("Are you sure you want to update the library files", 447);
        session.dialogs.SetAnswerer([confirmation](const ui::MessageBox& box) -> std::optional<ui::Answer> {
            if (yes && box.text == confirmation) return ui::Answer::Yes;
            return std::nullopt;
        });
        ui::Label& statusLine = app.window.main.F_Status;
        statusLine.Subscribe([&session, &statusLine] { session.dialogs.Progress(statusLine.Caption()); });

        const auto report = RunSelectedUpdate(app, selected);
        session.dialogs.EndProgress();
        bool saved = true;
        if (report) {
            if (!json) PrintSummary(*report);
            if (!summaryFile.empty())
                if (const Outcome written = WriteSummaryFile(*report, summaryFile); !written) {
                    Fail(summaryFile + ": the summary could not be saved: " + written.Why());
                    saved = false;
                }
        }
        status = !report ? kExitFailure : report->AllCopied() && saved ? 0 : 1;
        if (json)
            PrintJsonResult(report ? AppliedRows(app, *report, selected) : Json::array(), status, ApplyMeaning(status),
                            &app.verification.check);
    });
}

}  // namespace zrx::cli
