#pragma once

#include <memory>
#include <string>

#include "base/directory.h"

namespace zrx {

struct Environment;

// Only one update run (or rollback) at a time may work on an installation: it holds an exclusive
// lock for as long as it lasts. The lock is taken on the program's own folder ".zrxlibug" beside
// the INI (made when missing), which only its owner can change (nobody else may write the folder
// that holds it), and on the lock file
// ".zrxlibug.lock" beside it; removing the lock file takes nothing away from a running program. A
// second program that finds the lock held is told so and changes nothing.
class InstallationLock {
public:
    // Takes the lock without waiting; Held() tells whether it was had. An installation directory
    // that cannot take the program's folder or the lock file (read-only) cannot be shared safely
    // either and is run unlocked. Links in place of either are never followed: the lock is not had
    // then.
    explicit InstallationLock(const Environment& env);
    ~InstallationLock();
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;
    bool Held() const { return m_held; }
    // Why the lock was not had, as a sentence that ends in "nothing was changed".
    const std::string& Problem() const { return m_problem; }

private:
    FileHandle m_file;
    Directory m_own;
    std::shared_ptr<HeldFolders> m_folders;  // holds m_own for m_ownPath while locked
    std::string m_ownPath;
    bool m_held = false;
    std::string m_problem;
};

// Removes the temporary files a killed program left behind in a folder (and in its subfolders one
// level down): files are written beside their target as ".<name>.zrxtmp-XXXXXX" (six letters or
// digits) and renamed over it when complete. A temporary file is locked by the program writing it
// for as long as it is written: one that another running program (of this installation or of
// another that shares the folder) still holds is left alone. Nothing else is taken for one, and no
// link is followed.
void RemoveLeftTemporaries(const Directory& folder, bool subfolders = true);
// The same in every directory an update run writes into.
void RemoveStaleTemporaries(const Environment& env);
// Completes one library a killed writer left half-written (its journal or log beside it) by
// opening it for writing once; false when it is no library the kernel takes (a link never is).
bool SettleLibrary(const Directory& folder, const std::string& name);
// Libraries a killed program left in the middle of a write (a write-ahead log or a rollback
// journal beside them) in the library and model directories are settled, so that they are whole
// and at rest again before an update or a rollback works on the installation.
void SettleLeftLibraries(const Environment& env);

}  // namespace zrx
