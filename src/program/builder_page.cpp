#include "program/builder_page.h"

#include "base/dialogs.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_lists.h"
#include "builder/upgrade_writer.h"
#include "program/app.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

constexpr size_t kMaxSelected = 8000;

ui::ListBox& ChosenList(ui::MainForm& m, int frame) {
    return frame <= kMparams ? *m.LibraryFrameOf(frame).chosen : *m.FileFrameChosenList(frame);
}

// The names selected in a list (at most kMaxSelected).
std::vector<std::string> SelectedNames(const ui::ListBox& list) {
    std::vector<std::string> names;
    for (const int index : list.SelectedIndices(kMaxSelected)) names.push_back(list.List(index));
    return names;
}

// The seven destination paths from the destination folder.
void ShowDestinationPaths(const BuilderState& builder, ui::MainForm& m) {
    if (!builder.destinationChosen) return;
    m.F_Destfmtpath.SetCaption(DestinationPath(builder, kListFileName));
    m.F_Destdpath.SetCaption(DestinationPath(builder, kUpgradeLibraries[0]));
    m.F_Destspath.SetCaption(DestinationPath(builder, kUpgradeLibraries[1]));
    m.F_DestI_spath.SetCaption(DestinationPath(builder, kUpgradeLibraries[2]));
    m.F_Destlpath.SetCaption(DestinationPath(builder, kUpgradeLibraries[3]));
    m.F_Destsmlpath.SetCaption(DestinationPath(builder, kUpgradeLibraries[4]));
    m.F_Destmplpath.SetCaption(DestinationPath(builder, kUpgradeLibraries[5]));
}

// ">>" of a library frame.
void MoveChosenElements(App& app, int kind) {
    ui::MainForm& m = app.window.main;
    const ui::MainForm::LibraryFrame frame = m.LibraryFrameOf(kind);
    app.window.dialogs.SetBusy(true);
    const std::string file =
        frame.libraries->ListIndex() >= 0 ? frame.libraries->List(frame.libraries->ListIndex()) : std::string();
    ChooseElements(app.builder, app.installation.env, app.window.dialogs, kind, file, SelectedNames(*frame.elements));
    ShowChosen(app.builder, m, kind);
    app.window.dialogs.SetBusy(false);
}

// ">>" of a file frame.
void MoveChosenFiles(App& app, int frame) {
    ui::MainForm& m = app.window.main;
    BuilderState& builder = app.builder;
    const Environment& env = app.installation.env;
    ui::Dialogs& dialogs = app.window.dialogs;
    switch (frame) {
        case kTalFiles: ChooseFiles(builder, env, dialogs, frame, env.LibDir, SelectedNames(m.F_Thermtal)); break;
        case kDatFiles: ChooseFiles(builder, env, dialogs, frame, env.JobDir, SelectedNames(m.F_Thermdat)); break;
        case kSpcFiles: ChooseFiles(builder, env, dialogs, frame, env.SysDir, SelectedNames(m.F_Profitem)); break;
        case kSbcFiles:
            ChooseFiles(builder, env, dialogs, frame, m.F_sbcdir.Path(), SelectedNames(m.F_SBCItem),
                        LastPathComponent(m.F_sbcdir.CurrentLinePath()));
            break;
        default:
            if (m.F_Miscitem.ListIndex() < 0) return;
            ChooseMiscFile(builder, env, dialogs, m.F_MiscDir.Path(), m.F_Miscitem.List(m.F_Miscitem.ListIndex()),
                           m.F_Syspath.Text(), m.F_Filedesc.Text());
            break;
    }
    ShowChosen(builder, m, frame);
}

// "<<" of any frame: the selected chosen entries out.
void RemoveSelected(App& app, int frame) {
    ui::ListBox& list = ChosenList(app.window.main, frame);
    std::vector<int> lines;
    for (int line = 0; line < list.ListCount(); ++line)
        if (list.Selected(line)) lines.push_back(line);
    RemoveChosen(app.builder, frame, lines);
    ShowChosen(app.builder, app.window.main, frame);
}

void F_MiscDir_Change(ui::MainForm& m, const Environment& env) {
    m.F_Miscitem.SetPattern(ChoosablePattern(kMiscFiles));
    m.F_Miscitem.SetPath(m.F_MiscDir.Path());
    if (const std::string description = DefaultMiscDescription(env, m.F_MiscDir.Path()); !description.empty())
        m.F_Filedesc.SetText(description);
}

void F_Dir_Change(BuilderState& builder, ui::MainForm& m) {
    SetDestinationFolder(builder, m.F_Dir.Path());
    ShowDestinationPaths(builder, m);
}

void F_Drive_Change(BuilderState& builder, ui::MainForm& m) {
    m.F_Dir.SetVisible(true);
    std::string folder;
    if (m.F_Dir.SetPath(m.F_Drive.Drive())) {
        folder = m.F_Dir.Path();
    } else {
        // A drive that cannot be read: the drive itself is the destination.
        m.F_Dir.SetVisible(false);
        folder = m.F_Drive.Drive();
    }
    AddTrailingSlash(folder);
    SetDestinationFolder(builder, folder);
    ShowDestinationPaths(builder, m);
}

}  // namespace

void ShowChosen(const BuilderState& builder, ui::MainForm& m, int frame) {
    ui::ListBox& list = ChosenList(m, frame);
    const std::vector<std::string>& lines = builder.chosen[static_cast<size_t>(frame)].Lines();
    if (list.Items() != lines) list.SetItems(lines);
}

void ShowBuilder(const BuilderState& builder, ui::MainForm& m) {
    for (int frame = 0; frame < kBuilderFrames; ++frame) ShowChosen(builder, m, frame);
    ShowDestinationPaths(builder, m);
}

void FillElementList(App& app, int kind) {
    const ui::MainForm::LibraryFrame frame = app.window.main.LibraryFrameOf(kind);
    const std::string file =
        frame.libraries->ListIndex() >= 0 ? frame.libraries->List(frame.libraries->ListIndex()) : "";
    frame.elements->Clear();
    if (TrimBlanks(file).empty()) return;
    app.window.dialogs.SetBusy(true);
    auto names = LibraryElementNames(app.installation.env, kind, file);
    if (names) frame.elements->SetItems(std::move(*names));
    app.window.dialogs.SetBusy(false);
}

void ConnectBuilder(App& app) {
    ui::MainForm& m = app.window.main;
    BuilderState& builder = app.builder;
    const Environment& env = app.installation.env;
    ui::Dialogs& dialogs = app.window.dialogs;
    for (int kind = kParts; kind <= kMparams; ++kind) {
        const ui::MainForm::LibraryFrame frame = m.LibraryFrameOf(kind);
        frame.libraries->onClick = [&app, kind] { FillElementList(app, kind); };
        frame.move->onClick = [&app, kind] { MoveChosenElements(app, kind); };
        frame.remove->onClick = [&app, kind] { RemoveSelected(app, kind); };
    }
    const std::pair<ui::Button*, ui::Button*> fileButtons[] = {{&m.F_Sbcmove, &m.F_Remsbc},
                                                               {&m.F_Talmove, &m.F_RemTal},
                                                               {&m.F_Datmove, &m.F_Remdat},
                                                               {&m.F_SPCmove, &m.F_Remspc},
                                                               {&m.F_MiscMove, &m.F_RemMisc}};
    for (int frame = kSbcFiles; frame <= kMiscFiles; ++frame) {
        fileButtons[frame - kSbcFiles].first->onClick = [&app, frame] { MoveChosenFiles(app, frame); };
        fileButtons[frame - kSbcFiles].second->onClick = [&app, frame] { RemoveSelected(app, frame); };
    }
    m.F_MiscDir.onChange = [&m, &env] { F_MiscDir_Change(m, env); };
    m.F_Miscdrive.onChange = [&m, &env] {
        if (m.F_MiscDir.SetPath(m.F_Miscdrive.Drive())) F_MiscDir_Change(m, env);
    };
    m.F_sbcdir.onChange = [&m] { m.F_SBCItem.SetPath(m.F_sbcdir.Path()); };
    m.F_sbcdrive.onChange = [&m] {
        // An unreadable drive keeps the directory list where it was.
        if (m.F_sbcdir.SetPath(m.F_sbcdrive.Drive())) m.F_SBCItem.SetPath(m.F_sbcdir.Path());
    };
    // Enter in the description box trims its text; the key goes on unchanged.
    m.F_Filedesc.onKeyPress = [&m](int key) {
        if (key == 13) m.F_Filedesc.SetText(TrimBlanks(m.F_Filedesc.Text()));
        return key;
    };
    m.F_Filedesc.onLostFocus = [&m] { m.F_Filedesc.SetText(TrimBlanks(m.F_Filedesc.Text())); };
    m.F_Dir.onChange = [&builder, &m] { F_Dir_Change(builder, m); };
    m.F_Drive.onChange = [&builder, &m] { F_Drive_Change(builder, m); };
    // "Build": the build as the frame's options say; the builder asks before it writes over a
    // symbol as the update page's option says.
    const bool& askOverwrite = app.run.AskOverwrite;
    m.F_Create.onClick = [&builder, &m, &env, &dialogs, &askOverwrite] {
        builder.listOnly = m.F_Clstfile(0).Value();
        BuildUpgrade(builder, env, dialogs, askOverwrite);
    };
    // The key and the zip file as the user types or chooses them, without blanks around them.
    m.P_SignKey.onChange = [&builder, &m] { builder.seal.signingKey = TrimBlanks(m.P_SignKey.Text()); };
    m.P_ArchiveFile.onChange = [&builder, &m] { builder.seal.archive = TrimBlanks(m.P_ArchiveFile.Text()); };
}

}  // namespace zrx
