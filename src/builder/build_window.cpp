#include "builder/build_window.h"

#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"
#include "upgrade_list/list_format.h"

namespace zrx {

void F_Dir_Change(BuilderState& builder, ui::MainForm& m) {
    builder.destinationFolder = m.F_Dir.Path();
    SetDestinationPaths(builder, m);
}

void F_Drive_Change(BuilderState& builder, ui::MainForm& m) {
    m.F_Dir.SetVisible(true);
    if (m.F_Dir.SetPath(m.F_Drive.Drive())) {
        builder.destinationFolder = m.F_Dir.Path();
    } else {
        // A drive that cannot be read: the drive itself is the destination.
        m.F_Dir.SetVisible(false);
        builder.destinationFolder = m.F_Drive.Drive();
    }
    AddTrailingSlash(builder.destinationFolder);
    SetDestinationPaths(builder, m);
}

void SetDestinationPaths(BuilderState& builder, ui::MainForm& m) {
    if (builder.destinationFolder.empty()) return;
    std::string folder = TrimBlanks(builder.destinationFolder);
    if (!folder.empty() && folder.back() == kSep) folder.pop_back();
    builder.trimmedDestination = folder;
    auto path = [&folder](std::string_view file) { return folder + kSep + std::string(file); };
    m.F_Destfmtpath.SetCaption(path(kListFileName));
    m.F_Destdpath.SetCaption(path(kUpgradeLibraries[0]));
    m.F_Destspath.SetCaption(path(kUpgradeLibraries[1]));
    m.F_DestI_spath.SetCaption(path(kUpgradeLibraries[2]));
    m.F_Destlpath.SetCaption(path(kUpgradeLibraries[3]));
    m.F_Destsmlpath.SetCaption(path(kUpgradeLibraries[4]));
    m.F_Destmplpath.SetCaption(path(kUpgradeLibraries[5]));
}

}  // namespace zrx
