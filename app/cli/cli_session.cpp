#include "cli/cli_session.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>

#include "archive/upgrade_archive.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "program/handlers.h"
#include "program/startup.h"
#include "program/upgrade_pages.h"

namespace zrx::cli {

int Fail(const std::string& message) {
    std::cerr << "zrxlibug-cli: " << EscapeControls(message) << "\n";
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
    // What is loaded is what OK loads for that choice: the folder without blanks around it (an
    // archive's folder likewise).
    namespace fs = std::filesystem;
    std::string chosen = TrimBlanks(archive ? fs::path(absolute).parent_path().string() : absolute);
    if (chosen.size() > 1 && chosen.back() == '/') chosen.pop_back();
    if (archive) chosen = JoinPath(chosen, fs::path(absolute).filename().string());
    if (!LoadUpgrade(session.app, chosen)) return false;
    // Said beside the command's output: what --allow-unsigned let through this time.
    const UpgradeVerification& verification = session.app.verification;
    if (verification.loadedUnsigned)
        std::cerr << "zrxlibug-cli: loaded although no key this installation trusts signed it (--allow-unsigned): "
                  << chosen << " is " << verification.check.Describe() << "\n";
    return true;
}

void AddUpgradeOptions(CLI::App* command, std::string& folder, bool& allowUnsigned) {
    command->add_flag("--allow-unsigned", allowUnsigned,
                      "Load an upgrade that no key the installation trusts has signed, this time");
    command->add_option("UPGRADE", folder, "Folder that holds Upgrade.lst, or an upgrade archive (.zip, .tar, "
                                           ".tar.gz, .tar.xz)")
        ->required();
}

}  // namespace zrx::cli
