#pragma once

#include <string>

namespace zrx {

class App;

// Makes the upgrade the user chose (ListPath: a folder, or an archive) ready to be read: an
// archive is unpacked into a private folder under strict rules, the upgrade is checked against
// its manifest and signature (a private copy of the checked files is what is read from then on),
// and UpgradeDir and upgradeCheck are set. False, after a box that says why, when nothing of it
// may be offered: an archive refused, a tampered upgrade, trusted keys that cannot be read, or an
// upgrade not signed by a trusted key that the user did not accept.
bool OpenUpgrade(App& app);
// Unpacks the upgrade archive `path` into a private folder the program keeps while the upgrade is
// loaded (upgradeScratch); `folder` receives the upgrade folder in it. False, after a box that
// names the entry and the reason, when the archive breaks a rule.
bool OpenUpgradeArchive(App& app, const std::string& path, std::string& folder);

// What the load page says of a folder before it is loaded ("" when it holds no upgrade list): its
// state as the manifest and signature give it, checked in place; an archive is checked when it is
// opened.
std::string UpgradeStateText(App& app, const std::string& folderOrArchive);

}  // namespace zrx
