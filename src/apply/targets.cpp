#include "apply/targets.h"

#include <sys/stat.h>

#include "base/paths.h"
#include "base/text_utils.h"
#include "kernel/installation.h"
#include "kernel/zrxkernel.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx {

std::string InstallationFolder(const Environment& env, int index) {
    switch (index) {
        case 0: return InstallationDir(env);
        case 1: return env.JobDir;
        case 2: return env.LibDir;
        case 3: return env.SysDir;
        case 4: return env.ULM3JobDir;
        case 5: return env.ZSMcml;
        case 6: return env.ZSMudn;
        case 7: return env.ZSMmod;
        case 8: return env.ZSMsbk;
        case 9: return env.ZSMwrk;
        default: return {};
    }
}

bool InsideInstallation(const Environment& env, const std::string& realPath, RealPaths& realPaths) {
    for (int i = 0; i < kInstallationFolders; ++i) {
        const std::string folder = InstallationFolder(env, i);
        if (folder.empty()) continue;
        const std::string& real = realPaths.Of(folder);
        if (real.empty()) continue;
        if (realPath == real || StartsWith(realPath, real == "/" ? real : real + "/")) return true;
    }
    return false;
}

bool IsInstallationsOwnFile(const Environment& env, const std::string& path) {
    if (path == env.IniFile) return true;
    // Compared as files, not as texts: "./", "..", links and second names all lead to the same one.
    struct stat target {}, own {};
    const bool exists = ::stat(path.c_str(), &target) == 0;
    if (exists && ::stat(env.IniFile.c_str(), &own) == 0 && own.st_dev == target.st_dev && own.st_ino == target.st_ino)
        return true;
    const std::string installation = RealPath(InstallationDir(env));
    if (installation.empty()) return false;
    auto ownName = [&installation](const std::string& candidate) {
        const size_t cut = candidate.rfind('/');
        const std::string dir = cut == std::string::npos ? "." : cut == 0 ? "/" : candidate.substr(0, cut);
        return RealPath(dir) == installation && StartsWith(ToUpper(FileNameOf(candidate)), ".ZRXLIBUG");
    };
    return ownName(path) || (exists && ownName(RealPath(path)));
}

const std::string& ElementTargetDir(const Environment& env, int kind) {
    return kind == 5 ? env.ZSMmod : env.LibDir;
}

const std::string& ResolvedNames::In(const std::string& dir, std::string_view name) {
    m_key.assign(dir).append(1, '\0').append(name);
    auto it = m_resolved.find(m_key);
    if (it == m_resolved.end()) it = m_resolved.emplace(m_key, ResolveNameInDir(dir, name)).first;
    return it->second;
}

const std::string& UpgradeLibraryOf(const std::array<std::string, 6>& upgradeLibraries, int kind,
                                    std::string_view upgSymbolLib) {
    switch (kind) {
        case 1:
            return upgradeLibraries[0];
        case 2:
            return EqualsIgnoreCase(upgSymbolLib, "I_UPG.SYMBOL") ? upgradeLibraries[2] : upgradeLibraries[1];
        case 3:
            return upgradeLibraries[3];
        case 5:
            return upgradeLibraries[4];
        default:
            return upgradeLibraries[5];
    }
}

const char* LibraryKindOf(int kind) {
    return kind == 1 ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY;
}

std::string DataFileDestinationDir(const DataFileItem& item) {
    return DataFileDestinationDir(item.TargetDir, item.Name, item.TargetLib);
}

std::string DataFileDestinationDir(const std::string& targetDir, std::string_view name,
                                   std::string_view subdir) {
    if (!IsSubcircuitFile(name) || TrimmedBlanks(subdir).empty()) return targetDir;
    return ResolveNameInDir(targetDir, subdir);
}

std::string DataFileTargetPath(const std::string& destinationDir, std::string_view name) {
    return ResolveNameInDir(destinationDir, name);
}

}  // namespace zrx
