#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrx {

// A library that chosen elements come from; free for reuse when RefCount is 0.
struct SourceLib {
    std::string Dir;
    std::string FileName;
    int32_t RefCount = 0;
};

// A chosen element: entry i belongs to line i of its chosen list.
struct UpgElement {
    std::string Name;
    int32_t SourceIndex = 0;
    int32_t ListValueA = 0;
    int32_t ListValueB = 0;
};

struct UpgDataFile {
    std::string FileName;
    int32_t Spare = 0;
    int32_t KindCode = 0;  // 1 .TAL, 2 .DAT, 3 .SPC
};

struct UpgSbcFile {
    std::string SubDir;
    std::string FileName;
    int32_t Spare = 0;
    int32_t KindCode = 9;
    std::string SourceDir;
};

struct UpgMiscFile {
    std::string SourceDir;
    std::string FileName;
    int32_t Spare = 0;
    int32_t TargetCode = 1;
    std::string Description;
};

// The builder's tables. Every table always holds one spare empty element after its last entry.
struct BuilderTables {
    std::vector<SourceLib> PartSources{1}, SymbolSources{1}, PackageSources{1}, SparamSources{1}, MparamSources{1};
    std::vector<UpgElement> UpgParts{1}, UpgSymbols{1}, UpgPackages{1}, UpgSparams{1}, UpgMparams{1};
    std::vector<UpgDataFile> UpgTalFiles{1}, UpgDatFiles{1}, UpgSpcFiles{1};
    std::vector<UpgSbcFile> UpgSbcFiles{1};
    std::vector<UpgMiscFile> UpgMiscFiles{1};

    void Reset() { *this = BuilderTables(); }
};

// What the last "Build" achieved: whether Upgrade.lst was written, and how the folder, read back
// as the update run reads it, differs from what was chosen (none: the upgrade is complete).
struct BuildReport {
    bool listWritten = false;
    std::vector<std::string> differences;
    // What a complete build could not add beside it: its manifest, its signature, its zip file.
    std::vector<std::string> sealFailures;
};

// Beyond the builder's own choices: the key that signs a build (a minisign secret key file; none:
// unsigned), the zip file the finished upgrade is also written as (none: no zip), and the
// description its signature's trusted comment carries (none: the folder's name).
struct BuildSeal {
    std::string signingKey, archive, description;
};

}  // namespace zrx
