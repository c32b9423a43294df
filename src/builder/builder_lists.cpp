#include "builder/builder_lists.h"

#include <fnmatch.h>

#include <algorithm>
#include <sstream>

#include "base/dialogs.h"
#include "base/directory.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "kernel/library_handles.h"
#include "kernel/releasing_dialogs.h"
#include "kernel/zrxkernel.h"
#include "trust/manifest.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

const char* LibraryKindId(int kind) { return kind == kParts ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY; }

template <typename Entry>
void RemoveEntry(std::vector<Entry>& table, int32_t count, int32_t index) {
    if (count <= 0 || index < 0 || index >= count || static_cast<size_t>(index) >= table.size()) return;
    table.erase(table.begin() + index);
}

// The table and removal code of a file frame.
int32_t RemovalCodeOf(int frame) {
    static constexpr int32_t kCodes[] = {kRemoveParts,    kRemoveSymbols,  kRemovePackages, kRemoveSparams,
                                         kRemoveMparams,  kRemoveSbcFiles, kRemoveTalFiles, kRemoveDatFiles,
                                         kRemoveSpcFiles, kRemoveMiscFiles};
    return kCodes[frame];
}

size_t EntriesOf(const BuilderTables& t, int frame) {
    switch (frame) {
        case kParts: return t.UpgParts.size() - 1;
        case kSymbols: return t.UpgSymbols.size() - 1;
        case kPackages: return t.UpgPackages.size() - 1;
        case kSparams: return t.UpgSparams.size() - 1;
        case kMparams: return t.UpgMparams.size() - 1;
        case kSbcFiles: return t.UpgSbcFiles.size() - 1;
        case kTalFiles: return t.UpgTalFiles.size() - 1;
        case kDatFiles: return t.UpgDatFiles.size() - 1;
        case kSpcFiles: return t.UpgSpcFiles.size() - 1;
        default: return t.UpgMiscFiles.size() - 1;
    }
}

}  // namespace

const char* ChoosablePattern(int frame) {
    static constexpr const char* kPatterns[] = {"*.PART;*.part",       "*.SYMBOL;*.symbol", "*.PACKAGE;*.package",
                                                "*.SPARAM;*.sparam",   "*.MPARAM;*.mparam", "*.SBC;*.sbc",
                                                "*.TAL;*.tal",         "*.DAT;*.dat",       "*.SPC;*.spc",
                                                "*.*"};
    return frame >= 0 && frame < kBuilderFrames ? kPatterns[frame] : "*.*";
}

bool OfferedInFrame(int frame, const std::string& dir, const std::string& name) {
    // file-access: a name the user gives on the command line, looked at as the folder list shows it
    if (!IsRegularFile(JoinPath(dir, name))) return false;
    std::stringstream split(ChoosablePattern(frame));
    for (std::string pattern; std::getline(split, pattern, ';');)
        if (pattern == "*.*" || ::fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD | FNM_CASEFOLD) == 0) return true;
    return false;
}

LibraryKindTables TablesOfKind(BuilderState& builder, const Environment& env, int kind) {
    BuilderTables& t = builder.tables;
    switch (kind) {
        case kParts: return {&t.PartSources, &t.UpgParts, &env.LibDir};
        case kSymbols: return {&t.SymbolSources, &t.UpgSymbols, &env.LibDir};
        case kPackages: return {&t.PackageSources, &t.UpgPackages, &env.LibDir};
        case kSparams: return {&t.SparamSources, &t.UpgSparams, &env.ZSMmod};
        default: return {&t.MparamSources, &t.UpgMparams, &env.LibDir};
    }
}

Result<std::vector<std::string>> LibraryElementNames(const Environment& env, int kind, const std::string& file) {
    const std::string& directory = kind == kSparams ? env.ZSMmod : env.LibDir;
    const auto folder = SourceFolder(env, directory);
    if (!folder) return Failure{directory + ": " + folder.Why()};
    const int32_t library = OpenLibraryIn(**folder, file, LibraryKindId(kind), 0);
    if (library < 1) return Failure{JoinPath(directory, file) + ": " + StringFromPointer(E_LastError())};
    std::vector<std::string> names;
    for (int32_t i = 0;; ++i) {
        const char* name = E_GetLibDirName(library, i);
        if (name == nullptr) break;
        names.push_back(StringFromPointer(name));
    }
    E_CloseLibrary(library);
    ReleaseLibraries();  // the user looks at the list now; no lock stays on the library
    return names;
}

std::vector<Choice> ChooseElements(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, int kind,
                                   const std::string& file, const std::vector<std::string>& names) {
    const LibraryKindTables tables = TablesOfKind(builder, env, kind);
    ChosenLines& lines = builder.chosen[static_cast<size_t>(kind)];
    // The library's file name and every element's name go into the upgrade list as they are.
    if (!names.empty() && !CheckChoosable(dialogs, file, true)) return std::vector<Choice>(names.size(), Choice::Refused);
    std::vector<Choice> choices;
    choices.reserve(names.size());
    for (const std::string& name : names) {
        if (!CheckChoosable(dialogs, name, false) || !CheckKeptWhole(dialogs, name, kind)) {
            choices.push_back(Choice::Refused);
            continue;
        }
        if (kind != kSymbols && lines.Holds(name)) {
            choices.push_back(Choice::AlreadyChosen);
            continue;
        }
        lines.Add(name);
        UpgElement& element = AppendEntry(*tables.chosen);
        element.Name = name;
        element.SourceIndex = LinkSourceLib(*tables.sources, *tables.directory, file, false);
        choices.push_back(Choice::Taken);
    }
    return choices;
}

void RemoveChosen(BuilderState& builder, int frame, std::vector<int> lines) {
    std::sort(lines.begin(), lines.end(), std::greater<>());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    ChosenLines& chosen = builder.chosen[static_cast<size_t>(frame)];
    BuilderTables& t = builder.tables;
    for (const int line : lines) {
        if (line < 0 || static_cast<size_t>(line) >= chosen.size()) continue;
        if (frame <= kMparams) {
            std::vector<SourceLib>& sources = frame == kParts      ? t.PartSources
                                              : frame == kSymbols  ? t.SymbolSources
                                              : frame == kPackages ? t.PackageSources
                                              : frame == kSparams  ? t.SparamSources
                                                                   : t.MparamSources;
            const std::vector<UpgElement>& table = frame == kParts      ? t.UpgParts
                                                   : frame == kSymbols  ? t.UpgSymbols
                                                   : frame == kPackages ? t.UpgPackages
                                                   : frame == kSparams  ? t.UpgSparams
                                                                        : t.UpgMparams;
            if (static_cast<size_t>(line) < table.size()) {
                const int32_t source = table[static_cast<size_t>(line)].SourceIndex;
                if (source >= 0 && static_cast<size_t>(source) < sources.size())
                    --sources[static_cast<size_t>(source)].RefCount;
            }
        }
        RemoveListEntry(t, RemovalCodeOf(frame), static_cast<int32_t>(EntriesOf(t, frame)), line);
        chosen.Remove(static_cast<size_t>(line));
    }
}

std::vector<Choice> ChooseFiles(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, int frame,
                                const std::string& sourceDir, const std::vector<std::string>& names,
                                const std::string& subDir) {
    if (frame == kSbcFiles) {
        if (subDir.empty()) return {};  // a drive's root directory
        if (!CheckChoosable(dialogs, subDir, true)) return std::vector<Choice>(names.size(), Choice::Refused);
    }
    BuilderTables& t = builder.tables;
    ChosenLines& lines = builder.chosen[static_cast<size_t>(frame)];
    std::vector<Choice> choices;
    choices.reserve(names.size());
    for (const std::string& name : names) {
        // Skipping names it holds already (without regard to case) and refusing, with a box, names
        // the upgrade cannot hold as they are.
        if (!lines.HoldsExactly(name) &&
            (!CheckChoosable(dialogs, name, true) || !CheckLooseFileName(builder, env, dialogs, name, sourceDir))) {
            choices.push_back(Choice::Refused);
            continue;
        }
        if (lines.Holds(name)) {
            choices.push_back(Choice::AlreadyChosen);
            continue;
        }
        lines.Add(name);
        switch (frame) {
            case kTalFiles: AppendEntry(t.UpgTalFiles) = {name, 0, 1}; break;
            case kDatFiles: AppendEntry(t.UpgDatFiles) = {name, 0, 2}; break;
            case kSpcFiles: AppendEntry(t.UpgSpcFiles) = {name, 0, 3}; break;
            default: AppendEntry(t.UpgSbcFiles) = UpgSbcFile{subDir, name, 0, 9, sourceDir}; break;
        }
        choices.push_back(Choice::Taken);
    }
    return choices;
}

Choice ChooseMiscFile(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs,
                      const std::string& sourceDir, const std::string& file, const std::string& target,
                      const std::string& description) {
    // The description as the list will hold it (one line, no double quote where it needs quotes
    // of its own), so that what is chosen is what the upgrade says.
    const std::string listed = ListableDescription(description);
    const std::string line = description.empty() ? target + "\\" + file : target + "\\" + file + ", " + listed;
    ChosenLines& lines = builder.chosen[kMiscFiles];
    if (lines.HoldsExactly(line)) return Choice::AlreadyChosen;
    if (!CheckChoosable(dialogs, file, true) || !CheckLooseFileName(builder, env, dialogs, file, sourceDir))
        return Choice::Refused;
    lines.Add(line);
    AppendEntry(builder.tables.UpgMiscFiles) = UpgMiscFile{sourceDir, file, 0, TargetCodeForText(target), listed};
    return Choice::Taken;
}

std::string DefaultMiscDescription(const Environment& e, const std::string& dir) {
    // Checked in this order; a later match overwrites an earlier one.
    const std::pair<const std::string*, const char*> defaults[] = {
        {&e.ZSMcml, "Spice Code Models"},   {&e.ZSMudn, "User Defined Node Files"}, {&e.ZSMmod, "Spice Model Lib File"},
        {&e.ZSMsbk, "Subcircuit Files"},    {&e.LibDir, "Library Files"},          {&e.ZSMwrk, "Zarnix32 Work Files"},
        {&e.JobDir, "Zarnix32 Job Files"},  {&e.SysDir, "Zarnix32 System Files"},  {&e.ServerPath, "Zarnix32 Program Files"}};
    const std::string folder = WithoutTrailingSeparator(dir);
    std::string description;
    for (const auto& [path, text] : defaults)
        if (!path->empty() && EqualsIgnoreCase(WithoutTrailingSeparator(*path), folder)) description = text;
    return description;
}

std::string LastPathComponent(const std::string& path) {
    const auto cut = path.rfind(kSep);
    return cut == std::string::npos ? std::string() : path.substr(cut + 1);
}

void RemoveListEntry(BuilderTables& t, int32_t code, int32_t count, int32_t index) {
    switch (code) {
        case kRemoveParts: RemoveEntry(t.UpgParts, count, index); break;
        case kRemoveSymbols: RemoveEntry(t.UpgSymbols, count, index); break;
        case kRemovePackages: RemoveEntry(t.UpgPackages, count, index); break;
        case kRemoveMiscFiles: RemoveEntry(t.UpgMiscFiles, count, index); break;
        case kRemoveSparams: RemoveEntry(t.UpgSparams, count, index); break;
        case kRemoveSbcFiles: RemoveEntry(t.UpgSbcFiles, count, index); break;
        case kRemoveTalFiles: RemoveEntry(t.UpgTalFiles, count, index); break;
        case kRemoveDatFiles: RemoveEntry(t.UpgDatFiles, count, index); break;
        case kRemoveSpcFiles: RemoveEntry(t.UpgSpcFiles, count, index); break;
        case kRemoveMparams: RemoveEntry(t.UpgMparams, count, index); break;
        default: break;
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

Result<std::shared_ptr<const Directory>> SourceFolder(const Environment& env, const std::string& dir) {
    const std::string folder = WithoutTrailingSeparator(dir);
    for (const std::string* own : {&env.JobDir, &env.LibDir, &env.SysDir, &env.ULM3JobDir, &env.ZSMcml,
                                   &env.ZSMudn, &env.ZSMmod, &env.ZSMsbk, &env.ZSMwrk}) {
        const std::string held = WithoutTrailingSeparator(*own);
        if (held.empty()) continue;
        if (folder == held) return HeldFolder(env, *own);
        // A subcircuit's subdirectory: beneath the held folder, never through a link.
        if (own == &env.ZSMsbk && folder.size() > held.size() + 1 && folder.starts_with(held + "/") &&
            folder.find('/', held.size() + 1) == std::string::npos) {
            const auto parent = HeldFolder(env, *own);
            if (!parent) return parent;
            auto beneath = (*parent)->Beneath(folder.substr(held.size() + 1));
            if (!beneath) return Failure{beneath.Why()};
            return std::make_shared<const Directory>(std::move(*beneath));
        }
    }
    auto opened =
        Directory::Open(folder);  // file-access: a folder the user chose a file in, opened for this use
    if (!opened) return Failure{opened.Why()};
    return std::make_shared<const Directory>(std::move(*opened));
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
