#include "cli/cli_session.h"

#include <CLI/CLI.hpp>

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
    std::error_code error;
    const std::string absolute =
        WithoutTrailingSeparator(std::filesystem::absolute(folder, error).lexically_normal().string());
    const bool archive =
        archive::IsArchiveName(absolute) && std::filesystem::is_regular_file(absolute, error);
    // A folder that cannot be listed is said to be so, as the window's folder list does.
    if (!archive && (!std::filesystem::is_directory(absolute, error) ||
                     (std::filesystem::directory_iterator(absolute, error), error))) {
        Fail(folder + ": the upgrade folder cannot be read");
        return false;
    }
    return LoadUpgrade(session.app, absolute);
}

void AddUpgradeOptions(CLI::App* command, std::string& folder, bool& allowUnsigned) {
    command->add_flag("--allow-unsigned", allowUnsigned,
                      "Load an upgrade that no key the installation trusts has signed, this time");
    command->add_option("UPGRADE", folder, "Folder that holds Upgrade.lst, or an upgrade archive (.zip, .tar, "
                                           ".tar.gz, .tar.xz)")
        ->required();
}

}  // namespace zrx::cli
