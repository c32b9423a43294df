#pragma once

#include <string>

namespace zrx {

struct Environment;

// Only one update run at a time may work on an installation: the run holds an exclusive lock on
// a lock file in the installation directory for as long as it lasts. A second program that finds
// the lock held is told so and changes nothing.
class InstallationLock {
public:
    // Takes the lock without waiting; Held() tells whether it was had. An installation directory
    // that cannot take the lock file (read-only) cannot be shared safely either and is run unlocked.
    // A lock file that is a symbolic link is never followed: the lock is not had then.
    explicit InstallationLock(const std::string& installationDir);
    ~InstallationLock();
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;
    bool Held() const { return m_held; }
    // Why the lock was not had, as a sentence that ends in "nothing was changed".
    const std::string& Problem() const { return m_problem; }

private:
    int m_fd = -1;
    bool m_held = false;
    std::string m_problem;
};

// Removes the temporary files a run that was killed left behind in a directory (and in its
// subdirectories one level down): files are written beside their target as
// ".<name>.zrxtmp-XXXXXX" (six letters or digits) and renamed over it when complete. Nothing else
// is taken for one.
void RemoveStaleTemporaries(const std::string& dir);
// The same in every directory an update run writes into.
void RemoveStaleTemporaries(const Environment& env);
// Libraries a killed program left in the middle of a write (a write-ahead log or a rollback
// journal beside them) are opened for writing and let go, so that they are whole and at rest
// again before an update or a rollback works on the installation.
// Completes one library a killed writer left half-written (its journal or log beside it) by
// opening it for writing once; false when it is no library the kernel takes.
bool SettleLibrary(const std::string& path);
void SettleLeftLibraries(const Environment& env);

}  // namespace zrx
