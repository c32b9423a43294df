#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/cli_commands.h"
#include "cli/cli_session.h"

namespace zrx::cli {

void AddShowCommand(CLI::App& parent, int& status) {
    static std::string suite, folder;
    CLI::App* show = parent.add_subcommand("show", "Print the selection grid an upgrade folder offers");
    show->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    show->add_option("UPGRADE_FOLDER", folder, "Folder that holds Upgrade.lst")->required();
    show->callback([&status] {
        Session session;
        if (!Start(session, suite, false) || !LoadUpgradeFolder(session, folder)) {
            status = kExitFailure;
            return;
        }
        const ui::Grid& grid = session.app.main.F_Preferen;
        for (int r = 1; r < grid.Rows(); ++r) {
            for (int c = 0; c < 5; ++c) std::cout << (c ? "\t" : "") << grid.TextMatrix(r, c);
            std::cout << "\n";
        }
        status = 0;
    });
}

}  // namespace zrx::cli
