#pragma once

#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "apply/run_state.h"
#include "base/dialogs.h"
#include "base/directory.h"
#include "base/paths.h"
#include "kernel/installation.h"
#include "ui/control.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

enum class CopyOutcome {
    Copied,
    Failed,   // refused (the source is older than the installed file) or could not be written
    Ignored,  // the source is missing and the user chose Ignore: nothing was copied
};

// Copies the selected loose files of the upgrade (read from its UpgradeDir) into their target
// directories; each item's Copied says how it went. Each file is told to the run's record before
// it is put in place; a target that is a symbolic link to a file is written through (the file it
// leads to gets the new bytes, the link stays).
void CopyDataFiles(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                   ui::Label& status);

// Refused: what stands at the target is not written over (a folder, a link to nothing or to
// anything but a file, a device); `why` names it.
enum class InstallResult { Installed, SourceOlder, NoDirectory, Refused, Failed };

// A new file prepared to take the place of `name` in a folder: written whole into a temporary
// file beside what it replaces, and put in place by Commit (a rename). Dropped uncommitted, the
// temporary file goes and the target stays as it was.
class PreparedFile {
public:
    ~PreparedFile();
    PreparedFile(const PreparedFile&) = delete;
    PreparedFile& operator=(const PreparedFile&) = delete;
    // The target as the caller named it (its folder's path and name).
    const std::string& Path() const { return m_path; }
    // Where the rename happens: the caller's folder and name, or where a link there leads.
    const Directory& Folder() const { return m_folder; }
    const std::string& Name() const { return m_name; }
    bool ThroughLink() const { return m_throughLink; }
    // The file replaced (a link followed), or null for a new file.
    const struct stat* Replaced() const { return m_replaces ? &m_replaced : nullptr; }
    // Whether the new file is what it replaces already: the same bytes, permissions and time.
    bool ChangesNothing() const;
    // Renames the new file into place; `written`, when given, receives the file put there.
    bool Commit(std::string& why, struct stat* written);

private:
    PreparedFile() = default;
    friend InstallResult PrepareFile(const std::string&, const Directory&, const std::string&, const std::string&,
                                     bool, bool, std::unique_ptr<PreparedFile>&, std::string&,
                                     const std::function<bool(const std::string&)>&);
    std::string m_path, m_name, m_temp;
    Directory m_folder;
    std::string m_folderPath;  // m_folder's path, for the name lookup (see NoteNamesInDir)
    bool m_throughLink = false, m_replaces = false, m_committed = false;
    struct stat m_replaced {};
};

// Prepares a copy of the file `from` for `name` in `folder` (whose path is `folderPath`): a file
// there is replaced, a link to a file is written through (where `mayFollow`, when given, accepts
// the real path it leads to), anything else is refused; a source older than what it replaces is
// refused unless `acceptOlder`. The copy keeps the source's permissions and modification time;
// with `durableNow` it reaches the disk before Commit can put it in place (otherwise the caller
// makes its batch durable).
using LinkCheck = std::function<bool(const std::string& realTarget)>;
InstallResult PrepareFile(const std::string& from, const Directory& folder, const std::string& folderPath,
                          const std::string& name, bool acceptOlder, bool durableNow,
                          std::unique_ptr<PreparedFile>& prepared, std::string& why, const LinkCheck& mayFollow = {});

// Installs srcDir/srcName as destDir/destName: forced replacement, but a source older than the
// installed file (an earlier modification time) is refused; a subcircuit file (.SBC) is accepted
// even then, and its missing subdirectory is created. The copy goes into a temporary file in the
// destination directory that is renamed over the target and keeps the source's modification
// time; a failed copy leaves the old file as it was. A missing source asks Abort, Retry or Ignore.
// A name is looked up exactly, then without regard to case, in its directory. `reason`, when
// given, receives why a file was not copied.
CopyOutcome CopyLibFile(ui::Dialogs& dialogs, const std::string& srcDir, const std::string& destDir,
                        const std::string& srcName, const std::string& destName, std::string* reason = nullptr);
// The same without the subcircuit rule; the builder copies its files with it.
CopyOutcome InstallFile(ui::Dialogs& dialogs, const std::string& srcDir, const std::string& destDir,
                        const std::string& srcName, const std::string& destName, std::string* reason = nullptr);

// Copies a file's bytes, permissions and modification time to `to` (replacing it) the way the run
// installs data files: into a temporary file beside it that is written to the disk and renamed.
bool CopyFileWhole(const std::string& from, const std::string& to, std::string& why);
// Whether two open files hold the same bytes from where they stand, read side by side.
bool SameContent(int fa, int fb);
// Whether two files hold the same bytes, read side by side; nothing when one cannot be read.
std::optional<bool> SameBytes(const std::string& a, const std::string& b);

// The modification-time rule of the copy: an installed file (a link followed) whose modification
// time is later than the source's is not replaced (subcircuit files excepted).
bool InstalledFileIsNewer(const std::string& source, const std::string& installed);

// Whether `path` (a directory or file, which may not exist yet) stays inside `root` once symbolic
// links are followed; a missing root counts as inside (the copy itself fails then). The real paths
// seen are kept in `realPaths`, since a run has few directories and many files.
bool StaysInside(const std::string& path, const std::string& root, RealPaths& realPaths);

// Whether a path can be opened for reading (one pair of enclosing double quotes and one trailing
// separator removed first).
bool FileExists(std::string path);
// Whether a path is short enough for the platform.
bool PathLengthOk(const std::string& path);

}  // namespace zrx
