#pragma once

#include "base/dialogs.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// The confirmation asked before anything of the builder is touched; false when the user declined.
bool ConfirmReload(ui::Dialogs& dialogs);
// OK on the load page in builder mode, once confirmed: empties the builder's tables and chosen
// lists and fills them again from the upgrade's Upgrade.lst, read (by the one reader of the list,
// ReadListFile) through its held folder, where its files were checked, and named by ListPath in
// messages. Files with a target and description (the fifth field of any file but a subcircuit)
// come back as files of any kind, taken from that folder; a record that cannot come back as it
// stands is named in a box, never dropped silently, and counted in the builder (notReloaded). A
// list that cannot be opened changes nothing; one that cannot be read to its end keeps what came
// back before the failure, says why and clears ListPath.
void ReloadUpgradeListIntoBuilder(BuilderState& builder, LoadedUpgrade& upgrade, const Environment& env,
                                  ui::Dialogs& dialogs);

}  // namespace zrx
