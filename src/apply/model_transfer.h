#pragma once

#include "apply/run_state.h"
#include "base/dialogs.h"
#include "kernel/installation.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// Copy the selected mixed-mode (MPARAM) models into libraries of the library directory, and the
// simulator (SPARAM) models into libraries of the model directory, reading three texts out of
// each saved simulator model for the model index.
void TransferMixedModels(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                         ui::StatusLine& status);
void TransferSpiceModels(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                         ui::StatusLine& status);

}  // namespace zrx
