#pragma once

#include <map>
#include <optional>
#include <string>

namespace zrx {

class App;
namespace ui {
class Dialogs;
}

enum class CopyOutcome {
    Copied,
    Failed,   // refused (the source is older than the installed file) or could not be written
    Ignored,  // the source is missing and the user chose Ignore: nothing was copied
};

// Copies the selected loose files of the upgrade folder into their target directories.
void CopyDataFiles(App& app);

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
// Whether two files hold the same bytes, read side by side; nothing when one cannot be read.
std::optional<bool> SameBytes(const std::string& a, const std::string& b);

// The modification-time rule of the copy: an installed regular file whose modification time is
// later than the source's is not replaced (subcircuit files excepted).
bool InstalledFileIsNewer(const std::string& source, const std::string& installed);

// Whether `path` (a directory or file, which may not exist yet) stays inside `root` once symbolic
// links are followed; a missing root counts as inside (the copy itself fails then). The real paths
// seen are kept in `realPaths`, since a run has few directories and many files.
bool StaysInside(const std::string& path, const std::string& root, std::map<std::string, std::string>& realPaths);

// Whether a path can be opened for reading (one pair of enclosing double quotes and one trailing
// separator removed first).
bool FileExists(std::string path);
// Whether a path is short enough for the platform.
bool PathLengthOk(const std::string& path);

}  // namespace zrx
