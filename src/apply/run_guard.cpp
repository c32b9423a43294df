#include "apply/run_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/paths.h"
#include "base/text_utils.h"
#include "history/record_folder.h"
#include "kernel/installation.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"

namespace zrx {

InstallationLock::InstallationLock(const Environment& env) {
    const std::string installation = InstallationDir(env);
    const std::string path = JoinPath(installation, ".zrxlibug.lock");
    const auto held = HeldFolder(env, installation);
    if (!held) {
        m_held = true;  // nothing can be written there either
        return;
    }
    const Directory& folder = **held;
    m_file = FileHandle(::openat(folder.Fd(), ".zrxlibug.lock",
                                 O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!m_file.IsOpen()) {
        const int error = errno;
        if (error == ELOOP) {
            m_problem = "the lock file " + path + " is a symbolic link, which is never followed: remove it; nothing was changed";
            return;
        }
        // Only an installation folder this user may not write goes on without the lock file (it is
        // run unlocked below, as it ever was); anything else in its place stops the run.
        const bool readOnly =
            (error == EACCES || error == EROFS) && ::faccessat(folder.Fd(), ".", W_OK, AT_EACCESS) != 0;
        if (!readOnly) {
            m_problem = "the lock file " + path + " cannot be used (" + std::strerror(error) +
                        "): remove what is in its place; nothing was changed";
            return;
        }
    }
    struct stat lockInfo {};
    if (m_file.IsOpen() && (::fstat(m_file.Fd(), &lockInfo) != 0 || !S_ISREG(lockInfo.st_mode))) {
        m_problem = "the lock file " + path + " is not a regular file: remove it; nothing was changed";
        return;
    }
    // Another user's lock file is that user's to hold: whoever holds it could keep every run out.
    if (m_file.IsOpen() && lockInfo.st_uid != ::geteuid() && lockInfo.st_uid != 0) {
        m_problem = "the lock file " + path + " belongs to another user (uid " + std::to_string(lockInfo.st_uid) +
                    "): remove it; nothing was changed";
        return;
    }
    const std::string busy =
        "an upgrade of this installation is in progress in another program; nothing was changed";
    if (m_file.IsOpen() && ::flock(m_file.Fd(), LOCK_EX | LOCK_NB) != 0) {
        m_problem = busy;
        return;
    }
    // The program's own folder is locked too: a lock file can be removed by whoever may write the
    // installation folder, the folder only by its owner (OpenOwnFolder sees that nobody else may
    // rename it either).
    struct stat info {};
    const bool exists = folder.Look(".zrxlibug", info);
    if (!exists && !m_file.IsOpen()) {
        m_held = true;  // a read-only installation: run unlocked, as it ever was
        return;
    }
    auto own = history::OpenOwnFolder(folder, installation, true);
    if (!own) {
        m_problem = own.Why() + "; nothing was changed";
        return;
    }
    m_own = std::move(*own);
    if (::flock(m_own.Fd(), LOCK_EX | LOCK_NB) != 0) {
        m_problem = busy;
        return;
    }
    // Locked is the folder that was opened: it must still be the one of that name, or another
    // program may be working on the one that is.
    struct stat locked {}, named{};
    if (!m_own.Info(locked) || !folder.Look(".zrxlibug", named) || named.st_dev != locked.st_dev ||
        named.st_ino != locked.st_ino) {
        m_problem = JoinPath(installation, ".zrxlibug") + " was replaced while it was locked; nothing was changed";
        return;
    }
    // From here on, the record and the keys are read in the locked folder, whatever becomes of its name.
    m_folders = env.folders;
    m_ownPath = JoinPath(installation, ".zrxlibug");
    m_folders->Hold(m_ownPath, std::make_shared<Directory>(m_own.Reopen()));
    m_held = true;
}

InstallationLock::~InstallationLock() {
    if (m_folders) m_folders->Release(m_ownPath);
}

void RemoveLeftTemporaries(const Directory& folder, bool subfolders) {
    std::vector<std::string> names;
    if (!folder.List(names)) return;
    for (const std::string& name : names) {
        struct stat info {};
        if (!folder.Look(name, info)) continue;
        if (S_ISDIR(info.st_mode) && subfolders) {
            if (const auto inner = folder.Beneath(name)) RemoveLeftTemporaries(*inner, false);
            continue;
        }
        if (!S_ISREG(info.st_mode) || !IsTemporaryName(name)) continue;
        const FileHandle file(
            ::openat(folder.Fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened {
        }, now{};
        // Only while nobody holds it, and only the very file that was opened.
        if (!file.IsOpen() || ::flock(file.Fd(), LOCK_EX | LOCK_NB) != 0 ||
            ::fstat(file.Fd(), &opened) != 0 || !folder.Look(name, now) || now.st_ino != opened.st_ino ||
            now.st_dev != opened.st_dev)
            continue;
        ::unlinkat(folder.Fd(), name.c_str(), 0);
    }
    // What a database made in a temporary file leaves beside it, once that file is gone.
    for (const std::string& name : names)
        for (const std::string_view side : {"-wal", "-shm", "-journal"}) {
            struct stat info {};
            const std::string base = name.substr(0, name.size() - std::min(name.size(), side.size()));
            if (name.ends_with(side) && IsTemporaryName(base) && !folder.Look(base, info) &&
                folder.Look(name, info) && S_ISREG(info.st_mode))
                ::unlinkat(folder.Fd(), name.c_str(), 0);
        }
}

void RemoveStaleTemporaries(const Environment& env) {
    for (const std::string* dir : {&env.LibDir, &env.JobDir, &env.SysDir, &env.ZSMcml, &env.ZSMudn,
                                   &env.ZSMmod, &env.ZSMsbk, &env.ZSMwrk}) {
        if (dir->empty()) continue;
        if (const auto folder = HeldFolder(env, *dir)) RemoveLeftTemporaries(**folder);
    }
}

bool SettleLibrary(const Directory& folder, const std::string& name) {
    for (const char* kind : {ZK_KIND_PART_LIBRARY, ZK_KIND_SYMBOL_LIBRARY}) {
        const int32_t handle = OpenLibraryIn(folder, name, kind, -1);
        if (handle <= 0) continue;
        E_CloseLibrary(handle);
        E_FlushLibraries();
        return true;
    }
    return false;
}

void SettleLeftLibraries(const Environment& env) {
    for (const std::string* dir : {&env.LibDir, &env.ZSMmod}) {
        if (dir->empty()) continue;
        const auto held = HeldFolder(env, *dir);
        std::vector<std::string> names;
        if (!held || !(*held)->List(names)) continue;
        const Directory& folder = **held;
        for (const std::string& name : names) {
            const std::string library = EndsWith(name, "-wal")       ? name.substr(0, name.size() - 4)
                                        : EndsWith(name, "-journal") ? name.substr(0, name.size() - 8)
                                                                     : std::string();
            struct stat info {};
            // Only a library file of the folder itself: a link (to a library elsewhere) is never
            // opened for writing here.
            if (!library.empty() && folder.Look(library, info) && S_ISREG(info.st_mode))
                SettleLibrary(folder, library);
        }
    }
}

}  // namespace zrx
