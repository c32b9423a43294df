#pragma once

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zrx {

struct Environment;
struct DataFileItem;
class RealPaths;

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
// Whether a real path (links resolved) lies inside one of the installation's folders (resolved
// alike), by whole components. Links the run writes through must lead there.
bool InsideInstallation(const Environment& env, const std::string& realPath, RealPaths& realPaths);
// Whether a path is one of the installation's own files, which no upgrade may replace: its INI,
// the program's lock, identity and undo record.
bool IsInstallationsOwnFile(const Environment& env, const std::string& path);

// The directory of an element kind's target libraries: SPARAM models (kind 5) go under the
// simulator model directory, every other kind under the library directory.
const std::string& ElementTargetDir(const Environment& env, int kind);

// What names resolve to in their directories (an element's target library: its directory and the
// list's library file name), each worked out once. Within one run or one preview
// nothing changes what a name resolves to (a library a run creates is made under the spelling it
// resolved to), and a run of many elements into a few libraries would otherwise look each one up
// on the disk again for every element.
class ResolvedNames {
public:
    // ResolveNameInDir(dir, name), as it was the first time it was asked.
    const std::string& In(const std::string& dir, std::string_view name);

private:
    std::string m_key;
    std::unordered_map<std::string, std::string> m_resolved;
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
