#include "history/record_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "apply/run_guard.h"
#include "apply/targets.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "kernel/installation.h"

namespace zrx::history {

namespace {

constexpr const char* kIdentityFile = ".zrxlibug.id";

// The folder's path with one trailing separator removed, so that prefixes compare by component.
std::string Folder(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

Result<Directory> PrivateFolder(const Directory& parent, const std::string& parentPath,
                                const std::string& name, bool create) {
    const std::string path = JoinPath(parentPath, name);
    struct stat info {};
    if (!parent.Look(name, info)) {
        if (!create) return Failure{"there is no record of update runs in " + path};
        if (::mkdirat(parent.Fd(), name.c_str(), 0755) != 0 && errno != EEXIST)
            return Failure{"the folder " + path + " cannot be made: " + std::strerror(errno)};
        if (!parent.Look(name, info))
            return Failure{"the folder " + path + " cannot be made: " + std::strerror(errno)};
    }
    if (!S_ISDIR(info.st_mode))
        return Failure{path + (S_ISLNK(info.st_mode) ? " is a symbolic link" : " is not a folder") +
                       "; the program keeps its own files only in a real folder: remove it"};
    if (const Outcome checked = CheckPrivate(info, path); !checked) return Failure{checked.Why()};
    auto folder = parent.Beneath(name);
    if (!folder) return folder;
    struct stat opened {};
    if (::fstat(folder->Fd(), &opened) != 0 || opened.st_ino != info.st_ino)
        return Failure{path + " changed while it was opened"};
    return folder;
}

std::optional<Place> PlaceOf(const Environment& env, const std::string& path) {
    std::optional<Place> best;
    size_t bestLength = 0;
    for (int root = 0; root < kInstallationFolders; ++root) {
        const std::string folder = Folder(InstallationFolder(env, root));
        if (folder.empty() || path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) continue;
        if (folder != "/" && path[folder.size()] != '/') continue;  // "REGS2" is not inside "REGS"
        if (best && folder.size() <= bestLength) continue;
        const std::string relative = path.substr(folder == "/" ? 1 : folder.size() + 1);
        if (PlainComponents(relative).empty()) continue;
        best = Place{root, relative};
        bestLength = folder.size();
    }
    return best;
}

std::string RealFolders(const Environment& env) {
    std::string text;
    for (int i = 0; i < kInstallationFolders; ++i) {
        const auto folder = HeldFolder(env, InstallationFolder(env, i));
        text += (folder ? (*folder)->RealPathOf(".") : std::string()) + "\n";
    }
    return text;
}

bool PlausiblePlace(const Environment& env, int what, const Place& place) {
    const std::vector<std::string> components = PlainComponents(place.relative);
    if (components.empty() || place.root < 0 || place.root >= kInstallationFolders) return false;
    // Nothing in the folder that holds the INI is the installation's own file (".zrxlibug...", the
    // INI), compared as texts; a rollback also looks at the files themselves as it finds them.
    if (Folder(InstallationFolder(env, place.root)) == Folder(InstallationDir(env)) &&
        IsOwnFileName(env, components.front()))
        return false;
    const bool single = components.size() == 1;
    auto fits = [&](int root) {
        switch (what) {
            case kPartElement:
            case kSymbolElement:
            case kLibraryMade: return (root == 2 || root == 7) && single;
            case kFile: return root >= 1 && root <= 9 && (single || (root == 8 && components.size() == 2));
            case kDirectoryMade: return root == 8 && single;
            case kIndexLine:
            case kIndexBefore:
                return single && ((root == 7 && EqualsIgnoreCase(place.relative, "modpar.idx")) ||
                                  (root == 8 && EqualsIgnoreCase(place.relative, "Subcir.idx")));
            default: return false;
        }
    };
    // Two of the INI's keys may name one folder: the record names it by the first, the rule may
    // be about the other.
    const std::string folder = Folder(InstallationFolder(env, place.root));
    for (int root = 0; root < kInstallationFolders; ++root)
        if ((root == place.root || Folder(InstallationFolder(env, root)) == folder) && fits(root)) return true;
    return false;
}

std::string PathOf(const Environment& env, const Place& place) {
    return JoinPath(Folder(InstallationFolder(env, place.root)), place.relative);
}

Result<PlaceFolder> OpenPlaceFolder(const Environment& env, const Place& place, bool* missing) {
    if (missing) *missing = false;
    const std::string rootPath = InstallationFolder(env, place.root);
    const auto components = PlainComponents(place.relative);
    if (rootPath.empty() || components.empty())
        return Failure{place.relative + " is not a place in the installation"};
    const auto held = HeldFolder(env, rootPath);
    if (!held) return Failure{held.Why()};
    const size_t cut = place.relative.rfind('/');
    if (cut == std::string::npos) return PlaceFolder{(*held)->Duplicate(), components.back()};
    auto folder = (*held)->Beneath(std::string_view(place.relative).substr(0, cut), missing);
    if (!folder) return Failure{JoinPath(rootPath, folder.Why())};
    return PlaceFolder{std::move(*folder), components.back()};
}

void RemoveRecordTemporaries(const RecordFolder& folder) {
    // The run folders and their "files" folders, one level down each.
    std::vector<std::string> names;
    if (!folder.history.List(names)) return;
    for (const std::string& name : names) {
        struct stat info {};
        if (!folder.history.Look(name, info) || !S_ISDIR(info.st_mode)) continue;
        if (const auto run = folder.history.Beneath(name)) RemoveLeftTemporaries(*run);
    }
}

Outcome CheckPrivate(const struct stat& info, const std::string& path) {
    if (S_ISLNK(info.st_mode))
        return Failure{path + " is a symbolic link; the undo record never follows one: remove it"};
    if (info.st_uid != ::geteuid())
        return Failure{path + " belongs to another user (uid " + std::to_string(info.st_uid) +
                       "), not to the user running the program (uid " + std::to_string(::geteuid()) +
                       "): run the program as its owner, or give it to this user (chown -R " +
                       std::to_string(::geteuid()) + " " + path + ")"};
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Failure{path +
                       " can be written by other users: take their right to write away (chmod -R go-w " +
                       path + ")"};
    return {};
}

Outcome CheckHoldingFolder(const Directory& installation, const std::string& path) {
    struct stat info {};
    if (!installation.Info(info)) return Failure{path + " cannot be looked at: " + std::strerror(errno)};
    const std::string own = JoinPath(path, ".zrxlibug");
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return Failure{path + " belongs to another user (uid " + std::to_string(info.st_uid) +
                       "), who could rename or replace the program's own folder " + own +
                       " (the installation's trusted keys and undo record): run the program as that user"};
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0)
        return Failure{
            path + " can be written by other users, who could rename or replace the program's own folder " +
            own +
            " (the installation's trusted keys and undo record): take their right to write away (chmod "
            "go-w " +
            path + "), or leave each entry to its owner (chmod +t " + path + ")"};
    return {};
}

Result<Directory> OpenOwnFolder(const Directory& installation, const std::string& path, bool create) {
    if (const Outcome holding = CheckHoldingFolder(installation, path); !holding)
        return Failure{holding.Why()};
    struct stat info {};
    if (!installation.Look(".zrxlibug", info) && installation.Look(kIdentityFile, info))
        return Failure{
            "the program's own folder " + JoinPath(path, ".zrxlibug") +
            " is missing, though the installation's identity " + JoinPath(path, kIdentityFile) +
            " says it had one: the installation's trusted keys and the record of its update runs are "
            "not there. Put the folder back; or, to begin without them, remove " +
            JoinPath(path, kIdentityFile)};
    auto own = PrivateFolder(installation, path, ".zrxlibug", create);
    if (own && create && !installation.Look(kIdentityFile, info))
        if (const auto identity = InstallationIdentity(installation, path, true); !identity)
            return Failure{"the installation's identity cannot be made: " + identity.Why()};
    return own;
}

Result<RecordFolder> OpenRecordFolder(const Environment& env, bool create) {
    RecordFolder folder;
    const std::string installation = InstallationDir(env);
    folder.installationPath = installation;
    const auto held = HeldFolder(env, installation);
    if (!held) return Failure{held.Why()};
    folder.installation = (*held)->Duplicate();
    folder.ownPath = JoinPath(installation, ".zrxlibug");
    // The folder the installation's lock was taken on, while this program holds it.
    if (const auto locked = env.folders->Held(folder.ownPath)) {
        if (const Outcome holding = CheckHoldingFolder(folder.installation, installation); !holding)
            return Failure{holding.Why()};
        folder.own = locked->Duplicate();
    } else {
        auto own = OpenOwnFolder(folder.installation, installation, create);
        if (!own) return Failure{own.Why()};
        folder.own = std::move(*own);
    }
    folder.historyPath = JoinPath(folder.ownPath, "history");
    auto history = PrivateFolder(folder.own, folder.ownPath, "history", create);
    if (!history) return Failure{history.Why()};
    folder.history = std::move(*history);
    return folder;
}

namespace {

constexpr const char* kScratchParent = "work";

// A new folder beneath `parent`, locked by this program, with a name of its own.
constexpr const char* kTemporaryScratchPrefix = "zrxlibug-";

Result<std::unique_ptr<ScratchFolder>> NewScratch(const Directory& parent, const std::string& parentPath) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::array<unsigned char, 6> random{};
        if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) break;
        std::string name = "scratch-";
        static const char kHex[] = "0123456789abcdef";
        for (unsigned char c : random) name += kHex[c >> 4], name += kHex[c & 15];
        if (::mkdirat(parent.Fd(), name.c_str(), 0700) != 0) {
            if (errno == EEXIST) continue;
            return Failure{JoinPath(parentPath, name) + " cannot be made: " + std::strerror(errno)};
        }
        auto folder = parent.Beneath(name);
        if (!folder || ::flock(folder->Fd(), LOCK_EX | LOCK_NB) != 0) {
            Failure failure{folder ? JoinPath(parentPath, name) + " cannot be locked: " + std::strerror(errno)
                                   : folder.Why()};
            ::unlinkat(parent.Fd(), name.c_str(), AT_REMOVEDIR);
            return failure;
        }
        return std::make_unique<ScratchFolder>(JoinPath(parentPath, name), parent.Duplicate(), name,
                                               std::move(*folder));
    }
    return Failure{"no private temporary folder can be made in " + parentPath};
}

// Removes the folders `prefix`* of `parent` that no running program holds locked (and that pass
// `mayGo`); never through a link.
template <typename MayGo>
void RemoveUnheld(const Directory& parent, const std::string& prefix, MayGo mayGo) {
    std::vector<std::string> names;
    if (!parent.List(names)) return;
    for (const std::string& name : names) {
        struct stat info {};
        if (!name.starts_with(prefix) || !parent.Look(name, info) || !S_ISDIR(info.st_mode) || !mayGo(info))
            continue;
        const auto left = parent.Beneath(name);
        // One that a running program holds is left to it.
        if (left && ::flock(left->Fd(), LOCK_EX | LOCK_NB) == 0) parent.RemoveTree(name);
    }
}

}  // namespace

Result<std::unique_ptr<ScratchFolder>> ScratchFolder::Make(const Environment* env) {
    if (env != nullptr) {
        if (auto record = OpenRecordFolder(*env, true)) {
            const std::string parentPath = JoinPath(record->ownPath, kScratchParent);
            if (auto parent = PrivateFolder(record->own, record->ownPath, kScratchParent, true))
                if (auto scratch = NewScratch(*parent, parentPath)) return scratch;
        }
    }
    // The installation's own folder is not this user's: a folder of the user's own, in the
    // system's temporary folder, made private by mkdtemp, and locked as the installation's are.
    const std::string tmp = SystemTemporaryFolder();
    std::string pattern = tmp + "/" + kTemporaryScratchPrefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) ==
        nullptr)  // file-access: the system's temporary folder, no installation's
        return Failure{"no private temporary folder can be made: " + std::string(std::strerror(errno))};
    const std::string name = pattern.substr(pattern.rfind('/') + 1);
    auto parent = Directory::Open(tmp);  // file-access: the system's temporary folder
    if (!parent) return Failure{parent.Why()};
    auto folder = parent->Beneath(name);
    if (!folder || ::flock(folder->Fd(), LOCK_EX | LOCK_NB) != 0) {
        Failure failure{folder ? pattern + " cannot be locked: " + std::strerror(errno) : folder.Why()};
        parent->RemoveTree(name);
        return failure;
    }
    return std::make_unique<ScratchFolder>(pattern, std::move(*parent), name, std::move(*folder));
}

ScratchFolder::~ScratchFolder() {
    // Nobody else can write in it: removed through the handle of the folder that holds it, links
    // removed, never followed.
    if (m_parent.IsOpen()) m_parent.RemoveTree(m_name);
}

void RemoveLeftScratchFolders(const Environment* env) {
    // The user's own in the system's temporary folder: folders of this user only, private.
    const auto tmp = Directory::Open(SystemTemporaryFolder());  // file-access: the system's temporary folder
    if (tmp)
        RemoveUnheld(*tmp, kTemporaryScratchPrefix, [](const struct stat& info) {
            return info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
        });
    if (env == nullptr) return;
    auto record = OpenRecordFolder(*env, false);
    if (!record) return;
    struct stat info {};
    if (!record->own.Look(kScratchParent, info) || !S_ISDIR(info.st_mode)) return;
    if (const auto parent = PrivateFolder(record->own, record->ownPath, kScratchParent, false))
        RemoveUnheld(*parent, "scratch-", [](const struct stat&) { return true; });
}

Result<std::string> InstallationIdentity(const Directory& installation, const std::string& installationPath,
                                         bool create, bool* missing) {
    if (missing) *missing = false;
    const std::string path = JoinPath(installationPath, kIdentityFile);
    // Never waiting: a FIFO in its place is no identity.
    // What a program killed while it made the identity left behind (it may have been linked to its
    // name already).
    if (create) RemoveLeftTemporaries(installation, false);
    int fd = ::openat(installation.Fd(), kIdentityFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        std::array<unsigned char, 16> random{};
        std::string identity;
        if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size()))
            return Failure{std::string("no random identity for the installation: ") + std::strerror(errno)};
        static const char kHex[] = "0123456789abcdef";
        for (unsigned char c : random) identity += kHex[c >> 4], identity += kHex[c & 15];
        auto made = installation.CreateTemporary(kIdentityFile);
        if (!made) return Failure{made.Why()};
        FileHandle out = std::move(made->file);
        const std::string temp = made->name;
        const bool written =
            WriteAll(out.Fd(), identity) &&
            ::fchmod(out.Fd(), 0644) == 0 && ::fsync(out.Fd()) == 0;
        // Made whole beside its name and linked to it, so that of two programs the first one's stays.
        const bool linked = written && ::linkat(installation.Fd(), temp.c_str(), installation.Fd(),
                                                 kIdentityFile, 0) == 0;
        const int error = errno;
        ::unlinkat(installation.Fd(), temp.c_str(), 0);
        out.Close();
        if (!linked && error != EEXIST) return Failure{path + " cannot be written: " + std::strerror(error)};
        installation.Sync();
        fd = ::openat(installation.Fd(), kIdentityFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        if (errno == ENOENT && missing) *missing = true;
        return Failure{errno == ENOENT  ? path + " is missing"
                       : errno == ELOOP ? path + " is a symbolic link: remove it"
                                        : path + ": " + std::strerror(errno)};
    }
    struct stat info {};
    char text[64];
    const ssize_t got = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? ::read(fd, text, sizeof text) : -1;
    ::close(fd);
    if (const Outcome checked = CheckPrivate(info, path); !checked) return Failure{checked.Why()};
    if (got != 32) return Failure{path + " is not an installation identity of this program"};
    return std::string(text, 32);
}

Result<std::unique_ptr<RecordDatabase>> OpenRecord(const Environment& env, RecordDatabase::Mode mode,
                                                   RecordFolder& folder) {
    const bool create = mode == RecordDatabase::Mode::Create;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto opened = OpenRecordFolder(env, create);
        if (!opened) return Failure{opened.Why()};
        folder = std::move(*opened);
        for (const char* name : {"history.db", "history.db-wal", "history.db-shm", "history.db-journal"}) {
            struct stat info {};
            if (!folder.history.Look(name, info)) continue;
            if (const Outcome checked = CheckPrivate(info, JoinPath(folder.historyPath, name)); !checked)
                return Failure{checked.Why()};
            // A FIFO or device in its place would make every open wait.
            if (!S_ISREG(info.st_mode))
                return Failure{JoinPath(folder.historyPath, name) + " is not a regular file: remove it"};
        }
        bool noIdentity = false;
        const auto identified =
            InstallationIdentity(folder.installation, folder.installationPath, create, &noIdentity);
        if (!identified && (create || !noIdentity))
            return Failure{"the record of update runs cannot be matched with this installation: " +
                           identified.Why()};
        const std::string identity = identified.value_or("");
        RecordDatabase::Refusal refusal = RecordDatabase::Refusal::None;
        bool made = false;
        auto openedRecord =
            RecordDatabase::Open(folder.history, folder.historyPath, mode, &refusal, identity, &made);
        if (!openedRecord && create && attempt == 0 && refusal == RecordDatabase::Refusal::OlderFormat) {
            // Its paths cannot be trusted: it stays where it can be looked at, and is not used.
            std::string aside = "history-v1";
            for (int n = 2; ::faccessat(folder.own.Fd(), aside.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0; ++n)
                aside = "history-v1-" + std::to_string(n);
            if (::renameat(folder.own.Fd(), "history", folder.own.Fd(), aside.c_str()) != 0)
                return Failure{openedRecord.Why() + "; it cannot be put aside: " + std::strerror(errno)};
            continue;
        }
        if (!openedRecord) return Failure{openedRecord.Why()};
        std::unique_ptr<RecordDatabase> db = std::move(*openedRecord);
        if (made) {
            // A record made anew (its file was missing or empty) names no run yet: the run folders
            // of a record that was lost belong to none of its runs, and would stand in the way of
            // its own. They are put aside, not removed: they hold what those runs replaced.
            std::vector<std::string> names;
            folder.history.List(names);
            for (const std::string& name : names) {
                if (!name.starts_with("run-")) continue;
                std::string aside = "lost-" + name;
                for (int n = 2;
                     ::faccessat(folder.history.Fd(), aside.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0; ++n)
                    aside = "lost-" + name + "-" + std::to_string(n);
                ::renameat(folder.history.Fd(), name.c_str(), folder.history.Fd(), aside.c_str());
            }
            folder.history.Sync();
        }
        std::string recorded;
        if (!db->ReadSetting("installation", recorded))
            return Failure{"the record of update runs cannot be read: " + db->Error()};
        if (recorded != identity)
            return Failure{
                "the record of update runs in " + folder.historyPath +
                " belongs to another installation (it was copied here, or this installation's identity " +
                JoinPath(folder.installationPath, ".zrxlibug.id") +
                " was removed); nothing of it is used: move it away"};
        return std::move(db);
    }
    return Failure{"the record of update runs cannot be opened"};
}

}  // namespace zrx::history
