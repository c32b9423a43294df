#include "preview/change_preview.h"

#include <sys/stat.h>

#include <map>
#include <optional>
#include <unordered_map>

#include "apply/data_files.h"
#include "apply/targets.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"
#include "shell/app.h"
#include "shell/messages.h"
#include "shell/paths.h"
#include "shell/text_utils.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx::preview {

namespace {

struct Outcome {
    Change change;
    std::string reason;
};

class Comparer {
public:
    Comparer(const Environment& env, const UpgradeFolder& upgrade)
        : m_env(env), m_upgrade(upgrade), m_folder(upgrade.listPath.empty() ? "/" : upgrade.listPath) {}

    Outcome Row(const GridRow& row) { return row.Kind == 4 ? File(row) : Element(row); }

private:
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
    Outcome Element(const GridRow& row) {
        const std::string& dir = ElementTargetDir(m_env, row.Kind);
        if (!IsDir(dir)) return {Change::Unreadable, "Path: " + dir + " not available"};
        const char* kind = LibraryKindOf(row.Kind);
        const std::string& sourcePath =
            UpgradeLibraryOf(m_upgrade.upgradeLibraries, row.Kind, row.UpgSymbolLib);
        std::string why;
        if (!Exists(sourcePath))
            return {Change::Missing, "the upgrade library " + sourcePath + " is missing"};
        const int32_t source = m_libraries.Open(sourcePath, kind, false, &why);
        if (source == 0) return {Change::Unreadable, "the upgrade library " + sourcePath + ": " + why};
        // Models are saved under their trimmed name; the other kinds under the name as listed.
        const bool model = row.Kind == 5 || row.Kind == 6;
        const std::string targetName = model ? TrimBlanks(row.Name) : row.Name;
        if (targetName.empty()) return {Change::Missing, "an element without a name is not copied"};
        const std::string& targetPath = Resolve(dir, row.TargetLib);
        if (!Exists(targetPath)) {
            if (E_OpenLibToRead(source, row.Name.c_str()) < 1)
                return {Change::Missing, "not in the upgrade library " + sourcePath};
            return {Change::New, {}};
        }
        const int32_t target = m_libraries.Open(targetPath, kind, false, &why);
        if (target == 0) return {Change::Unreadable, targetPath + ": " + why};
        switch (E_CompareElements(source, row.Name.c_str(), target, targetName.c_str())) {
            case 1:
                return {Change::Same, {}};
            case 0:
                return {Change::Changed, {}};
            case -1:
                return {Change::Missing, "not in the upgrade library " + sourcePath};
            case -2:
                return {Change::New, {}};
            default:
                return {Change::Unreadable, StringFromPointer(E_LastError())};
        }
    }

    Outcome File(const GridRow& row) {
        const std::string source = ResolveNameInDir(m_folder, row.Name);
        if (!FileExists(source)) return {Change::Missing, "not in the upgrade folder " + m_upgrade.listPath};
        if (!StaysInside(source, m_folder, m_realPaths))
            return {Change::Missing, source + " leads outside the upgrade folder"};
        const bool subcircuit = IsSubcircuitFile(row.Name);
        const std::string destDir =
            DataFileDestinationDir(row.TargetDir, row.Name, subcircuit ? row.TargetLib : "");
        if (!StaysInside(destDir, row.TargetDir, m_realPaths))
            return {Change::Unreadable, destDir + " leads outside " + row.TargetDir};
        if (!IsDirectory(destDir)) {
            // The run makes a missing subcircuit subdirectory; any other folder must be there.
            if (subcircuit && IsDirectory(row.TargetDir)) return {Change::New, {}};
            return {Change::Unreadable, "the folder " + destDir + " does not exist"};
        }
        const std::string target = DataFileTargetPath(destDir, row.Name);
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0) return {Change::New, {}};
        if (S_ISDIR(info.st_mode))
            return {Change::Unreadable, "a folder of that name is in the way: " + target};
        if (!subcircuit && InstalledFileIsNewer(source, target))
            return {Change::Older, "the installed " + target + " is newer"};
        const auto same = SameBytes(source, target);
        if (!same) return {Change::Unreadable, target + " cannot be read"};
        return {*same ? Change::Same : Change::Changed, {}};
    }

    const Environment& m_env;
    const UpgradeFolder& m_upgrade;
    const std::string m_folder;
    LibraryHandles m_libraries;
    std::map<std::string, std::string> m_realPaths;
    ResolvedNames m_resolved;
    std::unordered_map<std::string, bool> m_exists, m_directories;
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

RowChanges CompareRows(const std::vector<GridRow>& rows, const Environment& env, const UpgradeFolder& upgrade,
                       const std::function<void(size_t done, size_t total)>& progress) {
    RowChanges result;
    const size_t count = rows.empty() ? 0 : rows.size() - 1;  // the last row is the spare empty one
    result.changes.reserve(count);
    result.reasonOf.reserve(count);
    std::unordered_map<std::string, uint32_t> textNumbers{{"", 0}};
    {
        Comparer comparer(env, upgrade);
        for (size_t i = 0; i < count; ++i) {
            if (progress && i % 64 == 0) progress(i, count);
            Outcome outcome = comparer.Row(rows[i]);
            result.changes.push_back(outcome.change);
            const auto [text, added] =
                textNumbers.try_emplace(outcome.reason, static_cast<uint32_t>(result.reasonTexts.size()));
            if (added) result.reasonTexts.push_back(std::move(outcome.reason));
            result.reasonOf.push_back(text->second);
        }
    }
    // With its libraries closed, every read snapshot ends: the preview leaves no lock behind.
    E_FlushLibraries();
    if (progress) progress(count, count);
    return result;
}

}  // namespace zrx::preview
