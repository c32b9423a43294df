#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/directory.h"
#include "builder/builder_tables.h"

namespace zrx {

// The builder's ten frames: the five library kinds (F_Details 0 to 4) and the five file kinds (5 to 9).
enum BuilderKind : int { kParts = 0, kSymbols = 1, kPackages = 2, kSparams = 3, kMparams = 4 };
enum BuilderFileKind : int { kSbcFiles = 5, kTalFiles = 6, kDatFiles = 7, kSpcFiles = 8, kMiscFiles = 9 };
inline constexpr int kBuilderFrames = 10;

// The lines a frame's chosen list shows: line i belongs to entry i of the frame's table. How often
// each line occurs without regard to case is kept beside them, so that taking a name once costs
// the same for the ten-thousandth name as for the first.
class ChosenLines {
public:
    const std::vector<std::string>& Lines() const { return m_lines; }
    size_t size() const { return m_lines.size(); }
    // Whether a line equal to `line` without regard to case is there.
    bool Holds(std::string_view line) const;
    // Whether exactly `line` is there.
    bool HoldsExactly(std::string_view line) const;
    void Add(std::string line);
    void Remove(size_t index);
    void Clear();

private:
    std::vector<std::string> m_lines;
    std::unordered_map<std::string, size_t> m_upperCounts;
};

// The builder: what was chosen, where the upgrade goes, how it is sealed, and the last build. The
// window's lists show it and their handlers change it; the build, its read-back, its manifest,
// signature and zip file take it as it is.
struct BuilderState {
    BuilderTables tables;
    // Each frame's chosen list, by frame (BuilderKind, BuilderFileKind).
    std::array<ChosenLines, kBuilderFrames> chosen;
    BuildReport lastBuild;
    BuildSeal seal;
    // The destination folder as chosen, and without blanks around it (or a separator at its end);
    // none until one is chosen.
    std::string destinationFolder;
    std::string trimmedDestination;
    bool destinationChosen = false;
    // "Create Upgrade.lst file only".
    bool listOnly = false;
    // The destination folder as the build opened it: everything the build writes there and reads
    // back is reached through this handle, whatever becomes of the folder's path meanwhile.
    std::shared_ptr<const Directory> destination;
    // The private folder files were reloaded from (a checked copy, an unpacked archive): it stays
    // while the builder names files in it.
    std::shared_ptr<const void> reloadedFrom;
    // Records of the list reloaded last that could not be brought back: a build from it lacks them.
    size_t notReloaded = 0;

    // Empties every table and chosen list.
    void Clear();
};

// The destination folder of a build: `folder` as chosen (blanks around it are not the folder's).
void SetDestinationFolder(BuilderState& builder, const std::string& folder);
// The path of one of the build's files in its destination ("" while no destination is chosen).
std::string DestinationPath(const BuilderState& builder, std::string_view file);

}  // namespace zrx
