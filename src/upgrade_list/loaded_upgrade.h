#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/directory.h"

#include "upgrade_list/loaded_list.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx {

// A data file as the check read it: its digest and its size.
struct CheckedFile {
    std::string digest;
    int64_t size = 0;
};
// The data files of an upgrade that were checked against its manifest where they lie instead of
// being copied: each is read from `folder` (the upgrade folder itself), and its bytes are used only
// once they are read and found to be those the check read (`files`, by each file's name as spelt
// in `folder`). A file changed there since the check is refused, never used.
using CheckedFiles = std::unordered_map<std::string, CheckedFile>;
struct CheckedInPlace {
    std::shared_ptr<const Directory> folder;
    CheckedFiles files;
};

// The upgrade the user loaded. ListPath is what the user chose (a folder, or an archive file); its
// files are read from UpgradeDir: that folder itself, the folder an archive was unpacked to, or
// the private copy of the files that were checked against the upgrade's manifest (its list and
// libraries; its data files may be checked in place, see InPlace).
struct LoadedUpgrade {
    std::string ListPath;
    std::string UpgradeDir;
    // UpgradeDir opened once, when the upgrade is opened (and checked): the upgrade's files are read
    // through this handle, whatever becomes of the folder's path (but for those of InPlace).
    std::shared_ptr<const Directory> Folder;
    // Where Folder is the private copy of a checked upgrade: its data files, checked in place
    // (null otherwise: every file is read from Folder).
    std::shared_ptr<const CheckedInPlace> InPlace;
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
