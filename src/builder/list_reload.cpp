#include "builder/list_reload.h"

#include <algorithm>
#include <tuple>

#include "apply/data_files.h"
#include "base/dialogs.h"
#include "base/directory.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_lists.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
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
    const auto built = upgrade.OpenRegular(upgrade.Spelling(name));
    if (!built) return std::nullopt;
    for (const std::string& dir : folders) {
        const auto source = SourceFolder(env, dir);
        const auto file = source ? (*source)->OpenRegular(name) : Result<FileHandle>(Failure{source.Why()});
        if (file && SameBytes(built->Fd(), file->Fd()).value_or(false)) return dir;
    }
    return std::nullopt;
}

int KindIndexOfRecord(int type) {
    switch (type) {
        case kPartRecord: return kParts;
        case kSymbolRecord: return kSymbols;
        case kPackageRecord: return kPackages;
        case kSparamRecord: return kSparams;
        default: return kMparams;
    }
}

// The records of a loaded list in the order of their lines: (line, type, index in its kind).
std::vector<std::tuple<uint32_t, int, size_t>> RecordsInLineOrder(const LoadedList& list) {
    std::vector<std::tuple<uint32_t, int, size_t>> records;
    for (int type = kPartRecord; type <= kMparamRecord; ++type)
        for (size_t i = 0; i < list.Count(type); ++i) records.emplace_back(list.Records(type)[i].line, type, i);
    std::sort(records.begin(), records.end());
    return records;
}

// A name the reload found unsafe, where it stopped.
struct Unsafe {
    uint32_t line = 0;
    std::string text, reason;
};

// The reload's own rules, record by record, in the list's order: what the builder can take back
// it takes; what it cannot is named; an unsafe name stops it.
class Reloader {
public:
    // `readFrom`: where the upgrade's files are read (a private copy, perhaps); `listPath`: the
    // upgrade as the user chose it, which messages name instead.
    Reloader(BuilderState& builder, const Environment& env, const Directory& folder, const LoadedList& list,
             const std::string& readFrom, const std::string& listPath)
        : m_builder(builder), m_env(env), m_folder(folder), m_list(list), m_readFrom(readFrom), m_listPath(listPath) {}

    // False when the record's name is unsafe: nothing after it is brought back.
    bool BringBack(int type, size_t index) {
        return type == kDataFileRecord ? File(index) : Element(type, index);
    }
    const std::vector<std::string>& Skipped() const { return m_skipped; }
    const std::optional<Unsafe>& UnsafeName() const { return m_unsafe; }

private:
    bool Element(int type, size_t index) {
        const LoadedList::Record& record = m_list.Records(type)[index];
        const std::string name(m_list.NameOf(record));
        if (type != kPartRecord && TrimmedBlanks(name).size() != name.size()) {
            NotBack(record.line, name,
                    "blanks around the name of an element its upgrade library keeps without them");
            return true;
        }
        const int kind = KindIndexOfRecord(type);
        const LibraryKindTables tables = TablesOfKind(m_builder, m_env, kind);
        m_builder.chosen[static_cast<size_t>(kind)].Add(TrimBlanks(name));
        UpgElement& element = AppendEntry(*tables.chosen);
        element.Name = name;
        element.SourceIndex =
            LinkSourceLib(*tables.sources, *tables.directory, std::string(m_list.TextOf(record.targetLib)), true);
        return true;
    }

    bool File(size_t index) {
        const LoadedList::Record& record = m_list.Records(kDataFileRecord)[index];
        const std::string name(m_list.NameOf(record));
        const std::string field5(m_list.TextOf(record.extra));
        const int32_t code = record.destKind;
        const std::string ending(Right(ToUpper(name), 4));
        // What the builder writes with a fifth field: a subcircuit (code 9, its subdirectory) or
        // any other file (its target and description).
        const bool fifth = record.fields >= 5;
        const bool subcircuit = ending == ".SBC" && code == 9;
        const bool misc = !subcircuit && fifth && code >= 1 && code <= 8;
        // The rules of choosing a file hold for a file brought back as well.
        std::string from = subcircuit ? m_env.ZSMsbk
                           : misc     ? m_readFrom
                           : ending == ".DAT" ? m_env.JobDir
                           : ending == ".TAL" ? m_env.LibDir
                                              : m_env.SysDir;
        if (const auto refusal = LooseFileRefusal(m_builder, m_env, name, from)) {
            // A file the builder wrote twice (as a data file of the installation and as any file,
            // say) comes back from where the other was taken when the two are the same bytes.
            const auto other = SameFileChosen(m_builder, m_env, m_folder, name);
            if (!other || LooseFileRefusal(m_builder, m_env, name, *other)) {
                NotBack(record.line, name, Unscratched(*refusal));
                return true;
            }
            from = *other;
        }
        BuilderTables& t = m_builder.tables;
        if (subcircuit) {
            // Without a subdirectory it lies in the subcircuit directory itself.
            const std::string subDir = fifth && !TrimmedBlanks(field5).empty() ? field5 : "";
            if (!Safe(record.line, name) || (!subDir.empty() && !Safe(record.line, subDir))) return false;
            m_builder.chosen[kSbcFiles].Add(TrimBlanks(name));
            AppendEntry(t.UpgSbcFiles) =
                UpgSbcFile{subDir, name, 0, code, subDir.empty() ? m_env.ZSMsbk : JoinPath(m_env.ZSMsbk, subDir)};
        } else if (misc) {
            if (!Safe(record.line, name)) return false;
            // A file of any kind comes back from this folder, with its target and description.
            const std::string target(kTargetTexts[static_cast<size_t>(code - 1)]);
            const std::string description = ListableDescription(field5);
            m_builder.chosen[kMiscFiles].Add(description.empty() ? target + "\\" + name
                                                                 : target + "\\" + name + ", " + description);
            AppendEntry(t.UpgMiscFiles) = UpgMiscFile{from, name, 0, code, description};
        } else if (!fifth && ((ending == ".DAT" && code == 2) || (ending == ".TAL" && code == 1) ||
                              (ending == ".SPC" && code == 3))) {
            if (!Safe(record.line, name)) return false;
            const int frame = code == 2 ? kDatFiles : code == 1 ? kTalFiles : kSpcFiles;
            m_builder.chosen[static_cast<size_t>(frame)].Add(TrimBlanks(name));
            AppendEntry(code == 2 ? t.UpgDatFiles : code == 1 ? t.UpgTalFiles : t.UpgSpcFiles) =
                UpgDataFile{name, 0, code};
        } else {
            NotBack(record.line, name,
                    "its ending, target " + std::to_string(code) + " and fields match no file kind of the builder");
        }
        return true;
    }

    bool Safe(uint32_t line, const std::string& name) {
        const auto reason = UnsafeNameReason(name);
        if (!reason) return true;
        m_unsafe = Unsafe{line, name, *reason};
        return false;
    }

    void NotBack(uint32_t line, const std::string& name, const std::string& reason) {
        m_skipped.push_back("line " + std::to_string(line) + ": \"" + Printable(name) + "\" (" + reason + ")");
    }

    // The private folder's own path is never shown: the user chose the upgrade by its own name.
    std::string Unscratched(std::string text) const {
        for (size_t at; !m_readFrom.empty() && m_readFrom != m_listPath &&
                        (at = text.find(m_readFrom)) != std::string::npos;)
            text.replace(at, m_readFrom.size(), m_listPath);
        return text;
    }

    BuilderState& m_builder;
    const Environment& m_env;
    const Directory& m_folder;
    const LoadedList& m_list;
    const std::string& m_readFrom;
    const std::string& m_listPath;
    std::vector<std::string> m_skipped;
    std::optional<Unsafe> m_unsafe;
};

void ShowNotBroughtBack(ui::Dialogs& dialogs, const std::string& listPath, const std::vector<std::string>& skipped) {
    if (skipped.empty()) return;
    // Nothing is dropped without a word.
    std::string text = "These records of " + listPath + " are not brought back into the builder:";
    for (size_t i = 0; i < skipped.size() && i < 20; ++i) text += "\r\n" + skipped[i];
    if (skipped.size() > 20) text += "\r\n... and " + std::to_string(skipped.size() - 20) + " more";
    ShowWarning(dialogs, text);
}

}  // namespace

bool ConfirmReload(ui::Dialogs& dialogs) {
    return AskYesNo(
        dialogs,
        "The  Lstfile load process will remove already  selected lib elements,if any?Are you sure you "
        "want to load?");
}

void ReloadUpgradeListIntoBuilder(BuilderState& builder, LoadedUpgrade& upgrade, const Environment& env,
                                  ui::Dialogs& dialogs) {
    builder.notReloaded = 0;
    // Messages name the upgrade the user chose; its files are read from where they were checked.
    const std::string listPath = JoinPath(upgrade.ListPath, kListFileName);
    const std::string readFrom = upgrade.UpgradeDir.empty() ? upgrade.ListPath : upgrade.UpgradeDir;
    const auto folder = UpgradeFolder(upgrade);
    ListContents contents;
    const ListReadFailure read = folder ? ReadListFile(**folder, readFrom, contents, ListReading::Reload)
                                        : ListReadFailure{ListReadFailure::Kind::Missing, 0, {}, {}};
    std::optional<Unsafe> unsafe;
    if (read.kind != ListReadFailure::Kind::Missing) {
        // What the builder held goes: the list's records take its place, as far as they are read.
        builder.Clear();
        upgrade.lists.Reset();
        upgrade.GridRows.Clear();
        upgrade.loaded.Clear();
        Reloader reloader(builder, env, **folder, contents.list, readFrom, upgrade.ListPath);
        for (const auto& [line, type, index] : RecordsInLineOrder(contents.list))
            if (!reloader.BringBack(type, index)) break;
        builder.notReloaded = reloader.Skipped().size();
        ShowNotBroughtBack(dialogs, listPath, reloader.Skipped());
        unsafe = reloader.UnsafeName();
    }
    if (!unsafe && read.kind == ListReadFailure::Kind::UnsafeName) unsafe = Unsafe{static_cast<uint32_t>(read.line), read.text, read.reason};
    if (!unsafe && read.kind == ListReadFailure::Kind::None) return;
    if (unsafe) {
        ShowWarning(dialogs, "Unsafe name in the upgrade list " + listPath + ", line " + std::to_string(unsafe->line) +
                                 ": \"" + Printable(unsafe->text) + "\" (" + unsafe->reason + ")");
    } else if (read.kind == ListReadFailure::Kind::WrongHeader) {
        ShowErrorByCode(dialogs, 19, listPath);
    } else {
        ShowErrorByCode(dialogs, 14, listPath);
    }
    upgrade.ListPath.clear();
}

}  // namespace zrx
