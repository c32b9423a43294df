#pragma once

#include <memory>
#include <string>

#include "base/directory.h"
#include "kernel/working_database.h"

namespace zrx {

// The installation's directories and the program's own, settled at start-up.
struct Environment {
    std::string ServerPath;
    std::string IniFile;
    std::string JobDir, LibDir, SysDir, ULM3JobDir;
    std::string ZSMcml, ZSMudn, ZSMmod, ZSMsbk, ZSMwrk;
    bool BuilderMode = false;
    // The folders above and the one that holds the INI, each opened the first time it is needed
    // (start-up opens them all) and held from then on: whatever becomes of their paths, what lies
    // beneath them is reached through these handles. Copies of the environment share them.
    std::shared_ptr<HeldFolders> folders = std::make_shared<HeldFolders>();
};

// The installation's folder `path` (one of its directories, the installation folder, or any other
// folder the program uses as the environment names it) through its held handle; why not when it
// cannot be opened.
Result<std::shared_ptr<const Directory>> HeldFolder(const Environment& env, const std::string& path);
// Opens every folder of the installation that exists now, so that they are resolved once, at start.
void HoldInstallationFolders(const Environment& env);

// The installation the program works on: its directories, and the kernel's working database the
// transfers and the builder go through. Settled at start-up; the rest of the program only reads
// the directories.
struct Installation {
    Environment env;
    WorkingDatabase database;
};

// The installation directory: the folder that holds the INI file.
std::string InstallationDir(const Environment& env);

}  // namespace zrx
