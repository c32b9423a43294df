#include "builder/list_reload.h"

#include "apply/data_files.h"
#include "base/dialogs.h"
#include "base/directory.h"
#include "base/fields.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "builder/builder_lists.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/list_reader.h"

namespace zrx {

namespace {

// The folder a loose file of this name was chosen from already, where that file holds the same
// bytes as `name` of the upgrade's folder.
std::optional<std::string> SameFileChosen(const BuilderState& builder, const Environment& env,
                                          const Directory& upgrade, const std::string& name) {
    const BuilderTables& t = builder.tables;
    std::vector<std::string> folders;
    auto add = [&](const auto& table, auto sourceOf) {
        for (size_t i = 0; i + 1 < table.size(); ++i)
            if (EqualsIgnoreCase(table[i].FileName, name)) folders.push_back(sourceOf(table[i]));
    };
    add(t.UpgTalFiles, [&](const UpgDataFile&) { return env.LibDir; });
    add(t.UpgDatFiles, [&](const UpgDataFile&) { return env.JobDir; });
    add(t.UpgSpcFiles, [&](const UpgDataFile&) { return env.SysDir; });
    add(t.UpgSbcFiles, [](const UpgSbcFile& f) { return f.SourceDir; });
    add(t.UpgMiscFiles, [](const UpgMiscFile& f) { return f.SourceDir; });
    std::string why;
    const FileHandle built = upgrade.OpenRegular(upgrade.Spelling(name), why);
    for (const std::string& dir : folders) {
        const auto source = SourceFolder(env, dir, why);
        const FileHandle file = source ? source->OpenRegular(name, why) : FileHandle();
        if (built.IsOpen() && file.IsOpen() && SameBytes(built.Fd(), file.Fd()).value_or(false)) return dir;
    }
    return std::nullopt;
}

enum class Failure { None, WrongHeader, NotFound, UnsafeName };

void EmptyBuilder(BuilderState& builder, LoadedUpgrade& upgrade, ui::MainForm& m) {
    builder.tables.Reset();
    for (ui::ListBox* list : {&m.F_Devlist, &m.F_Slist, &m.F_llist, &m.F_Smldlist, &m.F_Mpldlist, &m.F_Mlist,
                              &m.F_Tallist, &m.F_Datlist, &m.F_ProfList, &m.F_SBCList})
        list->Clear();
    upgrade.lists.Reset();
    upgrade.GridRows.Clear();
    upgrade.loaded.Clear();
}

int KindIndexOfRecord(int type) {
    switch (type) {
        case kPartRecord: return 0;
        case kSymbolRecord: return 1;
        case kPackageRecord: return 2;
        case kSparamRecord: return 3;
        default: return 4;
    }
}

}  // namespace

bool ConfirmReload(ui::Dialogs& dialogs) {
    return AskYesNo(
        dialogs,
        "The  Lstfile load process will remove already  selected lib elements,if any?Are you sure you "
        "want to load?");
}

void ReloadUpgradeListIntoBuilder(BuilderState& builder, LoadedUpgrade& upgrade, ui::MainForm& m,
                                  const Environment& env, ui::Dialogs& dialogs) {
    builder.notReloaded = 0;
    // Messages name the upgrade the user chose; its files are read from where they were checked.
    const std::string listPath = JoinPath(upgrade.ListPath, kListFileName);
    const std::string readFrom = upgrade.UpgradeDir.empty() ? upgrade.ListPath : upgrade.UpgradeDir;
    Failure failure = Failure::None;
    int lineNumber = 0;
    std::string unsafe, unsafeReason;
    std::vector<std::string> skipped;  // records not brought back, and why
    std::string why;
    const auto folder = UpgradeFolder(upgrade, why);
    auto input = folder ? TextInput::OpenAt(*folder, folder->Spelling(kListFileName)) : nullptr;
    // The private folder's own path is never shown: the user chose the upgrade by its own name.
    auto unscratched = [&](std::string text) {
        for (size_t at; !readFrom.empty() && readFrom != upgrade.ListPath &&
                        (at = text.find(readFrom)) != std::string::npos;)
            text.replace(at, readFrom.size(), upgrade.ListPath);
        return text;
    };
    if (!input) {
        failure = Failure::NotFound;
    } else {
        EmptyBuilder(builder, upgrade, m);
        BuilderTables& t = builder.tables;
        auto checkName = [&](std::string_view name) {
            const auto reason = UnsafeNameReason(name);
            if (!reason) return true;
            failure = Failure::UnsafeName;
            unsafe = name;
            unsafeReason = *reason;
            return false;
        };
        std::string line;
        FieldList f;
        bool ended = false;
        while (!ended && failure == Failure::None && input->ReadLine(line)) {
            ++lineNumber;
            SplitInto(line, ',', f);
            const int type = RecordTypeOf(f.Value(1));
            switch (type) {
                case kHeaderRecord:
                    if (f.Count() < 2) failure = Failure::NotFound;
                    else if (!IsAcceptedHeaderField(f.Field(2))) failure = Failure::WrongHeader;
                    break;
                case kPartRecord:
                case kSymbolRecord:
                case kPackageRecord:
                case kSparamRecord:
                case kMparamRecord: {
                    if (f.Count() < 5) {
                        failure = Failure::NotFound;
                        break;
                    }
                    if (!checkName(f.Field(5))) break;
                    if (type != kPartRecord && TrimmedBlanks(f.Field(4)).size() != f.Field(4).size()) {
                        skipped.push_back(
                            "line " + std::to_string(lineNumber) + ": \"" + Printable(f.Field(4)) +
                            "\" (blanks around the name of an element its upgrade library keeps "
                            "without them)");
                        break;
                    }
                    const LibraryKindTables kind = TablesOfKind(builder, m, env, KindIndexOfRecord(type));
                    kind.chosenList->AddItem(TrimBlanks(f.Field(4)));
                    UpgElement& element = AppendEntry(*kind.chosen);
                    element.Name = f.Field(4);
                    element.SourceIndex = LinkSourceLib(*kind.sources, *kind.directory, std::string(f.Field(5)), true);
                    break;
                }
                case kDataFileRecord: {
                    if (f.Count() < 4) {
                        failure = Failure::NotFound;
                        break;
                    }
                    const std::string name(f.Field(4));
                    const std::string shown = TrimBlanks(name);
                    const auto code = LeadingInteger(f.Field(3));
                    const std::string ending(Right(ToUpper(name), 4));
                    // What the builder writes with a fifth field: a subcircuit (code 9, its
                    // subdirectory) or any other file (its target and description).
                    const bool fifth = f.Count() >= 5;
                    auto notBack = [&](const std::string& reason) {
                        skipped.push_back("line " + std::to_string(lineNumber) + ": \"" + Printable(name) +
                                          "\" (" + reason + ")");
                    };
                    if (!code) {
                        failure = Failure::NotFound;
                        break;
                    }
                    // The rules of choosing a file hold for a file brought back as well.
                    const std::string sourceDir = ending == ".SBC" && *code == 9      ? env.ZSMsbk
                                                  : fifth && *code >= 1 && *code <= 8 ? readFrom
                                                  : ending == ".DAT"                  ? env.JobDir
                                                  : ending == ".TAL"                  ? env.LibDir
                                                                                      : env.SysDir;
                    std::string from = sourceDir;
                    if (const auto refusal = LooseFileRefusal(builder, env, name, from)) {
                        // A file the builder wrote twice (as a data file of the installation and as
                        // any file, say) comes back from where the other was taken when the two are
                        // the same bytes.
                        const auto other = SameFileChosen(builder, env, *folder, name);
                        if (!other || LooseFileRefusal(builder, env, name, *other)) {
                            notBack(unscratched(*refusal));
                            break;
                        }
                        from = *other;
                    }
                    if (ending == ".SBC" && *code == 9) {
                        // Without a subdirectory it lies in the subcircuit directory itself.
                        const std::string subDir = fifth && !TrimmedBlanks(f.Field(5)).empty() ? std::string(f.Field(5)) : "";
                        if (!checkName(name) || (!subDir.empty() && !checkName(subDir))) break;
                        m.F_SBCList.AddItem(shown);
                        AppendEntry(t.UpgSbcFiles) =
                            UpgSbcFile{subDir, name, 0, *code,
                                       subDir.empty() ? env.ZSMsbk : JoinPath(env.ZSMsbk, subDir)};
                    } else if (fifth && *code >= 1 && *code <= 8) {
                        if (!checkName(name)) break;
                        // A file of any kind comes back from this folder, with its target and description.
                        const std::string target(kTargetTexts[static_cast<size_t>(*code - 1)]);
                        const std::string description = ListableDescription(f.Field(5));
                        m.F_Mlist.AddItem(description.empty() ? target + "\\" + name
                                                              : target + "\\" + name + ", " + description);
                        AppendEntry(t.UpgMiscFiles) = UpgMiscFile{from, name, 0, *code, description};
                    } else if (!fifth && ending == ".DAT" && *code == 2) {
                        if (!checkName(name)) break;
                        m.F_Datlist.AddItem(shown);
                        AppendEntry(t.UpgDatFiles) = UpgDataFile{name, 0, 2};
                    } else if (!fifth && ending == ".TAL" && *code == 1) {
                        if (!checkName(name)) break;
                        m.F_Tallist.AddItem(shown);
                        AppendEntry(t.UpgTalFiles) = UpgDataFile{name, 0, 1};
                    } else if (!fifth && ending == ".SPC" && *code == 3) {
                        if (!checkName(name)) break;
                        m.F_ProfList.AddItem(shown);
                        AppendEntry(t.UpgSpcFiles) = UpgDataFile{name, 0, 3};
                    } else {
                        notBack("its ending, target " + std::to_string(*code) +
                                " and fields match no file kind of the builder");
                    }
                    break;
                }
                case kEndRecord: ended = true; break;
                default: break;
            }
        }
        if (failure == Failure::None && input->LineTooLong()) failure = Failure::NotFound;
    }
    builder.notReloaded = skipped.size();
    if (!skipped.empty()) {
        // Nothing is dropped without a word.
        std::string text = "These records of " + listPath + " are not brought back into the builder:";
        for (size_t i = 0; i < skipped.size() && i < 20; ++i) text += "\r\n" + skipped[i];
        if (skipped.size() > 20) text += "\r\n... and " + std::to_string(skipped.size() - 20) + " more";
        ShowWarning(dialogs, text);
    }
    if (failure == Failure::None) return;
    switch (failure) {
        case Failure::WrongHeader:
            ShowErrorByCode(dialogs, 19, listPath);
            break;
        case Failure::UnsafeName:
            ShowWarning(dialogs, "Unsafe name in the upgrade list " + listPath + ", line " +
                                     std::to_string(lineNumber) + ": \"" + Printable(unsafe) + "\" (" +
                                     unsafeReason + ")");
            break;
        default:
            ShowErrorByCode(dialogs, 14, listPath);
            break;
    }
    upgrade.ListPath.clear();
}

}  // namespace zrx
