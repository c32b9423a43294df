#include "cli/cli_session.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "archive/upgrade_archive.h"
#include "base/paths.h"
#include "program/handlers.h"
#include "program/startup.h"
#include "program/upgrade_pages.h"

namespace zrx::cli {

int Fail(const std::string& message) {
    std::cerr << "zrxlibug-cli: " << message << "\n";
    return kExitFailure;
}

bool Start(Session& session, const std::string& suiteDir, bool builder) {
    App& app = session.app;
    app.commandLine = "\"" + suiteDir + (builder ? ",TRELM" : "") + "\"";
    ConnectHandlers(app);
    return Form_Load(app) == StartupOutcome::Ready;
}

bool LoadUpgradeFolder(Session& session, const std::string& folder) {
    App& app = session.app;
    // The folder list works with absolute folders, as the window's does.
    std::error_code error;
    std::string absolute = std::filesystem::absolute(folder, error).lexically_normal().string();
    // An archive is chosen in its folder's file list, as the window does.
    std::string archiveName;
    if (archive::IsArchiveName(absolute) && std::filesystem::is_regular_file(absolute, error)) {
        archiveName = std::filesystem::path(absolute).filename().string();
        absolute = std::filesystem::path(absolute).parent_path().string();
    }
    if (!app.window.main.F_lstdir.SetPath(WithoutTrailingSeparator(absolute))) {
        Fail(folder + ": the upgrade folder cannot be read");
        return false;
    }
    app.window.main.F_lstfile.SetPath(app.window.main.F_lstdir.Path());
    if (!archiveName.empty()) {
        const auto& files = app.window.main.F_lstfile.Items();
        const auto chosen = std::find(files.begin(), files.end(), archiveName);
        if (chosen == files.end()) {
            Fail(folder + ": the upgrade archive cannot be read");
            return false;
        }
        app.window.main.F_lstfile.SetListIndex(static_cast<int>(chosen - files.begin()));
    }
    F_lstok_Click(app);
    return app.window.main.F_Msg.Visible() && !app.window.main.F_lstfrm.Visible();
}

void AddUpgradeOptions(CLI::App* command, std::string& folder, bool& allowUnsigned) {
    command->add_flag("--allow-unsigned", allowUnsigned,
                      "Load an upgrade that no key the installation trusts has signed, this time");
    command->add_option("UPGRADE", folder, "Folder that holds Upgrade.lst, or an upgrade archive (.zip, .tar, "
                                           ".tar.gz, .tar.xz)")
        ->required();
}

}  // namespace zrx::cli
