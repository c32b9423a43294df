#pragma once

namespace zrx {

class App;

// Reads ListPath's Upgrade.lst into the per-kind lists, UpgLibPath and ReadmeLines. Returns the
// failure flag (1 failed, 0 read); a failure has shown its message.
int ReadUpgradeList(App& app);

// Sets the target directory of every data file from its destination code.
void AssignTargetDirs(App& app);

}  // namespace zrx
