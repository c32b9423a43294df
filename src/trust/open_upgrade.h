#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/dialogs.h"
#include "history/record_folder.h"
#include "kernel/installation.h"
#include "trust/upgrade_verification.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// Makes the upgrade the user chose (upgrade.ListPath: a folder, or an archive) ready to be read:
// an archive is unpacked into a private folder under strict rules, the upgrade is checked against
// its manifest and signature (a private copy of the checked files is what is read from then on),
// and upgrade.UpgradeDir and the verification are set. False, after a box that says why, when
// nothing of it may be offered: an archive refused, a tampered upgrade, a private copy that cannot
// be made, trusted keys that cannot be read, or an upgrade not signed by a trusted key that the
// user did not accept. The private copy holds the list and the libraries; the data files are
// checked where they lie (upgrade.InPlace), and each is checked again as it is read, unless
// `scope` asks for every file in the copy (the builder's reload, whose loose files are read from
// it long after).
bool OpenUpgrade(const Environment& env, LoadedUpgrade& upgrade, UpgradeVerification& verification,
                 ui::Dialogs& dialogs, trust::CopyScope scope = trust::CopyScope::ListAndLibraries);

// Unpacks the upgrade archive `path` into a new scratch folder (the installation's with `env`, else
// one in the system's temporary folder), after removing what killed programs left. The upgrade
// folder in it, and the scratch folder that holds it (and goes with it); a failure names the entry
// and the reason when the archive breaks a rule.
struct UnpackedUpgrade {
    std::shared_ptr<history::ScratchFolder> scratch;
    std::string folder;
};
Result<UnpackedUpgrade> UnpackUpgradeArchive(const Environment* env, const std::string& path);

// What the load page says of a folder before it is loaded ("" when it holds no upgrade list): its
// state as the manifest and signature give it, checked in place; an archive is checked when it is
// opened.
std::string UpgradeStateText(const Environment& env, const std::string& folderOrArchive);

}  // namespace zrx
