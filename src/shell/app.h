#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "builder/builder_tables.h"
#include "history/record_folder.h"
#include "kernel/releasing_dialogs.h"
#include "preview/change_column.h"
#include "preview/change_preview.h"
#include "shell/working_database.h"
#include "trust/upgrade_check.h"
#include "ui/forms/main_form.h"
#include "upgrade_list/loaded_list.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx {
class RunRecordHooks;
namespace ui {
class Dialogs;
class FontCatalog;
}  // namespace ui

// The installation's directories and the program's own, settled at start-up.
struct Environment {
    std::string ServerPath;
    std::string IniFile;
    std::string JobDir, LibDir, SysDir, ULM3JobDir;
    std::string ZSMcml, ZSMudn, ZSMmod, ZSMsbk, ZSMwrk;
    bool BuilderMode = false;
};

// The program: its environment, its windows and every table, for as long as it runs. The window
// layer (or the command line, or a test) supplies the dialogs and fonts.
class App {
public:
    App(ui::Dialogs& dialogs, ui::FontCatalog& fonts);
    App(const App&) = delete;
    App& operator=(const App&) = delete;

private:
    ReleasingDialogs m_releasingDialogs;

public:
    // Every box and modal window of the program; library locks are given up before each waits.
    ui::Dialogs& dialogs;
    ui::FontCatalog& fonts;

    std::string commandLine;  // the text after the program's name
    Environment env;
    ui::UiFont uiFont;
    ui::MainForm main;
    WorkingDatabase database;

    // The overwrite options of the update run.
    bool AskOverwrite = false;
    bool OverwriteAll = true;
    bool SummaryFinished = false;

    // The undo record of the run while it runs (none outside a run): it keeps the old elements and
    // files, and is told of every index file the run rewrites.
    RunRecordHooks* runRecord = nullptr;
    // How far the update run has come: its selected elements and files, and those dealt with.
    struct RunProgress {
        size_t done = 0, total = 0;
    } runProgress;
    // The number of the last recorded run, 0 when the last run changed nothing.
    int64_t lastRunId = 0;

    // Libraries the kernel refused during the current run (damaged, locked, not a library), each
    // reported once.
    std::set<std::string> refusedLibraries;
    // Why changes of the current run could not be recorded for undo, each said once.
    std::set<std::string> unrecordedReasons;

    // The loaded upgrade list. ListPath is what the user chose (a folder, or an archive file); its
    // files are read from UpgradeDir: that folder itself, the folder an archive was unpacked to, or
    // the private copy of the files that were checked against the upgrade's manifest (kept in
    // upgradeScratch while the upgrade is loaded).
    std::string ListPath;
    std::string UpgradeDir;
    std::unique_ptr<history::ScratchFolder> upgradeScratch;
    // What was known of the loaded upgrade: signed, intact, unverified.
    trust::UpgradeCheck upgradeCheck;
    // An upgrade not signed by a key the installation trusts is loaded without asking (the
    // command line's --allow-unsigned).
    bool allowUnsigned = false;
    std::array<std::string, 6> UpgLibPath;
    std::vector<std::string> ReadmeLines{1};
    // The records as loaded; the per-kind lists the run works on are made from the grid's rows
    // when it starts.
    LoadedList loaded;
    UpgradeLists lists;
    GridRowTable GridRows;
    // What each offered row of GridRows would change in the installation, in the grid's sixth column.
    ChangeColumn changeColumn{main.F_Preferen, dialogs, uiFont, GridRows, env, UpgradeDir, UpgLibPath};
    // Whether loading a list works the changes out (the window always does; a command that shows
    // no change leaves them out).
    bool compareOnLoad = true;

    // The builder.
    BuilderTables builder;
    BuildReport lastBuild;
    BuildSeal buildSeal;
    int builderReadCount = 0;
    std::string builderLastLibrary;
    std::string destinationFolder;
    std::string trimmedDestination;
    // The upper-cased lines of each chosen list, kept while the list does not change otherwise, so
    // that the duplicate test of ">>" costs the same for the ten-thousandth name as for the first.
    struct ChosenNames {
        uint64_t revision = UINT64_MAX;
        std::unordered_set<std::string> names;
    };
    std::unordered_map<const ui::ListBox*, ChosenNames> chosenNames;

    // Platform queries that tests replace: the running executable's directory, and the operating
    // system's version (nothing when the query fails).
    std::function<std::string()> executableDirectory;
    std::function<std::optional<std::pair<int, int>>()> osVersion;

    // Set once the main window has been unloaded.
    bool ended = false;
    // Closes the main window: the other forms first, then the program ends.
    void CloseMainWindow();

    // Forms shown on top of the main window, most recent last.
    std::vector<ui::Form*> openForms;
};

// The installation directory: the folder that holds the INI file.
std::string InstallationDir(const Environment& env);

// The directory of the running executable, without a trailing separator; "" when unknown.
std::string RunningExecutableDirectory();

}  // namespace zrx
