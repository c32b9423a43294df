#include "program/builder_page.h"

#include "base/text_utils.h"
#include "builder/build_window.h"
#include "builder/element_lists.h"
#include "builder/file_lists.h"
#include "builder/upgrade_writer.h"
#include "program/app.h"

namespace zrx {

void ConnectBuilder(App& app) {
    ui::MainForm& m = app.window.main;
    BuilderState& builder = app.builder;
    const Environment& env = app.installation.env;
    ui::Dialogs& dialogs = app.window.dialogs;
    for (int kind = kParts; kind <= kMparams; ++kind) {
        const ui::MainForm::LibraryFrame frame = m.LibraryFrameOf(kind);
        frame.libraries->onClick = [&builder, &m, &env, &dialogs, kind] {
            FillElementList(builder, m, env, dialogs, kind);
        };
        frame.move->onClick = [&builder, &m, &env, &dialogs, kind] {
            MoveChosenElements(builder, m, env, dialogs, kind);
        };
        frame.remove->onClick = [&builder, &m, &env, kind] { RemoveChosenElement(builder, m, env, kind); };
    }
    const std::pair<ui::Button*, ui::Button*> fileButtons[] = {{&m.F_Sbcmove, &m.F_Remsbc},
                                                               {&m.F_Talmove, &m.F_RemTal},
                                                               {&m.F_Datmove, &m.F_Remdat},
                                                               {&m.F_SPCmove, &m.F_Remspc},
                                                               {&m.F_MiscMove, &m.F_RemMisc}};
    for (int kind = kSbcFiles; kind <= kMiscFiles; ++kind) {
        fileButtons[kind - kSbcFiles].first->onClick = [&builder, &m, &env, &dialogs, kind] {
            MoveChosenFiles(builder, m, env, dialogs, kind);
        };
        fileButtons[kind - kSbcFiles].second->onClick = [&builder, &m, kind] {
            RemoveChosenFile(builder, m, kind);
        };
    }
    m.F_MiscDir.onChange = [&m, &env] { F_MiscDir_Change(m, env); };
    m.F_Miscdrive.onChange = [&m, &env] { F_Miscdrive_Change(m, env); };
    m.F_sbcdir.onChange = [&m] { F_sbcdir_Change(m); };
    m.F_sbcdrive.onChange = [&m] { F_sbcdrive_Change(m); };
    m.F_Filedesc.onKeyPress = [&m](int key) { return F_Filedesc_KeyPress(m, key); };
    m.F_Filedesc.onLostFocus = [&m] { F_Filedesc_LostFocus(m); };
    m.F_Dir.onChange = [&builder, &m] { F_Dir_Change(builder, m); };
    m.F_Drive.onChange = [&builder, &m] { F_Drive_Change(builder, m); };
    // The builder asks before it writes over a symbol as the update page's option says.
    const bool& askOverwrite = app.run.AskOverwrite;
    m.F_Create.onClick = [&builder, &m, &env, &dialogs, &askOverwrite] {
        F_Create_Click(builder, m, env, dialogs, askOverwrite);
    };
    // The key and the zip file as the user types or chooses them, without blanks around them.
    m.P_SignKey.onChange = [&builder, &m] { builder.seal.signingKey = TrimBlanks(m.P_SignKey.Text()); };
    m.P_ArchiveFile.onChange = [&builder, &m] { builder.seal.archive = TrimBlanks(m.P_ArchiveFile.Text()); };
}

}  // namespace zrx
