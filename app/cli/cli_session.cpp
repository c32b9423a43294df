#include "cli/cli_session.h"

#include <filesystem>
#include <iostream>

#include "shell/paths.h"

#include "shell/handlers.h"
#include "shell/startup.h"
#include "upgrade_list/load_page.h"

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
    const std::string absolute = std::filesystem::absolute(folder, error).lexically_normal().string();
    if (!app.main.F_lstdir.SetPath(WithoutTrailingSeparator(absolute))) {
        Fail(folder + ": the upgrade folder cannot be read");
        return false;
    }
    F_lstok_Click(app);
    return app.main.F_Msg.Visible() && !app.main.F_lstfrm.Visible();
}

}  // namespace zrx::cli
