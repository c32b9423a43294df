#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "apply/run_state.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "kernel/releasing_dialogs.h"
#include "program/change_column.h"
#include "trust/upgrade_verification.h"
#include "ui/window_side.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// The program: the composition of its state, for as long as it runs. Each part is owned here and
// documented in its own header; the working routines take the parts (or narrower values) they
// use, and only the handlers, start-up and the two mains see the whole.
class App {
public:
    App(ui::Dialogs& dialogs, ui::FontCatalog& fonts);
    App(const App&) = delete;
    App& operator=(const App&) = delete;

private:
    ReleasingDialogs m_releasingDialogs;

public:
    // The main form and the forms over it, the dialogs (library locks are given up before each box
    // waits) and the fonts.
    ui::WindowSide window;
    std::string commandLine;  // the text after the program's name
    // The installation's directories and the working database.
    Installation installation;
    // The loaded upgrade, what is known of its origin, and what each offered row would change (the
    // grid's sixth column).
    LoadedUpgrade upgrade;
    UpgradeVerification verification;
    ChangeColumn changeColumn{window.main.F_Preferen, window.dialogs,   window.uiFont,
                              upgrade.GridRows,       installation.env, upgrade.UpgradeDir,
                              upgrade.UpgLibPath,     upgrade.Folder,   upgrade.InPlace};
    // The update run's options, progress and undo record.
    RunState run;
    // The builder's choices and its last build.
    BuilderState builder;

    // Platform queries that tests replace: the running executable's directory, and the operating
    // system's version (nothing when the query fails).
    std::function<std::string()> executableDirectory;
    std::function<std::optional<std::pair<int, int>>()> osVersion;

    // Set once the main window has been unloaded.
    bool ended = false;
    // Closes the main window: the other forms first, then the program ends.
    void CloseMainWindow();
};

// The directory of the running executable, without a trailing separator; "" when unknown.
std::string RunningExecutableDirectory();

}  // namespace zrx
