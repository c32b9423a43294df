#pragma once

#include <string>

#include "kernel/working_database.h"

namespace zrx {

// The installation's directories and the program's own, settled at start-up.
struct Environment {
    std::string ServerPath;
    std::string IniFile;
    std::string JobDir, LibDir, SysDir, ULM3JobDir;
    std::string ZSMcml, ZSMudn, ZSMmod, ZSMsbk, ZSMwrk;
    bool BuilderMode = false;
};

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
