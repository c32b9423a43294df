#pragma once

#include <sys/stat.h>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/directory.h"

namespace zrx {

struct Environment;
struct DataFileItem;

// Where the elements and files of a loaded upgrade go in the installation. The update run and its
// preview both resolve targets through these, so that a preview never disagrees with a run.
//
// A name from the list is looked up exactly first, then without regard to case in its directory
// (installations made on systems whose file names ignore case); a target that does not exist yet
// keeps the list's spelling.

// The folders of an installation an update may change things in: 0 the installation folder (the
// one holding its INI), 1 to 9 the directories its INI names, in this order: JobDir, LibDir,
// SysDir, ULM3JobDir, ZSMcml, ZSMudn, ZSMmod, ZSMsbk, ZSMwrk.
constexpr int kInstallationFolders = 10;
std::string InstallationFolder(const Environment& env, int index);
// Whether a name in the folder that holds the INI is one of the installation's own files, which
// no upgrade may replace: the INI, and the program's lock, identity and record (".zrxlibug...").
bool IsOwnFileName(const Environment& env, std::string_view name);

// An entry of the installation as a write reaches it: the folder that holds it (where a link there
// leads, when it is one) and its name there, both reached through handles held since start-up.
struct Target {
    std::shared_ptr<const Directory> folder;  // holds `name`
    std::string name;
    std::string path;  // as the run names it: the entry's folder and its spelling there (a link's own path)
    bool throughLink = false;
    bool exists = false;
    struct stat info {};  // the file (a link followed), when it exists
};

// What an update may write in an installation, and how it gets there. Every entry is reached
// through the installation's folders as they were opened at start; a link at an entry is followed
// only to a regular file in one of the nine data folders (never into ".zrxlibug", nor to the INI,
// the lock or the identity), reached beneath that folder without any further link.
class InstallationAccess {
public:
    explicit InstallationAccess(const Environment& env);
    InstallationAccess(const InstallationAccess&) = delete;
    InstallationAccess& operator=(const InstallationAccess&) = delete;

    // The installation's folder `dir` (as the environment names it).
    Result<std::shared_ptr<const Directory>> Folder(const std::string& dir);
    // `sub` (one plain name) beneath the installation's folder `dir`, never through a link
    // (`missing`: it does not exist).
    Result<std::shared_ptr<const Directory>> Subfolder(const std::string& dir, const std::string& sub,
                                                       bool* missing = nullptr);
    // The entry `name` of `folder` (whose path is `folderPath`), spelt as the folder spells it
    // (exactly, else without regard to case; as given for a new entry). A link there is followed
    // only as the rule above says; anything else that is not a regular file (a folder, a device, a
    // link elsewhere or to nothing) is refused, with why. The installation's own files are refused.
    Result<Target> Resolve(const std::shared_ptr<const Directory>& folder, const std::string& folderPath,
                           std::string_view name);
    // The same for `name` in the installation's folder `dir`.
    Result<Target> Resolve(const std::string& dir, std::string_view name);
    // Whether the run may write in `folder`: never in ".zrxlibug" or beneath it (an INI may name
    // such a folder), nor in another installation's.
    Outcome MayWriteIn(const Directory& folder);
    // Whether the entry `name` of `folder` (the file `info`, when it exists) is one of the
    // installation's own files.
    bool IsOwnFile(const Directory& folder, std::string_view name, const struct stat* info);

private:
    Outcome Follow(const Directory& folder, const std::string& name, const std::string& path, Target& target);
    bool InProgramsFolder(const Directory& folder);
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
    };

    const Environment& m_env;
    std::shared_ptr<const Directory> m_installation;
    std::optional<Identity> m_installationId;
    // The nine data folders: their real paths now, and their handles.
    std::vector<std::pair<std::string, std::shared_ptr<const Directory>>> m_dataFolders;
    bool m_dataFoldersKnown = false;
    // Folders found in or out of ".zrxlibug" already, by device and inode.
    std::map<std::pair<dev_t, ino_t>, bool> m_mayWrite;
};

// The directory of an element kind's target libraries: SPARAM models (kind 5) go under the
// simulator model directory, every other kind under the library directory.
const std::string& ElementTargetDir(const Environment& env, int kind);

// What names resolve to in their directories (an element's target library: its directory and the
// list's library file name), each worked out once. Within one run or one preview nothing changes
// what a name resolves to (a library a run creates is made under the spelling it resolved to), and
// a run of many elements into a few libraries would otherwise look each one up on the disk again
// for every element.
class ResolvedNames {
public:
    // ResolveNameInDir(dir, name), as it was the first time it was asked.
    const std::string& In(const std::string& dir, std::string_view name);

private:
    std::string m_key;
    std::unordered_map<std::string, std::string> m_resolved;
};

// The targets of a run or a preview (an element's library in its directory), each resolved once
// through the installation's held folders by InstallationAccess. A library the run creates is made
// under the spelling it resolved to, and keeps its place for the run.
class ResolvedTargets {
public:
    explicit ResolvedTargets(InstallationAccess& access) : m_access(access) {}
    // The target, or why not (the same every time it is asked).
    const Result<Target>& In(const std::string& dir, std::string_view name);

private:
    InstallationAccess& m_access;
    std::string m_key;
    std::unordered_map<std::string, Result<Target>> m_resolved;
};

// The upgrade library an element of a kind comes from (1 part, 2 symbol, 3 package, 5 SPARAM
// model, 6 MPARAM model): a symbol from the "I_" library when its list names "I_Upg.SYMBOL" (any
// case), else from the "A_" library.
const std::string& UpgradeLibraryOf(const std::array<std::string, 6>& upgradeLibraries, int kind,
                                    std::string_view upgSymbolLib);
// The library kind the kernel opens an element kind's libraries with.
const char* LibraryKindOf(int kind);

// The directory a data file is copied into: its target directory, or for a subcircuit file the
// subdirectory of it that the list names (the directory itself when it names none).
std::string DataFileDestinationDir(const DataFileItem& item);
std::string DataFileDestinationDir(const std::string& targetDir, std::string_view name,
                                   std::string_view subdir);
// The file a data file replaces or creates in that directory.
std::string DataFileTargetPath(const std::string& destinationDir, std::string_view name);

}  // namespace zrx
