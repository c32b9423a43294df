#pragma once

// Shared pieces of the fuzz targets: a scratch folder for inputs that must be files, and a
// program instance without a window.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "program/app.h"
#include "ui/console/console_dialogs.h"
#include "ui/scripted_dialogs.h"

namespace zrx::fuzz {

// The run's scratch folder, removed with all it holds when the run ends. The path is never
// destroyed, so that the removal at exit can still name it.
inline const std::string& ScratchDir() {
    static const std::string* const dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "zrxfuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        const auto* path = new std::string(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchDir(), ignored);
        });
        return path;
    }();
    return *dir;
}

inline std::string WriteInput(const std::string& name, std::string_view data) {
    const std::string path = ScratchDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return path;
}

// One program instance for the whole run: its environment names directories under the scratch
// folder, and every question is answered Yes.
struct Program {
    ui::ScriptedDialogs dialogs;
    ui::ConsoleFontCatalog fonts;
    std::unique_ptr<App> app;
    Program() {
        app = std::make_unique<App>(dialogs, fonts);
        Environment& e = app->installation.env;
        for (std::string* dir : {&e.JobDir, &e.LibDir, &e.SysDir, &e.ZSMcml, &e.ZSMudn, &e.ZSMmod, &e.ZSMsbk, &e.ZSMwrk})
            *dir = ScratchDir() + "/dir";
        app->upgrade.ListPath = app->upgrade.UpgradeDir = ScratchDir();
    }
};

inline Program& TheProgram() {
    static Program program;
    return program;
}

}  // namespace zrx::fuzz
