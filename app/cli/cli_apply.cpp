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
            line[c] = Printable(line[c]);
            widths[c] = std::max(widths[c], line[c].size());
        }
    // The table is put together whole and written at once: a summary may have many thousand lines.
    std::string table, text;
    for (size_t r = 0; r < lines.size(); ++r) {
        text.clear();
        for (size_t c = 0; c < widths.size(); ++c) {
            text += lines[r][c];
            if (c + 1 < widths.size()) text.append(widths[c] - lines[r][c].size() + 2, ' ');
        }
        table += TrimTrailingBlanks(text);
        table += '\n';
        if (r == 0) {
            size_t total = 0;
            for (const size_t w : widths) total += w + 2;
            table.append(total - 2, '-');
            table += '\n';
        }
    }
    std::cout << table;
}

// The offered rows with their outcome after a run, for scripts, in the grid's order; a row not
// copied says why, where the run said.
Json AppliedRows(const App& app, const RunReport& report, const Selection& selected) {
    Json rows = Json::array();
    for (const ReportRow& row : report.rows) {
        Json json = RowJson(app, row.gridIndex, selected);
        json["status"] = row.outcome == RowOutcome::Skipped  ? "skipped"
                         : row.outcome == RowOutcome::Copied ? "copied"
                         : row.outcome == RowOutcome::Kept   ? "kept"
                         : row.outcome == RowOutcome::Merged ? "merged"
                                                             : "not copied";
        if (row.outcome == RowOutcome::NotCopied && !row.why.empty()) json["why"] = ToDisplayUtf8(row.why);
        if (!row.conflicts.empty()) json["conflicts"] = ToDisplayUtf8(row.conflicts);
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

// The command's options as given.
struct ApplyOptions {
    std::string suite, folder, summaryFile;
    bool yes = false, ask = false, overwrite = false, dryRun = false, json = false, skipSame = false,
         allowUnsigned = false, keepEdited = false, merge = false;
    std::vector<std::string> only, skip, onlyFiles, skipFiles;
};

int FailJson(const ApplyOptions& o, int code, const trust::UpgradeCheck* check = nullptr) {
    if (o.json) PrintJsonResult(Json::array(), code, o.dryRun ? DiffMeaning(code) : ApplyMeaning(code), check);
    return code;
}

// Every element is offered; --only and --skip (and their files) take rows out by element name,
// --skip-same those that would change nothing.
Selection SelectedRows(const App& app, const ApplyOptions& o, const std::vector<std::string>& onlyList,
                       const std::vector<std::string>& skipList) {
    const std::set<std::string> onlyNames(onlyList.begin(), onlyList.end()), skipNames(skipList.begin(), skipList.end());
    const bool onlySome = !o.only.empty() || !o.onlyFiles.empty();
    const auto& changes = app.changeColumn.Changes().changes;
    Selection selected(OfferedCount(app), true);
    for (size_t i = 0; i < selected.size(); ++i) {
        const std::string name(app.upgrade.GridRows[i].Name);
        if ((onlySome && !onlyNames.count(name)) || skipNames.count(name)) selected[i] = false;
        if (o.skipSame && i < changes.size() && changes[i] == preview::Change::Same) selected[i] = false;
    }
    return selected;
}

// --dry-run: what the selected rows would change, as diff prints it.
int DryRun(const App& app, const ApplyOptions& o, const Selection& selected) {
    std::vector<size_t> touched;
    for (size_t i = 0; i < selected.size(); ++i)
        if (selected[i]) touched.push_back(i);
    const int status = DiffStatus(app, touched);
    if (o.json) {
        PrintJsonResult(RowsJson(app, touched, selected), status, DiffMeaning(status), &app.verification.check);
    } else {
        for (const size_t r : touched) std::cout << ChangeWordOf(app, r) << "\t" << GridLine(app, r, selected) << "\n";
    }
    return status;
}

// The run over the selected rows, its summary printed (and saved), as Update and the summary window do.
int RunAndReport(Session& session, const ApplyOptions& o, const Selection& selected) {
    App& app = session.app;
    // The run's overwrite option, as the update page's two options set it.
    app.run.AskOverwrite = o.ask;
    app.run.OverwriteAll = !o.ask;
    const std::string confirmation = GetLocalMessage("Are you sure you want to update the library files", 447);
    session.dialogs.SetAnswerer([confirmation, yes = o.yes](const ui::MessageBox& box) -> std::optional<ui::Answer> {
        if (yes && box.text == confirmation) return ui::Answer::Yes;
        return std::nullopt;
    });
    ui::Label& statusLine = app.window.main.F_Status;
    statusLine.Subscribe([&session, &statusLine] { session.dialogs.Progress(statusLine.Caption()); });
    const auto report = RunSelectedUpdate(app, selected);
    session.dialogs.EndProgress();
    bool saved = true;
    if (report) {
        if (!o.json) PrintSummary(*report);
        if (!o.summaryFile.empty())
            if (const Outcome written = WriteSummaryFile(*report, o.summaryFile); !written) {
                Fail(o.summaryFile + ": the summary could not be saved: " + written.Why());
                saved = false;
            }
    }
    const int status = !report ? kExitFailure : report->AllCopied() && saved ? 0 : 1;
    if (o.json)
        PrintJsonResult(report ? AppliedRows(app, *report, selected) : Json::array(), status, ApplyMeaning(status),
                        &app.verification.check);
    return status;
}

int Apply(const ApplyOptions& o) {
    std::vector<std::string> onlyList = o.only, skipList = o.skip;
    for (const auto& [files, names] : {std::pair{&o.onlyFiles, &onlyList}, std::pair{&o.skipFiles, &skipList}})
        for (const std::string& file : *files) {
            std::string error;
            if (!ReadNameFile(file, *names, error)) {
                Fail(error);
                return FailJson(o, kExitFailure);
            }
        }
    Session session;
    App& app = session.app;
    // The rows' changes are worked out only where this command uses them.
    app.upgrade.compareOnLoad = o.json || o.dryRun || o.skipSame || o.keepEdited;
    app.run.KeepEdited = o.keepEdited;
    app.run.MergeEdited = o.merge;
    app.verification.allowUnsigned = o.allowUnsigned;
    if (!Start(session, o.suite, false) || !LoadUpgradeFolder(session, o.folder))
        return FailJson(o, kExitFailure, &app.verification.check);
    const Selection selected = SelectedRows(app, o, onlyList, skipList);
    return o.dryRun ? DryRun(app, o, selected) : RunAndReport(session, o, selected);
}

}  // namespace

void AddApplyCommand(CLI::App& parent, int& status) {
    static ApplyOptions o;
    CLI::App* apply = parent.add_subcommand("apply", "Apply an upgrade folder to an installation");
    apply->add_option("--suite", o.suite, "Installation directory (holds ZARNIX32.INI)")->required();
    apply->add_flag("--yes", o.yes, "Answer the confirmation with Yes");
    auto* keepOption = apply->add_flag(
        "--keep-edited", o.keepEdited,
        "Leave the elements and files edited here since the last upgrade as they are (the summary "
        "says they were kept)");
    apply
        ->add_flag(
            "--merge", o.merge,
            "Merge the upgrade's changes into the elements and files edited here since the last upgrade "
            "(what both changed differently is not copied; the summary names it)")
        ->excludes(keepOption);
    auto* askOption = apply->add_flag("--ask", o.ask, "Ask before overwriting an element that is already there");
    apply->add_flag("--overwrite", o.overwrite, "Overwrite existing elements without asking (the default)")
        ->excludes(askOption);
    apply->add_option("--only", o.only, "Copy only the elements of these names");
    apply->add_option("--skip", o.skip, "Do not copy the elements of these names");
    apply->add_option("--only-from", o.onlyFiles, "Copy only the elements named in this file (one a line, # comments)");
    apply->add_option("--skip-from", o.skipFiles, "Do not copy the elements named in this file (one a line, # comments)");
    apply->add_flag("--skip-same", o.skipSame, "Do not copy rows that are the same as installed");
    apply->add_flag("--dry-run", o.dryRun, "Print what the run would change (as diff does) and change nothing");
    apply->add_flag("--json", o.json, "Print one JSON document instead of the summary table");
    apply->add_option("--summary", o.summaryFile, "Save the summary as Save Summary does");
    AddUpgradeOptions(apply, o.folder, o.allowUnsigned);
    apply->footer("Exit status: 0 every selected element copied, 1 some not copied, 2 nothing ran. With --dry-run: "
                  "0 when every selected row is the same as installed, 1 when any differs, 2 when nothing could be "
                  "compared.");
    apply->callback([&status] { status = Apply(o); });
}

}  // namespace zrx::cli
