#include "apply/targets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

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

bool IsOwnFileName(const Environment& env, std::string_view name) {
    return StartsWith(ToUpper(name), ".ZRXLIBUG") || EqualsIgnoreCase(name, FileNameOf(env.IniFile));
}

InstallationAccess::InstallationAccess(const Environment& env) : m_env(env) {
    if (auto held = HeldFolder(env, InstallationDir(env))) m_installation = *held;
    struct stat info {};
    if (m_installation && m_installation->Info(info)) m_installationId = Identity{info.st_dev, info.st_ino};
}

Result<std::shared_ptr<const Directory>> InstallationAccess::Folder(const std::string& dir) {
    return HeldFolder(m_env, dir);
}

Result<std::shared_ptr<const Directory>> InstallationAccess::Subfolder(const std::string& dir,
                                                                       const std::string& sub,
                                                                       bool* missing) {
    if (missing) *missing = false;
    const auto folder = Folder(dir);
    if (!folder) return Failure{folder.Why()};
    auto beneath = (*folder)->Beneath((*folder)->Spelling(sub), missing);
    if (!beneath) return Failure{JoinPath(dir, sub) + ": " + beneath.Why()};
    return std::shared_ptr<const Directory>(std::make_shared<Directory>(std::move(*beneath)));
}

Outcome InstallationAccess::MayWriteIn(const Directory& folder) {
    dev_t device = 0;
    ino_t inode = 0;
    if (!folder.Identity(device, inode)) return Failure{"the folder cannot be looked at"};
    const auto key = std::make_pair(device, inode);
    auto it = m_mayWrite.find(key);
    if (it == m_mayWrite.end()) it = m_mayWrite.emplace(key, !InProgramsFolder(folder)).first;
    if (!it->second)
        return Failure{"it lies in the program's own folder " +
                       JoinPath(InstallationDir(m_env), ".zrxlibug") + ", which no update writes into"};
    return {};
}

bool InstallationAccess::InProgramsFolder(const Directory& folder) {
    // ".zrxlibug", and any folder beside it whose name begins so (the program's own folder renamed
    // away, or a copy of it).
    std::vector<std::string> names;
    if (m_installation) m_installation->List(names);
    for (const std::string& name : names) {
        struct stat own {};
        if (!StartsWith(ToUpper(name), ".ZRXLIBUG") || !m_installation->Look(name, own) ||
            !S_ISDIR(own.st_mode))
            continue;
        const auto record = m_installation->Beneath(name);
        if (record && folder.Within(*record)) return true;
    }
    // Nor the program's folder of another installation that lies in one of this one's folders: no
    // folder on the way to it bears the program's name.
    const std::string real = folder.RealPathOf(".");
    for (size_t at = 0; at < real.size();) {
        const size_t next = std::min(real.find('/', at), real.size());
        if (StartsWith(ToUpper(std::string_view(real).substr(at, next - at)), ".ZRXLIBUG")) return true;
        at = next + 1;
    }
    return false;
}

bool InstallationAccess::IsOwnFile(const Directory& folder, std::string_view name, const struct stat* info) {
    if (!m_installation) return false;
    struct stat here {};
    if (m_installationId && folder.Info(here) && here.st_dev == m_installationId->device &&
        here.st_ino == m_installationId->inode && IsOwnFileName(m_env, name))
        return true;
    if (info == nullptr) return false;
    // The same files by another name (a second link to one of them).
    for (const std::string& own :
         {FileNameOf(m_env.IniFile), std::string(".zrxlibug.lock"), std::string(".zrxlibug.id")}) {
        struct stat known {};
        if (m_installation->Look(own, known) && known.st_dev == info->st_dev && known.st_ino == info->st_ino)
            return true;
    }
    return false;
}

Result<Target> InstallationAccess::Resolve(const std::string& dir, std::string_view name) {
    const auto folder = Folder(dir);
    if (!folder) return Failure{folder.Why()};
    return Resolve(*folder, dir, name);
}

Result<Target> InstallationAccess::Resolve(const std::shared_ptr<const Directory>& folder,
                                           const std::string& folderPath, std::string_view name) {
    Target target;
    target.folder = folder;
    target.name = folder->Spelling(name);
    target.path = JoinPath(folderPath, target.name);
    if (const Outcome may = MayWriteIn(*folder); !may) return Failure{target.path + ": " + may.Why()};
    struct stat entry {};
    if (!folder->Look(target.name, entry)) {
        if (IsOwnFile(*folder, target.name, nullptr))
            return Failure{target.path + " is the installation's own file"};
        return target;
    }
    if (S_ISLNK(entry.st_mode)) {
        // Followed only when it is the user's own or root's: a link another user planted in a
        // folder others may write would otherwise lead this user's writes to any file of the data
        // folders this user may write and that user may not.
        if (entry.st_uid != ::geteuid() && entry.st_uid != 0)
            return Failure{target.path + " is a symbolic link that belongs to another user (uid " +
                           std::to_string(entry.st_uid) +
                           "); a link is followed only when it is the user's own or root's"};
        if (Outcome followed = Follow(*folder, target.name, target.path, target); !followed)
            return Failure{followed.Why()};
    } else if (S_ISDIR(entry.st_mode)) {
        return Failure{target.path + ": a folder of that name is in the way"};
    } else if (!S_ISREG(entry.st_mode)) {
        return Failure{target.path + " is not a regular file"};
    } else {
        target.exists = true;
        target.info = entry;
    }
    if (IsOwnFile(*target.folder, target.name, &target.info))
        return Failure{target.path + " is the installation's own file"};
    return target;
}

Outcome InstallationAccess::Follow(const Directory& folder, const std::string& name, const std::string& path,
                                   Target& target) {
    const std::string real = folder.RealPathOf(name);
    struct stat followed {};
    if (real.empty() || ::fstatat(folder.Fd(), name.c_str(), &followed, 0) != 0)
        return Failure{path + " is a symbolic link that leads nowhere"};
    if (!S_ISREG(followed.st_mode))
        return Failure{path + " is a symbolic link to something other than a file"};
    if (!m_dataFoldersKnown) {
        m_dataFoldersKnown = true;
        for (int i = 1; i < kInstallationFolders; ++i)
            if (const auto data = Folder(InstallationFolder(m_env, i))) {
                const std::string at = (*data)->RealPathOf(".");
                if (!at.empty()) m_dataFolders.emplace_back(at, *data);
            }
    }
    // The data folder that holds what the link leads to (the most specific one), by whole components.
    const std::pair<std::string, std::shared_ptr<const Directory>>* holder = nullptr;
    for (const auto& data : m_dataFolders) {
        const std::string& at = data.first;
        const bool inside =
            at == "/" ? real.size() > 1
                      : real.size() > at.size() + 1 && real.starts_with(at) && real[at.size()] == '/';
        if (inside && (holder == nullptr || at.size() > holder->first.size())) holder = &data;
    }
    const std::string outside =
        path + " is a symbolic link that leads outside the installation's data folders";
    if (holder == nullptr) return Failure{outside};
    const std::string relative = real.substr(holder->first == "/" ? 1 : holder->first.size() + 1);
    const size_t cut = relative.rfind('/');
    auto beneath = cut == std::string::npos ? Result<Directory>(holder->second->Duplicate())
                                            : holder->second->Beneath(relative.substr(0, cut));
    const std::string leaf = relative.substr(cut == std::string::npos ? 0 : cut + 1);
    struct stat reached {};
    // Reached again beneath the data folder without any link: it must be the very file the link leads to.
    if (!beneath || !beneath->Look(leaf, reached) || !S_ISREG(reached.st_mode) ||
        reached.st_dev != followed.st_dev || reached.st_ino != followed.st_ino)
        return Failure{outside};
    if (!MayWriteIn(*beneath))
        return Failure{path +
                       " is a symbolic link into the program's own folder, which no update writes into"};
    target.folder = std::make_shared<Directory>(std::move(*beneath));
    target.name = leaf;
    target.throughLink = true;
    target.exists = true;
    target.info = reached;
    return {};
}

const std::string& ElementTargetDir(const Environment& env, int kind) {
    return kind == 5 ? env.ZSMmod : env.LibDir;
}

const std::string& ResolvedNames::In(const std::string& dir, std::string_view name) {
    m_key.assign(dir).append(1, '\0').append(name);
    auto it = m_resolved.find(m_key);
    if (it == m_resolved.end())  // file-access: a name to show; nothing is opened by it
        it = m_resolved.emplace(m_key, ResolveNameInDir(dir, name)).first;
    return it->second;
}

const Result<Target>& ResolvedTargets::In(const std::string& dir, std::string_view name) {
    m_key.assign(dir).append(1, '\0').append(name);
    auto it = m_resolved.find(m_key);
    if (it == m_resolved.end()) it = m_resolved.emplace(m_key, m_access.Resolve(dir, name)).first;
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
    return ResolveNameInDir(targetDir, subdir);  // file-access: a name to show; nothing is opened by it
}

std::string DataFileTargetPath(const std::string& destinationDir, std::string_view name) {
    return ResolveNameInDir(destinationDir, name);  // file-access: a name to show; nothing is opened by it
}

}  // namespace zrx
