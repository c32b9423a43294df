#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/cli_commands.h"
#include "cli/cli_rows.h"
#include "cli/cli_session.h"

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

void AddDiffCommand(CLI::App& parent, int& status) {
    static std::string suite, folder;
    static bool json = false, allowUnsigned = false;
    CLI::App* diff = parent.add_subcommand(
        "diff", "Print what each offered row would change: new, changed, same, older, missing or unreadable");
    diff->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    diff->add_flag("--json", json, "Print one JSON document instead of tab-separated lines");
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
        const std::vector<size_t> offered = OfferedRows(app);
        status = DiffStatus(app, offered);
        if (json) {
            PrintJsonResult(RowsJson(app, offered), status, DiffMeaning(status), &app.verification.check);
            return;
        }
        for (size_t r = 0; r < GridLines(app); ++r)
            std::cout << ChangeWordOf(app, r) << "\t" << GridLine(app, r) << "\n";
    });
}

}  // namespace zrx::cli
