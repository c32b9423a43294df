#include "program/app.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

#include "base/dialogs.h"
#include "base/paths.h"

namespace zrx {

std::string RunningExecutableDirectory() {
    std::error_code error;
    const auto exe =
        std::filesystem::read_symlink("/proc/self/exe", error);  // file-access: the program's own file
    return error ? std::string() : exe.parent_path().string();
}

App::App(ui::Dialogs& dialogsIn, ui::FontCatalog& fontsIn)
    : m_releasingDialogs(dialogsIn),
      window(m_releasingDialogs, fontsIn),
      executableDirectory(RunningExecutableDirectory),
      osVersion([] { return std::optional<std::pair<int, int>>(); }) {
    // The folder lists open where the program was started, as a directory list does by default.
    std::error_code error;
    const std::string cwd =
        std::filesystem::current_path(error).string();  // file-access: where the program runs
    if (!error) {
        window.main.F_lstDrive.SetDriveFor(cwd);
        window.main.F_lstdir.SetPath(cwd);
        window.main.F_lstfile.SetPath(cwd);
        window.main.F_Drive.SetDriveFor(cwd);
        window.main.F_Dir.SetPath(cwd);
        window.main.F_Miscdrive.SetDriveFor(cwd);
        window.main.F_MiscDir.SetPath(cwd);
        window.main.F_Miscitem.SetPath(cwd);
    }
}

void App::CloseMainWindow() {
    // Unload the other forms, most recent first, letting pending events run between them.
    while (!window.openForms.empty()) {
        window.dialogs.ProcessEvents();
        ui::Form* form = window.openForms.back();
        window.openForms.pop_back();
        form->SetVisible(false);
    }
    if (ended) return;
    ended = true;
    window.main.SetVisible(false);
    window.dialogs.EndProgram();
}

}  // namespace zrx
