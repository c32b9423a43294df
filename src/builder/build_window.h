#pragma once

#include "base/dialogs.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"

namespace zrx {

// The destination folder from the build frame's directory or drive list.
void F_Dir_Change(BuilderState& builder, ui::MainForm& m);
void F_Drive_Change(BuilderState& builder, ui::MainForm& m);
// The seven destination paths from the destination folder.
void SetDestinationPaths(BuilderState& builder, ui::MainForm& m);

}  // namespace zrx
