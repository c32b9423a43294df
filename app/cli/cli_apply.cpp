#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <set>

#include "apply/summary.h"
#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "shell/messages.h"
#include "shell/text_utils.h"
#include "ui/forms/summary_form.h"

namespace zrx::cli {

namespace {

// The summary as an aligned table on standard output.
void PrintSummary(const ui::Grid& grid) {
    constexpr int kColumns = 5;
    std::vector<size_t> widths(kColumns, 0);
    for (int r = 0; r < grid.Rows(); ++r)
        for (int c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], ToDisplayUtf8(grid.TextMatrix(r, c)).size());
    for (int r = 0; r < grid.Rows(); ++r) {
        std::string line;
        for (int c = 0; c < kColumns; ++c) {
            const std::string cell = ToDisplayUtf8(grid.TextMatrix(r, c));
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

}  // namespace

void AddApplyCommand(CLI::App& parent, int& status) {
    static std::string suite, folder, summaryFile;
    static bool yes = false, ask = false, overwrite = false;
    static std::vector<std::string> only, skip;
    CLI::App* apply = parent.add_subcommand("apply", "Apply an upgrade folder to an installation");
    apply->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    apply->add_flag("--yes", yes, "Answer the confirmation with Yes");
    auto* askOption = apply->add_flag("--ask", ask, "Ask before overwriting an element that is already there");
    apply->add_flag("--overwrite", overwrite, "Overwrite existing elements without asking (the default)")
        ->excludes(askOption);
    apply->add_option("--only", only, "Copy only the elements of these names");
    apply->add_option("--skip", skip, "Do not copy the elements of these names");
    apply->add_option("--summary", summaryFile, "Save the summary as Save Summary does");
    apply->add_option("UPGRADE_FOLDER", folder, "Folder that holds Upgrade.lst")->required();
    apply->callback([&status] {
        Session session;
        App& app = session.app;
        if (!Start(session, suite, false) || !LoadUpgradeFolder(session, folder)) {
            status = kExitFailure;
            return;
        }
        ui::MainForm& m = app.main;
        // Every element is offered; --only and --skip take rows out by element name.
        const std::set<std::string> onlyNames(only.begin(), only.end()), skipNames(skip.begin(), skip.end());
        ui::Grid& grid = m.F_Preferen;
        for (int r = 1; r < grid.Rows(); ++r) {
            if (grid.TextMatrix(r, 3).empty()) continue;
            const std::string& name = grid.TextMatrix(r, 0);
            if ((!onlyNames.empty() && !onlyNames.count(name)) || skipNames.count(name)) grid.SetTextMatrix(r, 3, "NO");
        }
        m.F_Proceed.Click();
        if (ask) m.F_OverPrompt(0).Click();
        else m.F_OverPrompt(1).Click();

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
            PrintSummary(summary.F_Resgrid);
            for (int r = 1; r < summary.F_Resgrid.Rows(); ++r)
                if (!summary.F_Resgrid.TextMatrix(r, 3).empty() &&
                    summary.F_Resgrid.TextMatrix(r, 3) != GetLocalMessage("Copied", 4434))
                    allCopied = false;
            if (!summaryFile.empty()) {
                std::string error;
                if (!WriteSummaryFile(summary.F_Resgrid, summaryFile, error)) {
                    Fail(summaryFile + ": the summary could not be saved: " + error);
                    allCopied = false;
                }
            }
            summary.F_PrevDef.Click();
        });
        m.F_Update.Click();
        session.dialogs.EndProgress();
        status = !summaryShown ? kExitFailure : allCopied ? 0 : 1;
    });
}

}  // namespace zrx::cli
