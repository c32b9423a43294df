#include "builder/builder_lists.h"

#include "base/directory.h"
#include "builder/element_lists.h"

#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "trust/manifest.h"
#include "ui/forms/main_form.h"
#include "upgrade_list/list_format.h"

namespace zrx {

LibraryKindTables TablesOfKind(BuilderState& builder, ui::MainForm& m, const Environment& env,
                               int kindIndex) {
    BuilderTables& t = builder.tables;
    switch (kindIndex) {
        case 0:
            return {&t.PartSources, &t.UpgParts, &m.F_Devlist, &env.LibDir};
        case 1:
            return {&t.SymbolSources, &t.UpgSymbols, &m.F_Slist, &env.LibDir};
        case 2:
            return {&t.PackageSources, &t.UpgPackages, &m.F_llist, &env.LibDir};
        case 3:
            return {&t.SparamSources, &t.UpgSparams, &m.F_Smldlist, &env.ZSMmod};
        default:
            return {&t.MparamSources, &t.UpgMparams, &m.F_Mpldlist, &env.LibDir};
    }
}

bool CheckChoosable(ui::Dialogs& dialogs, const std::string& name, bool isPath) {
    const auto reason = UnlistableNameReason(name, isPath);
    if (!reason) return true;
    ShowWarning(dialogs, "\"" + Printable(name) +
                             "\" cannot be chosen: the upgrade list cannot name it as it is (" + *reason +
                             ").");
    return false;
}

std::shared_ptr<const Directory> SourceFolder(const Environment& env, const std::string& dir,
                                              std::string& why) {
    const std::string folder = WithoutTrailingSeparator(dir);
    for (const std::string* own : {&env.JobDir, &env.LibDir, &env.SysDir, &env.ULM3JobDir, &env.ZSMcml,
                                   &env.ZSMudn, &env.ZSMmod, &env.ZSMsbk, &env.ZSMwrk}) {
        const std::string held = WithoutTrailingSeparator(*own);
        if (held.empty()) continue;
        if (folder == held) return HeldFolder(env, *own, why);
        // A subcircuit's subdirectory: beneath the held folder, never through a link.
        if (own == &env.ZSMsbk && folder.size() > held.size() + 1 && folder.starts_with(held + "/") &&
            folder.find('/', held.size() + 1) == std::string::npos)
            if (const auto parent = HeldFolder(env, *own, why)) {
                auto beneath =
                    std::make_shared<Directory>(parent->Beneath(folder.substr(held.size() + 1), why));
                return beneath->IsOpen() ? beneath : nullptr;
            }
    }
    auto opened = std::make_shared<Directory>(
        Directory::Open(folder, why));  // file-access: a folder the user chose a file in, opened for this use
    return opened->IsOpen() ? opened : nullptr;
}

bool CheckKeptWhole(ui::Dialogs& dialogs, const std::string& name, int kind) {
    if (kind == kParts || TrimmedBlanks(name).size() == name.size()) return true;
    ShowWarning(dialogs, "\"" + Printable(name) +
             "\" cannot be chosen: its upgrade library would keep it without the blanks around it, "
             "and the upgrade would not find it under the name its list gives.");
    return false;
}

std::optional<std::string> LooseFileRefusal(const BuilderState& builder, const Environment& env,
                                            const std::string& name, const std::string& sourceDir) {
    bool reserved = EqualsIgnoreCase(name, kListFileName) || EqualsIgnoreCase(name, trust::kManifestName) ||
                    EqualsIgnoreCase(name, trust::kSignatureName);
    for (const std::string_view library : kUpgradeLibraries) reserved = reserved || EqualsIgnoreCase(name, library);
    if (reserved) return "the upgrade folder's own file of that name would take its place.";
    const BuilderTables& t = builder.tables;
    const std::string dir = WithoutTrailingSeparator(sourceDir);
    auto clash = [&](const std::string& chosen, const std::string& from) {
        return EqualsIgnoreCase(chosen, name) && !(chosen == name && WithoutTrailingSeparator(from) == dir);
    };
    std::string other;
    auto look = [&](const auto& table, auto sourceOf) {
        for (size_t i = 0; other.empty() && i + 1 < table.size(); ++i)
            if (clash(table[i].FileName, sourceOf(table[i]))) other = JoinPath(sourceOf(table[i]), table[i].FileName);
    };
    look(t.UpgMiscFiles, [](const UpgMiscFile& f) { return f.SourceDir; });
    look(t.UpgTalFiles, [&](const UpgDataFile&) { return env.LibDir; });
    look(t.UpgDatFiles, [&](const UpgDataFile&) { return env.JobDir; });
    look(t.UpgSpcFiles, [&](const UpgDataFile&) { return env.SysDir; });
    look(t.UpgSbcFiles, [](const UpgSbcFile& f) { return f.SourceDir; });
    if (other.empty()) return std::nullopt;
    return other + " is chosen already, and the upgrade folder holds one file of a name.";
}

bool CheckLooseFileName(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs,
                        const std::string& name, const std::string& sourceDir) {
    const auto refusal = LooseFileRefusal(builder, env, name, sourceDir);
    if (!refusal) return true;
    ShowWarning(dialogs, "\"" + Printable(name) + "\" cannot be chosen: " + *refusal);
    return false;
}

bool AddChosenLine(BuilderState& builder, ui::ListBox& list, const std::string& line) {
    BuilderState::ChosenNames& chosen = builder.chosenNames[&list];
    if (chosen.revision != list.ItemsRevision()) {
        chosen.names.clear();
        for (const std::string& item : list.Items()) chosen.names.insert(ToUpper(item));
    }
    if (!chosen.names.insert(ToUpper(line)).second) return false;
    list.AddItem(line);
    chosen.revision = list.ItemsRevision();
    return true;
}

int32_t LinkSourceLib(std::vector<SourceLib>& sources, const std::string& dir, const std::string& fileName,
                      bool searchSpare) {
    const size_t searched = searchSpare ? sources.size() : sources.size() - 1;
    for (size_t i = 0; i < searched; ++i) {
        if (sources[i].Dir == dir && sources[i].FileName == fileName) {
            if (i + 1 == sources.size()) break;  // the spare itself: fill it below
            ++sources[i].RefCount;
            return static_cast<int32_t>(i);
        }
    }
    for (size_t i = 0; i + 1 < sources.size(); ++i) {
        if (sources[i].RefCount == 0) {
            sources[i] = SourceLib{dir, fileName, 1};
            return static_cast<int32_t>(i);
        }
    }
    sources.back() = SourceLib{dir, fileName, 1};
    sources.emplace_back();
    return static_cast<int32_t>(sources.size() - 2);
}

}  // namespace zrx
