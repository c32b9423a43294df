#pragma once

#include "base/dialogs.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// OK on the load page in builder mode: after a confirmation, empties the builder's tables and
// lists and fills them again from the upgrade's Upgrade.lst, read from UpgradeDir (where its files
// were checked; ListPath when that is empty) and named by ListPath in messages. Files with a target
// and description (the fifth field of any file but a subcircuit) come back as files of any kind,
// taken from that folder; a record that cannot come back as it stands is named in a box, never
// dropped silently.
void ReloadUpgradeListIntoBuilder(BuilderState& builder, LoadedUpgrade& upgrade, ui::MainForm& m,
                                  const Environment& env, ui::Dialogs& dialogs);

}  // namespace zrx
