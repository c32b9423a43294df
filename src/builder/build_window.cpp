#include "builder/build_window.h"

#include "builder/element_lists.h"
#include "builder/file_lists.h"
#include "builder/upgrade_writer.h"
#include "program/app.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "upgrade_list/list_format.h"

namespace zrx {

void F_Dir_Change(App& app) {
    app.builder.destinationFolder = app.window.main.F_Dir.Path();
    SetDestinationPaths(app);
}

void F_Drive_Change(App& app) {
    ui::MainForm& m = app.window.main;
    m.F_Dir.SetVisible(true);
    if (m.F_Dir.SetPath(m.F_Drive.Drive())) {
        app.builder.destinationFolder = m.F_Dir.Path();
    } else {
        // A drive that cannot be read: the drive itself is the destination.
        m.F_Dir.SetVisible(false);
        app.builder.destinationFolder = m.F_Drive.Drive();
    }
    AddTrailingSlash(app.builder.destinationFolder);
    SetDestinationPaths(app);
}

void SetDestinationPaths(App& app) {
    if (app.builder.destinationFolder.empty()) return;
    std::string folder = TrimBlanks(app.builder.destinationFolder);
    if (!folder.empty() && folder.back() == kSep) folder.pop_back();
    app.builder.trimmedDestination = folder;
    ui::MainForm& m = app.window.main;
    auto path = [&folder](std::string_view file) { return folder + kSep + std::string(file); };
    m.F_Destfmtpath.SetCaption(path(kListFileName));
    m.F_Destdpath.SetCaption(path(kUpgradeLibraries[0]));
    m.F_Destspath.SetCaption(path(kUpgradeLibraries[1]));
    m.F_DestI_spath.SetCaption(path(kUpgradeLibraries[2]));
    m.F_Destlpath.SetCaption(path(kUpgradeLibraries[3]));
    m.F_Destsmlpath.SetCaption(path(kUpgradeLibraries[4]));
    m.F_Destmplpath.SetCaption(path(kUpgradeLibraries[5]));
}

void ConnectBuilder(App& app) {
    ui::MainForm& m = app.window.main;
    for (int kind = kParts; kind <= kMparams; ++kind) {
        const ui::MainForm::LibraryFrame frame = m.LibraryFrameOf(kind);
        frame.libraries->onClick = [&app, kind] { FillElementList(app, kind); };
        frame.move->onClick = [&app, kind] { MoveChosenElements(app, kind); };
        frame.remove->onClick = [&app, kind] { RemoveChosenElement(app, kind); };
    }
    const std::pair<ui::Button*, ui::Button*> fileButtons[] = {
        {&m.F_Sbcmove, &m.F_Remsbc}, {&m.F_Talmove, &m.F_RemTal}, {&m.F_Datmove, &m.F_Remdat},
        {&m.F_SPCmove, &m.F_Remspc}, {&m.F_MiscMove, &m.F_RemMisc}};
    for (int kind = kSbcFiles; kind <= kMiscFiles; ++kind) {
        fileButtons[kind - kSbcFiles].first->onClick = [&app, kind] { MoveChosenFiles(app, kind); };
        fileButtons[kind - kSbcFiles].second->onClick = [&app, kind] { RemoveChosenFile(app, kind); };
    }
    m.F_MiscDir.onChange = [&app] { F_MiscDir_Change(app); };
    m.F_Miscdrive.onChange = [&app] { F_Miscdrive_Change(app); };
    m.F_sbcdir.onChange = [&app] { F_sbcdir_Change(app); };
    m.F_sbcdrive.onChange = [&app] { F_sbcdrive_Change(app); };
    m.F_Filedesc.onKeyPress = [&app](int key) { return F_Filedesc_KeyPress(app, key); };
    m.F_Filedesc.onLostFocus = [&app] { F_Filedesc_LostFocus(app); };
    m.F_Dir.onChange = [&app] { F_Dir_Change(app); };
    m.F_Drive.onChange = [&app] { F_Drive_Change(app); };
    m.F_Create.onClick = [&app] { F_Create_Click(app); };
    // The key and the zip file as the user types or chooses them, without blanks around them.
    m.P_SignKey.onChange = [&app] { app.builder.seal.signingKey = TrimBlanks(app.window.main.P_SignKey.Text()); };
    m.P_ArchiveFile.onChange = [&app] { app.builder.seal.archive = TrimBlanks(app.window.main.P_ArchiveFile.Text()); };
}

}  // namespace zrx
