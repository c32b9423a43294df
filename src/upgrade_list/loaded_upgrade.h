#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "base/directory.h"

#include "upgrade_list/loaded_list.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx {

// The upgrade the user loaded. ListPath is what the user chose (a folder, or an archive file); its
// files are read from UpgradeDir: that folder itself, the folder an archive was unpacked to, or
// the private copy of the files that were checked against the upgrade's manifest.
struct LoadedUpgrade {
    std::string ListPath;
    std::string UpgradeDir;
    // UpgradeDir opened once, when the upgrade is opened (and checked): every file of the upgrade
    // is read through this handle, whatever becomes of the folder's path.
    std::shared_ptr<const Directory> Folder;
    // The six upgrade libraries the list's header names, as found in UpgradeDir.
    std::array<std::string, 6> UpgLibPath;
    std::vector<std::string> ReadmeLines{1};
    // The records as loaded; the per-kind lists the run works on are made from the grid's rows
    // when it starts.
    LoadedList loaded;
    UpgradeLists lists;
    GridRowTable GridRows;
    // Whether loading a list works the changes out (the window always does; a command that shows
    // no change leaves them out).
    bool compareOnLoad = true;
};

}  // namespace zrx
