#pragma once

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>

#include "apply/run_state.h"
#include "apply/targets.h"
#include "base/dialogs.h"
#include "base/directory.h"
#include "kernel/installation.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

enum class CopyOutcome {
    Copied,
    Failed,   // refused (the source is older than the installed file) or could not be written
    Ignored,  // the source is missing and the user chose Ignore: nothing was copied
};

// Copies the selected loose files of the upgrade (read through its held folder) into their target
// directories; each item's Copied says how it went. Each file is told to the run's record before
// it is put in place; a target that is a symbolic link to a file in one of the installation's
// data folders is written through (the file it leads to gets the new bytes, the link stays), any
// other link is refused.
void CopyDataFiles(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                   ui::StatusLine& status);

// A source of a copy: a regular file of a folder, opened once; what is copied is what was opened.
struct SourceFile {
    FileHandle file;
    struct stat info {};
    // The digest its bytes must have before anything is made of them (a data file of an upgrade
    // checked in place), and their size; "" when they need no check.
    std::string checked;
    int64_t checkedSize = 0;
};
// Opens `name` of `folder` as a source (never through a link, never a FIFO or device); why not,
// and `missing` set, when it is not there.
Result<SourceFile> OpenSource(const Directory& folder, const std::string& name, bool* missing = nullptr);
// Opens the upgrade's file `name` as the run reads it: with `inPlace`, a data file checked where it
// lies from there, with the digest and size it must still have; any other from `folder` (the upgrade's, or
// the private copy of its checked files).
Result<SourceFile> OpenUpgradeFile(const Directory& folder, const CheckedInPlace* inPlace,
                                   const std::string& name, bool* missing = nullptr);
// The reason a file read from the upgrade is refused when its bytes are not those checked.
std::string ChangedSinceChecked();
// Makes `source` a private copy in memory of its bytes, once they are found to have the digest
// the check found (nothing to do when it has none to have): what is then read of it is what was
// checked. A failure when they differ or cannot be read.
Outcome PinChecked(SourceFile& source);

// A new file prepared to take the place of a target: written whole into a temporary file beside
// it (in the target's folder, through its handle), and put in place by Commit (a rename). Dropped
// uncommitted, the temporary file goes and the target stays as it was.
class PreparedFile {
public:
    ~PreparedFile();
    PreparedFile(const PreparedFile&) = delete;
    PreparedFile& operator=(const PreparedFile&) = delete;
    // The target as the caller named it (its folder's path and name).
    const std::string& Path() const { return m_path; }
    // Where the rename happens: the target's folder and name, or where a link there leads.
    const Directory& Folder() const { return *m_folder; }
    const std::string& Name() const { return m_name; }
    bool ThroughLink() const { return m_throughLink; }
    // The file replaced (a link followed), or null for a new file.
    const struct stat* Replaced() const { return m_replaces ? &m_replaced : nullptr; }
    // Whether the new file is what it replaces already: the same bytes, permissions and time.
    bool ChangesNothing() const;
    // The SHA-256 of the new file as it was written ("" when it cannot be read back).
    std::string Digest() const;
    // The new file, open (until it is put in place).
    int Fd() const { return m_out.Fd(); }
    // Renames the new file into place; `written`, when given, receives the file put there.
    Outcome Commit(struct stat* written);

private:
    PreparedFile() = default;
    friend Result<std::unique_ptr<PreparedFile>> PrepareFile(SourceFile&, const Target&, bool, bool, bool*);
    std::shared_ptr<const Directory> m_folder;
    std::string m_path, m_name, m_temp;
    // The temporary file stays open, and so locked, until it has its name.
    FileHandle m_out;
    bool m_throughLink = false, m_replaces = false, m_committed = false;
    struct stat m_replaced {};
};

// Prepares a copy of `source` for `target` (resolved by the caller: a link there has been followed
// where the rule allows, or is replaced): a source older than what it replaces is refused unless
// `acceptOlder`. The copy keeps the source's permissions and modification time; with `durableNow`
// it reaches the disk before Commit can put it in place (otherwise the caller makes its batch
// durable). `older`, when given, tells whether a refusal was for the source's age.
Result<std::unique_ptr<PreparedFile>> PrepareFile(SourceFile& source, const Target& target, bool acceptOlder,
                                                  bool durableNow, bool* older = nullptr);

// What became of one file's copy, and why when it was not copied.
struct CopyResult {
    CopyOutcome outcome = CopyOutcome::Failed;
    std::string why;
};

// Installs srcDir/srcName of the open folder `source` as destDir/destName of the open folder `dest`
// (the builder's copy; the paths name the two folders): forced replacement, but a source older
// than the installed file (an earlier modification time) is refused. The copy goes into a
// temporary file in the destination that is renamed over the target and keeps the source's
// modification time; a failed copy leaves the old file as it was. A missing source asks Abort,
// Retry or Ignore. A name is looked up exactly, then without regard to case, in its folder. A link
// at the destination is replaced by the file, never written through.
CopyResult InstallFile(ui::Dialogs& dialogs, const Directory& source, const std::string& srcDir,
                       const Directory& dest, const std::string& destDir, const std::string& srcName,
                       const std::string& destName);

// Whether two open files hold the same bytes from where they stand, read side by side.
bool SameContent(int fa, int fb);
// Whether two open files hold the same bytes (from their starts); nothing when one cannot be read.
std::optional<bool> SameBytes(int fa, int fb);

// The modification-time rule of the copy: `source` is older than `installed` when its time is
// earlier. Where one of the two has no time finer than a second (a zip keeps whole seconds), the
// two are compared by whole seconds, so that an upgrade and its zip offer the same.
bool IsOlder(const struct timespec& source, const struct timespec& installed);

// Whether a path is short enough for the platform.
bool PathLengthOk(const std::string& path);

}  // namespace zrx
