#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <iostream>
#include <set>

#include "apply/summary.h"
#include "base/messages.h"
#include "base/text_utils.h"
#include "cli/cli_commands.h"
#include "cli/cli_rows.h"
#include "cli/cli_session.h"
#include "program/update_page.h"
#include "trust/upgrade_check.h"
#include "ui/forms/summary_form.h"

namespace zrx::cli {

namespace {

// The summary as an aligned table on standard output.
void PrintSummary(const ui::Grid& grid) {
    constexpr int kColumns = 5;
    std::vector<size_t> widths(kColumns, 0);
    for (int r = 0; r < grid.Rows(); ++r)
        for (int c = 0; c < kColumns; ++c)
            widths[c] = std::max(widths[c], ToDisplayUtf8(EscapeControls(grid.TextMatrix(r, c))).size());
    for (int r = 0; r < grid.Rows(); ++r) {
        std::string line;
        for (int c = 0; c < kColumns; ++c) {
            const std::string cell = ToDisplayUtf8(EscapeControls(grid.TextMatrix(r, c)));
            line += cell + (c < kColumns - 1 ? std::string(widths[c] - cell.size() + 2, ' ') : "");
        }
        std::cout << TrimTrailingBlanks(line) << "\n";
        if (r == 0) {
            size_t total = 0;
            for (size_t w : widths) total += w + 2;
            std::cout << std::string(total - 2, '-') << "\n";
        }
    }
}

// The offered rows with their outcome after a run, for scripts. A row's element was selected when
// its Update cell said YES; the per-kind lists the run worked on hold the rows of each kind in grid
// order, and so tell each selected row's outcome.
Json AppliedRows(const App& app, const std::vector<bool>& selected) {
    Json rows = Json::array();
    std::array<size_t, 7> seen{};
    const UpgradeLists& l = app.upgrade.lists;
    for (size_t i = 0; i + 1 < app.upgrade.GridRows.size(); ++i) {
        const int kind = app.upgrade.GridRows[i].Kind;
        const size_t index = kind >= 1 && kind <= 6 ? seen[static_cast<size_t>(kind)]++ : 0;
        auto copied = [index](const auto& list) { return index < list.size() && list[index].Copied != 0; };
        const bool done = kind == 1   ? copied(l.PartItems)
                          : kind == 2 ? copied(l.SymbolItems)
                          : kind == 3 ? copied(l.PackageItems)
                          : kind == 4 ? copied(l.DataFileItems)
                          : kind == 5 ? copied(l.SpiceModelItems)
                                      : copied(l.MixedModelItems);
        Json row = RowJson(app, static_cast<int>(i) + 1);
        row["update"] = selected[i] ? "YES" : "NO";
        row["status"] = !selected[i] ? "skipped" : done ? "copied" : "not copied";
        rows.push_back(std::move(row));
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
        ui::MainForm& m = app.window.main;
        // Every element is offered; --only and --skip (and their files) take rows out by element
        // name, --skip-same those that would change nothing.
        const std::set<std::string> onlyNames(onlyList.begin(), onlyList.end()), skipNames(skipList.begin(), skipList.end());
        const bool onlySome = !only.empty() || !onlyFiles.empty();
        ui::Grid& grid = m.F_Preferen;
        for (int r = 1; r < grid.Rows(); ++r) {
            if (grid.TextMatrix(r, 3).empty()) continue;
            const std::string& name = grid.TextMatrix(r, 0);
            if ((onlySome && !onlyNames.count(name)) || skipNames.count(name)) grid.SetTextMatrix(r, 3, "NO");
        }
        if (skipSame) m.P_SameToNo.Click();
        std::vector<bool> selected;
        std::vector<int> touched;
        for (size_t i = 0; i + 1 < app.upgrade.GridRows.size(); ++i) {
            selected.push_back(grid.TextMatrix(static_cast<int>(i) + 1, 3) == "YES");
            if (selected.back()) touched.push_back(static_cast<int>(i) + 1);
        }
        if (dryRun) {
            status = DiffStatus(app, touched);
            if (json) {
                PrintJsonResult(RowsJson(app, touched), status, DiffMeaning(status), &app.verification.check);
            } else {
                for (const int r : touched) std::cout << ChangeWordOf(app, r) << "\t" << GridLine(app, r) << "\n";
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
        m.F_Status.Subscribe([&session, &m] { session.dialogs.Progress(m.F_Status.Caption()); });

        bool summaryShown = false;
        bool allCopied = true;
        session.dialogs.OnModal("INSUMRY", [&](ui::Form& form) {
            summaryShown = true;
            auto& summary = static_cast<ui::SummaryForm&>(form);
            session.dialogs.EndProgress();
            if (!json) PrintSummary(summary.F_Resgrid);
            const std::string copied = GetLocalMessage("Copied", 4434);
            for (int r = 1; r < summary.F_Resgrid.Rows() && allCopied; ++r) {
                const std::string outcome = summary.F_Resgrid.TextMatrix(r, 3);
                if (!outcome.empty() && outcome != copied) allCopied = false;
            }
            if (!summaryFile.empty()) {
                std::string error;
                if (!WriteSummaryFile(summary.F_Resgrid, summaryFile, error)) {
                    Fail(summaryFile + ": the summary could not be saved: " + error);
                    allCopied = false;
                }
            }
            summary.F_PrevDef.Click();
        });
        UpdateLibraries(app);  // the rows' changes stay as they stood before the run
        session.dialogs.EndProgress();
        status = !summaryShown ? kExitFailure : allCopied ? 0 : 1;
        if (json)
            PrintJsonResult(summaryShown ? AppliedRows(app, selected) : Json::array(), status,
                            ApplyMeaning(status), &app.verification.check);
    });
}

}  // namespace zrx::cli
