#include "preview/change_preview.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <unordered_map>

#include "apply/data_files.h"
#include "apply/targets.h"
#include "base/directory.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "history/installed_base.h"
#include "kernel/installation.h"
#include "kernel/library_exchange.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"
#include "preview/element_fields.h"
#include "preview/element_merge.h"
#include "preview/text_diff.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx::preview {

namespace {

// The most of a file a detail reads: a diff of more would be no help on a screen.
constexpr size_t kMostShownBytes = 16 * 1024 * 1024;

// What the comparison of one row found.
struct Found {
    Change change;
    uint32_t reason = 0;  // the number of its text; 0 for none
    Local local = Local::None;
    Merge merge = Merge::None;
};

class Comparer {
public:
    Comparer(const Environment& env, const UpgradeFolder& upgrade, history::InstalledBases* bases)
        : m_env(env), m_upgrade(upgrade), m_bases(bases), m_access(env), m_targets(m_access) {
        // An upgrade no load opened (a test's) is opened once, here.
        if (upgrade.folder) {
            m_folder = upgrade.folder;
        } else {
            auto opened = Directory::Open(  // file-access: opened once, then used by its handle
                upgrade.listPath.empty() ? "/" : upgrade.listPath);
            m_folder = std::make_shared<const Directory>(opened ? std::move(*opened) : Directory());
        }
    }

    Found Row(const GridRow& row) {
        m_local = Local::None;
        m_merge = Merge::None;
        Found found = row.Kind == 4 ? File(row) : Element(row);
        // A row the upgrade would not change needs no base: what is installed is what it offers.
        found.local = found.change == Change::Same && m_local == Local::NoBase ? Local::None : m_local;
        found.merge = m_merge;
        return found;
    }
    // The same, and what the row's two sides hold (`sides`), where they are read.
    Found Row(const GridRow& row, RowSides& sides) {
        m_sides = &sides;
        const Found found = Row(row);
        m_sides = nullptr;
        return found;
    }

    // The reasons' texts, by number (0 is none).
    std::vector<std::string> TakeReasons() { return std::move(m_reasonTexts); }
    const std::string& ReasonText(uint32_t reason) const { return m_reasonTexts[reason]; }

private:
    // Rows share their reasons (a missing upgrade library is the reason of all its rows): each
    // text is kept once.
    Found Because(Change change, std::string reason) {
        const auto [it, added] = m_reasonNumbers.try_emplace(std::move(reason), 0);
        if (added) {
            it->second = static_cast<uint32_t>(m_reasonTexts.size());
            m_reasonTexts.push_back(it->first);
        }
        return {change, it->second};
    }

    // The run copies parts, symbols, packages and MPARAM models only when the library directory
    // can be used; SPARAM models go to the simulator model directory in any case. Targets are
    // resolved through the installation's held folders exactly as the run resolves them.
    //
    // What the target directory and the upgrade library give every row that uses them is worked
    // out once: a list of many elements of a missing library costs a look-up per row.
    Found Element(const GridRow& row) {
        const std::string& dir = ElementTargetDir(m_env, row.Kind);
        const char* kind = LibraryKindOf(row.Kind);
        const std::string& sourcePath =
            UpgradeLibraryOf(m_upgrade.upgradeLibraries, row.Kind, row.UpgSymbolLib);
        const SourceState& state = SourceOf(dir, sourcePath, kind);
        if (state.handle == 0) return state.failure;
        const int32_t source = state.handle;
        // Models are saved under their trimmed name; the other kinds under the name as listed.
        const bool model = row.Kind == 5 || row.Kind == 6;
        const std::string name(row.Name);
        const std::string targetName = model ? TrimBlanks(name) : name;
        if (targetName.empty()) return Because(Change::Missing, "an element without a name is not copied");
        const Result<Target>& target = m_targets.In(dir, row.TargetLib);
        if (!target) return Because(Change::Unreadable, target.Why());
        const LibraryKind libraryKind = row.Kind == 1 ? LibraryKind::Part : LibraryKind::Symbol;
        // A detail's sides, read once: their fields are shown, and a merge is made of them.
        std::optional<nlohmann::ordered_json> values[3];  // installed, upgrade, last installed
        if (m_sides != nullptr) {
            m_sides->element = true;
            if (auto value = ElementValue(source, libraryKind, name)) values[1] = std::move(*value);
        }
        if (!target->exists) {
            // Compared with itself: whether the upgrade holds it, undamaged.
            switch (E_CompareElements(source, name.c_str(), source, name.c_str())) {
                case 1:
                    return {Change::New};
                case -1:
                    return Because(Change::Missing, "not in the upgrade library " + sourcePath);
                default:
                    return Because(Change::Unreadable, StringFromPointer(E_LastError()));
            }
        }
        const InstalledLibrary& installed = InstalledOf(*target, kind);
        const int32_t handle = installed.handle;
        if (handle == 0) return Because(Change::Unreadable, target->path + ": " + installed.why);
        const std::string* base = m_bases != nullptr ? m_bases->Of(target->path, targetName) : nullptr;
        const std::string now = base ? StringFromPointer(E_ElementDigest(handle, targetName.c_str())) : "";
        if (m_bases != nullptr)
            m_local = !base ? Local::NoBase : !now.empty() && now != *base ? Local::Edited : Local::None;
        const bool part = row.Kind == 1;
        if (m_sides != nullptr) {
            if (auto value = ElementValue(handle, libraryKind, targetName)) values[0] = std::move(*value);
            if (const int32_t kept = base ? m_bases->Element(part, *base) : 0)
                if (auto value = ElementValue(kept, libraryKind, *base)) {
                    (*value)["name"] = targetName;  // kept under its digest: its name is the element's
                    values[2] = std::move(*value);
                }
            m_sides->installedFields = values[0] ? FieldsOfValue(*values[0]) : ElementFields{};
            m_sides->upgradeFields = values[1] ? FieldsOfValue(*values[1]) : ElementFields{};
            if (values[2]) m_sides->baseFields = FieldsOfValue(*values[2]);
        }
        const Found found = ElementChange(source, name, handle, targetName, sourcePath);
        // Models are not merged: a run that merges leaves them as they are.
        if (found.change == Change::Changed && m_local == Local::Edited && !model) {
            switch (StepOf(*base, now, StringFromPointer(E_ElementDigest(source, name.c_str())))) {
                case MergeStep::None:
                    break;
                case MergeStep::Keep:
                    m_merge = Merge::Clean;
                    break;
                case MergeStep::Merge:
                    if (values[0] && values[1] && values[2]) {
                        // The sides' fields are listed already: the merge may have the values.
                        const auto merged = MergeLoadedElements(std::move(*values[2]), std::move(*values[0]),
                                                                std::move(*values[1]));
                        m_merge = merged.conflicts.empty() ? Merge::Clean : Merge::Conflict;
                    } else if (const auto merged = MergeElementWithBase(*m_bases, *base, part, handle,
                                                                        targetName, source, name)) {
                        m_merge = merged->conflicts.empty() ? Merge::Clean : Merge::Conflict;
                    }
                    break;
            }
        }
        return found;
    }

    Found ElementChange(int32_t source, const std::string& name, int32_t handle,
                        const std::string& targetName, const std::string& sourcePath) {
        switch (E_CompareElements(source, name.c_str(), handle, targetName.c_str())) {
            case 1:
                return {Change::Same};
            case 0:
                return {Change::Changed};
            case -1:
                return Because(Change::Missing, "not in the upgrade library " + sourcePath);
            case -2:
                return {Change::New};
            default:
                return Because(Change::Unreadable, StringFromPointer(E_LastError()));
        }
    }

    Found File(const GridRow& row) {
        const std::string targetDir(row.TargetDir);
        bool missing = false;
        if (!m_folder->IsOpen())
            return Because(Change::Missing, "not in the upgrade folder " + m_upgrade.listPath);
        // Read from the upgrade folder itself, as the run reads it: never through a link.
        auto source = OpenUpgradeFile(*m_folder, m_upgrade.inPlace.get(), std::string(row.Name), &missing);
        if (!source && missing)
            return Because(Change::Missing, "not in the upgrade folder " + m_upgrade.listPath);
        // There, but no file that can be copied (a link, a FIFO, a folder): the run refuses it.
        if (!source) return Because(Change::Unreadable, JoinPath(m_upgrade.listPath, source.Why()));
        // A file checked where it lies is read for its sides (or a merge, below) once, into memory,
        // and checked again: what is shown is what was checked.
        auto unchecked = [&](const Outcome& pinned) {
            return Because(Change::Unreadable,
                           JoinPath(m_upgrade.listPath, std::string(row.Name)) + ": " + pinned.Why());
        };
        // A side checked too large to be shown is not read (nor shown).
        if (m_sides != nullptr && static_cast<size_t>(source->checkedSize) <= kMostShownBytes)
            if (const Outcome pinned = PinChecked(*source); !pinned) return unchecked(pinned);
        const bool showUpgrade = source->checked.empty();
        const bool subcircuit = IsSubcircuitFile(row.Name);
        const std::string destDir =
            DataFileDestinationDir(targetDir, row.Name, subcircuit ? row.TargetLib : "");
        std::shared_ptr<const Directory> folder;
        if (subcircuit && !TrimmedBlanks(row.TargetLib).empty()) {
            bool absent = false;
            const auto sub = m_access.Subfolder(targetDir, FileNameOf(destDir), &absent);
            // The run makes a missing subcircuit subdirectory; any other folder must be there.
            if (!sub && absent && m_access.Folder(targetDir)) return {Change::New};
            if (!sub) return Because(Change::Unreadable, sub.Why());
            folder = *sub;
        } else {
            const auto held = m_access.Folder(targetDir);
            if (!held) return Because(Change::Unreadable, "the folder " + destDir + " does not exist");
            folder = *held;
        }
        const auto target = m_access.Resolve(folder, destDir, row.Name);
        if (!target) return Because(Change::Unreadable, target.Why());
        if (!target->exists) {
            if (m_sides != nullptr && showUpgrade)
                m_sides->upgrade =
                    ReadDescriptor(source->file.Fd(), std::string(row.Name), kMostShownBytes).value_or("");
            return {Change::New};
        }
        const auto installed = target->folder->OpenRegular(target->name);
        std::string now;  // the installed file's digest, once it is taken
        if (m_bases != nullptr && installed) {
            const std::string* base = m_bases->Of(target->path, {});
            if (base) now = Sha256OfDescriptor(installed->Fd());
            m_local = !base ? Local::NoBase : !now.empty() && now != *base ? Local::Edited : Local::None;
            if (m_sides != nullptr && base != nullptr) m_sides->base = m_bases->File(*base, kMostShownBytes);
            if (m_local == Local::Edited) {
                if (const Outcome pinned = PinChecked(*source); !pinned) return unchecked(pinned);
                m_merge = FileMerge(*base, now, installed->Fd(), source->file.Fd());
            }
            ::lseek(installed->Fd(), 0, SEEK_SET);
            ::lseek(source->file.Fd(), 0, SEEK_SET);
        }
        std::optional<bool> same;
        if (installed && !source->checked.empty()) {
            // Checked in place: compared by the digest the check found, which is what the upgrade
            // offers (the file there is read again, and checked, only by a run that copies it).
            if (now.empty()) now = Sha256OfDescriptor(installed->Fd());
            if (!now.empty()) same = now == source->checked;
        } else if (installed) {
            same = SameBytes(source->file.Fd(), installed->Fd());
        }
        if (!same) return Because(Change::Unreadable, target->path + " cannot be read");
        // The sides shown are the very files compared, read through their handles.
        if (m_sides != nullptr && !*same && ::lseek(installed->Fd(), 0, SEEK_SET) == 0 &&
            ::lseek(source->file.Fd(), 0, SEEK_SET) == 0) {
            m_sides->installed = ReadDescriptor(installed->Fd(), target->path, kMostShownBytes).value_or("");
            if (showUpgrade)
                m_sides->upgrade =
                    ReadDescriptor(source->file.Fd(), std::string(row.Name), kMostShownBytes).value_or("");
        }
        if (!subcircuit && IsOlder(source->info.st_mtim, target->info.st_mtim))
            return Because(Change::Older, "the installed " + target->path + " is newer");
        return {*same ? Change::Same : Change::Changed};
    }

    // What a merge of a file edited here (`now`, its digest; `base`, the last upgrade's) with the
    // upgrade's would give, as a run that merges makes it (whatever the files' times).
    Merge FileMerge(const std::string& base, const std::string& now, int installed, int upgrade) {
        const std::string offered = ::lseek(upgrade, 0, SEEK_SET) == 0 ? Sha256OfDescriptor(upgrade) : "";
        if (offered.empty()) return Merge::None;
        switch (StepOf(base, now, offered)) {
            case MergeStep::None:
                return Merge::None;
            case MergeStep::Keep:
                return Merge::Clean;
            case MergeStep::Merge:
                break;
        }
        const auto merged = MergeFileWithBase(*m_bases, base, installed, upgrade);
        if (!merged) return Merge::None;
        return merged->conflicted ? Merge::Conflict : Merge::Clean;
    }

    // An upgrade library as its rows see it: its handle, or the outcome of all of them.
    struct SourceState {
        int32_t handle = 0;
        Found failure{Change::Unreadable};
    };
    SourceState Source(const std::string& dir, const std::string& sourcePath, const char* kind) {
        if (!m_access.Folder(dir)) return {0, Because(Change::Unreadable, "Path: " + dir + " not available")};
        const std::string file =
            m_folder->IsOpen() ? m_folder->Spelling(FileNameOf(sourcePath)) : std::string();
        struct stat info {};
        if (file.empty() || !m_folder->Look(file, info))
            return {0, Because(Change::Missing, "the upgrade library " + sourcePath + " is missing")};
        std::string why;
        const int32_t handle = m_libraries.Open(*m_folder, file, kind, false, &why);
        if (handle == 0) return {0, Because(Change::Unreadable, "the upgrade library " + sourcePath + ": " + why)};
        return {handle};
    }
    const SourceState& SourceOf(const std::string& dir, const std::string& sourcePath, const char* kind) {
        const std::pair key(&dir, &sourcePath);
        if (m_lastSource != m_sources.end() && m_lastSource->first == key) return m_lastSource->second;
        m_lastSource = m_sources.find(key);
        if (m_lastSource == m_sources.end()) m_lastSource = m_sources.emplace(key, Source(dir, sourcePath, kind)).first;
        return m_lastSource->second;
    }
    // The kernel's handle of an installed library, by its resolved target (which the targets keep
    // in place for the comparer's life); the library asked for last first.
    struct InstalledLibrary {
        int32_t handle = 0;
        std::string why;
    };
    const InstalledLibrary& InstalledOf(const Target& target, const char* kind) {
        const std::pair key(&target, kind);
        if (m_lastInstalled != m_installed.end() && m_lastInstalled->first == key)
            return m_lastInstalled->second;
        m_lastInstalled = m_installed.find(key);
        if (m_lastInstalled == m_installed.end()) {
            InstalledLibrary library;
            library.handle = m_libraries.Open(*target.folder, target.name, kind, false, &library.why);
            m_lastInstalled = m_installed.emplace(key, std::move(library)).first;
        }
        return m_lastInstalled->second;
    }
    struct PairHash {
        template <typename First, typename Second>
        size_t operator()(const std::pair<First*, Second*>& key) const {
            return std::hash<const void*>()(key.first) ^ (std::hash<const void*>()(key.second) << 1);
        }
    };

    const Environment& m_env;
    const UpgradeFolder& m_upgrade;
    history::InstalledBases* m_bases;  // null: edits are not looked for
    Local m_local = Local::None;       // of the row being compared
    Merge m_merge = Merge::None;
    RowSides* m_sides = nullptr;  // filled as a row is compared, where it is wanted
    std::shared_ptr<const Directory> m_folder;
    LibraryHandles m_libraries;
    InstallationAccess m_access;
    ResolvedTargets m_targets;
    // By target directory and upgrade library (both strings the comparer's inputs hold).
    std::unordered_map<std::pair<const std::string*, const std::string*>, SourceState, PairHash> m_sources;
    decltype(m_sources)::iterator m_lastSource = m_sources.end();  // rows come in runs of one library
    std::unordered_map<std::pair<const Target*, const char*>, InstalledLibrary, PairHash> m_installed;
    decltype(m_installed)::iterator m_lastInstalled = m_installed.end();
    std::vector<std::string> m_reasonTexts{""};
    std::unordered_map<std::string, uint32_t> m_reasonNumbers{{"", 0}};
};

}  // namespace

std::string_view ChangeWord(Change change) {
    switch (change) {
        case Change::New:
            return "new";
        case Change::Changed:
            return "changed";
        case Change::Same:
            return "same";
        case Change::Older:
            return "older";
        case Change::Missing:
            return "missing";
        case Change::Unreadable:
            return "unreadable";
    }
    return "unreadable";
}

std::string_view LocalWord(Local local) {
    switch (local) {
        case Local::Edited:
            return "edited";
        case Local::NoBase:
            return "no base";
        case Local::None:
            return "";
    }
    return "";
}

std::string_view MergeWord(Merge merge) {
    switch (merge) {
        case Merge::Clean:
            return "clean";
        case Merge::Conflict:
            return "conflict";
        case Merge::None:
            return "";
    }
    return "";
}

std::string LocalChangeWord(Change change) {
    return GetLocalMessage(ChangeWord(change), 20030 + static_cast<int32_t>(change));
}

const std::string& RowChanges::ReasonOf(size_t row) const {
    static const std::string kNone;
    return row < reasonOf.size() && reasonOf[row] < reasonTexts.size() ? reasonTexts[reasonOf[row]] : kNone;
}

std::vector<RowDetail> DetailRows(const GridRowTable& rows, const std::vector<size_t>& which,
                                  const Environment& env, const UpgradeFolder& upgrade, bool keepSides) {
    std::vector<RowDetail> details;
    details.reserve(which.size());
    {
        auto bases = history::InstalledBases::Read(env);
        Comparer comparer(env, upgrade, bases ? &*bases : nullptr);
        for (const size_t row : which) {
            RowDetail detail;
            const Found found = comparer.Row(rows[row], detail.sides);
            detail.change = found.change;
            detail.local = found.local;
            detail.merge = found.merge;
            detail.reason = comparer.ReasonText(found.reason);
            if (detail.change == Change::Changed && detail.sides.element) {
                detail.fields = DifferingFields(detail.sides.installedFields, detail.sides.upgradeFields);
                if (detail.sides.baseFields) AddBaseValues(detail.fields, *detail.sides.baseFields);
            } else if (detail.change == Change::Changed ||
                       (detail.change == Change::Older && detail.sides.installed != detail.sides.upgrade)) {
                detail.textDiff =
                    UnifiedDiff(detail.sides.installed, detail.sides.upgrade, "installed", "upgrade");
                if (detail.local == Local::Edited && detail.sides.base)
                    detail.localDiff = UnifiedDiff(*detail.sides.base, detail.sides.installed,
                                                   "last installed", "installed");
            }
            if (!keepSides) detail.sides = RowSides{detail.sides.element};
            details.push_back(std::move(detail));
        }
    }
    E_FlushLibraries();
    return details;
}

constexpr std::chrono::milliseconds kProgressInterval{50};

RowChanges CompareRows(const GridRowTable& rows, const Environment& env, const UpgradeFolder& upgrade,
                       const std::function<void(size_t done, size_t total)>& progress) {
    RowChanges result;
    const size_t count = rows.size() - 1;  // the last row is the spare empty one
    result.changes.reserve(count);
    result.reasonOf.reserve(count);
    result.local.reserve(count);
    result.merge.reserve(count);
    {
        // What the runs installed, read once; a record that cannot be read tells of no edits.
        auto bases = history::InstalledBases::Read(env);
        Comparer comparer(env, upgrade, bases ? &*bases : nullptr);
        // Progress is told a few times a second: the window redraws for each, which would cost
        // more than the rows themselves where they are quick to compare.
        auto lastProgress = std::chrono::steady_clock::now() - kProgressInterval;
        for (size_t i = 0; i < count; ++i) {
            if (progress && i % 64 == 0 && std::chrono::steady_clock::now() - lastProgress >= kProgressInterval) {
                progress(i, count);
                lastProgress = std::chrono::steady_clock::now();
            }
            const Found outcome = comparer.Row(rows[i]);
            result.changes.push_back(outcome.change);
            result.reasonOf.push_back(outcome.reason);
            result.local.push_back(outcome.local);
            result.merge.push_back(outcome.merge);
        }
        result.reasonTexts = comparer.TakeReasons();
    }
    // With its libraries closed, every read snapshot ends: the preview leaves no lock behind.
    E_FlushLibraries();
    if (progress) progress(count, count);
    return result;
}

}  // namespace zrx::preview
