#pragma once

#include <string>

namespace CLI {
class App;
}

#include "program/app.h"
#include "ui/console/console_dialogs.h"

namespace zrx::cli {

inline constexpr int kExitFailure = 2;

// One run of the program without a window: the same App, handlers and start-up as the window,
// with the boxes on standard error.
struct Session {
    ui::ConsoleDialogs dialogs;
    ui::ConsoleFontCatalog fonts;
    App app{dialogs, fonts};
};

// Starts the program on an installation directory (the first field of its command line), as the
// window would. False when start-up failed; its box has been printed.
bool Start(Session& session, const std::string& suiteDir, bool builder);

// Chooses a folder (or an upgrade archive) on the load page and presses OK. False when the list
// could not be loaded.
bool LoadUpgradeFolder(Session& session, const std::string& folder);

// The upgrade argument and --allow-unsigned of the commands that load an upgrade.
void AddUpgradeOptions(CLI::App* command, std::string& folder, bool& allowUnsigned);

int Fail(const std::string& message);

}  // namespace zrx::cli
