#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/directory.h"
#include "builder/builder_tables.h"

namespace zrx {

namespace ui {
class ListBox;
}

// The builder: what was chosen, where the upgrade goes, how it is sealed, and the last build.
struct BuilderState {
    BuilderTables tables;
    BuildReport lastBuild;
    BuildSeal seal;
    std::string destinationFolder;
    std::string trimmedDestination;
    // The destination folder as the build opened it: everything the build writes there and reads
    // back is reached through this handle, whatever becomes of the folder's path meanwhile.
    std::shared_ptr<const Directory> destination;
    // The private folder files were reloaded from (a checked copy, an unpacked archive): it stays
    // while the builder names files in it.
    std::shared_ptr<const void> reloadedFrom;
    // Records of the list reloaded last that could not be brought back: a build from it lacks them.
    size_t notReloaded = 0;
    // The upper-cased lines of each chosen list, kept while the list does not change otherwise, so
    // that the duplicate test of ">>" costs the same for the ten-thousandth name as for the first.
    struct ChosenNames {
        uint64_t revision = UINT64_MAX;
        std::unordered_set<std::string> names;
    };
    std::unordered_map<const ui::ListBox*, ChosenNames> chosenNames;
};

}  // namespace zrx
