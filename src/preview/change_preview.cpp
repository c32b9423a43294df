#include "preview/change_preview.h"

#include <sys/stat.h>

#include <chrono>
#include <map>
#include <optional>
#include <unordered_map>

#include "apply/data_files.h"
#include "apply/targets.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "kernel/installation.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx::preview {

namespace {

struct Outcome {
    Change change;
    uint32_t reason = 0;  // the number of its text; 0 for none
};

class Comparer {
public:
    Comparer(const Environment& env, const UpgradeFolder& upgrade)
        : m_env(env), m_upgrade(upgrade), m_folder(upgrade.listPath.empty() ? "/" : upgrade.listPath) {}

    Outcome Row(const GridRow& row) { return row.Kind == 4 ? File(row) : Element(row); }

    // The reasons' texts, by number (0 is none).
    std::vector<std::string> TakeReasons() { return std::move(m_reasonTexts); }

private:
    // Rows share their reasons (a missing upgrade library is the reason of all its rows): each
    // text is kept once.
    Outcome Because(Change change, std::string reason) {
        const auto [it, added] = m_reasonNumbers.try_emplace(std::move(reason), 0);
        if (added) {
            it->second = static_cast<uint32_t>(m_reasonTexts.size());
            m_reasonTexts.push_back(it->first);
        }
        return {change, it->second};
    }

    // Nothing changes on the disk while the rows are compared, so what a name resolves to, and
    // whether a path exists, is worked out once for all the rows that share it.
    const std::string& Resolve(const std::string& dir, std::string_view name) { return m_resolved.In(dir, name); }
    bool Exists(const std::string& path) {
        auto it = m_exists.find(path);
        if (it == m_exists.end()) {
            struct stat info {};
            it = m_exists.emplace(path, ::lstat(path.c_str(), &info) == 0).first;
        }
        return it->second;
    }
    bool IsDir(const std::string& path) {
        auto it = m_directories.find(path);
        if (it == m_directories.end()) it = m_directories.emplace(path, IsDirectory(path)).first;
        return it->second;
    }

    // The run copies parts, symbols, packages and MPARAM models only when the library directory
    // can be used; SPARAM models go to the simulator model directory in any case.
    //
    // What the target directory and the upgrade library give every row that uses them is worked
    // out once: a list of many elements of a missing library costs a look-up per row.
    Outcome Element(const GridRow& row) {
        const std::string& dir = ElementTargetDir(m_env, row.Kind);
        const char* kind = LibraryKindOf(row.Kind);
        const std::string& sourcePath =
            UpgradeLibraryOf(m_upgrade.upgradeLibraries, row.Kind, row.UpgSymbolLib);
        const SourceState& state = SourceOf(dir, sourcePath, kind);
        if (state.handle == 0) return state.failure;
        const int32_t source = state.handle;
        std::string why;
        // Models are saved under their trimmed name; the other kinds under the name as listed.
        const bool model = row.Kind == 5 || row.Kind == 6;
        const std::string name(row.Name);
        const std::string targetName = model ? TrimBlanks(name) : name;
        if (targetName.empty()) return Because(Change::Missing, "an element without a name is not copied");
        const std::string& targetPath = Resolve(dir, row.TargetLib);
        if (!Exists(targetPath)) {
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
        const int32_t target = m_libraries.Open(targetPath, kind, false, &why);
        if (target == 0) return Because(Change::Unreadable, targetPath + ": " + why);
        switch (E_CompareElements(source, name.c_str(), target, targetName.c_str())) {
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

    Outcome File(const GridRow& row) {
        const std::string targetDir(row.TargetDir);
        const std::string source = ResolveNameInDir(m_folder, row.Name);
        if (!FileExists(source)) return Because(Change::Missing, "not in the upgrade folder " + m_upgrade.listPath);
        if (!StaysInside(source, m_folder, m_realPaths))
            return Because(Change::Missing, source + " leads outside the upgrade folder");
        const bool subcircuit = IsSubcircuitFile(row.Name);
        const std::string destDir =
            DataFileDestinationDir(targetDir, row.Name, subcircuit ? row.TargetLib : "");
        if (!StaysInside(destDir, targetDir, m_realPaths))
            return Because(Change::Unreadable, destDir + " leads outside " + targetDir);
        struct stat info {};
        if (subcircuit && ::lstat(destDir.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
            return Because(Change::Unreadable, destDir + " is not a folder (a link, or a file)");
        if (!IsDirectory(destDir)) {
            // The run makes a missing subcircuit subdirectory; any other folder must be there.
            if (subcircuit && IsDirectory(targetDir)) return {Change::New};
            return Because(Change::Unreadable, "the folder " + destDir + " does not exist");
        }
        const std::string target = DataFileTargetPath(destDir, row.Name);
        if (::lstat(target.c_str(), &info) != 0) return {Change::New};
        if (S_ISDIR(info.st_mode))
            return Because(Change::Unreadable, "a folder of that name is in the way: " + target);
        // A link to a file is written through; any other link, or anything but a file, is refused.
        std::string why;
        const auto written = WriteTargetOf(target, why);
        if (!written) return Because(Change::Unreadable, why);
        if (*written != target && !InsideInstallation(m_env, *written, m_realPaths))
            return Because(Change::Unreadable, target + " is a symbolic link that leads outside the installation's folders");
        if (!S_ISLNK(info.st_mode) && !S_ISREG(info.st_mode))
            return Because(Change::Unreadable, target + " is not a regular file");
        if (!subcircuit && InstalledFileIsNewer(source, target))
            return Because(Change::Older, "the installed " + target + " is newer");
        const auto same = SameBytes(source, target);
        if (!same) return Because(Change::Unreadable, target + " cannot be read");
        return {*same ? Change::Same : Change::Changed};
    }

    // An upgrade library as its rows see it: its handle, or the outcome of all of them.
    struct SourceState {
        int32_t handle = 0;
        Outcome failure{Change::Unreadable};
    };
    SourceState Source(const std::string& dir, const std::string& sourcePath, const char* kind) {
        if (!IsDir(dir)) return {0, Because(Change::Unreadable, "Path: " + dir + " not available")};
        if (!Exists(sourcePath))
            return {0, Because(Change::Missing, "the upgrade library " + sourcePath + " is missing")};
        std::string why;
        const int32_t handle = m_libraries.Open(sourcePath, kind, false, &why);
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
    struct PairHash {
        size_t operator()(const std::pair<const std::string*, const std::string*>& key) const {
            return std::hash<const void*>()(key.first) ^ (std::hash<const void*>()(key.second) << 1);
        }
    };

    const Environment& m_env;
    const UpgradeFolder& m_upgrade;
    const std::string m_folder;
    LibraryHandles m_libraries;
    RealPaths m_realPaths;
    ResolvedNames m_resolved;
    std::unordered_map<std::string, bool> m_exists, m_directories;
    // By target directory and upgrade library (both strings the comparer's inputs hold).
    std::unordered_map<std::pair<const std::string*, const std::string*>, SourceState, PairHash> m_sources;
    decltype(m_sources)::iterator m_lastSource = m_sources.end();  // rows come in runs of one library
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

std::string LocalChangeWord(Change change) {
    return GetLocalMessage(ChangeWord(change), 20030 + static_cast<int32_t>(change));
}

const std::string& RowChanges::ReasonOf(size_t row) const {
    static const std::string kNone;
    return row < reasonOf.size() && reasonOf[row] < reasonTexts.size() ? reasonTexts[reasonOf[row]] : kNone;
}

constexpr std::chrono::milliseconds kProgressInterval{50};

RowChanges CompareRows(const GridRowTable& rows, const Environment& env, const UpgradeFolder& upgrade,
                       const std::function<void(size_t done, size_t total)>& progress) {
    RowChanges result;
    const size_t count = rows.size() - 1;  // the last row is the spare empty one
    result.changes.reserve(count);
    result.reasonOf.reserve(count);
    {
        Comparer comparer(env, upgrade);
        // Progress is told a few times a second: the window redraws for each, which would cost
        // more than the rows themselves where they are quick to compare.
        auto lastProgress = std::chrono::steady_clock::now() - kProgressInterval;
        for (size_t i = 0; i < count; ++i) {
            if (progress && i % 64 == 0 && std::chrono::steady_clock::now() - lastProgress >= kProgressInterval) {
                progress(i, count);
                lastProgress = std::chrono::steady_clock::now();
            }
            const Outcome outcome = comparer.Row(rows[i]);
            result.changes.push_back(outcome.change);
            result.reasonOf.push_back(outcome.reason);
        }
        result.reasonTexts = comparer.TakeReasons();
    }
    // With its libraries closed, every read snapshot ends: the preview leaves no lock behind.
    E_FlushLibraries();
    if (progress) progress(count, count);
    return result;
}

}  // namespace zrx::preview
