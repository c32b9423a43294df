#include "builder/file_lists.h"


#include "apply/data_files.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_lists.h"
#include "builder/builder_state.h"
#include "builder/element_lists.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

constexpr size_t kMaxSelected = 8000;

// Appends the selected lines of a file list to a chosen list, skipping names it holds already
// (without regard to case) and refusing, with a box, names the upgrade cannot hold as they are;
// `add` records each in the table.
template <typename Add>
void MoveSelectedNames(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs,
                       ui::FileList& files, ui::ListBox& chosen, const std::string& sourceDir, Add add) {
    ui::Control::UpdateBlock block(chosen);
    for (const int index : files.SelectedIndices(kMaxSelected)) {
        const std::string& name = files.List(index);
        if (chosen.FindExact(name) < 0 && (!CheckChoosable(dialogs, name, true) ||
                                           !CheckLooseFileName(builder, env, dialogs, name, sourceDir)))
            continue;
        if (AddChosenLine(builder, chosen, name)) add(name);
    }
}

}  // namespace

std::string LastPathComponent(const std::string& path) {
    const auto cut = path.rfind(kSep);
    return cut == std::string::npos ? std::string() : path.substr(cut + 1);
}

void MoveChosenFiles(BuilderState& builder, ui::MainForm& m, const Environment& env, ui::Dialogs& dialogs,
                     int fileKind) {
    BuilderTables& t = builder.tables;
    switch (fileKind) {
        case kTalFiles:
            MoveSelectedNames(builder, env, dialogs, m.F_Thermtal, m.F_Tallist, env.LibDir,
                              [&](const std::string& n) {
                                  AppendEntry(t.UpgTalFiles) = {n, 0, 1};
                              });
            break;
        case kDatFiles:
            MoveSelectedNames(builder, env, dialogs, m.F_Thermdat, m.F_Datlist, env.JobDir,
                              [&](const std::string& n) {
                                  AppendEntry(t.UpgDatFiles) = {n, 0, 2};
                              });
            break;
        case kSpcFiles:
            MoveSelectedNames(builder, env, dialogs, m.F_Profitem, m.F_ProfList, env.SysDir,
                              [&](const std::string& n) {
                                  AppendEntry(t.UpgSpcFiles) = {n, 0, 3};
                              });
            break;
        case kSbcFiles: {
            const std::string subDir = LastPathComponent(m.F_sbcdir.CurrentLinePath());
            if (subDir.empty()) return;  // a drive's root directory
            if (!CheckChoosable(dialogs, subDir, true)) return;
            const std::string sourceDir = m.F_sbcdir.Path();
            MoveSelectedNames(builder, env, dialogs, m.F_SBCItem, m.F_SBCList, sourceDir,
                              [&](const std::string& n) {
                                  AppendEntry(t.UpgSbcFiles) = UpgSbcFile{subDir, n, 0, 9, sourceDir};
                              });
            break;
        }
        case kMiscFiles: {
            if (m.F_Miscitem.ListIndex() < 0) return;
            const std::string file = m.F_Miscitem.List(m.F_Miscitem.ListIndex());
            const std::string target = m.F_Syspath.Text();
            const std::string& description = m.F_Filedesc.Text();
            // The description as the list will hold it (one line, no double quote where it needs
            // quotes of its own), so that what is chosen is what the upgrade says.
            const std::string listed = ListableDescription(description);
            const std::string line = description.empty() ? target + "\\" + file : target + "\\" + file + ", " + listed;
            for (const std::string& existing : m.F_Mlist.Items())
                if (existing == line) return;
            if (!CheckChoosable(dialogs, file, true) ||
                !CheckLooseFileName(builder, env, dialogs, file, m.F_MiscDir.Path()))
                return;
            m.F_Mlist.AddItem(line);
            AppendEntry(t.UpgMiscFiles) = UpgMiscFile{m.F_MiscDir.Path(), file, 0, TargetCodeForText(target), listed};
            break;
        }
        default: break;
    }
}

void RemoveChosenFile(BuilderState& builder, ui::MainForm& m, int fileKind) {
    BuilderTables& t = builder.tables;
    struct Frame {
        ui::ListBox* list;
        int32_t code;
        size_t entries;
    };
    const Frame frame = fileKind == kTalFiles   ? Frame{&m.F_Tallist, kRemoveTalFiles, t.UpgTalFiles.size() - 1}
                        : fileKind == kDatFiles ? Frame{&m.F_Datlist, kRemoveDatFiles, t.UpgDatFiles.size() - 1}
                        : fileKind == kSpcFiles ? Frame{&m.F_ProfList, kRemoveSpcFiles, t.UpgSpcFiles.size() - 1}
                        : fileKind == kSbcFiles ? Frame{&m.F_SBCList, kRemoveSbcFiles, t.UpgSbcFiles.size() - 1}
                                                : Frame{&m.F_Mlist, kRemoveMiscFiles, t.UpgMiscFiles.size() - 1};
    for (int line = frame.list->ListCount() - 1; line >= 0; --line) {
        if (!frame.list->Selected(line)) continue;
        RemoveListEntry(builder.tables, frame.code, static_cast<int32_t>(frame.entries), line);
        frame.list->RemoveItem(line);
    }
}

void F_MiscDir_Change(ui::MainForm& m, const Environment& env) {
    m.F_Miscitem.SetPattern("*.*");
    m.F_Miscitem.SetPath(m.F_MiscDir.Path());
    const Environment& e = env;
    // Checked in this order; a later match overwrites an earlier one.
    const std::pair<const std::string*, const char*> defaults[] = {
        {&e.ZSMcml, "Spice Code Models"},   {&e.ZSMudn, "User Defined Node Files"}, {&e.ZSMmod, "Spice Model Lib File"},
        {&e.ZSMsbk, "Subcircuit Files"},    {&e.LibDir, "Library Files"},          {&e.ZSMwrk, "Zarnix32 Work Files"},
        {&e.JobDir, "Zarnix32 Job Files"},  {&e.SysDir, "Zarnix32 System Files"},  {&e.ServerPath, "Zarnix32 Program Files"}};
    const std::string dir = WithoutTrailingSeparator(m.F_MiscDir.Path());
    for (const auto& [path, text] : defaults)
        if (!path->empty() && EqualsIgnoreCase(WithoutTrailingSeparator(*path), dir)) m.F_Filedesc.SetText(text);
}

void F_Miscdrive_Change(ui::MainForm& m, const Environment& env) {
    if (m.F_MiscDir.SetPath(m.F_Miscdrive.Drive())) F_MiscDir_Change(m, env);
}

void F_sbcdir_Change(ui::MainForm& m) {
    m.F_SBCItem.SetPath(m.F_sbcdir.Path());
}

void F_sbcdrive_Change(ui::MainForm& m) {
    // An unreadable drive keeps the directory list where it was.
    if (m.F_sbcdir.SetPath(m.F_sbcdrive.Drive())) F_sbcdir_Change(m);
}

int F_Filedesc_KeyPress(ui::MainForm& m, int key) {
    if (key == 13) m.F_Filedesc.SetText(TrimBlanks(m.F_Filedesc.Text()));
    return key;
}

void F_Filedesc_LostFocus(ui::MainForm& m) {
    m.F_Filedesc.SetText(TrimBlanks(m.F_Filedesc.Text()));
}

std::vector<std::string> CopyBuildFiles(const BuilderState& builder, const Directory& destination,
                                        const Environment& env, ui::Dialogs& dialogs) {
    const BuilderTables& t = builder.tables;
    // The folder the libraries and the list go to: the chosen one without blanks around it.
    const std::string& dest = builder.trimmedDestination;
    std::vector<std::string> notCopied;
    auto copyAll = [&](const auto& table, auto sourceOf) {
        for (const auto& entry : table) {
            if (entry.FileName.empty()) break;
            std::string reason;
            const std::string from = sourceOf(entry);
            const auto source = SourceFolder(env, from, reason);
            const CopyOutcome outcome = source ? InstallFile(dialogs, *source, from, destination, dest,
                                                             entry.FileName, entry.FileName, &reason)
                                               : CopyOutcome::Failed;
            if (outcome == CopyOutcome::Copied) continue;
            // The list will name the file: say that the folder does not hold it (or holds another).
            notCopied.push_back(entry.FileName);
            if (outcome == CopyOutcome::Failed)
                ShowWarning(dialogs, GetLocalMessage("Cannot copy file   ", 4435) + entry.FileName + ": " +
                                         reason + " (" + dest + ")");
        }
    };
    copyAll(t.UpgMiscFiles, [](const UpgMiscFile& f) { return f.SourceDir; });
    copyAll(t.UpgTalFiles, [&](const UpgDataFile&) { return env.LibDir; });
    copyAll(t.UpgDatFiles, [&](const UpgDataFile&) { return env.JobDir; });
    copyAll(t.UpgSpcFiles, [&](const UpgDataFile&) { return env.SysDir; });
    copyAll(t.UpgSbcFiles, [](const UpgSbcFile& f) { return f.SourceDir; });
    return notCopied;
}

}  // namespace zrx
