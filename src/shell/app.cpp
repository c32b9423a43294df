#include "shell/app.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

#include "shell/paths.h"
#include "ui/dialogs.h"

namespace zrx {

std::string RunningExecutableDirectory() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

App::App(ui::Dialogs& dialogsIn, ui::FontCatalog& fontsIn)
    : m_releasingDialogs(dialogsIn),
      dialogs(m_releasingDialogs),
      fonts(fontsIn),
      executableDirectory(RunningExecutableDirectory),
      osVersion([] { return std::optional<std::pair<int, int>>(); }) {
    // The folder lists open where the program was started, as a directory list does by default.
    std::error_code error;
    const std::string cwd = std::filesystem::current_path(error).string();
    if (!error) {
        main.F_lstDrive.SetDriveFor(cwd);
        main.F_lstdir.SetPath(cwd);
        main.F_lstfile.SetPath(cwd);
        main.F_Drive.SetDriveFor(cwd);
        main.F_Dir.SetPath(cwd);
        main.F_Miscdrive.SetDriveFor(cwd);
        main.F_MiscDir.SetPath(cwd);
        main.F_Miscitem.SetPath(cwd);
    }
}

void App::CloseMainWindow() {
    // Unload the other forms, most recent first, letting pending events run between them.
    while (!openForms.empty()) {
        dialogs.ProcessEvents();
        ui::Form* form = openForms.back();
        openForms.pop_back();
        form->SetVisible(false);
    }
    if (ended) return;
    ended = true;
    main.SetVisible(false);
    dialogs.EndProgram();
}

std::string InstallationDir(const Environment& env) {
    const auto cut = env.IniFile.rfind(kSep);
    return cut == std::string::npos ? std::string(".") : env.IniFile.substr(0, cut == 0 ? 1 : cut);
}

}  // namespace zrx
